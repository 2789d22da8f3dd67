#include "delivery/MailPrograms.h"

#include "settings/HomeFolder.h"
#include "settings/IniFile.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace kolporta::delivery {

namespace {

bool isNameStart(QChar c)
{
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_';
}

bool isNameChar(QChar c)
{
    return isNameStart(c) || (c >= u'0' && c <= u'9');
}

// $NAME and ${NAME} take the variable's value (empty when unset); a "$" that starts no name
// stays as it is. A leading "~/" (or a lone "~") is the user's home folder.
QString expandWord(const QString &word)
{
    QString out;
    qsizetype i = 0;
    if (word == u"~" || word.startsWith(u"~/")) {
        out = QDir::homePath();
        i = 1;
    }
    while (i < word.size()) {
        const QChar c = word.at(i);
        if (c == u'$' && i + 1 < word.size()) {
            if (word.at(i + 1) == u'{') {
                const qsizetype close = word.indexOf(u'}', i + 2);
                if (close > i + 2) {
                    out += qEnvironmentVariable(
                        word.mid(i + 2, close - i - 2).toLocal8Bit().constData());
                    i = close + 1;
                    continue;
                }
            } else if (isNameStart(word.at(i + 1))) {
                qsizetype end = i + 1;
                while (end < word.size() && isNameChar(word.at(end)))
                    ++end;
                out += qEnvironmentVariable(word.mid(i + 1, end - i - 1).toLocal8Bit().constData());
                i = end;
                continue;
            }
        }
        out += c;
        ++i;
    }
    return out;
}

MailProgram makeEntry(const QString &name, const QString &command)
{
    MailProgram program;
    program.name = name;
    program.command = command;
    program.installed = MailPrograms::isInstalled(command);
    return program;
}

} // namespace

namespace MailPrograms {

QStringList splitCommand(const QString &command)
{
    QStringList words = QProcess::splitCommand(command);
    for (QString &word : words)
        word = expandWord(word);
    return words;
}

QString programPath(const QString &command)
{
    const QStringList words = splitCommand(command);
    if (words.isEmpty() || words.first().isEmpty())
        return {};
    const QString &program = words.first();
    if (program.contains(u'/')) {
        const QFileInfo info(program);
        return info.exists() ? info.absoluteFilePath() : QString();
    }
    // Like execvp: only the PATH is searched for a bare name, never the working folder.
    return QStandardPaths::findExecutable(program);
}

bool isInstalled(const QString &command)
{
    const QString path = programPath(command);
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

bool readIni(const QString &path, QList<MailProgram> *programs, QString *error)
{
    programs->clear();
    settings::IniFile ini;
    if (!ini.load(path, error))
        return false;
    for (const QString &section : ini.sections())
        programs->append(makeEntry(section, ini.value(section, QStringLiteral("Command"))));
    return true;
}

QList<MailProgram> detect(const QString &sendmailPath)
{
    QList<MailProgram> programs;
    if (QFileInfo::exists(sendmailPath))
        programs.append(makeEntry(QStringLiteral("sendmail"), sendmailPath));
    if (!QStandardPaths::findExecutable(QStringLiteral("msmtp")).isEmpty())
        programs.append(makeEntry(QStringLiteral("msmtp"), QStringLiteral("msmtp")));
    return programs;
}

} // namespace MailPrograms

QList<MailProgram> LoadMailPrograms(QString *error)
{
    if (error)
        error->clear();
    const QString iniPath = settings::HomeFolder::mailClientsIniPath();
    if (!QFileInfo::exists(iniPath))
        return MailPrograms::detect();
    QList<MailProgram> programs;
    QString readError;
    if (!MailPrograms::readIni(iniPath, &programs, &readError)) {
        if (error)
            *error = readError;
        return {};
    }
    return programs;
}

QList<MailProgram> LoadMailPrograms()
{
    QString error;
    QList<MailProgram> programs = LoadMailPrograms(&error);
    if (!error.isEmpty())
        qWarning("%s", qUtf8Printable(error));
    return programs;
}

} // namespace kolporta::delivery
