#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace kolporta::delivery {

// One sendmail-compatible mail program of the route list.
struct MailProgram
{
    QString name; // display name: the section of mailclients.ini, or the detected one
    QString command; // program and arguments
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
    // The pictures of an HTML body (inline, with Content-IDs on the domain that the run's
    // prepared body refers to) and the attachments; without HTML both go as attachments.
    void setPictures(const QStringList &paths, const QByteArray &contentIdDomain)
    {
        m_pictures = paths;
        m_contentIdDomain = contentIdDomain;
    }
    void setAttachments(const QStringList &paths) { m_attachments = paths; }
    void clearRecipients() { m_recipients.clear(); }
    void addRecipient(const QString &text, RecipientKind kind);

    // Hands the message over. true on success. false with *error empty is the quiet
    // "User abort"; false with *error set is an error that ends the run.
    //
    // The message goes to "Command -i -t" on its standard input. The program's exit status
    // stands for a Simple MAPI result: 0 success, EX_NOUSER (67) 14 "Unknown recipient",
    // EX_TEMPFAIL (75) 23 "Network failure", any other status, a crash or a kill after the
    // time limit 2 "General MAPI failure". No exit status means "the user cancelled" for a
    // sendmail-compatible program, so the quiet "User abort" never comes from this route.
    // Without a prepared client the first installed program is used, as Simple MAPI falls
    // back on the default mail program.
    bool send(QString *error);

    // How long a hand-over may take before the program is killed (120 s by default).
    void setTimeout(int milliseconds) { m_timeoutMs = milliseconds; }
    int timeout() const { return m_timeoutMs; }

    // What the program wrote to its standard output and error during the last hand-over,
    // for the log: the error texts themselves are the fixed Simple MAPI texts.
    const QString &programOutput() const { return m_programOutput; }

    // "MAPI Error: (code) "text"" with the Simple MAPI text of the code ("" for unknown codes).
    static QString mapiErrorText(int code);
    // The Simple MAPI result for an exit status of a sendmail-compatible program.
    static int resultForExitStatus(int status);

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
    QStringList m_pictures;
    QByteArray m_contentIdDomain;
    QStringList m_attachments;
    QList<Recipient> m_recipients;
    int m_timeoutMs = 120000;
    QString m_programOutput;
};

} // namespace kolporta::delivery
