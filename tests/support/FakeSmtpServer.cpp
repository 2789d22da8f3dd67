#include "FakeSmtpServer.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QMutexLocker>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTimer>

namespace kolporta::test {

// Lives in the server's thread and owns the listening socket and the connections.
class FakeSmtpWorker : public QTcpServer
{
public:
    explicit FakeSmtpWorker(FakeSmtpServer *owner)
        : m_owner(owner)
    { }

    QSslConfiguration tlsConfiguration;

    void shutdown()
    {
        close();
        for (Connection *c : std::as_const(m_connections)) {
            c->socket->abort();
            delete c->socket;
            delete c;
        }
        m_connections.clear();
    }

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto *c = new Connection;
        c->socket = new QSslSocket;
        if (!c->socket->setSocketDescriptor(descriptor)) {
            delete c->socket;
            delete c;
            return;
        }
        c->socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_connections.append(c);
        {
            QMutexLocker lock(&m_owner->m_mutex);
            const QList<int> &delays = m_owner->m_connectionDelays;
            if (!delays.isEmpty())
                c->delayMs = delays.at(m_owner->m_connections % delays.size());
            ++m_owner->m_connections;
            ++m_owner->m_open;
        }
        QObject::connect(c->socket, &QSslSocket::readyRead, c->socket, [this, c] { read(c); });
        QObject::connect(c->socket, &QSslSocket::encrypted, c->socket, [this] {
            QMutexLocker lock(&m_owner->m_mutex);
            ++m_owner->m_handshakes;
        });
        // Queued, because disconnectFromHost() may emit it while read() still uses c.
        QObject::connect(
            c->socket, &QSslSocket::disconnected, c->socket,
            [this, c] {
                m_connections.removeOne(c);
                c->socket->deleteLater();
                delete c;
                QMutexLocker lock(&m_owner->m_mutex);
                --m_owner->m_open;
            },
            Qt::QueuedConnection);
        respond(c, QByteArrayLiteral("GREETING"));
        c->socket->flush();
    }

private:
    struct Connection
    {
        QSslSocket *socket = nullptr;
        QByteArray buffer;
        QByteArray data;
        bool inData = false;
        bool afterChallenge = false;
        bool silent = false;
        bool closing = false;
        int delayMs = 0; // every reply of this connection goes out this much later
        QByteArray lastCode; // of the last reply sent; empty when none was
        QByteArrayList recipients; // accepted since the last MAIL
    };

    void read(Connection *c)
    {
        c->buffer += c->socket->readAll();
        bool grouped = false; // a group was started for this read
        while (!c->silent && !c->closing) {
            const qsizetype end = c->buffer.indexOf('\n');
            if (end < 0)
                break;
            const QByteArray line = c->buffer.left(end + 1);
            c->buffer.remove(0, end + 1);
            if (c->inData) {
                if (line == ".\r\n" || line == ".\n") {
                    c->inData = false;
                    {
                        QMutexLocker lock(&m_owner->m_mutex);
                        m_owner->m_messages.append(c->data);
                    }
                    respond(c, QByteArrayLiteral("."));
                    c->data.clear();
                    c->recipients.clear();
                } else {
                    c->data += line;
                }
                continue;
            }
            QByteArray command = line;
            while (command.endsWith('\n') || command.endsWith('\r'))
                command.chop(1);
            const QByteArray verb = c->afterChallenge ? QByteArrayLiteral("AUTH-DATA")
                                                      : command.split(' ').constFirst().toUpper();
            {
                QMutexLocker lock(&m_owner->m_mutex);
                m_owner->m_commands.append(command);
                if (!grouped)
                    m_owner->m_groups.append(QByteArrayList());
                m_owner->m_groups.last().append(command);
                grouped = true;
            }
            const bool tls = respond(c, verb);
            if (verb == "MAIL" || verb == "RSET")
                c->recipients.clear();
            if (verb == "RCPT" && c->lastCode.startsWith('2')) {
                const qsizetype open = command.indexOf('<');
                c->recipients.append(command.mid(open + 1, command.indexOf('>') - open - 1));
            }
            if (tls) {
                // Plain text that followed STARTTLS is not part of the encrypted session.
                c->buffer.clear();
                return;
            }
        }
        if (c->silent)
            c->buffer.clear();
        // The replies to commands that came together go out together, as a pipelining
        // server sends them.
        if (!c->closing)
            c->socket->flush();
    }

