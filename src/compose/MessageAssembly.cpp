#include "compose/MessageAssembly.h"
#include "project/Trim.h"

#include "compose/Charsets.h"
#include "compose/Konvert.h"
#include "project/Windows1250.h"

#include <QRegularExpression>

namespace kolporta::compose {

namespace {

QString trimmedOfControls(QStringView text)
{
    return project::trimControls(text).toString();
}

// The two picture patterns, written out: "\w" is ASCII only and the white space is exactly
// space, tab, LF, CR and FF, whatever PCRE's own classes would include.
const QRegularExpression &referencePattern()
{
    static const QRegularExpression re(
        QStringLiteral("[A-Za-z0-9_:.\\t\\n\\r\\f \\-%\\\\/]+\\.(?:gif|png|bmp|jpg|jpeg)"));
    return re;
}

const QRegularExpression &namePattern()
{
    static const QRegularExpression re(
        QStringLiteral("[A-Za-z0-9_\\t\\n\\r\\f \\-%]+\\.(?:gif|png|bmp|jpg|jpeg)"));
    return re;
}

// Moves a Windows-1250 body to ISO-8859-2 the way the Windows program did: its bytes go
// through the conversion table and are then read as ISO-8859-2.
QString toIso88592Text(const QString &text)
{
    KonvertInit(cpWin1250);
    const QByteArray bytes = KonvertString(project::Windows1250::encode(text), cpISO88592);
    return DecodeFromCharset(bytes, QByteArrayLiteral("iso-8859-2"));
}

// Whether the conversion kept every character but the no-break space, which it makes a
// plain space on purpose.
bool survivesConversion(const QString &text, const QString &converted)
{
    if (converted.size() != text.size())
        return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (converted[i] != c && !(c == QChar(0xA0) && converted[i] == u' '))
            return false;
    }
    return true;
}

QString rewritePictureReferences(const QString &scanned)
{
    QString result;
    qsizetype copied = 0;
    QRegularExpressionMatchIterator it = referencePattern().globalMatch(scanned);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        const QString ref = match.captured(0);
        // A web picture ends the rewriting: it and everything after it stay as written.
        if (ref.left(4).compare(QLatin1String("http"), Qt::CaseInsensitive) == 0)
            break;
        const QRegularExpressionMatch name = namePattern().match(ref);
        if (!name.hasMatch())
            continue; // only ":", ".", "\" and "/" before the extension: left as it is
        result += QStringView(scanned).sliced(copied, match.capturedStart(0) - copied);
        result += QLatin1String("cid:");
        result += name.captured(0);
        copied = match.capturedEnd(0);
    }
    result += QStringView(scanned).sliced(copied);
    return result;
}

} // namespace

QString AddressOfLine(const QString &line)
{
    QStringView text(line);
    const qsizetype open = text.indexOf(u'<');
    if (open >= 0)
        text = text.sliced(open + 1);
    const qsizetype close = text.indexOf(u'>');
    if (close >= 0)
        text = text.first(close);
    QString address = trimmedOfControls(text);
    // A line end inside the address would start a new SMTP command or header line.
    for (QChar &c : address)
        if (c == u'\r' || c == u'\n')
            c = u' ';
    return address;
}

bool IsBlankLine(const QString &line)
{
    for (QChar c : line)
        if (!project::isControlOrBlank(c))
            return false;
    return true;
}

QString PrepareHtmlBody(const QString &body, bool mailProgramRoute)
{
    QString result = body;
    if (mailProgramRoute) {
        static const QRegularExpression declaration(
            QStringLiteral("charset=windows-1250"), QRegularExpression::CaseInsensitiveOption);
        const QString converted
            = project::Windows1250::fits(result) ? toIso88592Text(result) : QString();
        if (!converted.isEmpty() && survivesConversion(result, converted)) {
            result = converted;
            result.replace(declaration, QStringLiteral("charset=iso-8859-2"));
        } else if (!result.isEmpty()) {
            // The byte conversion would turn these characters into '?' or into other
            // characters (typographic quotes and dashes into control codes, the copyright
            // sign into a letter): keep the text as Unicode and declare what the mail program
            // will then send.
            result.replace(declaration, QStringLiteral("charset=utf-8"));
        }
    }
    return rewritePictureReferences(result);
}

QString ApplyMacros(
    const QString &body, const QString &toText, const QString &from, const QString &subject)
{
    QString result = body;
    result.replace(QLatin1String("%TO%"), toText, Qt::CaseSensitive);
    result.replace(QLatin1String("%FROM%"), from, Qt::CaseSensitive);
    result.replace(QLatin1String("%SUBJECT%"), subject, Qt::CaseSensitive);
    return result;
}

QString DisplayNameOfLine(const QString &text)
{
    QStringView view(text);
    qsizetype open = view.indexOf(u'"');
    if (open >= 0) {
        view = view.sliced(open + 1);
        const qsizetype close = view.indexOf(u'"');
        return trimmedOfControls(close >= 0 ? view.first(close) : view);
    }
    open = view.indexOf(u'<');
    if (open >= 0)
        return trimmedOfControls(view.first(open));
    open = view.indexOf(u'(');
    if (open >= 0) {
        view = view.sliced(open + 1);
        const qsizetype close = view.indexOf(u')');
        return trimmedOfControls(close >= 0 ? view.first(close) : view);
    }
    return QString();
}

QString MailboxAddressOfLine(const QString &text)
{
    // "addr (Name)": the comment is the display name, not a part of the address.
    if (!text.contains(u'"') && !text.contains(u'<')) {
        const qsizetype open = text.indexOf(u'(');
        if (open >= 0) {
            const qsizetype close = text.indexOf(u')', open);
            QString rest = text;
            rest.remove(open, close >= 0 ? close - open + 1 : text.size() - open);
            return AddressOfLine(rest);
        }
    }
    return AddressOfLine(text);
}

QString OneHeaderLine(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n')
            continue; // CR LF becomes one space, at the LF
        if (c.unicode() < 0x20 && c != u'\t')
            out += u' ';
        else if (c.unicode() == 0x7F)
            out += u' ';
        else
            out += c;
    }
    return out;
}

QByteArray ContentIdOf(const QString &fileName)
{
    QByteArray out;
    for (char c : fileName.toUtf8()) {
        const auto b = uchar(c);
        if (b < 0x20 || b >= 0x7F || b == '<' || b == '>')
            out += '%' + QByteArray::number(b, 16).toUpper().rightJustified(2, '0');
        else
            out += c;
    }
    return out;
}

} // namespace kolporta::compose
