#include "compose/MimeMessage.h"

#include "compose/Charsets.h"
#include "compose/GMimeSupport.h"
#include "compose/HeaderValues.h"
#include "compose/HtmlBody.h"
#include "compose/MessageAssembly.h"
#include "project/TextFile.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMimeDatabase>
#include <QMutex>
#include <QRandomGenerator>
#include <QSysInfo>

#include <limits>

// GLib's headers name a member "signals", which Qt defines as a keyword; nothing here
// declares signals.
#undef signals
#include <gmime/gmime.h>

namespace kolporta::compose {

namespace {

constexpr char kXMailer[] = "Kolporta - https://kolporta.org";

// Base64 lines of 76 characters, the most RFC 2045 allows.
constexpr qsizetype kBase64LineLength = 76;

// A file part's content stands in the GMime tree as one marker line, replaced by the
// cached Base64 lines when the message is encoded. The control bytes cannot occur in any
// line GMime writes: text parts are quoted-printable and header values are cleaned.
constexpr char kMarkerStart = '\x01';
const QByteArray kMarkerPrefix = QByteArrayLiteral("\x01KOLPORTA-PART-");

// One picture or attachment file, read and Base64-encoded once.
struct CachedPart
{
    qint64 fileSize = 0;
    QDateTime modified;
    QByteArray mimeType;
    QList<QByteArray> lines;
    qint64 wireSize = 0; // every line's length plus CR LF
};
using CachedPartPtr = std::shared_ptr<const CachedPart>;

QMutex environmentLock;
MessageEnvironment environment;

MessageEnvironment currentEnvironment()
{
    QMutexLocker locker(&environmentLock);
    return environment;
}

template <typename T> using GPtr = GObjectPtr<T>;

void appendRawHeader(GMimeHeaderList *headers, const char *name, const HeaderTokens &tokens)
{
    g_mime_header_list_append(headers, name, "", nullptr);
    GMimeHeader *header
        = g_mime_header_list_get_header_at(headers, g_mime_header_list_get_count(headers) - 1);
    g_mime_header_set_raw_value(header, FoldedHeaderValue(name, tokens).constData());
}

HeaderTokens mailboxTokens(const QString &text, bool smtpUtf8)
{
    const QString line = OneHeaderLine(text);
    return MailboxTokens(
        DisplayNameOfLine(line), TransportAddress(AddressOfLine(line), smtpUtf8).toUtf8());
}

QByteArray defaultMessageIdLocalPart()
{
    const quint64 random = QRandomGenerator::global()->generate64();
    return QByteArray::number(QDateTime::currentMSecsSinceEpoch(), 36) + '.'
        + QByteArray::number(random, 36) + ".kolporta";
}

// The local time now. The zone's offset is looked up once a minute: every lookup of the
// local zone reads /etc/localtime again, and offsets change only at whole minutes.
QDateTime localNow()
{
    static QMutex lock;
    static qint64 minute = std::numeric_limits<qint64>::min();
    static int offset = 0;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    QMutexLocker locker(&lock);
    if (now / 60000 != minute) {
        minute = now / 60000;
        offset = QDateTime::fromMSecsSinceEpoch(now).offsetFromUtc();
    }
    return QDateTime::fromMSecsSinceEpoch(now, Qt::OffsetFromUTC, offset);
}

GDateTime *toGDateTime(const QDateTime &when)
{
    const int offset = when.offsetFromUtc();
    const QDateTime local = when.toOffsetFromUtc(offset);
    GTimeZone *zone = g_time_zone_new_offset(offset);
    GDateTime *result = g_date_time_new(zone, local.date().year(), local.date().month(),
        local.date().day(), local.time().hour(), local.time().minute(), local.time().second());
    g_time_zone_unref(zone);
    return result;
}

// The text body as GMime gets it: LF line ends (GMime writes LF, and the lines are taken
// apart at LF), in the charset the part declares.
QByteArray withLfLineEnds(QByteArray bytes)
{
    const char *cr = static_cast<const char *>(memchr(bytes.constData(), '\r', bytes.size()));
    if (!cr)
        return bytes;
    const qsizetype first = cr - bytes.constData();
    char *data = bytes.data(); // may detach, so the offset was taken before
    const char *end = data + bytes.size();
    char *to = data + first;
    for (const char *from = to; from < end; ++from)
        if (!(*from == '\r' && from + 1 < end && from[1] == '\n'))
            *to++ = *from;
    bytes.truncate(to - data);
    return bytes;
}

// `given`: the encoding the bytes are in already; GMime copies them as they are when that
// is the part's own.
GMimeObject *newTextPart(const char *subtype, const char *charset, const QByteArray &bytes,
    GMimeContentEncoding given = GMIME_CONTENT_ENCODING_DEFAULT)
{
    GMimePart *part = g_mime_part_new_with_type("text", subtype);
    GPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(bytes.constData(), bytes.size()));
    GPtr<GMimeDataWrapper> content(g_mime_data_wrapper_new_with_stream(stream.get(), given));
    g_mime_part_set_content(part, content.get());
    GMimeObject *object = GMIME_OBJECT(part);
    g_mime_object_set_content_type_parameter(object, "charset", charset);
    g_mime_part_set_content_encoding(part, GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE);
    g_mime_object_set_disposition(object, "inline");
    return object;
}

GMimeObject *newPlainTextPart(const QString &text)
{
    const QByteArray charset = PlainTextCharset(text);
    return newTextPart(
        "plain", charset.constData(), withLfLineEnds(EncodeInCharset(text, charset)));
}

GMimeObject *newHtmlPart(const QString &html)
{
    return newTextPart("html", "utf-8", withLfLineEnds("\xEF\xBB\xBF" + html.toUtf8()));
}

GMimeMultipart *newMultipart(const char *subtype, const MessageEnvironment &env)
{
    GMimeMultipart *multipart = g_mime_multipart_new_with_subtype(subtype);
    if (env.boundary)
        g_mime_multipart_set_boundary(multipart, env.boundary().constData());
    return multipart;
}

// The text as a text part writes it: quoted-printable, by GMime's own encoder, which its
// part writer runs.
QByteArray quotedPrintable(const QByteArray &bytes)
{
    GMimeEncoding state;
    g_mime_encoding_init_encode(&state, GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE);
    QByteArray out(
        qsizetype(g_mime_encoding_outlen(&state, size_t(bytes.size()))) + 16, Qt::Uninitialized);
    size_t length
        = g_mime_encoding_step(&state, bytes.constData(), size_t(bytes.size()), out.data());
    length += g_mime_encoding_flush(&state, "", 0, out.data() + length);
    out.truncate(qsizetype(length));
    return out;
}

// The lines of a header field as GMime writes it: the name, ":" and the raw value, whose
// folded lines each end in LF.
void appendField(
    QList<QByteArray> *lines, qint64 *size, const QByteArray &name, const QByteArray &raw)
{
    qsizetype start = 0;
    while (start < raw.size()) {
        qsizetype end = raw.indexOf('\n', start);
        if (end < 0)
            end = raw.size();
        QByteArray line = start == 0 ? name + ':' + raw.first(end) : raw.sliced(start, end - start);
        *size += line.size() + 2;
        lines->append(std::move(line));
        start = end + 1;
    }
}

// The markers of a template's text parts; like the file markers, never a line GMime writes.
const QByteArray kPlainMarker = QByteArrayLiteral("\x01KOLPORTA-TEXT-PLAIN\x01");
const QByteArray kHtmlMarker = QByteArrayLiteral("\x01KOLPORTA-TEXT-HTML\x01");

// The header fields that stay the same from one message of a run to the next, kept as the
// last message had them.
struct HeaderCache
{
    QMutex lock;
    QString from;
    bool smtpUtf8 = false;
    QList<QByteArray> fromLines;
    QByteArray idDomain;
    QString subject;
    QList<QByteArray> subjectLines;
    qint64 second = std::numeric_limits<qint64>::min();
    int offset = 0;
    QByteArray dateLine;
};

// A template's lines after its header fields, with the places of the text parts' lines.
struct TemplateLayout
{
    struct Slot
    {
        qsizetype at; // the marker line's index in lines
        bool html;
    };
    QList<QByteArray> lines;
    QList<qint64> sizeBefore; // the wire size of lines[0, i)
    QList<Slot> textSlots;
};

} // namespace

