#include "settings/HomeFolder.h"

#include <QDir>
#include <QStandardPaths>

namespace kolporta::settings::HomeFolder {

namespace {
QString &overrideDir()
{
    static QString dir;
    return dir;
}
} // namespace

void setOverride(const QString &dir)
{
    overrideDir() = dir;
}

QString path()
{
    QString dir = overrideDir();
    if (dir.isEmpty())
        dir = qEnvironmentVariable("KOLPORTA_HOME");
    if (dir.isEmpty())
        dir = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
            + QStringLiteral("/kolporta");
    dir = QDir::cleanPath(QDir(dir).absolutePath());
    QDir().mkpath(dir);
    return dir;
}

QString file(const QString &name)
{
    return path() + QLatin1Char('/') + name;
}

QString smtpIniPath()
{
    return file(QStringLiteral("smtp.ini"));
}
QString logFolder()
{
    return file(QStringLiteral("Log"));
}
QString mailClientsIniPath()
{
    return file(QStringLiteral("mailclients.ini"));
}
QString settingsIniPath()
{
    return file(QStringLiteral("settings.ini"));
}
QString defaultProjectPath()
{
    return file(QStringLiteral("Default.KPJ"));
}
QString projectsFolder()
{
    return file(QStringLiteral("Projects"));
}

} // namespace kolporta::settings::HomeFolder
