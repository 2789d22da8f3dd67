// The paste reformatting of the address list: every piece of an address survives, the
// result is one trimmed line per address, and reformatting it again changes nothing.

#include "FuzzSupport.h"

#include "project/AddressTools.h"

using namespace kolporta::project;

namespace {

// The characters that carry an address: all but the separators, the apostrophes that go,
// and the blanks and control characters that the trim may take.
QString essence(const QString &text)
{
    QString out;
    for (const QChar c : text) {
        if (!isControlOrBlank(c) && c != u';' && c != u',' && c != u'\'')
            out += c;
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString clipboard
        = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString pasted = AddressTools::reformatPaste(clipboard);

    // Only a text of nothing but apostrophes (or nothing at all) gives no line.
    FUZZ_CHECK(pasted.isEmpty() == QString(clipboard).remove(u'\'').isEmpty());
    FUZZ_CHECK(pasted.isEmpty() || pasted.endsWith(QLatin1String("\r\n")));
    FUZZ_CHECK_EQUAL(essence(pasted), essence(clipboard));
    // Every line ends in CR LF, holds no separator and is trimmed.
    const QStringList lines = pasted.split(QStringLiteral("\r\n"));
    FUZZ_CHECK(lines.last().isEmpty());
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        const QString &line = lines.at(i);
        FUZZ_CHECK(!line.contains(u'\r') && !line.contains(u'\n'));
        FUZZ_CHECK(!line.contains(u';') && !line.contains(u',') && !line.contains(u'\''));
        FUZZ_CHECK_EQUAL(trimControls(line).toString(), line);
    }
    FUZZ_CHECK_EQUAL(AddressTools::reformatPaste(pasted), pasted);
    return 0;
}
