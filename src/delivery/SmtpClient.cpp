#include "delivery/SmtpClient.h"

#include <QDeadlineTimer>
#include <QHostInfo>
#include <QMessageAuthenticationCode>
#include <QSslCipher>
#include <QSslConfiguration>
#include <QSslSocket>

#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>

namespace kolporta::delivery {

namespace {

// Error codes of the "Error: " status lines (Linux errno values where one fits).
constexpr int ErrAccess = 13; // EACCES
constexpr int ErrInvalid = 22; // EINVAL
constexpr int ErrProtocol = 71; // EPROTO
constexpr int ErrTooLong = 90; // EMSGSIZE
constexpr int ErrClosed = 104; // ECONNRESET
constexpr int ErrNotConnected = 107; // ENOTCONN
constexpr int ErrTimedOut = 110; // ETIMEDOUT
constexpr int ErrRefused = 111; // ECONNREFUSED
constexpr int ErrCancelled = 125; // ECANCELED
constexpr int ErrQtBase = 1000;

// The longest a wait for the server goes before it looks at the cancel check again.
constexpr int WaitSliceMs = 100;

// DATA is written in chunks of this size, and the writer waits for the socket only when
// more than MaxPending bytes are still unsent, so memory stays bounded for any message.
constexpr qsizetype ChunkSize = 64 * 1024;
constexpr qsizetype MaxPending = 1024 * 1024;

bool resolvePort(const QString &text, quint16 *port)
{
    bool ok = false;
    const uint number = text.toUInt(&ok);
    if (ok)
        *port = quint16(number);
    else if (const servent *service = ::getservbyname(text.toLocal8Bit().constData(), "tcp"))
        *port = ntohs(quint16(service->s_port));
    else
        return false;
    return ok ? number > 0 && number <= 65535 : true;
}

bool hasWord(const QByteArray &text, const QByteArray &word)
{
    const QList<QByteArray> words = text.toUpper().replace('=', ' ').split(' ');
    return words.contains(word);
}

// Appends one message line with its CR LF, doubling a leading dot. A line that itself holds
// CR or LF is sent as several lines, each dot-stuffed, so no line can end the DATA early
// and smuggle commands in behind it.
void appendStuffed(QByteArray *out, const QByteArray &line)
{
    const char *p = line.constData();
    const char *end = p + line.size();
    for (;;) {
        const char *brk = p;
        while (brk < end && *brk != '\r' && *brk != '\n')
            ++brk;
        const bool dot = p < end && *p == '.';
        const qsizetype at = out->size();
        out->resize(at + dot + (brk - p) + 2);
        char *to = out->data() + at;
        if (dot)
            *to++ = '.';
        memcpy(to, p, size_t(brk - p));
        to += brk - p;
        to[0] = '\r';
        to[1] = '\n';
        if (brk == end)
            return;
        p = brk + 1;
        if (*brk == '\r' && p < end && *p == '\n')
            ++p;
        if (p == end)
            return;
    }
}

} // namespace

SmtpClient::SmtpClient(QObject *parent)
    : SmtpClient(settings::SmtpProfile(), parent)
{ }

SmtpClient::SmtpClient(const settings::SmtpProfile &profile, QObject *parent)
    : QObject(parent)
    , m_profile(profile)
{
    m_heloName = QHostInfo::localHostName().toUtf8();
    if (m_heloName.isEmpty())
        m_heloName = QByteArrayLiteral("localhost");
}

SmtpClient::~SmtpClient()
{
    dropConnection();
}

void SmtpClient::setProfile(const settings::SmtpProfile &profile)
{
    m_profile = profile;
}

bool SmtpClient::isEncrypted() const
{
    return m_socket && m_socket->isEncrypted();
}

QList<QSslCertificate> SmtpClient::caCertificates() const
{
    return m_socket ? m_socket->sslConfiguration().caCertificates() : QList<QSslCertificate>();
}

int SmtpClient::timeoutMs() const
{
    if (m_replyTimeoutMs > 0)
        return m_replyTimeoutMs;
    return qBound(1, m_profile.timeoutSeconds, 24 * 3600) * 1000;
}

bool SmtpClient::isOpen() const
{
    return m_ready && m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

void SmtpClient::setCancelCheck(std::function<bool()> cancelled)
{
    m_cancelled = std::move(cancelled);
}

bool SmtpClient::cancelDue()
{
    if (!m_cancelSeen) {
        if (!m_cancelled || !m_cancelled())
            return false;
        m_cancelSeen = true;
        m_cancelDeadline.setRemainingTime(m_cancelGraceMs);
    }
    return m_cancelDeadline.hasExpired();
}

QString SmtpClient::endpoint() const
{
    return m_profile.server + QLatin1Char(':') + m_profile.port;
}

void SmtpClient::fail(int code, const QString &description)
{
    m_replyCode = 0;
    m_error = description;
    emit statusLine(
        QStringLiteral("Error: ") + QString::number(code) + QLatin1Char(',') + description);
}

void SmtpClient::failSocket()
{
    const QAbstractSocket::SocketError error = m_socket->error();
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        fail(ErrRefused, QStringLiteral("Connection refused"));
        break;
    case QAbstractSocket::RemoteHostClosedError:
        fail(ErrClosed, QStringLiteral("Connection closed by the server"));
        break;
    case QAbstractSocket::SocketTimeoutError:
        fail(ErrTimedOut, QStringLiteral("Connection timed out"));
        break;
    case QAbstractSocket::SslHandshakeFailedError: {
        QStringList reasons;
        for (const QSslError &e : m_socket->sslHandshakeErrors())
            reasons.append(e.errorString());
        fail(ErrQtBase + int(error),
            QStringLiteral("TLS handshake failed: ")
                + (reasons.isEmpty() ? m_socket->errorString()
                                     : reasons.join(QStringLiteral("; "))));
        break;
    }
    default:
        fail(ErrQtBase + int(error), m_socket->errorString());
        break;
    }
}

void SmtpClient::dropConnection()
{
    m_ready = false;
    m_plainReads = false;
    if (m_socket) {
        m_socket->abort();
        delete m_socket;
        m_socket = nullptr;
    }
    m_reader.clear();
}

bool SmtpClient::open()
{
    // Closing first reports the socket-closed event even when there was no socket.
    dropConnection();
    emit statusLine(QStringLiteral("Socked close: "));
    m_replyCode = 0;
    m_reply.clear();
    m_capabilities.clear();
    m_extended = false;
    m_size = false;
    m_pipelining = false;
    m_smtpUtf8 = false;
    m_authenticated = false;
    m_loginFailed = false;
    m_error.clear();

    const QString securityText = m_profile.security.trimmed().toUpper();
    Security security;
    if (securityText.isEmpty())
        security = Security::Plain;
    else if (securityText == QLatin1String("STARTTLS"))
        security = Security::StartTls;
    else if (securityText == QLatin1String("SSL"))
        security = Security::Ssl;
    else {
        // An unknown value must not quietly fall back to plain text.
        fail(ErrInvalid, QStringLiteral("Unknown Security value \"%1\"").arg(m_profile.security));
        return false;
    }
    if (security != Security::Plain && !QSslSocket::supportsSsl()) {
        fail(ErrInvalid, QStringLiteral("TLS is not available on this system"));
        return false;
    }

    // A session that did not complete its opening is never used: whatever went wrong, the
    // connection goes, so no command can follow on it.
    const auto broken = [this] {
        if (m_error.isEmpty() && !m_reply.isEmpty())
            m_error = QString::fromUtf8(m_reply.constFirst().left(200));
        dropConnection();
        return false;
    };
    if (!connectSocket(security))
        return false;
    m_plainReads = security == Security::Plain;
    if (!readReply() || m_replyCode != 220)
        return broken();
    if (!sayHello())
        return broken();
    if (security == Security::StartTls && !startTls())
        return broken();

    if (m_extended && (!m_profile.user.isEmpty() || !m_profile.password.isEmpty())) {
        // A refused log-in would only show later as every sender and address refused, one
        // line each; a lost one would leave a broken session. Either fails the opening.
        switch (authenticate()) {
        case Login::Done:
            m_authenticated = true;
            break;
        case Login::NotTried:
            break;
        case Login::Refused: {
            m_loginFailed = true;
            const QString reply = QString::fromUtf8(m_reply.value(0).left(200));
            const int code = m_replyCode;
            fail(ErrAccess, QStringLiteral("Login refused: ") + reply);
            m_replyCode = code;
            m_error = reply;
            return broken();
        }
        case Login::Lost:
            m_loginFailed = true;
            return broken();
        }
    }
    // Read from the last EHLO, so with STARTTLS only what the server said inside TLS counts.
    for (const QByteArray &cap : std::as_const(m_capabilities)) {
        const QByteArray upper = cap.trimmed().toUpper();
        if (upper.startsWith("SIZE"))
            m_size = true;
        if (upper == "PIPELINING")
            m_pipelining = true;
        if (upper == "SMTPUTF8")
            m_smtpUtf8 = true;
    }
    m_ready = true;
    return true;
}

bool SmtpClient::connectSocket(Security security)
{
    emit statusLine(QStringLiteral("Resolving begin: ") + endpoint());
    quint16 port = 0;
    const bool portOk = resolvePort(m_profile.port.trimmed(), &port);
    const QHostInfo info = portOk ? QHostInfo::fromName(m_profile.server) : QHostInfo();
    emit statusLine(QStringLiteral("Resolving end: ") + endpoint());
    if (!portOk) {
        fail(ErrInvalid, QStringLiteral("Invalid port \"%1\"").arg(m_profile.port));
        emit statusLine(QStringLiteral("Connect: ") + endpoint());
        return false;
    }
    if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
        fail(ErrQtBase + int(QAbstractSocket::HostNotFoundError),
            info.errorString().isEmpty() ? QStringLiteral("Host not found") : info.errorString());
        emit statusLine(QStringLiteral("Connect: ") + endpoint());
        return false;
    }

