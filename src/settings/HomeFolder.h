#pragma once

#include <QString>

namespace kolporta::settings {

// The folder that holds the program's own files (smtp.ini, Log/, Default.KPJ, Projects/,
// mailclients.ini, settings.ini): --home DIR when given, else $KOLPORTA_HOME, else the
// per-user data folder.
namespace HomeFolder {

// Overrides the folder for this process (the --home option). An empty text removes it.
void setOverride(const QString &dir);

// The absolute path without a trailing separator. The folder is created when missing.
QString path();

// A file or folder inside the home folder.
QString file(const QString &name);

QString smtpIniPath();
QString logFolder();
QString mailClientsIniPath();
QString settingsIniPath();
QString defaultProjectPath();
QString projectsFolder();

} // namespace HomeFolder
} // namespace kolporta::settings
