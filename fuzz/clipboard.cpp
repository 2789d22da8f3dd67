// HTML from the clipboard: DecodeUtf8Text and the format reader never read past their input
// (ASan sees the fuzzer's own buffer, with nothing after it), give valid Unicode, and read
// well-formed UTF-8 as any UTF-8 decoder does; GetClipboardHtml finds the HTML format and
// leaves no "charset=utf-8" in what it cuts out. The input is the data of up to four
// formats, separated by \x01; its first byte picks their names.

#include "FuzzSupport.h"

#include "ui/ClipboardHtml.h"

#include <QMimeData>
#include <QStringDecoder>

using namespace kolporta::ui;

namespace {

bool hasUtf8Declaration(const QString &text)
{
    static const QString word = QStringLiteral("CHARSET=UTF-8");
    for (qsizetype i = 0; i + word.size() <= text.size(); ++i) {
        qsizetype j = 0;
        while (j < word.size() && text.at(i + j).toUpper() == word.at(j))
            ++j;
        if (j == word.size())
            return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString decoded = ClipboardHtml::DecodeUtf8Text(bytes);
    FUZZ_CHECK(kolporta::fuzz::validUnicode(decoded));
    FUZZ_CHECK(decoded.size() <= bytes.size());
    QStringDecoder utf8(QStringDecoder::Utf8,
        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    const QString standard = utf8.decode(bytes);
    if (!utf8.hasError())
        FUZZ_CHECK_EQUAL(decoded, standard);

    const QString text = ClipboardHtml::formatText(bytes);
    FUZZ_CHECK(kolporta::fuzz::validUnicode(text));
    FUZZ_CHECK(!text.contains(QChar(0)));

    if (size < 1)
        return 0;
    static const QStringList names {QStringLiteral("text/plain"), QStringLiteral("text/html"),
        QStringLiteral("TEXT/HTML;charset=utf-8"), QStringLiteral("application/x-html-header"),
        QStringLiteral("text/uri-list")};
    QMimeData mime;
    const QList<QByteArray> formats = bytes.sliced(1).toByteArray().split('\x01');
    bool html = false;
    for (qsizetype i = 0; i < formats.size() && i < 4; ++i) {
        const QString name = names.at((data[0] >> (2 * i)) % names.size());
        if (mime.hasFormat(name))
            continue;
        mime.setData(name, formats.at(i));
        html = html || name.startsWith(QLatin1String("text/html"), Qt::CaseInsensitive);
    }
    const ClipboardHtml::Result result = ClipboardHtml::GetClipboardHtml(&mime);
    FUZZ_CHECK(!html || result.found);
    FUZZ_CHECK(kolporta::fuzz::validUnicode(result.text));
    FUZZ_CHECK(!hasUtf8Declaration(result.text));

    const QString body = ClipboardHtml::withCharsetMeta(result.text);
    FUZZ_CHECK_EQUAL(ClipboardHtml::withCharsetMeta(body), body);
    return 0;
}