    QSslConfiguration tls;
    if (security != Security::Plain) {
        tls = QSslConfiguration::defaultConfiguration();
        tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
        tls.setProtocol(QSsl::SecureProtocols);
        if (!m_profile.caFile.isEmpty()) {
            const QList<QSslCertificate> cas = QSslCertificate::fromPath(m_profile.caFile);
            if (cas.isEmpty()) {
                fail(ErrInvalid,
                    QStringLiteral("No certificate could be read from CAFile \"%1\"")
                        .arg(m_profile.caFile));
                emit statusLine(QStringLiteral("Connect: ") + endpoint());
                return false;
            }
            // Qt reads the system's store on demand only while no CA was set by hand, so
            // adding CAFile alone would replace the system's CAs instead of adding to them.
            tls.setCaCertificates(QSslConfiguration::systemCaCertificates() + cas);
        }
    }

    bool connected = false;
    // Every address of the name is tried, so "localhost" works whether the server listens
    // on ::1 or on 127.0.0.1.
    for (const QHostAddress &address : info.addresses()) {
        m_socket = new QSslSocket;
        m_socket->setReadBufferSize(4 * MaxLineLength);
        if (security != Security::Plain) {
            m_socket->setSslConfiguration(tls);
            m_socket->setPeerVerifyName(m_profile.server);
        }
        emit statusLine(QStringLiteral("Socked create: ")
            + (address.protocol() == QAbstractSocket::IPv6Protocol ? QStringLiteral("IPv6")
                                                                   : QStringLiteral("IPv4")));
        if (security == Security::Ssl)
            m_socket->connectToHostEncrypted(address.toString(), port, m_profile.server);
        else
            m_socket->connectToHost(address, port);
        if (m_socket->waitForConnected(timeoutMs())) {
            // Commands are small and each waits for its reply; Nagle's algorithm would hold
            // a command back until the last data segment is acknowledged.
            m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            connected = true;
            break;
        }
        failSocket();
        dropConnection();
    }
    emit statusLine(QStringLiteral("Connect: ") + endpoint());
    if (!connected)
        return false;
    return security != Security::Ssl || finishHandshake();
}

