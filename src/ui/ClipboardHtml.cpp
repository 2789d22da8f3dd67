#include "ui/ClipboardHtml.h"

#include <QMimeData>
#include <QStringList>

namespace kolporta::ui::ClipboardHtml {

namespace {

// The position of an ASCII word in the text, comparing each character's simple upper-case
// (or lower-case) form with the word, so that positions stay those of the text as given even
// where a whole-text case mapping would change its length (German sharp s, for one).
qsizetype indexOfWord(QStringView text, QLatin1StringView word, bool upper, qsizetype from = 0)
{
    const qsizetype n = text.size();
    const qsizetype m = word.size();
    for (qsizetype i = from; i + m <= n; ++i) {
        qsizetype j = 0;
        for (; j < m; ++j) {
            const QChar c = text[i + j];
            if ((upper ? c.toUpper() : c.toLower()) != QLatin1Char(word[j]))
                break;
        }
        if (j == m)
            return i;
    }
    return -1;
}

void appendCodePoint(QString &out, char32_t cp)
{
    if (cp == 0)
        return; // an over-long NUL: the editor cannot hold one
    if (cp >= 0xD800 && cp <= 0xDFFF) {
        out += QChar(QChar::ReplacementCharacter); // half a surrogate pair is no character
        return;
    }
    out += QStringView(QChar::fromUcs4(cp));
}

bool isContinuation(uchar b)
{
    return (b & 0xC0) == 0x80;
}

bool isHtmlFormat(const QString &format)
{
    return format.compare(QLatin1String("text/html"), Qt::CaseInsensitive) == 0
        || format.startsWith(QLatin1String("text/html;"), Qt::CaseInsensitive);
}

} // namespace

QString DecodeUtf8Text(QByteArrayView bytes)
{
    QString out;
    out.reserve(bytes.size());
    const qsizetype n = bytes.size();
    auto at = [&bytes](qsizetype i) { return uchar(bytes[i]); };
    qsizetype i = 0;
    while (i < n) {
        const uchar b = at(i);
        if (b < 0x80) {
            out += QLatin1Char(char(b));
            i += 1;
        } else if (b >= 0xC0 && b <= 0xDF) {
            if (i + 1 >= n)
                break; // cut off by the end of the input
            appendCodePoint(out, char32_t((b & 0x1F) << 6 | (at(i + 1) & 0x3F)));
            i += 2;
        } else if (b >= 0xE0 && b <= 0xEF) {
            if (i + 2 >= n)
                break;
            appendCodePoint(
                out, char32_t((b & 0x0F) << 12 | (at(i + 1) & 0x3F) << 6 | (at(i + 2) & 0x3F)));
            i += 3;
        } else if (b >= 0xF0 && b <= 0xF4 && i + 3 < n && isContinuation(at(i + 1))
            && isContinuation(at(i + 2)) && isContinuation(at(i + 3))) {
            // Pictographs and other characters beyond the first plane (emoji in a copied
            // web page) are kept rather than lost.
            const char32_t cp = char32_t((b & 0x07) << 18 | (at(i + 1) & 0x3F) << 12
                | (at(i + 2) & 0x3F) << 6 | (at(i + 3) & 0x3F));
            if (cp >= 0x10000 && cp <= 0x10FFFF)
                appendCodePoint(out, cp);
            i += 4;
        } else {
            i += 1; // a stray continuation byte or a byte that starts nothing
        }
    }
    return out;
}

QString formatText(QByteArrayView bytes)
{
    QString text;
    const bool utf16le = bytes.startsWith("\xFF\xFE");
    if (utf16le || bytes.startsWith("\xFE\xFF")) {
        const qsizetype units = (bytes.size() - 2) / 2;
        text.resize(units);
        for (qsizetype k = 0; k < units; ++k) {
            const uchar lo = uchar(bytes[2 + 2 * k + (utf16le ? 0 : 1)]);
            const uchar hi = uchar(bytes[2 + 2 * k + (utf16le ? 1 : 0)]);
            text[k] = QChar(char16_t(hi << 8 | lo));
        }
        const qsizetype nul = text.indexOf(QChar(0));
        if (nul >= 0)
            text.truncate(nul);
        // Half a surrogate pair is no character, as in UTF-8 data.
        for (qsizetype k = 0; k < text.size(); ++k) {
            if (text[k].isHighSurrogate() && k + 1 < text.size() && text[k + 1].isLowSurrogate())
                ++k;
            else if (text[k].isSurrogate())
                text[k] = QChar(QChar::ReplacementCharacter);
        }
        return text;
    }
    const qsizetype nul = bytes.indexOf('\0');
    text = DecodeUtf8Text(nul >= 0 ? bytes.first(nul) : bytes);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    return text;
}

QString cutHtmlDocument(const QString &text)
{
    QString html = text;
    const qsizetype doctype = indexOfWord(html, QLatin1StringView("<!DOCTYPE"), true);
    if (doctype >= 0) {
        html.remove(0, doctype);
    } else {
        const qsizetype open = indexOfWord(html, QLatin1StringView("<HTML"), true);
        if (open > 0)
            html.remove(0, open);
        const qsizetype close = indexOfWord(html, QLatin1StringView("</HTML>"), true);
        if (close >= 0)
            html.truncate(close + 7);
    }
    static const QLatin1StringView from("CHARSET=UTF-8");
    static const QString to = QStringLiteral("charset=windows-1250");
    qsizetype at = 0;
    while ((at = indexOfWord(html, from, true, at)) >= 0) {
        html.replace(at, from.size(), to);
        at += to.size();
    }
    return html;
}

Result GetClipboardHtml(const QMimeData *data)
{
    if (!data)
        return {};
    const QStringList formats = data->formats();
    for (const QString &format : formats) {
        const QString text = formatText(data->data(format));
        const bool headerForm = indexOfWord(text, QLatin1StringView("STARTHTML"), true) >= 0
            && indexOfWord(text, QLatin1StringView("ENDHTML"), true) >= 0;
        if (headerForm || isHtmlFormat(format))
            return {true, cutHtmlDocument(text)};
    }
    return {};
}

QString charsetMetaLine()
{
    return QStringLiteral(
        "<meta http-equiv=\"content-type\" content=\"text/html; charset=windows-1250\">");
}

qsizetype charsetMetaPosition(QStringView body)
{
    if (indexOfWord(body, QLatin1StringView("charset="), false) >= 0)
        return -1;
    const qsizetype head = indexOfWord(body, QLatin1StringView("<head>"), false);
    return head < 0 ? -1 : head + 6;
}

QString withCharsetMeta(const QString &body, QStringView lineBreak)
{
    const qsizetype at = charsetMetaPosition(body);
    if (at < 0)
        return body;
    QString result = body;
    result.insert(at, lineBreak.toString() + charsetMetaLine());
    return result;
}

} // namespace kolporta::ui::ClipboardHtml
