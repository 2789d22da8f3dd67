#include "project/WindowTexts.h"

#include <QFileInfo>

namespace kolporta::project::WindowTexts {

QString caption(const QString &projectFileName)
{
    return QStringLiteral("Kolporta   [ ") + QFileInfo(projectFileName).fileName()
        + QStringLiteral(" ]");
}

QString addressCounter(qsizetype lineCount)
{
    return QString::number(lineCount) + QStringLiteral(" adres");
}

QString picturesTabCaption(qsizetype count)
{
    return QStringLiteral(u"Obrázky do HTML  (") + QString::number(count) + QStringLiteral(") ");
}

QString attachmentsTabCaption(qsizetype count)
{
    return QStringLiteral(u"Přílohy  (") + QString::number(count) + QStringLiteral(") ");
}

} // namespace kolporta::project::WindowTexts
