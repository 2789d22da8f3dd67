#pragma once

#include <QByteArray>
#include <QStringList>

namespace kolporta::test {

// What Python's e-mail parser sees in a message (tests/data/mail-structure.py): a parser
// independent of GMime, so a message is judged the way a mail reader would read it.
QStringList mailStructure(const QByteArray &message);

// The lines of mailStructure() that begin with one of the prefixes, in order.
QStringList mailFacts(const QByteArray &message, const QStringList &prefixes);

// The header block of a message, one raw line per entry (continuation lines kept apart).
QList<QByteArray> rawHeaderLines(const QByteArray &message);

// "data SIZE SHA256" for the bytes, as mail-structure.py prints it for a leaf part.
QString dataFact(const QByteArray &bytes);

} // namespace kolporta::test
