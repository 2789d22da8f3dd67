#include "CliStartUp.h"

#include "Commands.h"

#include "settings/HomeFolder.h"

namespace kolporta::cli {

QString parseArguments(const QString &command, QStringList args, bool takesTo, Arguments *out)
{
    while (!args.isEmpty()) {
        const QString arg = args.takeFirst();
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            out->help = true;
        } else if (arg == QLatin1String("--home") || (takesTo && arg == QLatin1String("--to"))) {
            if (args.isEmpty())
                return QStringLiteral("kolporta-cli %1: %2 needs a folder").arg(command, arg);
            const QString value = args.takeFirst();
            if (arg == QLatin1String("--home"))
                settings::HomeFolder::setOverride(value);
            else
                out->to = value;
        } else if (arg.startsWith(QLatin1String("--home="))) {
            settings::HomeFolder::setOverride(arg.mid(7));
        } else if (takesTo && arg.startsWith(QLatin1String("--to="))) {
            out->to = arg.mid(5);
        } else if (arg == QLatin1String("--")) {
            if (args.size() != 1 || !out->project.isEmpty())
                return QStringLiteral("kolporta-cli %1: one PROJECT expected").arg(command);
            out->project = args.takeFirst();
        } else if (arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
            return QStringLiteral("kolporta-cli %1: unknown option %2 (see %1 --help)")
                .arg(command, arg);
        } else if (out->project.isEmpty()) {
            out->project = arg;
        } else {
            return QStringLiteral("kolporta-cli %1: one PROJECT expected, also got %2")
                .arg(command, arg);
        }
    }
    if (out->help)
        return {};
    if (out->project.isEmpty())
        return QStringLiteral("kolporta-cli %1: PROJECT is missing (see %1 --help)").arg(command);
    if (takesTo && out->to.isEmpty())
        return QStringLiteral("kolporta-cli %1: --to DIR is missing (see %1 --help)").arg(command);
    return {};
}

void startUp(StartUp *s)
{
    delivery::PrepareStartUp(s);
    if (!s->mailProgramsError.isEmpty())
        usageError(
            QStringLiteral("kolporta-cli: %1; no mail program is used").arg(s->mailProgramsError));
}

bool loadStartUpProject(const QString &path, const StartUp &s, project::Project *p)
{
    QString error;
    if (!delivery::LoadStartUpProject(path, s, p, &error)) {
        usageError(error);
        return false;
    }
    return true;
}

} // namespace kolporta::cli
