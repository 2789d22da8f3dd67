#include "project/AddressTools.h"

#include <algorithm>
#include <vector>

namespace kolporta::project::AddressTools {

namespace {

// Sorts by keys computed once per line: comparing pre-computed collation keys is far
// cheaper than running the collator on every comparison of 100,000 lines.
template <typename KeyOf>
QStringList sortBy(const QStringList &lines, const QCollator &collator, KeyOf keyOf)
{
    struct Entry
    {
        QCollatorSortKey key;
        qsizetype index;
    };
    // Qt's collator for the C locale (no locale set) ignores the case setting in its sort
    // keys; folding the case first keeps the comparison case-insensitive there too.
    const bool foldFirst = collator.locale().language() == QLocale::C;
    std::vector<Entry> entries;
    entries.reserve(size_t(lines.size()));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines[i].isEmpty())
            continue;
        QString key = keyOf(lines[i]).toString();
        if (foldFirst)
            key = std::move(key).toCaseFolded();
        entries.push_back({collator.sortKey(key), i});
    }
    std::sort(entries.begin(), entries.end(),
        [](const Entry &a, const Entry &b) { return a.key.compare(b.key) < 0; });
    QStringList sorted;
    sorted.reserve(qsizetype(entries.size()));
    for (const Entry &e : entries)
        sorted.append(lines[e.index]);
    return sorted;
}

bool isControlOrBlank(QChar c)
{
    return c.unicode() <= 32;
}

} // namespace

QCollator sortCollator(const QLocale &locale)
{
    QCollator collator(locale);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

QStringList sortAlphabetically(const QStringList &lines, const QCollator &collator)
{
    return sortBy(lines, collator, [](const QString &line) { return QStringView(line); });
}

QStringView domainKey(QStringView line)
{
    const qsizetype at = line.indexOf(u'@');
    return at < 0 ? line : line.sliced(at + 1);
}

QStringList sortByDomain(const QStringList &lines, const QCollator &collator)
{
    return sortBy(lines, collator, [](const QString &line) { return domainKey(line); });
}

QStringList toLowerCase(const QStringList &lines, const QLocale &locale)
{
    QStringList lower;
    lower.reserve(lines.size());
    for (const QString &line : lines) {
        if (!line.isEmpty())
            lower.append(locale.toLower(line));
    }
    return lower;
}

QString reformatPaste(const QString &clipboardText)
{
    QString text = clipboardText;
    text.replace(u';', QStringLiteral("\r\n"));
    text.replace(u',', QStringLiteral("\r\n"));
    text.remove(u'\'');
    QString out;
    out.reserve(text.size() + 16);
    // CR LF, a lone CR and a lone LF each end a line; a last line without an end is a line.
    const qsizetype n = text.size();
    qsizetype start = 0;
    for (qsizetype i = 0; i <= n; ++i) {
        const bool end = i == n;
        if (!end && text[i] != u'\r' && text[i] != u'\n')
            continue;
        if (end && start == n)
            break;
        out += trimControls(QStringView(text).sliced(start, i - start));
        out += QStringLiteral("\r\n");
        if (!end && text[i] == u'\r' && i + 1 < n && text[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    return out;
}

SearchHit quickSearch(const QStringList &lines, const QString &searchText, const QLocale &locale)
{
    if (searchText.isEmpty())
        return {};
    const QString needle = locale.toLower(searchText);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString &line = lines[i];
        const QString lower = locale.toLower(line);
        const qsizetype pos = lower.indexOf(needle);
        if (pos < 0)
            continue;
        if (lower.size() == line.size())
            return {i, pos, needle.size()};
        // Lower-casing changed the length (e.g. "İ" becomes two units): map the found range
        // back onto the original line, one character at a time.
        qsizetype lowerAt = 0;
        qsizetype begin = -1;
        qsizetype j = 0;
        while (j < line.size() && lowerAt < pos + needle.size()) {
            const qsizetype width = line[j].isHighSurrogate() && j + 1 < line.size() ? 2 : 1;
            const qsizetype piece = locale.toLower(line.mid(j, width)).size();
            if (begin < 0 && lowerAt + piece > pos)
                begin = j;
            lowerAt += piece;
            j += width;
        }
        if (begin < 0)
            begin = j;
        return {i, begin, j - begin};
    }
    return {};
}

QStringView trimControls(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isControlOrBlank(text[begin]))
        ++begin;
    while (end > begin && isControlOrBlank(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin);
}

bool isStarredLine(QStringView line)
{
    const QStringView rest = trimControls(line);
    return !rest.isEmpty() && rest.front() == u'*';
}

Caret clampCaret(Caret caret, const QStringList &lines)
{
    if (lines.isEmpty())
        return {};
    caret.line = std::clamp<qsizetype>(caret.line, 0, lines.size() - 1);
    caret.column = std::clamp<qsizetype>(caret.column, 0, lines[caret.line].size());
    return caret;
}

} // namespace kolporta::project::AddressTools