QByteArray XMailerText()
{
    return QByteArray(kXMailer);
}

void SetMessageEnvironment(const MessageEnvironment &env)
{
    QMutexLocker locker(&environmentLock);
    environment = env;
}

QByteArray NewContentIdDomain()
{
    const MessageEnvironment env = currentEnvironment();
    if (env.contentIdDomain)
        return env.contentIdDomain();
    return QByteArray::number(QRandomGenerator::global()->generate64(), 36) + ".kolporta";
}

// ---- PartCache ----

struct PartCache::Private
{
    QMutex lock;
    QHash<QString, CachedPartPtr> parts;
    QMimeDatabase mimeDatabase;
    // The last HTML body and its plain-text form: a body without macros is the same for
    // every message of a run, and is read only once.
    QString html;
    QString plainText;

    CachedPartPtr part(const QString &path, QString *error);
    QString plainTextOf(const QString &body);
};

QString PartCache::Private::plainTextOf(const QString &body)
{
    {
        QMutexLocker locker(&lock);
        if (!html.isNull() && html == body)
            return plainText;
    }
    const QString text = PlainTextOfHtml(body);
    QMutexLocker locker(&lock);
    html = body;
    plainText = text;
    return text;
}

CachedPartPtr PartCache::Private::part(const QString &path, QString *error)
{
    const QFileInfo info(path);
    const qint64 size = info.size();
    const QDateTime modified = info.lastModified();
    {
        QMutexLocker locker(&lock);
        const CachedPartPtr cached = parts.value(path);
        if (cached && info.isFile() && cached->fileSize == size && cached->modified == modified)
            return cached;
    }

    QByteArray bytes;
    if (!project::TextFile::readBytes(path, &bytes, error))
        return nullptr;

    auto entry = std::make_shared<CachedPart>();
    entry->fileSize = size;
    entry->modified = modified;
    entry->mimeType = mimeDatabase.mimeTypeForFile(info.fileName(), QMimeDatabase::MatchExtension)
                          .name()
                          .toLatin1();
    if (entry->mimeType.isEmpty() || !entry->mimeType.contains('/'))
        entry->mimeType = QByteArrayLiteral("application/octet-stream");
    const QByteArray base64 = bytes.toBase64();
    entry->lines.reserve(base64.size() / kBase64LineLength + 1);
    for (qsizetype at = 0; at < base64.size(); at += kBase64LineLength)
        entry->lines.append(base64.mid(at, kBase64LineLength));
    for (const QByteArray &line : std::as_const(entry->lines))
        entry->wireSize += line.size() + 2;

    QMutexLocker locker(&lock);
    parts.insert(path, entry);
    return entry;
}

