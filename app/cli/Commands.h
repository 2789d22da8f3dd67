#pragma once

#include <QStringList>

// Each command gets the arguments after its name and returns the process exit status:
// 0 success, 3 every line tried but some failed, 1 the run stopped early, 2 bad usage or an
// unreadable project.
namespace kolporta::cli {

int showCommand(const QStringList &args);
int sendCommand(const QStringList &args);
int exportCommand(const QStringList &args);
int checkCommand(const QStringList &args);
int journalCommand(const QStringList &args);

// Writes a line to stderr (UTF-8) and returns 2: the shape of every usage error.
int usageError(const QString &message);

} // namespace kolporta::cli