bool SmtpClient::finishHandshake()
{
    if (!m_socket->waitForEncrypted(timeoutMs())) {
        failSocket();
        dropConnection();
        return false;
    }
    emit statusLine(QStringLiteral("TLS: ") + m_socket->sessionCipher().protocolString()
        + QLatin1Char(' ') + m_socket->sessionCipher().name());
    return true;
}

bool SmtpClient::startTls()
{
    bool offered = false;
    for (const QByteArray &cap : std::as_const(m_capabilities))
        offered = offered || cap.trimmed().toUpper() == "STARTTLS";
    if (!m_extended || !offered) {
        fail(ErrProtocol, QStringLiteral("The server does not offer STARTTLS"));
        dropConnection();
        return false;
    }
    if (!command("STARTTLS") || !readReply())
        return false;
    if (m_replyCode != 220) {
        const int code = m_replyCode;
        fail(ErrProtocol,
            QStringLiteral("The server refused STARTTLS: ") + QString::fromUtf8(m_reply.value(0)));
        m_replyCode = code;
        dropConnection();
        return false;
    }
    // Anything that came after the 220 was sent before encryption and could be injected by
    // a man in the middle; it must not be read as a reply inside the TLS session.
    m_reader.clear();
    m_socket->readAll();
    m_socket->startClientEncryption();
    if (!finishHandshake())
        return false;
    // What the server said before the upgrade is forgotten; only EHLO over TLS counts.
    m_capabilities.clear();
    m_extended = false;
    if (!command("EHLO " + m_heloName) || !readReply())
        return false;
    if (m_replyCode < 250 || m_replyCode > 259)
        return false;
    m_extended = true;
    for (qsizetype i = 1; i < m_reply.size(); ++i)
        m_capabilities.append(m_reply.at(i).mid(4));
    return true;
}

