#pragma once

#include <QByteArray>
#include <QString>

namespace kolporta::project {

// Windows-1250, the code page of older project and profile files. Our own table rather
// than ICU's so that the five undefined bytes round-trip (they map to the C1 controls of
// the same value) and the codec never depends on how Qt was built.
namespace Windows1250 {

QString decode(QByteArrayView bytes);

// The byte for one UTF-16 unit, or -1 when Windows-1250 has no such character.
int toByte(char16_t unit);

// Whether every character of the text has a Windows-1250 byte.
bool fits(QStringView text);

// Encodes the text; a character without a byte becomes '?' and clears *ok.
QByteArray encode(QStringView text, bool *ok = nullptr);

} // namespace Windows1250
} // namespace kolporta::project