    // Returns true when TLS was started.
    bool respond(Connection *c, const QByteArray &verb)
    {
        FakeSmtpServer::Fault fault;
        QByteArray reply;
        bool byteByByte;
        bool tls;
        int delay;
        {
            QMutexLocker lock(&m_owner->m_mutex);
            fault = m_owner->takeFault(verb);
            reply = m_owner->takeReply(verb);
            byteByByte = m_owner->m_byteByByte;
            tls = m_owner->m_tls;
            delay = m_owner->m_replyDelayMs;
        }
        if (fault == FakeSmtpServer::Fault::Closing)
            reply = QByteArrayLiteral("421 fake.test Service closing transmission channel");
        const bool replies
            = fault != FakeSmtpServer::Fault::Drop && fault != FakeSmtpServer::Fault::Silent;
        // Recorded before anything goes out, so the client never sees a reply the
        // recording does not hold yet.
        if (verb == "." && (!replies || (!reply.startsWith('4') && !reply.startsWith('5')))) {
            QMutexLocker lock(&m_owner->m_mutex);
            m_owner->m_deliveries.append({c->recipients, c->data});
        }
        c->lastCode.clear();
        switch (fault) {
        case FakeSmtpServer::Fault::Drop:
            c->closing = true;
            c->socket->disconnectFromHost();
            return false;
        case FakeSmtpServer::Fault::Silent:
            c->silent = true;
            return false;
        default:
            break;
        }
        if (!reply.endsWith('\n'))
            reply += "\r\n";
        if (delay > 0)
            QThread::msleep(delay);
        if (byteByByte) {
            for (char ch : std::as_const(reply)) {
                c->socket->write(&ch, 1);
                c->socket->flush();
                c->socket->waitForBytesWritten(1000);
                QThread::usleep(100);
            }
        } else if (c->delayMs > 0) {
            // Later, without holding up the other connections; in order, as each waits alike.
            QTimer::singleShot(c->delayMs, c->socket, [socket = c->socket, reply] {
                socket->write(reply);
                socket->flush();
            });
        } else {
            c->socket->write(reply); // flushed by read() once the commands at hand are answered
        }
        const QByteArray code = reply.left(3);
        c->lastCode = code;
        c->afterChallenge = code == "334";
        if (verb == "DATA" && code.startsWith('3'))
            c->inData = true;
        if (fault == FakeSmtpServer::Fault::ReplyThenDrop || fault == FakeSmtpServer::Fault::Closing
            || verb == "QUIT") {
            c->closing = true;
            c->socket->disconnectFromHost();
            return false;
        }
        if (verb == "STARTTLS" && tls && code.startsWith('2')) {
            c->socket->waitForBytesWritten(1000);
            c->socket->setSslConfiguration(tlsConfiguration);
            c->socket->startServerEncryption();
            return true;
        }
        return false;
    }

    FakeSmtpServer *m_owner;
    QList<Connection *> m_connections;
};

FakeSmtpServer::FakeSmtpServer()
{
    m_replies = {
        {"GREETING", "220 fake.test ESMTP"},
        {"EHLO", "250 fake.test"},
        {"HELO", "250 fake.test"},
        {"MAIL", "250 OK"},
        {"RCPT", "250 OK"},
        {"RSET", "250 OK"},
        {"NOOP", "250 OK"},
        {"DATA", "354 Go ahead"},
        {".", "250 Queued"},
        {"QUIT", "221 Bye"},
        {"AUTH", "504 Unrecognized"},
        {"AUTH-DATA", "535 Failed"},
        {"STARTTLS", "454 TLS not available"},
    };
    m_thread.setObjectName(QStringLiteral("FakeSmtpServer"));
    m_thread.start();
    m_worker = new FakeSmtpWorker(this);
    m_worker->moveToThread(&m_thread);
    QMetaObject::invokeMethod(
        m_worker,
        [this] {
            if (!m_worker->listen(QHostAddress::LocalHost, 0))
                qFatal("FakeSmtpServer: cannot listen on 127.0.0.1");
            m_port = m_worker->serverPort();
        },
        Qt::BlockingQueuedConnection);
}