bool SmtpClient::sayHello()
{
    if (!command("EHLO " + m_heloName))
        return false;
    if (readReply() && m_replyCode >= 250 && m_replyCode <= 259) {
        m_extended = true;
        for (qsizetype i = 1; i < m_reply.size(); ++i)
            m_capabilities.append(m_reply.at(i).mid(4));
        return true;
    }
    if (!command("HELO " + m_heloName) || !readReply())
        return false;
    return m_replyCode >= 250 && m_replyCode <= 259;
}

SmtpClient::Login SmtpClient::authenticate()
{
    QByteArray methods;
    for (const QByteArray &cap : std::as_const(m_capabilities)) {
        if (cap.toUpper().startsWith("AUTH ")) {
            methods = cap.mid(5);
            break;
        }
    }
    if (methods.isNull()) {
        for (const QByteArray &cap : std::as_const(m_capabilities)) {
            if (cap.toUpper().startsWith("AUTH=")) {
                methods = cap.mid(5);
                break;
            }
        }
    }
    bool tried = false;
    const auto attempt = [&](bool offered, bool (SmtpClient::*method)()) {
        if (!offered)
            return false;
        tried = true;
        return (this->*method)();
    };
    // A lost connection ends the log-in at once; a refusal lets the next method try.
    if (attempt(hasWord(methods, "CRAM-MD5"), &SmtpClient::authCramMd5))
        return Login::Done;
    if (!m_socket)
        return Login::Lost;
    if (attempt(hasWord(methods, "LOGIN"), &SmtpClient::authLogin))
        return Login::Done;
    if (!m_socket)
        return Login::Lost;
    // PLAIN sends the password itself, so it is used only inside TLS.
    if (attempt(isEncrypted() && hasWord(methods, "PLAIN"), &SmtpClient::authPlain))
        return Login::Done;
    if (!m_socket)
        return Login::Lost;
    return tried ? Login::Refused : Login::NotTried;
}

bool SmtpClient::authCramMd5()
{
    if (!command("AUTH CRAM-MD5") || !readReply() || m_replyCode != 334)
        return false;
    const QByteArray challenge = QByteArray::fromBase64(m_reply.value(0).mid(4));
    const QByteArray digest = QMessageAuthenticationCode::hash(
        challenge, m_profile.password.toUtf8(), QCryptographicHash::Md5)
                                  .toHex();
    const QByteArray response = m_profile.user.toUtf8() + ' ' + digest;
    return command(response.toBase64()) && readReply() && m_replyCode == 235;
}

