#pragma once

#include <QString>
#include <QStringList>

#include <array>

namespace kolporta::settings {

// One named section of smtp.ini: the connection values of an outgoing mail server.
struct SmtpProfile
{
    QString server; // "Server"
    QString port = QStringLiteral("25"); // "Port", text: a number or a service name
    QString user; // "User"
    QString password; // "Passw"
    int timeoutSeconds = 60; // "Timeout", optional: seconds per reply
    QString security; // "Security", optional: "", "STARTTLS" or "SSL"
    QString caFile; // "CAFile", optional: extra trusted PEM file;
                    // relative to the folder of smtp.ini

    // Keys for speed over real networks and for providers' quotas. Absent, the run goes
    // one command at a time over one connection, unpaced, with every 4xx a refusal.
    bool pipelining = false; // "Pipelining=1": RFC 2920, when the server offers it
    int connections = 1; // "Connections", 1..16 sessions at once
    int maxPerMinute = 0; // "MaxPerMinute", transactions in any 60 s; 0: no limit
    int maxPerHour = 0; // "MaxPerHour"
    int maxPerDay = 0; // "MaxPerDay", earlier runs of the profile that day included
    int minDelayMs = 0; // "MinDelayMs", least time between two transactions' starts
    bool retryTemporary = false; // "RetryTemporary=1": 4xx replies are tried again later
    // "RetryDelays": the least waits, in seconds, before each of the tries after a 4xx.
    std::array<int, 3> retryDelaysSeconds {60, 300, 900};

    static constexpr int MaxConnections = 16;
};

// Reads the profile `name` from the file afresh; a missing file, section or key gives
// the defaults. Returns false with *error only when the file exists but cannot be read.
bool LoadSmtpProfile(
    const QString &iniPath, const QString &name, SmtpProfile *profile, QString *error = nullptr);

// The section names of the file, in file order; empty when the file is missing.
QStringList SmtpProfileNames(const QString &iniPath);

} // namespace kolporta::settings
