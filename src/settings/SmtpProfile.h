#pragma once

#include <QString>
#include <QStringList>

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
};

// Reads the profile `name` from the file afresh; a missing file, section or key gives
// the defaults. Returns false with *error only when the file exists but cannot be read.
bool LoadSmtpProfile(
    const QString &iniPath, const QString &name, SmtpProfile *profile, QString *error = nullptr);

// The section names of the file, in file order; empty when the file is missing.
QStringList SmtpProfileNames(const QString &iniPath);

} // namespace kolporta::settings