PartCache::PartCache()
    : m_d(std::make_unique<Private>())
{ }

PartCache::~PartCache() = default;

// ---- MimeMessage ----

struct MimeMessage::Private
{
    GMimeMessage *message = nullptr;
    QList<CachedPartPtr> files; // by marker number
    QString from;
    QStringList to;
    QString subject;
    bool smtpUtf8 = false;
    QList<QByteArray> lines;
    qint64 size = 0;
    // A message made from a template: its layout and the encoded text of its text parts.
    std::shared_ptr<const TemplateLayout> layout;
    std::shared_ptr<HeaderCache> headers;
    QByteArray plainText, htmlText;

    ~Private()
    {
        if (message)
            g_object_unref(message);
    }

    // A picture when contentId is set, else an attachment.
    GMimeObject *newFilePart(
        const QString &path, const CachedPartPtr &cached, const QByteArray &contentId);
    // The tree of the message, with these text parts (html null for a plain body).
    void buildTree(const MessageContent &content, const QList<CachedPartPtr> &attachments,
        const QList<CachedPartPtr> &pictures, GMimeObject *plain, GMimeObject *html,
        const MessageEnvironment &env);
    void encodeFromLayout(const MessageEnvironment &env);
    // The lines of encoded text in place of a marker line; at the end of the message a last
    // empty line is not one, as the text then ends the message.
    void appendText(const QByteArray &text, bool atEnd);
};

