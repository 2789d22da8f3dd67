#include "Commands.h"

#include "settings/HomeFolder.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

using namespace kolporta;

namespace {

const char kUsage[]
    = "Usage: kolporta-cli [--home DIR] COMMAND [OPTIONS] PROJECT\n"
      "\n"
      "Sends one e-mail message to every address of a Kolporta project (.kpj).\n"
      "\n"
      "Commands:\n"
      "  send PROJECT            run the send run as F5 does in the window; with\n"
      "                          --resume or --retry-failed JOURNAL continue an earlier\n"
      "                          run, with --test ADDRESS send one message to ADDRESS\n"
      "  export PROJECT --to DIR write every message that would be sent as DIR/NNNNN.eml\n"
      "                          with its envelope recipients in DIR/NNNNN.rcpt (dry run)\n"
      "  show PROJECT            print the project as loaded, as one JSON object\n"
      "  check PROJECT           the pre-flight check: bad addresses, duplicates,\n"
      "                          look-alike macros, missing files ... (--server: the\n"
      "                          server's limits and log-in); sends nothing\n"
      "  journal JOURNAL         summarise a run's journal (Log/*.journal), or --list\n"
      "                          the address lines in one state\n"
      "\n"
      "Options:\n"
      "  --home DIR              the folder of smtp.ini, Log/, mailclients.ini ...\n"
      "                          (default: $KOLPORTA_HOME, else ~/.local/share/kolporta)\n"
      "  -h, --help              this text; COMMAND --help explains one command\n"
      "\n"
      "Exit status: 0 success (every line sent), 3 every line tried but some failed or\n"
      "are uncertain, 1 the run stopped before it tried every line, 2 bad usage or an\n"
      "unreadable project. check: 0 nothing found, 1 warnings, 2 errors.\n";

} // namespace

int kolporta::cli::usageError(const QString &message)
{
    QTextStream err(stderr);
    err << message << "\n";
    return 2;
}

int main(int argc, char **argv)
{
    // Qt's own event dispatcher rather than GLib's: a run's socket waits by itself and the
    // event loop runs only between lines, yet the GLib one wakes itself with a system call
    // each time a socket write turns its notifier on or off. Programs started later (a mail
    // program) get the environment as it was.
    const bool dispatcherChosen = qEnvironmentVariableIsSet("QT_NO_GLIB");
    if (!dispatcherChosen)
        qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    if (!dispatcherChosen)
        qunsetenv("QT_NO_GLIB");
    QCoreApplication::setApplicationName(QStringLiteral("kolporta"));

    QStringList args = QCoreApplication::arguments().mid(1);
    while (!args.isEmpty() && args.first().startsWith(QLatin1Char('-'))) {
        const QString opt = args.takeFirst();
        if (opt == QLatin1String("-h") || opt == QLatin1String("--help")) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (opt == QLatin1String("--home")) {
            if (args.isEmpty())
                return cli::usageError(QStringLiteral("kolporta-cli: --home needs a folder"));
            settings::HomeFolder::setOverride(args.takeFirst());
        } else if (opt.startsWith(QLatin1String("--home="))) {
            settings::HomeFolder::setOverride(opt.mid(7));
        } else {
            return cli::usageError(QStringLiteral("kolporta-cli: unknown option %1").arg(opt));
        }
    }
    if (args.isEmpty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const QString command = args.takeFirst();
    if (command == QLatin1String("show"))
        return cli::showCommand(args);
    if (command == QLatin1String("send"))
        return cli::sendCommand(args);
    if (command == QLatin1String("export"))
        return cli::exportCommand(args);
    if (command == QLatin1String("check"))
        return cli::checkCommand(args);
    if (command == QLatin1String("journal"))
        return cli::journalCommand(args);
    if (command == QLatin1String("help")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    return cli::usageError(
        QStringLiteral("kolporta-cli: unknown command %1 (see --help)").arg(command));
}
