#pragma once

#include <QString>

namespace kolporta::project {

// The texts of the main window that follow the document: its caption, the address counter
// and the captions of the two file tabs.
namespace WindowTexts {

// "Kolporta   [ name ]", the file name of the path without its folder.
QString caption(const QString &projectFileName);

// "%d adres": every line of the list counts, empty ones too.
QString addressCounter(qsizetype lineCount);

// "Obrázky do HTML  (n) " and "Přílohy  (n) ", each with its trailing blank.
QString picturesTabCaption(qsizetype count);
QString attachmentsTabCaption(qsizetype count);

} // namespace WindowTexts
} // namespace kolporta::project