GMimeObject *MimeMessage::Private::newFilePart(
    const QString &path, const CachedPartPtr &cached, const QByteArray &contentId)
{
    const bool picture = !contentId.isEmpty();
    const qsizetype slash = cached->mimeType.indexOf('/');
    GMimePart *part = g_mime_part_new_with_type(
        cached->mimeType.left(slash).constData(), cached->mimeType.mid(slash + 1).constData());
    GMimeObject *object = GMIME_OBJECT(part);

    // The content is already Base64, so GMime copies the marker through unchanged.
    const QByteArray marker = kMarkerPrefix + QByteArray::number(files.size()) + kMarkerStart;
    files.append(cached);
    GPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(marker.constData(), marker.size()));
    GPtr<GMimeDataWrapper> content(
        g_mime_data_wrapper_new_with_stream(stream.get(), GMIME_CONTENT_ENCODING_BASE64));
    g_mime_part_set_content(part, content.get());
    g_mime_part_set_content_encoding(part, GMIME_CONTENT_ENCODING_BASE64);

    const QString fileName = OneHeaderLine(QFileInfo(path).fileName());
    g_mime_object_set_disposition(object, picture ? "inline" : "attachment");
    g_mime_part_set_filename(part, fileName.toUtf8().constData());
    if (picture)
        g_mime_object_set_content_id(object, contentId.constData());
    return object;
}

MimeMessage::MimeMessage(std::unique_ptr<Private> priv)
    : d(std::move(priv))
{ }

MimeMessage::~MimeMessage() = default;

void MimeMessage::setFrom(const QString &senderText)
{
    d->from = senderText;
}

void MimeMessage::setTo(const QStringList &texts)
{
    d->to = texts;
}

void MimeMessage::setSubject(const QString &subject)
{
    d->subject = subject;
}

void MimeMessage::setSmtpUtf8(bool smtpUtf8)
{
    d->smtpUtf8 = smtpUtf8;
}

const QList<QByteArray> &MimeMessage::encode()
{
    const MessageEnvironment env = currentEnvironment();
    if (!d->message) {
        d->encodeFromLayout(env);
        return d->lines;
    }
    GMimeObject *object = GMIME_OBJECT(d->message);
    GMimeHeaderList *headers = g_mime_object_get_header_list(object);

    // The header block is written afresh in its fixed order on every encode.
    g_mime_header_list_clear(headers);
    appendRawHeader(headers, "From", mailboxTokens(d->from, d->smtpUtf8));
    if (!d->to.isEmpty()) {
        HeaderTokens to;
        for (const QString &text : std::as_const(d->to)) {
            if (!to.isEmpty())
                to.last().text += ',';
            to += mailboxTokens(text, d->smtpUtf8);
        }
        appendRawHeader(headers, "To", to);
    }
    const QString subject = OneHeaderLine(d->subject);
    if (!subject.isEmpty())
        appendRawHeader(headers, "Subject", UnstructuredTokens(subject));
    GDateTime *date = toGDateTime(env.now ? env.now() : localNow());
    g_mime_message_set_date(d->message, date);
    g_date_time_unref(date);
    const QByteArray localPart = env.messageId ? env.messageId() : defaultMessageIdLocalPart();
    g_mime_message_set_message_id(
        d->message, (localPart + '@' + MessageIdDomain(d->from)).constData());
    g_mime_header_list_append(headers, "MIME-Version", "1.0", nullptr);
    g_mime_header_list_append(headers, "X-mailer", kXMailer, nullptr);

    GPtr<GMimeStream> stream(g_mime_stream_mem_new());
    g_mime_object_write_to_stream(object, nullptr, stream.get());
    const GByteArray *written = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream.get()));
    const char *data = reinterpret_cast<const char *>(written->data);
    const qsizetype length = qsizetype(written->len);

    d->lines.clear();
    d->size = 0;
    qsizetype estimate = 64;
    for (const CachedPartPtr &file : std::as_const(d->files))
        estimate += file->lines.size();
    d->lines.reserve(estimate);
    for (qsizetype start = 0; start < length;) {
        const char *end = static_cast<const char *>(memchr(data + start, '\n', length - start));
        const qsizetype stop = end ? end - data : length;
        qsizetype lineLength = stop - start;
        if (lineLength > 0 && data[start + lineLength - 1] == '\r')
            --lineLength;
        const QByteArrayView line(data + start, lineLength);
        if (line.size() > kMarkerPrefix.size() && line.startsWith(kMarkerPrefix)
            && line.endsWith(kMarkerStart)) {
            const qsizetype index
                = line.sliced(kMarkerPrefix.size(), line.size() - kMarkerPrefix.size() - 1)
                      .toLongLong();
            const CachedPart &file = *d->files.at(index);
            d->lines.append(file.lines);
            d->size += file.wireSize;
        } else {
            d->lines.append(line.toByteArray());
            d->size += line.size() + 2;
        }
        start = stop + 1;
    }
    return d->lines;
}

