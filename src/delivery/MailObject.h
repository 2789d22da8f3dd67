#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace kolporta::delivery {

// One sendmail-compatible mail program of the route list.
struct MailProgram
{
    QString name;      // display name: the section of mailclients.ini, or the detected one
    QString command;   // program and arguments
    bool installed = false; // the program exists and is executable
};

// The list from mailclients.ini in the home folder, or by detection when that file does
// not exist ("sendmail" for /usr/sbin/sendmail, then "msmtp" on the PATH).
QList<MailProgram> LoadMailPrograms();

enum class RecipientKind { To, Bcc };

// The mail object of the mail-program route: the fields of one message, handed over by
// composing it and piping it to "Command -i -t".
class MailObject
{
public:
    explicit MailObject(QList<MailProgram> programs);

    const QList<MailProgram> &programs() const { return m_programs; }
    bool anyClientInstalled() const;

    // "Index is out ot range", or the system's text for a program that cannot be started.
    bool prepareClient(int index, QString *error);

    void setHtml(bool html) { m_html = html; }
    void setSubject(const QString &subject) { m_subject = subject; }
    void setBody(const QString &body); // CR LF is added when missing at the end
    void setAttachments(const QStringList &paths) { m_attachments = paths; }
    void clearRecipients() { m_recipients.clear(); }
    void addRecipient(const QString &text, RecipientKind kind);

    // Hands the message over. true on success. false with *error empty is the quiet
    // "User abort"; false with *error set is an error that ends the run.
    bool send(QString *error);

    struct Recipient
    {
        QString text;
        RecipientKind kind;
    };
    const QList<Recipient> &recipients() const { return m_recipients; }
    const QString &body() const { return m_body; }

private:
    QList<MailProgram> m_programs;
    int m_selected = -1;
    bool m_html = false;
    QString m_subject;
    QString m_body;
    QStringList m_attachments;
    QList<Recipient> m_recipients;
};

} // namespace kolporta::delivery
