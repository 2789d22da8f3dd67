#pragma once

#include "delivery/MailObject.h"
#include "delivery/SendRun.h"
#include "project/Project.h"
#include "project/ProjectFile.h"

#include <QList>
#include <QString>

#include <memory>

namespace kolporta::delivery {

// What both front ends prepare before the first project is opened: the Log folder, the
// route list ("SMTP" and the mail programs) with the mail object, the route selected before
// a project chooses one, and the profile names of smtp.ini.
struct StartUp
{
    QList<MailProgram> programs;
    std::unique_ptr<MailObject> mail;
    project::ProjectLists lists;
    QString defaultRoute; // empty when no mail program is installed: nothing is selected
    QString mailProgramsError; // mailclients.ini exists but cannot be read
};

void PrepareStartUp(StartUp *s);

// Loads a project against the start-up lists, starting from the route start-up selects.
bool LoadStartUpProject(const QString &path, const StartUp &s, project::Project *p, QString *error);

// The values a send run fixes when it starts, taken from a loaded project.
SendRunSettings RunSettingsOf(const project::Project &p, const project::ProjectLists &lists);

} // namespace kolporta::delivery
