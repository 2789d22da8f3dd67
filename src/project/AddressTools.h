#pragma once

#include "project/Trim.h"

#include <QCollator>
#include <QLocale>
#include <QString>
#include <QStringList>

namespace kolporta::project {

// The tools that rewrite the address list (and read it for the quick search), as pure
// functions on its lines, so the list editor only swaps its text. None of them parses an
// address out of a line.
namespace AddressTools {

// The comparison of both sorts: the user's locale, letter case ignored.
QCollator sortCollator(const QLocale &locale = QLocale::system());

// Empty lines (zero length) go; lines of blanks and repeated lines stay. Not stable.
QStringList sortAlphabetically(
    const QStringList &lines, const QCollator &collator = sortCollator());

// As sortAlphabetically, by the domain key of each line.
QStringList sortByDomain(const QStringList &lines, const QCollator &collator = sortCollator());

// The text after the first "@" to the end of the line (so "domain>" for "Name <a@domain>");
// the whole line when it has no "@".
QStringView domainKey(QStringView line);

// Every non-empty line in lower case by the locale (names too); empty lines go.
QStringList toLowerCase(const QStringList &lines, const QLocale &locale = QLocale::system());

// Rewrites clipboard text into one address per line: ";" and "," end a line, apostrophes
// go, each line is trimmed of blanks and control characters, and every line, the last one
// included, ends with CR LF. Empty lines stay. An empty text stays empty.
QString reformatPaste(const QString &clipboardText);

// Where the quick search found the search text: line, column and length in the original
// line (what the editor selects). line is -1 when nothing was found.
struct SearchHit
{
    qsizetype line = -1;
    qsizetype column = -1;
    qsizetype length = 0;
    bool found() const { return line >= 0; }
};

// The first line, from the top, whose lower-case form (by the locale) holds the lower-case
// search text. An empty search text finds nothing.
SearchHit quickSearch(
    const QStringList &lines, const QString &searchText, const QLocale &locale = QLocale::system());

// Whether the line, trimmed of blanks and control characters, starts with "*".
bool isStarredLine(QStringView line);

// An editor caret, 0-based.
struct Caret
{
    qsizetype column = 0;
    qsizetype line = 0;
    friend bool operator==(const Caret &, const Caret &) = default;
};

// The caret limited to the text: a line that exists and a column within it.
Caret clampCaret(Caret caret, const QStringList &lines);

} // namespace AddressTools
} // namespace kolporta::project
