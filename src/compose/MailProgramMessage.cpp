#include "compose/MailProgramMessage.h"
#include "compose/MimeMessage.h"
#include "project/TextFile.h"
#include "project/Trim.h"

#include "compose/Charsets.h"
#include "compose/GMimeSupport.h"
#include "compose/HeaderValues.h"
#include "compose/HtmlBody.h"
#include "compose/MessageAssembly.h"

#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QSysInfo>

// GLib declares a member named "signals", which is a Qt keyword macro.
#undef signals
#include <gmime/gmime.h>

namespace kolporta::compose {

namespace {

template <typename T> using Ref = GObjectPtr<T>;

// Body text with LF line ends: GMime's encoders and the mail program both take LF as the
// line end, and a CR left in the text would travel as an encoded =0D.
QString unixLines(const QString &text)
{
    QString out = text;
    out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    out.replace(u'\r', u'\n');
    return out;
}

QString trimBlanks(const QString &text)
{
    return project::trimControls(text).toString();
}

GMimeDataWrapper *wrapBytes(const QByteArray &bytes)
{
    Ref<GMimeStream> stream(
        g_mime_stream_mem_new_with_buffer(bytes.constData(), size_t(bytes.size())));
    return g_mime_data_wrapper_new_with_stream(stream.get(), GMIME_CONTENT_ENCODING_DEFAULT);
}

// ASCII in lines of at most 998 characters, with LF line ends only (RFC 5322).
bool fitsSevenBit(const QByteArray &bytes)
{
    qsizetype lineLength = 0;
    for (char c : bytes) {
        if (c == '\n') {
            lineLength = 0;
            continue;
        }
        if (uchar(c) >= 128 || c == '\r' || c == '\0' || ++lineLength > 998)
            return false;
    }
    return true;
}

GMimePart *textPart(const char *subtype, const QByteArray &bytes, const QByteArray &charset)
{
    GMimeTextPart *part = g_mime_text_part_new_with_subtype(subtype);
    Ref<GMimeDataWrapper> content(wrapBytes(bytes));
    g_mime_part_set_content(GMIME_PART(part), content.get());
    g_mime_text_part_set_charset(part, charset.constData());
    // 7bit while the text allows it, else quoted-printable, which keeps the text readable
    // in the raw message; no mail program on the way has to be 8-bit clean.
    g_mime_part_set_content_encoding(GMIME_PART(part),
        fitsSevenBit(bytes) ? GMIME_CONTENT_ENCODING_7BIT : GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE);
    return GMIME_PART(part);
}

// An HTML body stays in ISO-8859-2, the set its charset declaration names once prepared
// for a mail program, while every character fits; otherwise UTF-8 keeps every character.
QByteArray htmlCharset(const QString &html)
{
    static const QByteArray latin2 = QByteArrayLiteral("iso-8859-2");
    // A body the preparation kept as Unicode says so; its bytes must then agree with it
    // even where every character would also fit ISO-8859-2.
    if (html.contains(QLatin1String("charset=utf-8"), Qt::CaseInsensitive))
        return QByteArrayLiteral("utf-8");
    if (DecodeFromCharset(EncodeInCharset(html, latin2), latin2) == html)
        return latin2;
    return QByteArrayLiteral("utf-8");
}

GMimePart *filePart(const QString &path, const QByteArray &bytes, const QByteArray &contentId)
{
    static const QMimeDatabase mimeDatabase;
    const QByteArray type
        = mimeDatabase.mimeTypeForFile(path, QMimeDatabase::MatchExtension).name().toLatin1();
    const qsizetype slash = type.indexOf('/');
    GMimePart *part
        = g_mime_part_new_with_type(type.left(slash).constData(), type.mid(slash + 1).constData());
    // A line break in a file name would end the header line and start one of its own.
    const QString fileName = OneHeaderLine(QFileInfo(path).fileName());
    g_mime_object_set_disposition(
        GMIME_OBJECT(part), contentId.isEmpty() ? "attachment" : "inline");
    g_mime_part_set_filename(part, fileName.toUtf8().constData());
    if (!contentId.isEmpty())
        g_mime_part_set_content_id(part, contentId.constData());
    Ref<GMimeDataWrapper> content(wrapBytes(bytes));
    g_mime_part_set_content(part, content.get());
    g_mime_part_set_content_encoding(part, GMIME_CONTENT_ENCODING_BASE64);
    return part;
}

void appendRawHeader(GMimeMessage *message, const char *name, const HeaderTokens &tokens)
{
    GMimeHeaderList *headers = g_mime_object_get_header_list(GMIME_OBJECT(message));
    g_mime_header_list_append(headers, name, "", nullptr);
    GMimeHeader *header
        = g_mime_header_list_get_header_at(headers, g_mime_header_list_get_count(headers) - 1);
    g_mime_header_set_raw_value(header, FoldedHeaderValue(name, tokens).constData());
}

// The To or Bcc header of the recipients of one kind; null when there are none.
HeaderTokens recipientTokens(const QList<MailProgramMessage::Recipient> &recipients, bool bcc)
{
    HeaderTokens tokens;
    for (const MailProgramMessage::Recipient &recipient : recipients) {
        if (recipient.blindCopy != bcc)
            continue;
        QString name;
        QString address;
        MailProgramMailbox(recipient.text, &name, &address);
        if (!tokens.isEmpty())
            tokens.last().text += ',';
        tokens += MailboxTokens(name, TransportAddress(address, false).toUtf8(), true);
    }
    return tokens;
}

} // namespace

void MailProgramMailbox(const QString &text, QString *name, QString *address)
{
    const QString line = trimBlanks(OneHeaderLine(text));
    ensureGMimeInitialized();
    Ref<InternetAddressList> parsed(
        internet_address_list_parse(nullptr, line.toUtf8().constData()));
    if (parsed.get() && internet_address_list_length(parsed.get()) == 1) {
        InternetAddress *item = internet_address_list_get_address(parsed.get(), 0);
        if (INTERNET_ADDRESS_IS_MAILBOX(item)) {
            const char *addr = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(item));
            const char *itemName = internet_address_get_name(item);
            if (addr && *addr && !QByteArrayView(addr).contains(' ')) {
                *address = QString::fromUtf8(addr);
                *name = itemName ? QString::fromUtf8(itemName) : QString();
                return;
            }
        }
    }
    const qsizetype open = line.indexOf(u'<');
    QString rest = open < 0 ? line : line.mid(open + 1);
    const qsizetype close = rest.indexOf(u'>');
    if (close >= 0)
        rest.truncate(close);
    *address = trimBlanks(rest);
    QString display = open < 0 ? QString() : trimBlanks(line.left(open));
    if (display.size() >= 2 && display.startsWith(u'"') && display.endsWith(u'"'))
        display = display.mid(1, display.size() - 2);
    *name = display;
}