bool SmtpClient::authLogin()
{
    return command("AUTH LOGIN") && readReply() && m_replyCode == 334
        && command(m_profile.user.toUtf8().toBase64()) && readReply() && m_replyCode == 334
        && command(m_profile.password.toUtf8().toBase64()) && readReply() && m_replyCode == 235;
}

bool SmtpClient::authPlain()
{
    const QByteArray credentials
        = '\0' + m_profile.user.toUtf8() + '\0' + m_profile.password.toUtf8();
    return command("AUTH PLAIN " + credentials.toBase64()) && readReply() && m_replyCode == 235;
}

bool SmtpClient::refuseUnsafe(const QString &address)
{
    // A line break would end the command early and let the rest run as a command of its own.
    if (address.contains(QLatin1Char('\r')) || address.contains(QLatin1Char('\n'))
        || address.contains(QChar(0))) {
        m_reply.clear();
        fail(ErrInvalid, QStringLiteral("Address holds a line break or NUL character"));
        return true;
    }
    return false;
}

QByteArray SmtpClient::mailCommand(const QString &address, qint64 size) const
{
    QByteArray line = "MAIL FROM:<" + address.toUtf8() + '>';
    if (m_size && size > 0)
        line += " SIZE=" + QByteArray::number(size);
    return line;
}

bool SmtpClient::mailFrom(const QString &address, qint64 size)
{
    if (refuseUnsafe(address))
        return false;
    return command(mailCommand(address, size)) && readReply() && m_replyCode == 250;
}

bool SmtpClient::mailFromSmtpUtf8(const QString &address, qint64 size)
{
    if (!m_smtpUtf8 || refuseUnsafe(address))
        return false;
    return command(mailCommand(address, size) + " SMTPUTF8") && readReply() && m_replyCode == 250;
}

bool SmtpClient::rcptTo(const QString &address)
{
    if (refuseUnsafe(address))
        return false;
    return command("RCPT TO:<" + address.toUtf8() + '>') && readReply() && m_replyCode == 250;
}

bool SmtpClient::startTransaction(const QString &sender, qint64 size, const QStringList &recipients,
    TransactionReplies *replies, bool smtpUtf8)
{
    if (!pipelining()) {
        // One command at a time, DATA included, so the message follows the same way.
        if (!SmtpSession::startTransaction(sender, size, recipients, replies, smtpUtf8))
            return false;
        if (!command("DATA") || !readReply())
            return false;
        replies->data = m_replyCode;
        return m_replyCode == 354;
    }
    *replies = TransactionReplies();
    replies->rcpt.fill(0, recipients.size());
    if ((smtpUtf8 && !m_smtpUtf8) || refuseUnsafe(sender))
        return false;
    QByteArray group = mailCommand(sender, size) + (smtpUtf8 ? " SMTPUTF8\r\n" : "\r\n");
    QList<qsizetype> given; // the recipients put on the wire; an unsafe one is left out
    for (qsizetype i = 0; i < recipients.size(); ++i) {
        if (refuseUnsafe(recipients.at(i)))
            continue;
        group += "RCPT TO:<" + recipients.at(i).toUtf8() + ">\r\n";
        given.append(i);
    }
    // DATA ends the group (RFC 2920): the message itself waits for its 354.
    group += "DATA\r\n";
    if (!writeBytes(group))
        return false;
    // The replies come in the order of the commands. A lost session (or 421) leaves the
    // codes not yet read at 0.
    if (!readReply())
        return false;
    replies->mail = m_replyCode;
    for (const qsizetype i : std::as_const(given)) {
        if (!readReply())
            return false;
        replies->rcpt[i] = m_replyCode;
    }
    if (!readReply())
        return false;
    replies->data = m_replyCode;
    if (m_replyCode != 354)
        return false;
    if (replies->anyAccepted())
        return true;
    // RFC 2920: DATA may be accepted though the sender or every address was refused. The
    // message must not follow; a lone "." ends the data stage, and with no recipient the
    // server has no one to deliver to.
    if (writeBytes(".\r\n"))
        readReply();
    return false;
}

bool SmtpClient::sendDataLines(const QList<QByteArray> &lines, QString *error)
{
    if (error)
        error->clear();
    if (!command("DATA") || !readReply() || m_replyCode != 354)
        return false;
    return sendMessageLines(lines, error);
}

