#include "Commands.h"

int kolporta::cli::showCommand(const QStringList &)
{
    return usageError(QStringLiteral("kolporta-cli show: not built yet"));
}
