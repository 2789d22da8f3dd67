#include "compose/MessageAssembly.h"
#include "project/Trim.h"

#include "compose/Charsets.h"
#include "compose/HtmlBody.h"
#include "compose/Konvert.h"
#include "project/Windows1250.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

namespace kolporta::compose {

namespace {

QString trimmedOfControls(QStringView text)
{
    return project::trimControls(text).toString();
}

// Moves a Windows-1250 body to ISO-8859-2 as mail programs have always received it: its
// bytes go through the conversion table and are then read as ISO-8859-2.
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

bool isAscii(QStringView text)
{
    for (QChar c : text)
        if (c.unicode() >= 0x80)
            return false;
    return true;
}

// A bare address without its parenthesised comments at either end ("marie@x.cz (Marie)",
// "(Marie) marie@x.cz"); an opening parenthesis never closed counts as a comment to the end.
// A text that is nothing but comments stays as it is.
QStringView withoutEndComments(QStringView text)
{
    for (;;) {
        text = project::trimControls(text);
        qsizetype cut = -1;
        if (text.endsWith(u')')) {
            int depth = 0;
            for (qsizetype i = text.size() - 1; i >= 0 && cut < 0; --i) {
                if (text[i] == u')')
                    ++depth;
                else if (text[i] == u'(' && --depth == 0)
                    cut = i;
            }
        } else {
            const qsizetype open = text.lastIndexOf(u'(');
            if (open >= 0 && text.indexOf(u')', open) < 0)
                cut = open;
        }
        if (cut > 0 && !project::trimControls(text.first(cut)).isEmpty()) {
            text = text.first(cut);
            continue;
        }
        if (text.startsWith(u'(')) {
            int depth = 0;
            for (qsizetype i = 0; i < text.size() && cut < 0; ++i) {
                if (text[i] == u'(')
                    ++depth;
                else if (text[i] == u')' && --depth == 0)
                    cut = i;
            }
            if (cut > 0 && !project::trimControls(text.sliced(cut + 1)).isEmpty()) {
                text = text.sliced(cut + 1);
                continue;
            }
        }
        return text;
    }
}

// A file name that may stand as the left part of a msg-id as it is: a dot-atom of letters,
// digits, "-" and "_".
bool isSafeIdPart(QStringView name)
{
    if (name.isEmpty() || name.startsWith(u'.') || name.endsWith(u'.')
        || name.contains(QLatin1String("..")))
        return false;
    for (QChar c : name) {
        const char16_t u = c.unicode();
        const bool letterOrDigit
            = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9');
        if (!letterOrDigit && u != '.' && u != '-' && u != '_')
            return false;
    }
    return true;
}

// The safe form of any other name: letters without their diacritics, every other character
// "_", the counter before the extension: "obrázek.jpg" gives "obrazek-1.jpg".
QByteArray safeIdPart(const QString &name, int counter)
{
    QByteArray mapped;
    for (QChar c : name.normalized(QString::NormalizationForm_KD)) {
        if (c.category() == QChar::Mark_NonSpacing)
            continue;
        const char16_t u = c.unicode();
        const bool keep = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9')
            || u == '-' || u == '_' || u == '.';
        mapped += keep ? char(u) : '_';
    }
    const qsizetype dot = mapped.lastIndexOf('.');
    QByteArray stem = dot >= 0 ? mapped.left(dot) : mapped;
    QByteArray extension = dot >= 0 ? mapped.mid(dot) : QByteArray();
    stem.replace('.', '_');
    if (stem.isEmpty())
        stem = "picture";
    if (extension.size() < 2)
        extension.clear();
    return stem + '-' + QByteArray::number(counter) + extension;
}

QString escapedForHtml(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        switch (c.unicode()) {
        case u'&':
            out += QLatin1String("&amp;");
            break;
        case u'<':
            out += QLatin1String("&lt;");
            break;
        case u'>':
            out += QLatin1String("&gt;");
            break;
        case u'"':
            out += QLatin1String("&quot;");
            break;
        default:
            out += c;
        }
    }
    return out;
}

} // namespace

