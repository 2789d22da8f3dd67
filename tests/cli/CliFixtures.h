#pragma once

// Running kolporta-cli as a user does: a home folder per case, a project file, smtp.ini.

#include "TestSupport.h"

#include "project/ProjectFile.h"

#include <QDir>
#include <QProcess>
#include <QUuid>

#include <functional>

namespace kolporta::test {

inline const QString kCli = QStringLiteral(KOLPORTA_BUILD_DIR "/app/cli/kolporta-cli");

struct CliResult
{
    int exitCode = -1; // -1 when a signal ended it
    QByteArray out;
    QByteArray err;
};

// A home folder of its own for one case.
inline QString newHome()
{
    const QString dir = homePath() + QStringLiteral("/case-")
        + QUuid::createUuid().toString(QUuid::WithoutBraces);
    QDir().mkpath(dir);
    return dir;
}

inline CliResult runCli(
    const QStringList &args, const std::function<void(QProcess &)> &whileRunning = {})
{
    QProcess p;
    p.start(kCli, args);
    CliResult r;
    if (!p.waitForStarted(10000))
        return r;
    if (whileRunning)
        whileRunning(p);
    p.waitForFinished(60000);
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

inline project::Project cliProject(const QStringList &lines, bool bcc, const QString &mailer)
{
    project::Project p;
    p.addressList = lines;
    p.subject = QStringLiteral("Zkouška");
    p.from = QStringLiteral("Odesílatel <from@example.cz>");
    p.text = QStringList {QStringLiteral("Dobrý den, %TO%."), QStringLiteral("Od: %FROM%")};
    p.mailer = mailer;
    p.smtpServer = QStringLiteral("test");
    p.sendAsBcc = bcc;
    p.bccMaxCount = QStringLiteral("2");
    return p;
}

inline QString saveProject(const QString &home, const project::Project &p)
{
    const QString path = home + QStringLiteral("/project.kpj");
    QString error;
    if (!project::SaveProject(path, p, &error))
        qFatal("%s", qPrintable(error));
    return path;
}

inline void writeSmtpIni(
    const QString &home, const QString &host, const QString &port, const QString &extra = QString())
{
    writeBytes(home + QStringLiteral("/smtp.ini"),
        QStringLiteral("[test]\r\nServer=%1\r\nPort=%2\r\nTimeout=5\r\n%3")
            .arg(host, port, extra)
            .toUtf8());
}

inline void writeMailClients(const QString &home, const QString &command)
{
    writeBytes(home + QStringLiteral("/mailclients.ini"),
        QStringLiteral("[Rec]\r\nCommand=%1\r\n").arg(command).toUtf8());
}

inline QStringList outLines(const QByteArray &out)
{
    QStringList lines = QString::fromUtf8(out).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace kolporta::test