const QList<QByteArray> &MimeMessage::lines() const
{
    return d->lines;
}

qint64 MimeMessage::size() const
{
    return d->size;
}

// ---- BuildMessage ----

namespace {

// Every listed file from the cache, read before any tree is built, so a file that cannot be
// read leaves nothing half made.
bool readFiles(const MessageContent &content, PartCache::Private *parts,
    QList<CachedPartPtr> *attachments, QList<CachedPartPtr> *pictures, QString *error)
{
    attachments->clear();
    pictures->clear();
    for (const QString &path : content.attachments) {
        CachedPartPtr part = parts->part(path, error);
        if (!part)
            return false;
        attachments->append(part);
    }
    if (content.html) {
        for (const QString &path : content.pictures) {
            CachedPartPtr part = parts->part(path, error);
            if (!part)
                return false;
            pictures->append(part);
        }
    }
    return true;
}

} // namespace

void MimeMessage::Private::buildTree(const MessageContent &content,
    const QList<CachedPartPtr> &attachments, const QList<CachedPartPtr> &pictures,
    GMimeObject *plain, GMimeObject *html, const MessageEnvironment &env)
{
    message = g_mime_message_new(FALSE);

    GPtr<GMimeMultipart> mixed;
    if (!content.attachments.isEmpty())
        mixed.reset(newMultipart("mixed", env));

    GPtr<GMimeObject> body;
    if (content.html) {
        // alternative(text/plain, text/html), the HTML inside related(text/html, pictures)
        // when there are pictures: a reader resolves cid: within the related part that holds
        // the HTML, and a text-only reader gets the text.
        GPtr<GMimeMultipart> alternative(newMultipart("alternative", env));
        g_mime_multipart_add(alternative.get(), plain);
        if (content.pictures.isEmpty()) {
            g_mime_multipart_add(alternative.get(), html);
        } else {
            GPtr<GMimeMultipart> related(newMultipart("related", env));
            g_mime_object_set_content_type_parameter(
                GMIME_OBJECT(related.get()), "type", "text/html");
            g_mime_multipart_add(related.get(), html);
            ContentIds ids(content.pictures, content.contentIdDomain);
            for (qsizetype i = 0; i < pictures.size(); ++i) {
                const QString &path = content.pictures.at(i);
                GPtr<GMimeObject> picture(
                    newFilePart(path, pictures.at(i), ids.ofPicture(QFileInfo(path).fileName())));
                g_mime_multipart_add(related.get(), picture.get());
            }
            g_mime_multipart_add(alternative.get(), GMIME_OBJECT(related.get()));
        }
        body.reset(GMIME_OBJECT(alternative.release()));
    } else {
        body.reset(GMIME_OBJECT(g_object_ref(plain)));
    }

    if (mixed) {
        g_mime_multipart_add(mixed.get(), body.get());
        for (qsizetype i = 0; i < attachments.size(); ++i) {
            GPtr<GMimeObject> attachment(
                newFilePart(content.attachments.at(i), attachments.at(i), QByteArray()));
            g_mime_multipart_add(mixed.get(), attachment.get());
        }
        g_mime_message_set_mime_part(message, GMIME_OBJECT(mixed.get()));
    } else {
        g_mime_message_set_mime_part(message, body.get());
    }
}

