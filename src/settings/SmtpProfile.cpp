#include "settings/SmtpProfile.h"

#include "settings/IniFile.h"

#include <QDir>
#include <QFileInfo>

namespace kolporta::settings {

bool LoadSmtpProfile(
    const QString &iniPath, const QString &name, SmtpProfile *profile, QString *error)
{
    *profile = SmtpProfile();
    IniFile ini;
    if (!ini.load(iniPath, error))
        return false;
    profile->server = ini.value(name, QStringLiteral("Server"));
    profile->port = ini.value(name, QStringLiteral("Port"), QStringLiteral("25"));
    profile->user = ini.value(name, QStringLiteral("User"));
    profile->password = ini.value(name, QStringLiteral("Passw"));
    profile->security = ini.value(name, QStringLiteral("Security"));
    profile->caFile = ini.value(name, QStringLiteral("CAFile"));
    // A relative CAFile lives beside smtp.ini, not wherever the program was started from.
    if (!profile->caFile.isEmpty() && QFileInfo(profile->caFile).isRelative())
        profile->caFile = QFileInfo(iniPath).absoluteDir().filePath(profile->caFile);
    // A Timeout that is no positive number keeps the default rather than disabling waits.
    bool ok = false;
    const int timeout = ini.value(name, QStringLiteral("Timeout")).toInt(&ok);
    if (ok && timeout > 0)
        profile->timeoutSeconds = timeout;
    return true;
}

QStringList SmtpProfileNames(const QString &iniPath)
{
    IniFile ini;
    ini.load(iniPath);
    return ini.sections();
}

} // namespace kolporta::settings
