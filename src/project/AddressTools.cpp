#include "project/AddressTools.h"

#include <QHash>

#include <algorithm>
#include <vector>

namespace kolporta::project::AddressTools {

namespace {

// Qt's collator for the C locale (no locale set) ignores the case setting in its sort keys;
// folding the case first keeps the comparison case-insensitive there too.
QCollatorSortKey sortKeyOf(const QCollator &collator, QString text)
{
    if (collator.locale().language() == QLocale::C)
        text = std::move(text).toCaseFolded();
    return collator.sortKey(text);
}

// Sorts whole lines by keys computed once per line: comparing pre-computed collation keys is
// far cheaper than running the collator on each of the n log n comparisons.
QStringList sortLines(const QStringList &lines, const QCollator &collator)
{
    std::vector<std::pair<QCollatorSortKey, qsizetype>> entries;
    entries.reserve(size_t(lines.size()));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (!lines[i].isEmpty())
            entries.emplace_back(sortKeyOf(collator, lines[i]), i);
    }
    std::sort(entries.begin(), entries.end(),
        [](const auto &a, const auto &b) { return a.first.compare(b.first) < 0; });
    QStringList sorted;
    sorted.reserve(qsizetype(entries.size()));
    for (const auto &entry : entries)
        sorted.append(lines[entry.second]);
    return sorted;
}

// Domain keys repeat a lot, so each distinct key is collated once; keys that collate equal
// (the same domain in two cases) share a rank, and the lines are sorted by that number.
QStringList sortLinesByDomain(const QStringList &lines, const QCollator &collator)
{
    QHash<QString, qsizetype> distinct; // key text -> index into keys
    std::vector<QCollatorSortKey> keys;
    std::vector<std::pair<qsizetype, qsizetype>> entries; // (key index, later rank; line)
    entries.reserve(size_t(lines.size()));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines[i].isEmpty())
            continue;
        const QString key = domainKey(lines[i]).toString();
        auto it = distinct.find(key);
        if (it == distinct.end()) {
            it = distinct.insert(key, qsizetype(keys.size()));
            keys.push_back(sortKeyOf(collator, key));
        }
        entries.emplace_back(it.value(), i);
    }

    std::vector<qsizetype> order(keys.size());
    for (size_t k = 0; k < order.size(); ++k)
        order[k] = qsizetype(k);
    std::sort(order.begin(), order.end(),
        [&keys](qsizetype a, qsizetype b) { return keys[size_t(a)].compare(keys[size_t(b)]) < 0; });
    std::vector<qsizetype> rank(keys.size());
    qsizetype r = 0;
    for (size_t k = 0; k < order.size(); ++k) {
        if (k > 0 && keys[size_t(order[k - 1])].compare(keys[size_t(order[k])]) != 0)
            ++r;
        rank[size_t(order[k])] = r;
    }
    for (auto &entry : entries)
        entry.first = rank[size_t(entry.first)];
    std::sort(entries.begin(), entries.end(),
        [](const auto &a, const auto &b) { return a.first < b.first; });

    QStringList sorted;
    sorted.reserve(qsizetype(entries.size()));
    for (const auto &entry : entries)
        sorted.append(lines[entry.second]);
    return sorted;
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
    return sortLines(lines, collator);
}

QStringView domainKey(QStringView line)
{
    const qsizetype at = line.indexOf(u'@');
    return at < 0 ? line : line.sliced(at + 1);
}

QStringList sortByDomain(const QStringList &lines, const QCollator &collator)
{
    return sortLinesByDomain(lines, collator);
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
