#pragma once

#include <QString>
#include <QStringList>

namespace kolporta::settings {

// The project a start opens: the first command-line parameter when it names an existing
// file, else the last project when it still exists, else the template Default.KPJ of the
// home folder (which stays untitled, so that the first Save asks where to put the copy),
// else none, and the start makes a new project.
struct FirstProject
{
    QString path; // empty: no file, start with a new project
    bool isUntitled = true;
};

FirstProject ChooseFirstProject(const QStringList &arguments, const QString &lastProject);

} // namespace kolporta::settings
