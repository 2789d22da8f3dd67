#include "settings/FirstProject.h"

#include "settings/HomeFolder.h"

#include <QFileInfo>

namespace kolporta::settings {

namespace {

bool isExistingFile(const QString &path)
{
    return !path.isEmpty() && QFileInfo(path).isFile();
}

} // namespace

FirstProject ChooseFirstProject(const QStringList &arguments, const QString &lastProject)
{
    // Only the first parameter counts; a missing file is passed over without a word.
    if (!arguments.isEmpty() && isExistingFile(arguments.first()))
        return {arguments.first(), false};
    if (isExistingFile(lastProject))
        return {lastProject, false};
    const QString templatePath = HomeFolder::defaultProjectPath();
    if (QFileInfo::exists(templatePath))
        return {templatePath, true};
    return {};
}

} // namespace kolporta::settings
