#pragma once

#include "delivery/SmtpReplyReader.h"
#include "delivery/SmtpSession.h"
#include "settings/SmtpProfile.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QString>
#include <QStringList>

class QSslSocket;

namespace kolporta::delivery {

// The SMTP client of the send run: one connection to the server of an SMTP profile, spoken
// over a blocking socket, so it works without a running event loop. Every wait for a reply
// line is bounded by the profile's "Timeout" (60 s by default); a lost connection, a timeout,
// a reply line over 64 KiB or a reply without a code fails the operation under way with
// reply code 0 and an "Error: code,description" status line, never an exception, and drops
// the connection, so a late reply is never taken for the answer to the next command. A 421
// reply drops it too, as the server is closing the session. Codes are the Linux errno values
// where one fits (110 timed out, 111 refused, 104 closed by the server, 71 protocol error,
// 90 reply too long, 22 invalid argument, 13 log-in refused, 125 cancelled) and
// 1000 + Qt's QAbstractSocket::SocketError otherwise.
//
// Waits for the server run in short slices and look at the cancel check between them: once
// it is set, a wait still going after the grace (1 s) is abandoned like a lost connection.
//
// With "Pipelining=1" in the profile and PIPELINING offered by the server, a transaction's
// MAIL FROM, RCPT TO and DATA go in one write (RFC 2920); every reply is still read and
// matched to its command. The opening (EHLO, STARTTLS, the log-in) always goes one command
// at a time, so nothing is ever pipelined across STARTTLS.
//
// "Security" in the profile adds TLS: "STARTTLS" upgrades after EHLO, "SSL" encrypts from
// the first byte. The certificate is verified against the system's CAs plus "CAFile", with
// the host name checked; any failure, or a server without STARTTLS, fails the opening, so
// there is no silent downgrade. Without "Security" the bytes on the wire are the plain ones.
class SmtpClient : public QObject, public SmtpSession
{
    Q_OBJECT

public:
    explicit SmtpClient(QObject *parent = nullptr);
    explicit SmtpClient(const settings::SmtpProfile &profile, QObject *parent = nullptr);
    ~SmtpClient() override;

    void setProfile(const settings::SmtpProfile &profile);
    const settings::SmtpProfile &profile() const { return m_profile; }

    bool open() override;
    bool mailFrom(const QString &address, qint64 size) override;
    bool offersSmtpUtf8() const override { return m_smtpUtf8; }
    bool mailFromSmtpUtf8(const QString &address, qint64 size) override;
    bool rcptTo(const QString &address) override;
    bool sendDataLines(const QList<QByteArray> &lines, QString *error) override;
    bool sendEndOfData(QString *error) override;
    bool pipelining() const override { return m_profile.pipelining && m_pipelining; }
    bool startTransaction(const QString &sender, qint64 size, const QStringList &recipients,
        TransactionReplies *replies, bool smtpUtf8 = false) override;
    bool sendMessageLines(const QList<QByteArray> &lines, QString *error) override;
    void close() override;
    int lastReplyCode() const override { return m_replyCode; }
    QString lastReplyText() const override;
    bool isOpen() const override;
    QString lastError() const override { return m_error; }
    bool loginFailed() const override { return m_loginFailed; }
    void setCancelCheck(std::function<bool()> cancelled) override;

    // The wait for each reply line in milliseconds instead of the profile's "Timeout"
    // (0: the profile's), and the grace after a cancel.
    void setReplyTimeout(int milliseconds) { m_replyTimeoutMs = milliseconds; }
    void setCancelGrace(int milliseconds) { m_cancelGraceMs = milliseconds; }

    // All lines of the last reply, without line ends.
    QList<QByteArray> lastReply() const { return m_reply; }
    // The EHLO reply's second and later lines, each without its first four characters.
    QList<QByteArray> capabilities() const { return m_capabilities; }
    bool isExtended() const { return m_extended; }
    bool sizeAnnounced() const { return m_size; }
    // Whether the server offered PIPELINING in its last EHLO (the one over TLS, with TLS).
    bool pipeliningOffered() const { return m_pipelining; }
    bool isAuthenticated() const { return m_authenticated; }
    bool isEncrypted() const;
    // The CA certificates the connection was given explicitly: none when only the system's
    // store is used, the system's CAs and those of "CAFile" when that is set.
    QList<QSslCertificate> caCertificates() const;
    // The name sent in EHLO and HELO: the host name, or "localhost" when there is none.
    QByteArray heloName() const { return m_heloName; }

    // The longest reply line accepted, and the most lines one reply may have.
    static constexpr qsizetype MaxLineLength = SmtpReplyReader::DefaultMaxLineLength;
    static constexpr int MaxReplyLines = SmtpReplyReader::DefaultMaxReplyLines;

signals:
    // A socket event, in the texts of the "Průběh komunikace" list.
    void statusLine(const QString &line);

private:
    enum class Security { Plain, StartTls, Ssl };
    enum class Login { NotTried, Done, Refused, Lost };

    bool connectSocket(Security security);
    bool startTls();
    // Waits for the TLS handshake and reports its protocol and cipher.
    bool finishHandshake();
    bool sayHello();
    Login authenticate();
    bool authCramMd5();
    bool authLogin();
    bool authPlain();

    bool command(const QByteArray &line);
    bool writeBytes(const QByteArray &bytes);
    // `lenient`: a reply whose continuation lines exceed the limits still counts by the code
    // of its first line; the connection is dropped, as the rest cannot be read in step.
    bool readReply(bool lenient = false);
    // Waits for more of a reply and hands it to the reader.
    bool receive(const QDeadlineTimer &deadline);
    bool receivePlain(const QDeadlineTimer &deadline);
    // Waits in slices for `ready`, which waits up to the milliseconds it is given.
    bool waitSliced(const QDeadlineTimer &deadline, const std::function<bool(int)> &ready);
    // The length of the next slice of a wait; false (the connection dropped) once the run
    // cancelled or the deadline passed.
    bool nextSlice(const QDeadlineTimer &deadline, int *slice);
    bool cancelDue();
    bool refuseUnsafe(const QString &address);
    QByteArray mailCommand(const QString &address, qint64 size) const;

    void fail(int code, const QString &description);
    void failSocket();
    void dropConnection();
    QString endpoint() const;
    int timeoutMs() const;

    settings::SmtpProfile m_profile;
    QSslSocket *m_socket = nullptr;
    SmtpReplyReader m_reader;
    QByteArray m_heloName;
    int m_replyCode = 0;
    QList<QByteArray> m_reply;
    QList<QByteArray> m_capabilities;
    bool m_extended = false;
    bool m_size = false;
    bool m_pipelining = false;
    bool m_smtpUtf8 = false;
    bool m_authenticated = false;
    bool m_ready = false; // opened, and not lost since
    bool m_loginFailed = false;
    QString m_error;
    int m_replyTimeoutMs = 0;
    int m_cancelGraceMs = 1000;
    std::function<bool()> m_cancelled;
    bool m_cancelSeen = false;
    QDeadlineTimer m_cancelDeadline;
    QByteArray m_dataTail; // the message's last bytes, sent with its end-of-data "."
    bool m_plainReads = false; // the socket is read directly (no TLS)
};

} // namespace kolporta::delivery