std::unique_ptr<MimeMessage> BuildMessage(
    const MessageContent &content, PartCache *cache, QString *error)
{
    ensureGMimeInitialized();
    PartCache localCache;
    PartCache::Private *parts = (cache ? cache : &localCache)->d();
    const MessageEnvironment env = currentEnvironment();

    QList<CachedPartPtr> attachments, pictures;
    if (!readFiles(content, parts, &attachments, &pictures, error))
        return nullptr;

    auto d = std::make_unique<MimeMessage::Private>();
    // Text parts take no boundary, so making them first keeps the boundaries in tree order.
    GPtr<GMimeObject> plain, html;
    if (content.html) {
        plain.reset(newPlainTextPart(content.textTemplate && content.textTemplate->fillsIn()
                ? content.textTemplate->text(
                    content.macroTo, content.macroFrom, content.macroSubject)
                : parts->plainTextOf(content.body)));
        html.reset(newHtmlPart(content.body));
    } else {
        plain.reset(newPlainTextPart(content.body));
    }
    d->buildTree(content, attachments, pictures, plain.get(), html.get(), env);
    return std::unique_ptr<MimeMessage>(new MimeMessage(std::move(d)));
}

// ---- MessageTemplate ----

void MimeMessage::Private::appendText(const QByteArray &text, bool atEnd)
{
    const char *data = text.constData();
    const qsizetype length = text.size();
    for (qsizetype start = 0;;) {
        const char *end = static_cast<const char *>(memchr(data + start, '\n', length - start));
        const qsizetype stop = end ? end - data : length;
        if (!end && atEnd && start == length)
            return;
        qsizetype lineLength = stop - start;
        if (lineLength > 0 && data[start + lineLength - 1] == '\r')
            --lineLength;
        lines.append(QByteArray(data + start, lineLength));
        size += lineLength + 2;
        if (!end)
            return;
        start = stop + 1;
    }
}

void MimeMessage::Private::encodeFromLayout(const MessageEnvironment &env)
{
    lines.clear();
    size = 0;
    lines.reserve(layout->lines.size() + 16 + (plainText.size() + htmlText.size()) / 64);

    // The header fields as encode() has GMime write them.
    QMutexLocker locker(&headers->lock);
    if (headers->fromLines.isEmpty() || headers->from != from || headers->smtpUtf8 != smtpUtf8) {
        headers->fromLines.clear();
        qint64 unused = 0;
        appendField(&headers->fromLines, &unused, "From",
            FoldedHeaderValue("From", mailboxTokens(from, smtpUtf8)));
        headers->from = from;
        headers->smtpUtf8 = smtpUtf8;
        headers->idDomain = MessageIdDomain(from);
    }
    for (const QByteArray &line : std::as_const(headers->fromLines)) {
        lines.append(line);
        size += line.size() + 2;
    }
    if (!to.isEmpty()) {
        HeaderTokens tokens;
        for (const QString &text : std::as_const(to)) {
            if (!tokens.isEmpty())
                tokens.last().text += ',';
            tokens += mailboxTokens(text, smtpUtf8);
        }
        appendField(&lines, &size, "To", FoldedHeaderValue("To", tokens));
    }
    if (headers->subject.isNull() || headers->subject != subject) {
        headers->subjectLines.clear();
        const QString oneLine = OneHeaderLine(subject);
        qint64 unused = 0;
        if (!oneLine.isEmpty())
            appendField(&headers->subjectLines, &unused, "Subject",
                FoldedHeaderValue("Subject", UnstructuredTokens(oneLine)));
        headers->subject = subject.isNull() ? QStringLiteral("") : subject;
    }
    for (const QByteArray &line : std::as_const(headers->subjectLines)) {
        lines.append(line);
        size += line.size() + 2;
    }
    // The Date changes once a second.
    const QDateTime when = env.now ? env.now() : localNow();
    const qint64 second = when.toSecsSinceEpoch();
    if (env.now || headers->second != second || headers->offset != when.offsetFromUtc()) {
        GDateTime *date = toGDateTime(when);
        char *dateText = g_mime_utils_header_format_date(date);
        g_date_time_unref(date);
        headers->dateLine = QByteArrayLiteral("Date: ") + dateText;
        g_free(dateText);
        headers->second = second;
        headers->offset = when.offsetFromUtc();
    }
    lines.append(headers->dateLine);
    size += headers->dateLine.size() + 2;
    const QByteArray localPart = env.messageId ? env.messageId() : defaultMessageIdLocalPart();
    appendField(&lines, &size, "Message-Id",
        " <" + (localPart + '@' + headers->idDomain).trimmed() + ">\n");
    appendField(&lines, &size, "MIME-Version", " 1.0\n");
    appendField(&lines, &size, "X-mailer", QByteArray(" ") + kXMailer + '\n');

    qsizetype next = 0;
    const auto appendLayout = [&](qsizetype until) {
        lines.append(layout->lines.sliced(next, until - next));
        size += layout->sizeBefore.at(until) - layout->sizeBefore.at(next);
    };
    for (const TemplateLayout::Slot &slot : layout->textSlots) {
        appendLayout(slot.at);
        appendText(slot.html ? htmlText : plainText, slot.at + 1 == layout->lines.size());
        next = slot.at + 1;
    }
    appendLayout(layout->lines.size());
}

