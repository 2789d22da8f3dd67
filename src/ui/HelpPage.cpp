#include "ui/HelpPage.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace kolporta::ui {

QUrl helpPageUrl()
{
    const QString installed = QDir(QCoreApplication::applicationDirPath())
                                  .absoluteFilePath(QStringLiteral(KOLPORTA_HELP_FROM_BINDIR));
    if (QFileInfo::exists(installed))
        return QUrl::fromLocalFile(QDir::cleanPath(installed));
    return QUrl::fromLocalFile(QStringLiteral(KOLPORTA_HELP_SOURCE));
}

QUrl webPageUrl()
{
    return QUrl(QStringLiteral("https://kolporta.org/"));
}

QString makerName()
{
    return QStringLiteral("Projekt Kolporta");
}

QString supportMailAddress()
{
    return QStringLiteral("podpora@kolporta.org");
}

} // namespace kolporta::ui