QString AddressOfLine(const QString &line)
{
    // A line end inside the address would start a new SMTP command or header line, so it
    // becomes a blank; a CR LF becomes one, as in the line's header, so that the envelope
    // and the header name the same address.
    QString oneLine = line;
    if (oneLine.contains(u'\r') || oneLine.contains(u'\n')) {
        oneLine.replace(QLatin1String("\r\n"), QLatin1String(" "));
        oneLine.replace(u'\r', u' ');
        oneLine.replace(u'\n', u' ');
    }
    QStringView text(oneLine);
    const qsizetype open = text.indexOf(u'<');
    if (open >= 0)
        text = text.sliced(open + 1);
    const qsizetype close = text.indexOf(u'>');
    if (close >= 0)
        text = text.first(close);
    if (open < 0)
        text = withoutEndComments(text);
    return trimmedOfControls(text);
}

bool IsBlankLine(const QString &line)
{
    for (QChar c : line)
        if (!project::isControlOrBlank(c))
            return false;
    return true;
}

QString TransportAddress(const QString &address, bool smtpUtf8)
{
    const qsizetype at = address.lastIndexOf(u'@');
    if (smtpUtf8 || at < 0 || isAscii(QStringView(address).sliced(at + 1)))
        return address;
    const QByteArray ace = QUrl::toAce(address.mid(at + 1));
    return ace.isEmpty() ? address : address.left(at + 1) + QString::fromLatin1(ace);
}

bool NeedsSmtpUtf8(const QString &address)
{
    return !isAscii(TransportAddress(address, false));
}

ContentIds::ContentIds(const QStringList &picturePaths, const QByteArray &domain)
    : m_domain(domain.isEmpty() ? QByteArrayLiteral("kolporta") : domain)
{
    for (const QString &path : picturePaths)
        m_listed.append(QFileInfo(path).fileName());
    // Names that are safe as they are keep themselves; the others then take what is free.
    for (const QString &name : std::as_const(m_listed))
        if (isSafeIdPart(name))
            leftPart(name);
    for (const QString &name : std::as_const(m_listed))
        leftPart(name);
}

QByteArray ContentIds::leftPart(const QString &fileName)
{
    const auto known = m_left.constFind(fileName);
    if (known != m_left.constEnd())
        return *known;
    QByteArray left;
    if (isSafeIdPart(fileName) && !m_taken.contains(fileName.toLatin1())) {
        left = fileName.toLatin1();
    } else {
        do
            left = safeIdPart(fileName, ++m_counter);
        while (m_taken.contains(left));
    }
    m_taken.insert(left);
    m_left.insert(fileName, left);
    return left;
}

QByteArray ContentIds::ofPicture(const QString &fileName)
{
    return leftPart(fileName) + '@' + m_domain;
}

QByteArray ContentIds::ofReference(const QString &fileName)
{
    if (!m_listed.contains(fileName)) {
        // A web-style reference ("my%20banner.png") or another letter case (Windows file
        // names ignore it) still means the listed picture.
        const QString decoded = QUrl::fromPercentEncoding(fileName.toUtf8());
        for (const QString &candidate : {decoded, fileName}) {
            for (const QString &listed : std::as_const(m_listed)) {
                if (listed == candidate || listed.compare(candidate, Qt::CaseInsensitive) == 0)
                    return ofPicture(listed);
            }
        }
    }
    return ofPicture(fileName);
}

QString PrepareHtmlBody(const QString &body, bool mailProgramRoute, const QStringList &pictures,
    const QByteArray &contentIdDomain)
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
    ContentIds ids(pictures, contentIdDomain);
    return RewriteHtmlReferences(result, ids, !mailProgramRoute);
}

QString ApplyMacros(const QString &body, const QString &toText, const QString &from,
    const QString &subject, bool html)
{
    QString result = body;
    result.replace(
        QLatin1String("%TO%"), html ? escapedForHtml(toText) : toText, Qt::CaseSensitive);
    result.replace(QLatin1String("%FROM%"), html ? escapedForHtml(from) : from, Qt::CaseSensitive);
    result.replace(
        QLatin1String("%SUBJECT%"), html ? escapedForHtml(subject) : subject, Qt::CaseSensitive);
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

} // namespace kolporta::compose