struct MessageTemplate::Private
{
    MessageContent content;
    PartCache localCache;
    PartCache *cache = nullptr;
    PartCache::Private *parts = nullptr;
    std::shared_ptr<const PlainTextTemplate> textTemplate;
    // The files the layouts hold; a file that changed makes them anew.
    QList<CachedPartPtr> attachments, pictures;
    // By charset of the plain-text part; null where the template cannot stand for the tree.
    QHash<QByteArray, std::shared_ptr<const TemplateLayout>> layouts;
    std::shared_ptr<HeaderCache> headers = std::make_shared<HeaderCache>();
    // The HTML body line by line, each with its line end. Quoted-printable starts afresh
    // after every line break, so a line without a macro is encoded once for the run.
    struct HtmlLine
    {
        QString source;
        QByteArray encoded; // for a line without a macro
        bool fixed = false;
    };
    QList<HtmlLine> htmlLines;

    static QByteArray encodedHtml(const QString &text, bool first)
    {
        return quotedPrintable(withLfLineEnds(
            (first ? QByteArrayLiteral("\xEF\xBB\xBF") : QByteArray()) + text.toUtf8()));
    }
    QByteArray htmlText(const QString &to, const QString &from, const QString &subject) const;
    std::shared_ptr<const TemplateLayout> layoutFor(const QByteArray &charset);
    std::shared_ptr<const TemplateLayout> makeLayout(const QByteArray &charset);
};

std::shared_ptr<const TemplateLayout> MessageTemplate::Private::layoutFor(const QByteArray &charset)
{
    const auto it = layouts.constFind(charset);
    if (it != layouts.constEnd())
        return *it;
    std::shared_ptr<const TemplateLayout> layout = makeLayout(charset);
    layouts.insert(charset, layout);
    return layout;
}

// The whole message written once by GMime, with markers for the text parts; everything
// after the header fields is the layout.
std::shared_ptr<const TemplateLayout> MessageTemplate::Private::makeLayout(
    const QByteArray &charset)
{
    const MessageEnvironment env = currentEnvironment();
    auto tree = std::make_unique<MimeMessage::Private>();
    GPtr<GMimeObject> plain(newTextPart(
        "plain", charset.constData(), kPlainMarker, GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE));
    GPtr<GMimeObject> html;
    if (content.html)
        html.reset(
            newTextPart("html", "utf-8", kHtmlMarker, GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE));
    tree->buildTree(content, attachments, pictures, plain.get(), html.get(), env);
    MimeMessage shell(std::move(tree));
    const QList<QByteArray> &written = shell.encode();

    const QByteArray xMailer = QByteArrayLiteral("X-mailer: ") + kXMailer;
    const qsizetype start = written.indexOf(xMailer) + 1;
    if (start == 0)
        return nullptr;
    auto layout = std::make_shared<TemplateLayout>();
    layout->lines = written.sliced(start);
    layout->sizeBefore.reserve(layout->lines.size() + 1);
    qint64 size = 0;
    int plainSlots = 0, htmlSlots = 0;
    for (qsizetype i = 0; i < layout->lines.size(); ++i) {
        layout->sizeBefore.append(size);
        const QByteArray &line = layout->lines.at(i);
        size += line.size() + 2;
        if (line == kPlainMarker || line == kHtmlMarker) {
            const bool isHtml = line == kHtmlMarker;
            ++(isHtml ? htmlSlots : plainSlots);
            layout->textSlots.append({i, isHtml});
        } else if (line.contains(kMarkerStart)) {
            return nullptr; // a marker that does not stand on a line of its own
        }
    }
    layout->sizeBefore.append(size);
    if (plainSlots != 1 || htmlSlots != (content.html ? 1 : 0))
        return nullptr;
    return layout;
}

