#pragma once

#include <QStringView>

namespace kolporta::project {

// Trimming takes every character up to the blank, not just white space: an
// address line, a sender, an INI line or a recipient loses codes 0 to 32 at both ends.
inline bool isControlOrBlank(QChar c)
{
    return c.unicode() <= 32;
}

inline QStringView trimControls(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isControlOrBlank(text[begin]))
        ++begin;
    while (end > begin && isControlOrBlank(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin);
}

} // namespace kolporta::project
