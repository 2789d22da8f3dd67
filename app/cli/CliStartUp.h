#pragma once

#include "delivery/StartUp.h"
#include "project/Project.h"

#include <QString>
#include <QStringList>

namespace kolporta::cli {

using delivery::StartUp;

// The core start-up, with an unreadable mailclients.ini reported on stderr.
void startUp(StartUp *s);

// Loads the project as start-up would, against the start-up lists. On failure the reason
// goes to stderr and the result is false.
bool loadStartUpProject(const QString &path, const StartUp &s, project::Project *p);

struct Arguments
{
    QString project;
    QString to;
    bool help = false;
};

// Parses "PROJECT [--to DIR] [--home DIR] [--help]" in any order; returns an error text.
QString parseArguments(const QString &command, QStringList args, bool takesTo, Arguments *out);

} // namespace kolporta::cli