bool MailProgramTakes(const QString &text)
{
    QString name;
    QString address;
    MailProgramMailbox(text, &name, &address);
    return !NeedsSmtpUtf8(address);
}

MailProgramMessage::Error MailProgramMessage::build(QByteArray *bytes, QString *error) const
{
    bytes->clear();
    error->clear();
    ensureGMimeInitialized();

    for (const Recipient &recipient : recipients) {
        QString name;
        QString address;
        MailProgramMailbox(recipient.text, &name, &address);
        if (address.isEmpty() || NeedsSmtpUtf8(address)) {
            *error = recipient.text;
            return Error::InvalidAddress;
        }
    }

    // Read every file first, so that nothing is built for a message that cannot go.
    const QStringList paths = pictures + files;
    QList<QByteArray> contents;
    for (const QString &path : paths) {
        QByteArray bytes;
        if (!project::TextFile::readBytes(path, &bytes, nullptr)) {
            *error = path;
            return Error::UnreadableFile;
        }
        contents.append(bytes);
    }

    Ref<GMimeMessage> message(g_mime_message_new(FALSE));
    const QString subjectLine = OneHeaderLine(subject);
    if (!subjectLine.isEmpty())
        appendRawHeader(message.get(), "Subject", UnstructuredTokens(subjectLine));
    GDateTime *now = g_date_time_new_now_local();
    g_mime_message_set_date(message.get(), now);
    g_date_time_unref(now);
    char *messageId = g_mime_utils_generate_message_id(MessageIdDomain(QString()).constData());
    g_mime_message_set_message_id(message.get(), messageId);
    g_free(messageId);
    const HeaderTokens to = recipientTokens(recipients, false);
    // A message without To is taken for a broken one (RFC 5322 section 3.6.3 suggests this
    // empty group for blind copies only).
    appendRawHeader(message.get(), "To",
        to.isEmpty() ? HeaderTokens {{QByteArrayLiteral("undisclosed-recipients:;")}} : to);
    const HeaderTokens bcc = recipientTokens(recipients, true);
    if (!bcc.isEmpty())
        appendRawHeader(message.get(), "Bcc", bcc);

    const QString text = unixLines(body);
    Ref<GMimeObject> top;
    QList<qsizetype> attachments; // indexes into paths
    if (html) {
        const QByteArray charset = htmlCharset(text);
        QString content = text;
        // The prepared body declares ISO-8859-2; some readers trust that declaration over
        // the part's header, so it must not contradict a body that had to go as UTF-8.
        if (charset != "iso-8859-2")
            content.replace(QStringLiteral("charset=iso-8859-2"), QStringLiteral("charset=utf-8"),
                Qt::CaseInsensitive);
        Ref<GMimePart> htmlPart(textPart("html", EncodeInCharset(content, charset), charset));
        Ref<GMimeObject> htmlSide;
        if (pictures.isEmpty()) {
            htmlSide.reset(GMIME_OBJECT(g_object_ref(htmlPart.get())));
        } else {
            GMimeMultipart *related = g_mime_multipart_new_with_subtype("related");
            g_mime_object_set_content_type_parameter(GMIME_OBJECT(related), "type", "text/html");
            g_mime_multipart_add(related, GMIME_OBJECT(htmlPart.get()));
            ContentIds ids(pictures, contentIdDomain);
            for (qsizetype i = 0; i < pictures.size(); ++i) {
                Ref<GMimePart> picture(filePart(pictures.at(i), contents.at(i),
                    ids.ofPicture(QFileInfo(pictures.at(i)).fileName())));
                g_mime_multipart_add(related, GMIME_OBJECT(picture.get()));
            }
            htmlSide.reset(GMIME_OBJECT(related));
        }
        const QString plain = PlainTextOfHtml(text);
        const QByteArray plainCharset = PlainTextCharset(plain);
        Ref<GMimePart> plainPart(
            textPart("plain", EncodeInCharset(plain, plainCharset), plainCharset));
        GMimeMultipart *alternative = g_mime_multipart_new_with_subtype("alternative");
        g_mime_multipart_add(alternative, GMIME_OBJECT(plainPart.get()));
        g_mime_multipart_add(alternative, htmlSide.get());
        top.reset(GMIME_OBJECT(alternative));
        for (qsizetype i = pictures.size(); i < paths.size(); ++i)
            attachments.append(i);
    } else {
        const QByteArray charset = PlainTextCharset(text);
        top.reset(GMIME_OBJECT(textPart("plain", EncodeInCharset(text, charset), charset)));
        for (qsizetype i = 0; i < paths.size(); ++i)
            attachments.append(i);
    }

    if (attachments.isEmpty()) {
        g_mime_message_set_mime_part(message.get(), top.get());
    } else {
        Ref<GMimeMultipart> mixed(g_mime_multipart_new_with_subtype("mixed"));
        g_mime_multipart_add(mixed.get(), top.get());
        for (qsizetype i : attachments) {
            Ref<GMimePart> attachment(filePart(paths.at(i), contents.at(i), QByteArray()));
            g_mime_multipart_add(mixed.get(), GMIME_OBJECT(attachment.get()));
        }
        g_mime_message_set_mime_part(message.get(), GMIME_OBJECT(mixed.get()));
    }

    Ref<GMimeStream> out(g_mime_stream_mem_new());
    GMimeFormatOptions *options = g_mime_format_options_new();
    g_mime_format_options_set_newline_format(options, GMIME_NEWLINE_FORMAT_UNIX);
    g_mime_object_write_to_stream(GMIME_OBJECT(message.get()), options, out.get());
    g_mime_format_options_free(options);
    GByteArray *written = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out.get()));
    *bytes = QByteArray(reinterpret_cast<const char *>(written->data), qsizetype(written->len));
    return Error::None;
}

} // namespace kolporta::compose
