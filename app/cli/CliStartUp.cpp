#include "CliStartUp.h"

#include "Commands.h"

#include "settings/HomeFolder.h"

namespace kolporta::cli {

QString parseArguments(const CommandSyntax &syntax, QStringList args, Arguments *out)
{
    const QString &command = syntax.command;
    QList<QPair<QString, QString>> valued = syntax.valueOptions;
    valued.prepend({QStringLiteral("--home"), QStringLiteral("a folder")});
    while (!args.isEmpty()) {
        const QString arg = args.takeFirst();
        const qsizetype eq = arg.indexOf(QLatin1Char('='));
        const QString name = arg.startsWith(QLatin1String("--")) && eq > 0 ? arg.left(eq) : arg;
        const auto option = std::find_if(valued.cbegin(), valued.cend(),
            [&](const QPair<QString, QString> &o) { return o.first == name; });
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            out->help = true;
        } else if (option != valued.cend()) {
            QString value;
            if (name != arg) {
                value = arg.mid(eq + 1);
            } else {
                if (args.isEmpty())
                    return QStringLiteral("kolporta-cli %1: %2 needs %3")
                        .arg(command, arg, option->second);
                value = args.takeFirst();
            }
            if (name == QLatin1String("--home"))
                settings::HomeFolder::setOverride(value);
            else if (name == QLatin1String("--to"))
                out->to = value;
            out->values.insert(name, value);
        } else if (syntax.flagOptions.contains(arg)) {
            out->flags.insert(arg);
        } else if (arg == QLatin1String("--")) {
            if (args.size() != 1 || !out->project.isEmpty())
                return QStringLiteral("kolporta-cli %1: one %2 expected")
                    .arg(command, syntax.positional);
            out->project = args.takeFirst();
        } else if (arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
            return QStringLiteral("kolporta-cli %1: unknown option %2 (see %1 --help)")
                .arg(command, arg);
        } else if (out->project.isEmpty()) {
            out->project = arg;
        } else {
            return QStringLiteral("kolporta-cli %1: one %2 expected, also got %3")
                .arg(command, syntax.positional, arg);
        }
    }
    if (out->help)
        return {};
    if (out->project.isEmpty())
        return QStringLiteral("kolporta-cli %1: %2 is missing (see %1 --help)")
            .arg(command, syntax.positional);
    return {};
}

QString parseArguments(const QString &command, QStringList args, bool takesTo, Arguments *out)
{
    CommandSyntax syntax;
    syntax.command = command;
    if (takesTo)
        syntax.valueOptions.append({QStringLiteral("--to"), QStringLiteral("a folder")});
    const QString error = parseArguments(syntax, std::move(args), out);
    if (error.isEmpty() && !out->help && takesTo && out->to.isEmpty())
        return QStringLiteral("kolporta-cli %1: --to DIR is missing (see %1 --help)").arg(command);
    return error;
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