FakeSmtpServer::~FakeSmtpServer()
{
    QMetaObject::invokeMethod(
        m_worker, [this] { m_worker->shutdown(); }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
    delete m_worker;
}

void FakeSmtpServer::setReply(const QByteArray &verb, const QByteArray &reply)
{
    QMutexLocker lock(&m_mutex);
    m_replies.insert(verb, reply);
}

void FakeSmtpServer::setReplyDelay(int milliseconds)
{
    QMutexLocker lock(&m_mutex);
    m_replyDelayMs = milliseconds;
}

void FakeSmtpServer::setConnectionDelays(const QList<int> &milliseconds)
{
    QMutexLocker lock(&m_mutex);
    m_connectionDelays = milliseconds;
}

void FakeSmtpServer::queueReply(const QByteArray &verb, const QByteArray &reply)
{
    QMutexLocker lock(&m_mutex);
    m_queued[verb].append(reply);
}

void FakeSmtpServer::setFault(const QByteArray &verb, Fault fault, int occurrence)
{
    QMutexLocker lock(&m_mutex);
    m_faults[verb].append(FaultRule {fault, occurrence});
}

void FakeSmtpServer::setByteByByte(bool on)
{
    QMutexLocker lock(&m_mutex);
    m_byteByByte = on;
}

bool FakeSmtpServer::setTls(const QString &certFile, const QString &keyFile, QString *error)
{
    QFile certIn(certFile);
    QFile keyIn(keyFile);
    if (!certIn.open(QIODevice::ReadOnly) || !keyIn.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("cannot read %1 or %2").arg(certFile, keyFile);
        return false;
    }
    const QList<QSslCertificate> chain = QSslCertificate::fromData(certIn.readAll());
    const QByteArray keyPem = keyIn.readAll();
    QSslKey key(keyPem, QSsl::Ec);
    if (key.isNull())
        key = QSslKey(keyPem, QSsl::Rsa);
    if (chain.isEmpty() || key.isNull()) {
        if (error)
            *error = QStringLiteral("no certificate or key in %1, %2").arg(certFile, keyFile);
        return false;
    }
    QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
    conf.setLocalCertificateChain(chain);
    conf.setPrivateKey(key);
    conf.setPeerVerifyMode(QSslSocket::VerifyNone);
    QMetaObject::invokeMethod(
        m_worker, [this, conf] { m_worker->tlsConfiguration = conf; },
        Qt::BlockingQueuedConnection);
    QMutexLocker lock(&m_mutex);
    m_tls = true;
    m_replies.insert("STARTTLS", "220 Ready to start TLS");
    return true;
}

QByteArray FakeSmtpServer::takeReply(const QByteArray &verb)
{
    auto queued = m_queued.find(verb);
    if (queued != m_queued.end() && !queued->isEmpty())
        return queued->takeFirst();
    return m_replies.value(verb, QByteArrayLiteral("502 Not implemented"));
}

FakeSmtpServer::Fault FakeSmtpServer::takeFault(const QByteArray &verb)
{
    const int seen = ++m_seen[verb];
    for (const FaultRule &rule : m_faults.value(verb)) {
        if (rule.occurrence == seen)
            return rule.fault;
    }
    return Fault::None;
}

QList<QByteArray> FakeSmtpServer::commands() const
{
    QMutexLocker lock(&m_mutex);
    return m_commands;
}

QList<QByteArrayList> FakeSmtpServer::commandGroups() const
{
    QMutexLocker lock(&m_mutex);
    return m_groups;
}

QList<QByteArray> FakeSmtpServer::messages() const
{
    QMutexLocker lock(&m_mutex);
    return m_messages;
}

QList<FakeSmtpServer::Delivery> FakeSmtpServer::deliveries() const
{
    QMutexLocker lock(&m_mutex);
    return m_deliveries;
}

int FakeSmtpServer::connectionCount() const
{
    QMutexLocker lock(&m_mutex);
    return m_connections;
}

int FakeSmtpServer::tlsHandshakeCount() const
{
    QMutexLocker lock(&m_mutex);
    return m_handshakes;
}

bool FakeSmtpServer::waitForCommandCount(int count, int timeoutMs) const
{
    QDeadlineTimer deadline(timeoutMs);
    while (commands().size() < count) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(5);
    }
    return true;
}

bool FakeSmtpServer::waitForDisconnected(int timeoutMs) const
{
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        {
            QMutexLocker lock(&m_mutex);
            if (m_open == 0)
                return true;
        }
        if (deadline.hasExpired())
            return false;
        QThread::msleep(5);
    }
}

} // namespace kolporta::test