bool SmtpClient::sendMessageLines(const QList<QByteArray> &lines, QString *error)
{
    if (error)
        error->clear();
    QByteArray chunk;
    chunk.reserve(ChunkSize + 1024);
    for (const QByteArray &line : lines) {
        appendStuffed(&chunk, line);
        if (chunk.size() >= ChunkSize) {
            if (!writeBytes(chunk))
                return false;
            chunk.clear();
        }
    }
    // The last piece goes with the end-of-data "." in one write: the server takes nothing
    // before the "." anyway, and each write to a nearby server costs it a wake-up.
    m_dataTail = std::move(chunk);
    return true;
}

bool SmtpClient::sendEndOfData(QString *error)
{
    if (error)
        error->clear();
    QByteArray end = std::exchange(m_dataTail, QByteArray());
    end += ".\r\n";
    // The server has taken the message once it said 250, however long the rest of its reply.
    return writeBytes(end) && readReply(true) && m_replyCode == 250;
}

QString SmtpClient::lastReplyText() const
{
    // A journal record holds it; a server's reply is seldom longer, and need not be whole.
    return QString::fromUtf8(m_reply.join('\n').left(1000));
}

void SmtpClient::close()
{
    if (m_socket && m_socket->state() == QAbstractSocket::ConnectedState) {
        // 221 is expected but not required; the socket closes whatever the reply.
        if (command("QUIT"))
            readReply();
    }
    dropConnection();
    emit statusLine(QStringLiteral("Socked close: "));
}

bool SmtpClient::command(const QByteArray &line)
{
    return writeBytes(line + "\r\n");
}

bool SmtpClient::writeBytes(const QByteArray &bytes)
{
    m_dataTail.clear(); // anything but the end of data leaves the message behind
    if (!m_socket || m_socket->state() != QAbstractSocket::ConnectedState) {
        m_reply.clear();
        fail(ErrNotConnected, QStringLiteral("Not connected"));
        return false;
    }
    if (m_socket->write(bytes) != bytes.size()) {
        m_reply.clear();
        failSocket();
        dropConnection();
        return false;
    }
    m_socket->flush();
    QDeadlineTimer deadline(timeoutMs());
    while (m_socket->bytesToWrite() > MaxPending) {
        if (!waitSliced(deadline, [this](int ms) { return m_socket->waitForBytesWritten(ms); })) {
            m_reply.clear();
            return false;
        }
    }
    return true;
}

bool SmtpClient::nextSlice(const QDeadlineTimer &deadline, int *slice)
{
    if (cancelDue()) {
        fail(ErrCancelled, QStringLiteral("Cancelled while waiting for the server"));
        dropConnection();
        return false;
    }
    if (deadline.hasExpired()) {
        fail(ErrTimedOut, QStringLiteral("Connection timed out"));
        dropConnection();
        return false;
    }
    qint64 ms = qMin<qint64>(deadline.remainingTime(), WaitSliceMs);
    if (m_cancelSeen)
        ms = qMin(ms, m_cancelDeadline.remainingTime());
    *slice = int(qMax<qint64>(1, ms));
    return true;
}

bool SmtpClient::waitSliced(const QDeadlineTimer &deadline, const std::function<bool(int)> &ready)
{
    for (;;) {
        int slice = 0;
        if (!nextSlice(deadline, &slice))
            return false;
        if (ready(slice))
            return true;
        const bool connected = m_socket->state() == QAbstractSocket::ConnectedState;
        if (connected && m_socket->error() == QAbstractSocket::SocketTimeoutError)
            continue; // only the slice ran out
        if (m_socket->bytesAvailable() > 0)
            return true; // the last bytes came with the close; they are read first
        // The timeout of an earlier slice may still stand as the socket's error.
        if (m_socket->error() == QAbstractSocket::SocketTimeoutError)
            fail(ErrClosed, QStringLiteral("Connection closed by the server"));
        else
            failSocket();
        dropConnection();
        return false;
    }
}

