#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace kolporta::test {

// A real SMTP server (Debian's python3-aiosmtpd, run by /usr/bin/python3) on a loopback port
// the system picks. start() returns once the server listens; the destructor stops it. Every
// message it accepts is stored in a folder with its envelope, which messages() reads back.
class AiosmtpdServer
{
public:
    enum class Tls { None, StartTls, Implicit };

    struct Options
    {
        // When the user is set, AUTH is required (and offered without TLS in Tls::None).
        QString user;
        QString password;
        QStringList mechanisms; // offered AUTH mechanisms; empty: LOGIN and PLAIN
        Tls tls = Tls::None; // StartTls also makes the server refuse MAIL before STARTTLS
        QString certFile; // PEM chain and key for Tls::StartTls and Tls::Implicit
        QString keyFile;
        QString hostName = QStringLiteral("aiosmtpd.test"); // the name in its greeting
        qint64 sizeLimit = -1; // the SIZE it announces and enforces; -1: aiosmtpd's default
        bool smtpUtf8 = false; // offer SMTPUTF8 (RFC 6531)
    };

    // A message as the server stored it.
    struct Message
    {
        QString mailFrom;
        QStringList mailOptions; // such as "SIZE=1234"
        QStringList rcptTo;
        QString authUser; // empty when the session did not authenticate
        bool tls = false; // the session was encrypted
        QByteArray data; // the DATA bytes, dot-stuffing removed
    };

    AiosmtpdServer();
    explicit AiosmtpdServer(const Options &options);
    ~AiosmtpdServer();
    AiosmtpdServer(const AiosmtpdServer &) = delete;
    AiosmtpdServer &operator=(const AiosmtpdServer &) = delete;

    // Starts the server and waits until it listens; after stop(), on the port it had, with
    // the messages it stored kept. false with *error (the server's own output included) when
    // it did not come up.
    bool start(QString *error = nullptr);
    void stop();

    QString host() const { return QStringLiteral("127.0.0.1"); }
    quint16 port() const { return m_port; }
    QString portText() const { return QString::number(m_port); }
    QString spoolFolder() const { return m_spool; }

    // The messages stored so far, in the order they arrived.
    QList<Message> messages() const;
    // Polls until at least `count` messages are stored.
    bool waitForMessages(int count, int timeoutMs = 5000) const;

    // What the server wrote on stderr, for diagnostics.
    QString log();

private:
    Options m_options;
    QProcess m_process;
    QString m_spool;
    QByteArray m_log;
    quint16 m_port = 0;
};

} // namespace kolporta::test
