#pragma once

// Running kolporta-cli as a user does: a home folder per case, a project file, smtp.ini,
// mailclients.ini, and what the run leaves: its output, its log file and its journal.

#include "TestSupport.h"

#include "project/ProjectFile.h"

#include <QDir>
#include <QProcess>
#include <QUuid>

#include <functional>

namespace kolporta::test {

inline const QString kCli = QStringLiteral(KOLPORTA_BUILD_DIR "/app/cli/kolporta-cli");
inline const QString kRecorder = QStringLiteral(KOLPORTA_TEST_DATA "/run-mail-program");
inline const QString kFrom = QStringLiteral("Odesílatel <from@example.cz>");

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

// A program still running after `timeoutMs` is killed, and the result says so (-1).
inline CliResult runCli(const QStringList &args, const QProcessEnvironment &env = {},
    const std::function<void(QProcess &)> &whileRunning = {}, int timeoutMs = 60000)
{
    QProcess p;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    for (const QString &k : env.keys())
        e.insert(k, env.value(k));
    p.setProcessEnvironment(e);
    p.start(kCli, args);
    CliResult r;
    if (!p.waitForStarted(10000))
        return r;
    if (whileRunning)
        whileRunning(p);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
    }
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
    p.from = kFrom;
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

inline void writeSmtpIni(const QString &home, const QString &host, const QString &port,
    int timeoutSeconds = 5, const QString &extra = QString())
{
    writeBytes(home + QStringLiteral("/smtp.ini"),
        QStringLiteral("[test]\r\nServer=%1\r\nPort=%2\r\nTimeout=%3\r\n%4")
            .arg(host, port)
            .arg(timeoutSeconds)
            .arg(extra)
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

// The last line of stderr.
inline QString lastLine(const QByteArray &err)
{
    return QString::fromUtf8(err).trimmed().split(QLatin1Char('\n')).last();
}

// The files of the home folder's Log folder that match `pattern`, oldest name first.
inline QStringList logFiles(const QString &home, const QString &pattern)
{
    const QDir dir(home + QStringLiteral("/Log"));
    QStringList files;
    for (const QString &name : dir.entryList({pattern}, QDir::Files, QDir::Name))
        files.append(dir.filePath(name));
    return files;
}

// The one log file of the home folder.
inline QByteArray logFile(const QString &home)
{
    const QStringList files = logFiles(home, QStringLiteral("Kolporta *.txt"));
    if (files.size() != 1)
        return "(" + QByteArray::number(files.size()) + " log files)";
    return readBytes(files.first());
}

inline QByteArray crlf(const QStringList &lines)
{
    QByteArray out;
    for (const QString &l : lines)
        out += l.toUtf8() + "\r\n";
    return out;
}

// The header line `name` of a message, without its line end.
inline QByteArray headerLine(const QByteArray &message, const QByteArray &name)
{
    const QByteArray head = message.left(message.indexOf("\r\n\r\n"));
    for (const QByteArray &line : head.split('\n')) {
        if (line.startsWith(name + ": "))
            return line.chopped(line.endsWith('\r') ? 1 : 0);
    }
    return {};
}

} // namespace kolporta::test
