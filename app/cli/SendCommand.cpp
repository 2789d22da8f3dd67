#include "Commands.h"

int kolporta::cli::sendCommand(const QStringList &)
{
    return usageError(QStringLiteral("kolporta-cli send: not built yet"));
}

int kolporta::cli::exportCommand(const QStringList &)
{
    return usageError(QStringLiteral("kolporta-cli export: not built yet"));
}
