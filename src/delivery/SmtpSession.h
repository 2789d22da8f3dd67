#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace kolporta::delivery {

// The reply codes of one transaction's commands, in order: MAIL FROM, each RCPT TO, DATA.
// A code is 0 when no reply came for it (the session was lost first, or the command was not
// sent at all).
struct TransactionReplies
{
    int mail = 0;
    QList<int> rcpt;
    int data = 0;

    bool senderAccepted() const { return mail == 250; }
    bool accepted(qsizetype i) const { return senderAccepted() && rcpt.value(i) == 250; }
    bool anyAccepted() const
    {
        for (qsizetype i = 0; i < rcpt.size(); ++i)
            if (accepted(i))
                return true;
        return false;
    }
};

// The SMTP operations the send run uses. SmtpClient speaks them over a socket; a dry run and
// the tests put their own in its place.
//
// An operation fails in one of two ways. A refusal (the server answered with another code)
// leaves the session usable. A lost session (the connection broke, a reply timed out, the
// server closed the session with 421, or the run was cancelled while waiting) leaves
// isOpen() false, and nothing more goes over it until open() succeeds again.
class SmtpSession
{
public:
    virtual ~SmtpSession() = default;

    // Connect, greet, EHLO (or HELO), log in. A log-in the server refused, or one the
    // connection was lost in, fails the opening.
    virtual bool open() = 0;
    // MAIL FROM, with " SIZE=" when the server announced SIZE and size > 0.
    virtual bool mailFrom(const QString &address, qint64 size) = 0;
    // Whether the server offered SMTPUTF8 (RFC 6531), and MAIL FROM with its parameter, for a
    // message whose addresses are not all ASCII. A session without it never offers it.
    virtual bool offersSmtpUtf8() const { return false; }
    virtual bool mailFromSmtpUtf8(const QString &address, qint64 size)
    {
        return mailFrom(address, size);
    }
    // RCPT TO; success only on 250.
    virtual bool rcptTo(const QString &address) = 0;
    // DATA and the dot-stuffed lines: the whole message except its end-of-data ".". Nothing
    // has been delivered yet when this fails. Returns false with *error empty when the server
    // refused or the session was lost, or with *error set when the operation raised an error
    // of its own.
    virtual bool sendDataLines(const QList<QByteArray> &lines, QString *error) = 0;
    // The end-of-data "." and its reply; success on 250. Once the "." went out the message
    // may have been delivered, whatever becomes of the connection, unless the reply was 421
    // (RFC 5321: the server did not take the message and closes the session).
    virtual bool sendEndOfData(QString *error) = 0;
    // QUIT, then the socket is closed whatever the reply.
    virtual void close() = 0;

    virtual int lastReplyCode() const = 0;
    // The last reply as the server worded it, for the run journal; "" when there was none.
    virtual QString lastReplyText() const { return {}; }
    // Whether commands can go over the session: it opened and has not been lost since.
    virtual bool isOpen() const { return true; }
    // Why the last operation failed when it was no plain refusal: the lost connection or the
    // refused log-in, in words, for the log.
    virtual QString lastError() const { return {}; }
    // Whether the last open() failed at the log-in.
    virtual bool loginFailed() const { return false; }
    // Whether the run wants its waits given up (the user cancelled, and the program must end
    // soon). A session that waits for the server checks it while it waits, and abandons the
    // wait soon after it is set, as if the connection had been lost.
    virtual void setCancelCheck(std::function<bool()> cancelled) { Q_UNUSED(cancelled) }

    // Whether a transaction's commands go to the server as one group (RFC 2920 PIPELINING):
    // the profile asks for it and the server offers it.
    virtual bool pipelining() const { return false; }
    // MAIL FROM (with SMTPUTF8 when `smtpUtf8`, as mailFromSmtpUtf8()), every RCPT TO and
    // DATA, and their replies. True when the message may follow
    // (the sender and at least one address were accepted, and DATA was): then
    // sendMessageLines() and sendEndOfData() carry it. Otherwise nothing of the message goes
    // out, and isOpen() tells a lost session from refusals. Grouped when pipelining(), else
    // one command at a time. This default sends MAIL FROM and RCPT TO only, and leaves DATA
    // (its code stays 0) to sendMessageLines().
    virtual bool startTransaction(const QString &sender, qint64 size, const QStringList &recipients,
        TransactionReplies *replies, bool smtpUtf8 = false)
    {
        *replies = TransactionReplies();
        replies->rcpt.fill(0, recipients.size());
        const bool mail = smtpUtf8 ? mailFromSmtpUtf8(sender, size) : mailFrom(sender, size);
        replies->mail = lastReplyCode();
        if (!mail)
            return false;
        for (qsizetype i = 0; i < recipients.size() && isOpen(); ++i) {
            rcptTo(recipients.at(i));
            replies->rcpt[i] = lastReplyCode();
        }
        return isOpen() && replies->anyAccepted();
    }
    // After startTransaction() succeeded: the message's dot-stuffed lines, without the
    // end-of-data "."; the same failures as sendDataLines().
    virtual bool sendMessageLines(const QList<QByteArray> &lines, QString *error)
    {
        return sendDataLines(lines, error);
    }

    // DATA, the lines and the "." in one go, for callers that need no step in between.
    bool sendData(const QList<QByteArray> &lines, QString *error)
    {
        return sendDataLines(lines, error) && sendEndOfData(error);
    }
};

} // namespace kolporta::delivery
