#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace kolporta::compose {

// The message a sendmail-compatible mail program reads on its standard input with "-i -t":
// Subject, Date, To and Bcc headers naming the recipients (the program takes the envelope
// from them and drops Bcc; a message without a To recipient says "undisclosed-recipients:;"),
// no From (the program supplies the sender), and the same MIME tree as the SMTP route: a
// text/plain body, or alternative(text/plain generated from the HTML, text/html), the HTML
// inside related(text/html, pictures) when there are pictures, all in mixed with the
// attachments. Without HTML the pictures are attached too. Lines end in LF, the local
// convention such programs expect.
struct MailProgramMessage
{
    struct Recipient
    {
        QString text; // "Name <address>" or a bare address, as the address list holds it
        bool blindCopy = false;
    };

    QString subject;
    QString body;
    bool html = false;
    QStringList pictures; // picture paths for the HTML body, in list order
    QStringList files; // attachment paths, in list order
    QByteArray contentIdDomain; // the run's right-hand side of the pictures' Content-IDs
    QList<Recipient> recipients;

    // InvalidAddress: a recipient without an address, or one MailProgramTakes refuses.
    enum class Error { None, UnreadableFile, InvalidAddress };

    // Builds the whole message into *bytes. On failure *bytes is empty, *error names the
    // file or the recipient, and the kind of failure is returned.
    Error build(QByteArray *bytes, QString *error) const;
};

// The display name and address a recipient text stands for: a text that reads as exactly
// one mailbox ("Name <address>", "address (Name)", a bare address) gives that mailbox; any
// other text is cut by the address-line rule, the address between "<" and ">" (the whole
// text when there is none) and the name before "<", so a comma in a name never splits one
// recipient into two.
void MailProgramMailbox(const QString &text, QString *name, QString *address);

// Whether a recipient text can go to a mail program: its address is ASCII once its domain is
// in IDNA form. A mail program is not known to speak SMTPUTF8, so an address whose local part
// is not ASCII cannot go.
bool MailProgramTakes(const QString &text);

} // namespace kolporta::compose
