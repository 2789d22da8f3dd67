#pragma once

#include "delivery/MailObject.h"
#include "project/Project.h"
#include "project/ProjectFile.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

namespace kolporta::cli {

// What start-up prepares before the first project is opened: the Log folder, the route list
// ("SMTP" and the mail programs) with the mail object, and the profile names of smtp.ini.
struct StartUp
{
    QList<delivery::MailProgram> programs;
    std::unique_ptr<delivery::MailObject> mail;
    project::ProjectLists lists;
    QString defaultRoute; // what start-up selects before a project chooses
};
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
