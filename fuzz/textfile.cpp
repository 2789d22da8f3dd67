// Text-file decoding: whatever the bytes (UTF-8, Windows-1250, UTF-16 with its mark), the
// lines read are written back so that reading them again gives the same lines.

#include "FuzzSupport.h"

#include "project/TextFile.h"

using namespace kolporta::project;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    TextEncoding encoding = TextEncoding::Utf8;
    const QString text = TextFile::decode(bytes, &encoding);
    // A NUL ends the text, in every encoding.
    FUZZ_CHECK(!text.contains(QChar(u'\0')));

    const QStringList lines = TextFile::splitLines(text);
    for (const QString &line : lines)
        FUZZ_CHECK(!line.contains(u'\r') && !line.contains(u'\n'));

    // Both encodings a save may be asked for: the one read, and UTF-8 for a new file.
    for (const TextEncoding wanted : {encoding, TextEncoding::Utf8}) {
        TextEncoding used = wanted;
        const QByteArray written = TextFile::encodeLines(lines, wanted, &used);
        FUZZ_CHECK(wanted == TextEncoding::Windows1250 || used == TextEncoding::Utf8);
        FUZZ_CHECK(written.endsWith("\r\n") || lines.isEmpty());
        FUZZ_CHECK_EQUAL(TextFile::splitLines(TextFile::decode(written)), lines);
    }
    return 0;
}
