#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace kolporta::compose {

class PartCache;
class PlainTextTemplate;

// What BuildMessage needs of a project.
struct MessageContent
{
    QString body; // the filled body text
    bool html = false; // the body is HTML
    QStringList pictures; // picture paths for the HTML body (used only when html)
    QStringList attachments; // file attachment paths
    QByteArray contentIdDomain; // the run's right-hand side of the pictures' Content-IDs
    // The run's HTML body before its macros and this message's values of them: the plain-text
    // part is then filled in from the template read once, rather than read from the body.
    std::shared_ptr<const PlainTextTemplate> textTemplate;
    QString macroTo, macroFrom, macroSubject;
};

// The X-mailer header text of every message.
QByteArray XMailerText();

// Injectable sources of everything that varies between two builds of the same message,
// so tests can compare whole messages byte for byte. Empty members use the real ones.
struct MessageEnvironment
{
    std::function<QDateTime()> now;
    std::function<QByteArray()> boundary; // a fresh multipart boundary
    std::function<QByteArray()> messageId; // the local part of a fresh Message-ID
    std::function<QByteArray()> contentIdDomain; // see NewContentIdDomain
};
void SetMessageEnvironment(const MessageEnvironment &env);

// A fresh right-hand side for the Content-IDs of one run's pictures, unique to the run.
QByteArray NewContentIdDomain();

// A MIME message for the SMTP route. Owns its GMime tree.
class MimeMessage
{
public:
    ~MimeMessage();
    MimeMessage(const MimeMessage &) = delete;
    MimeMessage &operator=(const MimeMessage &) = delete;

    void setFrom(const QString &senderText);
    void setTo(const QStringList &texts);
    void setSubject(const QString &subject);
    // Whether the message goes with SMTPUTF8: its addresses are then written in UTF-8 as
    // they are, else with their domains in IDNA form.
    void setSmtpUtf8(bool smtpUtf8);

    // Encodes the whole message (header block, empty line, body) into lines without their
    // CR LF, and fixes its Date. size() is then the sum of every line's length plus 2.
    const QList<QByteArray> &encode();
    const QList<QByteArray> &lines() const;
    qint64 size() const;

    struct Private;

private:
    explicit MimeMessage(std::unique_ptr<Private> d);
    std::unique_ptr<Private> d;
    friend std::unique_ptr<MimeMessage> BuildMessage(
        const MessageContent &, PartCache *, QString *);
    friend class MessageTemplate;
};

// Keeps the encoded parts of picture and attachment files for one send run, reused as
// long as a file's size and modification time stay the same.
class PartCache
{
public:
    PartCache();
    ~PartCache();
    struct Private;
    Private *d() const { return m_d.get(); }

private:
    std::unique_ptr<Private> m_d;
};

// The right-hand side of a Message-ID: the sender's domain, else this host's name, else
// "localhost" when the host has no usable name.
QByteArray MessageIdDomain(const QString &senderText);

// Builds the message tree for the body; From, To and Subject are set by the caller.
// Returns null with *error set (the file layer's text, naming the file) when a listed
// file cannot be read. cache may be null.
std::unique_ptr<MimeMessage> BuildMessage(
    const MessageContent &content, PartCache *cache, QString *error);

// The message of a run, built once and filled in per recipient. A personalised message
// differs from the next only in To, Date, Message-ID and the encoded text of its text parts,
// so the tree is written once (per character set of the plain-text part) with markers where
// those texts go, and each message fills in just them: the same bytes as BuildMessage on the
// filled body, apart from the MIME boundaries, which stay the same for the whole run. A file
// that changed since the last message makes the template anew; a tree the template cannot
// reproduce exactly is built in full instead.
class MessageTemplate
{
public:
    // `content.body` is the run's body with its macros still in it (an HTML body already
    // prepared); the macro fields of `content` are not used. cache may be null.
    MessageTemplate(const MessageContent &content, PartCache *cache);
    ~MessageTemplate();
    MessageTemplate(const MessageTemplate &) = delete;
    MessageTemplate &operator=(const MessageTemplate &) = delete;

    // The message for these macro values, as BuildMessage gives it for the filled body;
    // From, To and Subject are set by the caller. Null with *error set as there.
    std::unique_ptr<MimeMessage> message(
        const QString &to, const QString &from, const QString &subject, QString *error);

    struct Private;

private:
    std::unique_ptr<Private> d;
};

} // namespace kolporta::compose
