#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace kolporta::delivery {

// The five SMTP operations the send run uses. SmtpClient speaks them over a socket; the
// tests put fakes in its place.
class SmtpSession
{
public:
    virtual ~SmtpSession() = default;

    // Connect, greet, EHLO (or HELO), log in. Authentication failures do not fail it.
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
    // DATA, the dot-stuffed lines, ".". Returns false with *error empty when the server
    // refused, or with *error set when the operation raised an error of its own.
    virtual bool sendData(const QList<QByteArray> &lines, QString *error) = 0;
    // QUIT, then the socket is closed whatever the reply.
    virtual void close() = 0;

    virtual int lastReplyCode() const = 0;
};

} // namespace kolporta::delivery
