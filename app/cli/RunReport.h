#pragma once

#include "delivery/SendRun.h"
#include "project/Project.h"

#include <QString>

// What kolporta-cli tells about a send run beyond its log: the files it will read, a summary
// line and the exit status.
namespace kolporta::cli {

// Lists on stderr every picture and attachment the project names, with its resolved path
// and size, so that a project received from someone else cannot mail a private file
// unnoticed. A file that is hidden or lies in a hidden folder (like ~/.ssh), or outside both
// the project's folder and $HOME, gets a warning line. Nothing is refused here.
void listFilesToSend(const project::Project &project, const QString &projectPath);

// "kolporta-cli: N sent, N failed, N uncertain, N skipped" on stderr, ", N not tried" when
// the run stopped before its end, and ", N settled by the journal" for the lines a resumed
// or retried run passed over. Refused lines count as failed.
void printSummary(const delivery::SendRunResult &result);

// 0 every line that was not skipped went out; 3 every line was tried but some failed or
// are uncertain; 1 the run stopped before it tried every line (a cancel, giving up on the
// server, an error, no route).
int exitStatus(const delivery::SendRunResult &result);

} // namespace kolporta::cli
