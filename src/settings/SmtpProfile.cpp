#include "settings/SmtpProfile.h"

#include "settings/IniFile.h"

#include <QDir>
#include <QFileInfo>

#include <limits>

namespace kolporta::settings {

namespace {

// The file is edited by hand, so a key that cannot be read keeps the setting that changes
// nothing: off, one connection, no limit.
bool flagValue(const QString &text)
{
    const QString t = text.trimmed().toLower();
    return t == QLatin1String("1") || t == QLatin1String("yes") || t == QLatin1String("true")
        || t == QLatin1String("on");
}

int numberValue(const QString &text, int fallback, int low, int high)
{
    bool ok = false;
    const qlonglong n = text.trimmed().toLongLong(&ok);
    if (!ok || n < low)
        return fallback;
    return int(qMin<qlonglong>(n, high));
}

// "60,300,900": the waits before the three tries; a shorter list repeats its last wait, and
// waits beyond the third are not used.
std::array<int, 3> delaysValue(const QString &text, const std::array<int, 3> &fallback)
{
    const QStringList items = text.split(QLatin1Char(','));
    if (text.trimmed().isEmpty())
        return fallback;
    std::array<int, 3> delays {};
    for (size_t i = 0; i < delays.size(); ++i) {
        bool ok = true;
        const int seconds
            = i < size_t(items.size()) ? items.at(i).trimmed().toInt(&ok) : delays[i - 1];
        if (!ok || seconds < 0 || seconds > 7 * 24 * 3600)
            return fallback;
        delays[i] = seconds;
    }
    return delays;
}

} // namespace

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

    const auto key = [&](const char *k) { return ini.value(name, QLatin1String(k)); };
    profile->pipelining = flagValue(key("Pipelining"));
    // More connections than the limit are taken as the limit, not as a mistake to ignore.
    profile->connections = numberValue(key("Connections"), 1, 1, SmtpProfile::MaxConnections);
    constexpr int big = std::numeric_limits<int>::max();
    profile->maxPerMinute = numberValue(key("MaxPerMinute"), 0, 0, big);
    profile->maxPerHour = numberValue(key("MaxPerHour"), 0, 0, big);
    profile->maxPerDay = numberValue(key("MaxPerDay"), 0, 0, big);
    profile->minDelayMs = numberValue(key("MinDelayMs"), 0, 0, 24 * 3600 * 1000);
    profile->retryTemporary = flagValue(key("RetryTemporary"));
    profile->retryDelaysSeconds = delaysValue(key("RetryDelays"), SmtpProfile().retryDelaysSeconds);
    return true;
}

QStringList SmtpProfileNames(const QString &iniPath)
{
    IniFile ini;
    ini.load(iniPath);
    return ini.sections();
}

} // namespace kolporta::settings
