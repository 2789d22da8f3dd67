#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace kolporta::compose {

// The message a sendmail-compatible mail program reads on its standard input with "-i -t":
// Subject, Date, To and Bcc headers naming the recipients (the program takes the envelope
// from them and drops Bcc), no From (the program supplies the sender), and a body that is
// text/plain, or text/html with the picture files inline in multipart/related; every other
// file is an attachment. Lines end in LF, the local convention such programs expect.
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
    QStringList files; // picture and attachment paths, in list order
    QList<Recipient> recipients;

    enum class Error { None, UnreadableFile, EmptyAddress };

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

// Whether a file goes inline beside an HTML body rather than as an attachment: its type,
// judged by the file name, is an image.
bool IsMailProgramPicture(const QString &path);

} // namespace kolporta::compose