bool SmtpClient::readReply(bool lenient)
{
    using Result = SmtpReplyReader::Result;
    m_reply.clear();
    m_replyCode = 0;
    QDeadlineTimer deadline(timeoutMs());
    int lines = m_reader.linesRead();
    for (;;) {
        SmtpReplyReader::Reply reply;
        const Result result = m_reader.next(&reply);
        if (result == Result::Incomplete) {
            // Each line of a long reply gets the whole timeout.
            if (m_reader.linesRead() != lines) {
                lines = m_reader.linesRead();
                deadline = QDeadlineTimer(timeoutMs());
            }
            if (!receive(deadline))
                return false;
            continue;
        }
        if (result == Result::LineTooLong || result == Result::TooManyLines) {
            fail(ErrTooLong,
                result == Result::LineTooLong
                    ? QStringLiteral("Reply line longer than %1 bytes").arg(MaxLineLength)
                    : QStringLiteral("Reply longer than %1 lines").arg(MaxReplyLines));
            // What follows cannot be read in step any more.
            dropConnection();
            if (!lenient || reply.lines.isEmpty())
                return false;
        }
        const QByteArray first = reply.lines.constFirst();
        if (!SmtpReplyReader::hasCode(first)) {
            fail(ErrProtocol,
                QStringLiteral("Reply without a code: ") + QString::fromUtf8(first.left(80)));
            // Whatever this server says next cannot be matched to our commands any more.
            dropConnection();
            return false;
        }
        m_reply = reply.lines;
        m_replyCode = reply.code;
        if (result != Result::Reply)
            return true; // the code of the first line stands; the rest is gone with the connection
        if (m_replyCode == 421) {
            // RFC 5321: the server is closing the session; the command was not carried out.
            m_error = QString::fromUtf8(first.left(200));
            emit statusLine(QStringLiteral("Error: ") + QString::number(ErrClosed)
                + QStringLiteral(",Server closed the session: ") + m_error);
            dropConnection();
        }
        return true;
    }
}

bool SmtpClient::receive(const QDeadlineTimer &deadline)
{
    for (;;) {
        if (!m_socket) {
            fail(ErrNotConnected, QStringLiteral("Not connected"));
            return false;
        }
        if (m_socket->bytesAvailable() > 0) {
            // No more than an unfinished line may still take, so a server that never ends
            // its line cannot make us buffer without bound.
            m_reader.feed(m_socket->read(m_reader.room()));
            return true;
        }
        if (m_socket->state() != QAbstractSocket::ConnectedState) {
            failSocket();
            dropConnection();
            return false;
        }
        // Qt writes what the kernel did not take while it waits, so only then is its wait needed.
        if (m_plainReads && m_socket->bytesToWrite() == 0)
            return receivePlain(deadline);
        // A late reply would be taken for the answer to the next command, so a wait that
        // fails drops the connection.
        if (!waitSliced(deadline, [this](int ms) { return m_socket->waitForReadyRead(ms); }))
            return false;
    }
}

// A session without TLS waits for its socket and reads it itself, as Qt's reading asks the
// kernel how much is waiting before every read: a system call more for every reply. What
// Qt has taken in already (while the event loop ran) is read first, so the order holds.
bool SmtpClient::receivePlain(const QDeadlineTimer &deadline)
{
    const int fd = int(m_socket->socketDescriptor());
    char buffer[4096];
    for (;;) {
        int slice = 0;
        if (!nextSlice(deadline, &slice))
            return false;
        pollfd readable {fd, POLLIN, 0};
        const int ready = ::poll(&readable, 1, slice);
        if (ready == 0 || (ready < 0 && errno == EINTR))
            continue;
        const ssize_t got = ready < 0
            ? -1
            : ::recv(fd, buffer, size_t(qBound<qsizetype>(1, m_reader.room(), sizeof buffer)), 0);
        if (got > 0) {
            m_reader.feed(QByteArrayView(buffer, got));
            return true;
        }
        const int code = got < 0 ? errno : 0;
        if (code == EAGAIN || code == EWOULDBLOCK || code == EINTR)
            continue;
        if (got == 0 || code == ECONNRESET || code == EPIPE)
            fail(ErrClosed, QStringLiteral("Connection closed by the server"));
        else
            fail(code, QString::fromLocal8Bit(strerror(code)));
        dropConnection();
        return false;
    }
}

} // namespace kolporta::delivery
