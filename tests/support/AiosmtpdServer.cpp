#include "AiosmtpdServer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <QUuid>

namespace kolporta::test {

AiosmtpdServer::AiosmtpdServer(const Options &options)
    : m_options(options)
{
    const QString home = qEnvironmentVariable("KOLPORTA_HOME", QDir::tempPath());
    m_spool
        = home + QStringLiteral("/aiosmtpd-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
}

AiosmtpdServer::AiosmtpdServer()
    : AiosmtpdServer(Options())
{ }

AiosmtpdServer::~AiosmtpdServer()
{
    stop();
}

bool AiosmtpdServer::start(QString *error)
{
    QDir().mkpath(m_spool);
    QStringList args {QStringLiteral(KOLPORTA_TEST_SUPPORT_DIR "/aiosmtpd_server.py"),
        QStringLiteral("--spool"), m_spool, QStringLiteral("--hostname"), m_options.hostName};
    // Started again after stop(), the server comes back on the same port, as a restarted
    // mail server would.
    if (m_port != 0)
        args << QStringLiteral("--port") << QString::number(m_port);
    if (!m_options.user.isNull()) {
        args << QStringLiteral("--user") << m_options.user << QStringLiteral("--password")
             << m_options.password;
        if (!m_options.mechanisms.isEmpty())
            args << QStringLiteral("--mechanisms") << m_options.mechanisms.join(QLatin1Char(' '));
    }
    if (m_options.sizeLimit >= 0)
        args << QStringLiteral("--size-limit") << QString::number(m_options.sizeLimit);
    if (m_options.smtpUtf8)
        args << QStringLiteral("--smtputf8");
    if (m_options.tls != Tls::None) {
        args << QStringLiteral("--tls")
             << (m_options.tls == Tls::StartTls ? QStringLiteral("starttls")
                                                : QStringLiteral("implicit"))
             << QStringLiteral("--cert") << m_options.certFile << QStringLiteral("--key")
             << m_options.keyFile;
    }
    m_process.start(QStringLiteral("/usr/bin/python3"), args);
    QByteArray out;
    QDeadlineTimer deadline(15000);
    while (!out.contains('\n') && !deadline.hasExpired()
        && m_process.state() != QProcess::NotRunning) {
        m_process.waitForReadyRead(100);
        out += m_process.readAllStandardOutput();
    }
    bool ok = false;
    if (out.startsWith("PORT "))
        m_port = out.mid(5).trimmed().toUShort(&ok);
    if (!ok) {
        if (error)
            *error = QStringLiteral("aiosmtpd did not start: %1 %2")
                         .arg(QString::fromUtf8(out), log());
        stop();
        return false;
    }
    return true;
}

void AiosmtpdServer::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QList<AiosmtpdServer::Message> AiosmtpdServer::messages() const
{
    QList<Message> result;
    const QStringList metas
        = QDir(m_spool).entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name);
    for (const QString &name : metas) {
        QFile meta(m_spool + QLatin1Char('/') + name);
        QFile eml(m_spool + QLatin1Char('/') + name.chopped(4) + QStringLiteral("eml"));
        if (!meta.open(QIODevice::ReadOnly) || !eml.open(QIODevice::ReadOnly))
            continue;
        const QJsonObject o = QJsonDocument::fromJson(meta.readAll()).object();
        Message m;
        m.mailFrom = o.value(QStringLiteral("mail_from")).toString();
        for (const QJsonValue v : o.value(QStringLiteral("mail_options")).toArray())
            m.mailOptions.append(v.toString());
        for (const QJsonValue v : o.value(QStringLiteral("rcpt_tos")).toArray())
            m.rcptTo.append(v.toString());
        m.authUser = o.value(QStringLiteral("auth_user")).toString();
        m.tls = o.value(QStringLiteral("tls")).toBool();
        m.data = eml.readAll();
        result.append(m);
    }
    return result;
}

bool AiosmtpdServer::waitForMessages(int count, int timeoutMs) const
{
    QDeadlineTimer deadline(timeoutMs);
    while (messages().size() < count) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(10);
    }
    return true;
}

QString AiosmtpdServer::log()
{
    m_log += m_process.readAllStandardError();
    return QString::fromUtf8(m_log);
}

} // namespace kolporta::test