QByteArray MessageTemplate::Private::htmlText(
    const QString &to, const QString &from, const QString &subject) const
{
    QByteArray text;
    for (qsizetype i = 0; i < htmlLines.size(); ++i) {
        const HtmlLine &line = htmlLines.at(i);
        text += line.fixed ? line.encoded
                           : encodedHtml(ApplyMacros(line.source, to, from, subject, true), i == 0);
    }
    return text;
}

MessageTemplate::MessageTemplate(const MessageContent &content, PartCache *cache)
    : d(std::make_unique<Private>())
{
    ensureGMimeInitialized();
    d->content = content;
    d->cache = cache ? cache : &d->localCache;
    d->parts = d->cache->d();
    d->textTemplate = content.textTemplate;
    if (content.html && !d->textTemplate)
        d->textTemplate = std::make_shared<PlainTextTemplate>(content.body);
    if (content.html) {
        // A macro holds no line break, so filling in each line alone fills in the body.
        const QString &body = content.body;
        qsizetype start = 0;
        do {
            const qsizetype lf = body.indexOf(u'\n', start);
            const qsizetype end = lf < 0 ? body.size() : lf + 1;
            Private::HtmlLine line;
            line.source = body.sliced(start, end - start);
            line.fixed = !line.source.contains(QLatin1String("%TO%"))
                && !line.source.contains(QLatin1String("%FROM%"))
                && !line.source.contains(QLatin1String("%SUBJECT%"));
            if (line.fixed)
                line.encoded = Private::encodedHtml(line.source, start == 0);
            d->htmlLines.append(line);
            start = end;
        } while (start < body.size());
    }
}

MessageTemplate::~MessageTemplate() = default;

std::unique_ptr<MimeMessage> MessageTemplate::message(
    const QString &to, const QString &from, const QString &subject, QString *error)
{
    const MessageContent &content = d->content;
    // The whole body filled in, where it is needed: an HTML body goes line by line.
    const auto body = [&] { return ApplyMacros(content.body, to, from, subject, content.html); };

    QList<CachedPartPtr> attachments, pictures;
    if (!readFiles(content, d->parts, &attachments, &pictures, error))
        return nullptr;
    if (attachments != d->attachments || pictures != d->pictures) {
        d->attachments = attachments;
        d->pictures = pictures;
        d->layouts.clear();
    }

    QString plain;
    if (!content.html)
        plain = body();
    else if (d->textTemplate->fillsIn())
        plain = d->textTemplate->text(to, from, subject);
    else
        plain = d->parts->plainTextOf(body());
    const QByteArray charset = PlainTextCharset(plain);
    std::shared_ptr<const TemplateLayout> layout = d->layoutFor(charset);
    if (!layout) {
        MessageContent filled = content;
        filled.body = body();
        filled.textTemplate = d->textTemplate;
        filled.macroTo = to;
        filled.macroFrom = from;
        filled.macroSubject = subject;
        return BuildMessage(filled, d->cache, error);
    }

    auto message = std::make_unique<MimeMessage::Private>();
    message->layout = std::move(layout);
    message->headers = d->headers;
    message->plainText = quotedPrintable(withLfLineEnds(EncodeInCharset(plain, charset)));
    if (content.html)
        message->htmlText = d->htmlText(to, from, subject);
    return std::unique_ptr<MimeMessage>(new MimeMessage(std::move(message)));
}

QByteArray MessageIdDomain(const QString &sender)
{
    auto usable = [](const QString &domain) {
        if (domain.isEmpty() || domain.startsWith(u'.') || domain.endsWith(u'.'))
            return false;
        for (QChar c : domain)
            if (!(c.isLetterOrNumber() && c.unicode() < 0x80) && c != u'.' && c != u'-')
                return false;
        return true;
    };
    const QString address = AddressOfLine(sender);
    const qsizetype at = address.lastIndexOf(u'@');
    const QString domain = at >= 0 ? address.mid(at + 1) : QString();
    if (usable(domain))
        return domain.toLatin1();
    const QString host = QSysInfo::machineHostName();
    return usable(host) ? host.toLatin1() : QByteArrayLiteral("localhost");
}

} // namespace kolporta::compose
