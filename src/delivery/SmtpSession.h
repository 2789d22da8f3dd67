#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

namespace kolporta::delivery {

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

    // DATA, the lines and the "." in one go, for callers that need no step in between.
    bool sendData(const QList<QByteArray> &lines, QString *error)
    {
        return sendDataLines(lines, error) && sendEndOfData(error);
    }
};

} // namespace kolporta::delivery
