#pragma once

#include <QByteArray>
#include <QString>

namespace kolporta::compose {

// The single-byte ISO-8859 character sets of plain-text parts. A plain-text part goes out
// in the first of ISO-8859-1, -2, ... -16 that holds its whole text, so that Czech and
// German mail stays readable by old clients; text that none of them holds goes out as UTF-8.

// "iso-8859-1", "iso-8859-2", ... for the first set that holds every character, else "utf-8".
QByteArray PlainTextCharset(const QString &text);

// The text in the named set ("iso-8859-N" or "utf-8", any letter case). A character the set
// lacks becomes '?'; an unknown set name gives UTF-8.
QByteArray EncodeInCharset(const QString &text, const QByteArray &charset);

// The reverse of EncodeInCharset; a byte the set leaves undefined becomes U+FFFD.
QString DecodeFromCharset(const QByteArray &bytes, const QByteArray &charset);

} // namespace kolporta::compose
