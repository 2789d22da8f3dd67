// kolporta-cli send and export: the send run of a project file, without a window.

#include "CliSendHost.h"
#include "CliStartUp.h"
#include "Commands.h"
#include "ExportSession.h"
#include "RunReport.h"

#include "delivery/MailObject.h"
#include "delivery/MailPrograms.h"
#include "delivery/SendRun.h"
#include "project/ProjectFile.h"
#include "settings/HomeFolder.h"
#include "settings/SmtpProfile.h"

#include <QDir>
#include <QFileInfo>

#include <cstdio>
#include <unistd.h>

using namespace kolporta;
using namespace kolporta::cli;

namespace {

const char kSendHelp[]
    = "Usage: kolporta-cli [--home DIR] send PROJECT\n"
      "\n"
      "Sends the project's message to every line of its address list, exactly as F5 does\n"
      "in the window: through the route and SMTP profile the project selects (the routes\n"
      "are \"SMTP\" and the mail programs of mailclients.ini or found on this machine; the\n"
      "profiles are the sections of smtp.ini), in BCC batches or one message per line.\n"
      "\n"
      "  stdout   every line of the send log as it is written; the log file\n"
      "           Log/Kolporta yyyy-mm-dd hh-nn-ss.txt in the home folder gets them too\n"
      "  stderr   first every picture and attachment with its path and size (a warning\n"
      "           for a hidden file, or one outside the project's folder and $HOME),\n"
      "           then the SMTP connection's status lines, a \"Chyba: \" line for every\n"
      "           error, a progress line (count, rate, time left) when stderr is a\n"
      "           terminal, and at the end a summary: sent, failed (refused ones\n"
      "           included), uncertain, skipped, and the lines not tried\n"
      "\n"
      "A connection lost before a message's end went out is opened again (after 1, 5 and\n"
      "15 s) and the message sent again, at most 3 times; after three failed reopens in a\n"
      "row the run gives up. A connection lost after it cannot be told from a delivery:\n"
      "that line is logged as uncertain (\"Chyba - doručení nejisté\") and never sent again.\n"
      "\n"
      "SIGINT (Ctrl-C) or SIGTERM stops the run as the window's \"Ukončit\" button does: the\n"
      "batch collected so far is still sent and the log says the run was stopped. A wait\n"
      "for the server still going 1 s after the signal is given up, and the program ends\n"
      "within 2 s whatever it is doing. A second signal ends it at once.\n"
      "\n"
      "Options:\n"
      "  --home DIR   the home folder (smtp.ini, Log/, mailclients.ini ...)\n"
      "  -h, --help   this text\n"
      "\n"
      "Exit status:\n"
      "  0  every line that is not skipped was sent (or handed to the mail program)\n"
      "  3  every line was tried, but some failed or are uncertain (each has a \"!!! \"\n"
      "     line in the log)\n"
      "  1  the run stopped before it tried every line: a cancel, no connection (at the\n"
      "     start, or after giving up on the server), an error, no route selected\n"
      "  2  bad usage, or a project that cannot be read\n";

const char kExportHelp[]
    = "Usage: kolporta-cli [--home DIR] export PROJECT --to DIR\n"
      "\n"
      "A dry run of the SMTP route: builds every message the project would send, in its\n"
      "mode (BCC batches or one message per line), and writes each instead of sending it.\n"
      "No server is contacted and no log file is written.\n"
      "\n"
      "  DIR/NNNNN.eml    the message as it would go over the wire, CR LF line ends,\n"
      "                   numbered from 00001\n"
      "  DIR/NNNNN.rcpt   its envelope recipients, one a line\n"
      "  stdout           the send-log lines, as for send\n"
      "\n"
      "Options:\n"
      "  --to DIR     the folder for the messages; created when missing, and it must not\n"
      "               hold an earlier export\n"
      "  --home DIR   the home folder (smtp.ini, mailclients.ini ...)\n"
      "  -h, --help   this text\n"
      "\n"
      "Exit status: 0 every message was written; 3 some could not be written (each gets a\n"
      "\"!!! \" line and a \"Chyba: \" line); 1 the run stopped before its end; 2 bad usage\n"
      "or a project that cannot be read.\n";

// The run's outcome on stderr and as the exit status.
int finish(const delivery::SendRunResult &result)
{
    const int status = exitStatus(result);
    printSummary(result);
    return status;
}

// The common first steps of send and export: arguments, help, start-up, the project.
// Returns -1 to go on, else the exit status.
int prepare(const QString &command, const QStringList &args, const char *help, Arguments *a,
    StartUp *s, project::Project *p)
{
    const QString error = parseArguments(command, args, command == QLatin1String("export"), a);
    if (!error.isEmpty())
        return usageError(error);
    if (a->help) {
        std::fputs(help, stdout);
        return 0;
    }
    startUp(s);
    return loadStartUpProject(a->project, *s, p) ? -1 : 2;
}

} // namespace

int kolporta::cli::sendCommand(const QStringList &args)
{
    Arguments a;
    StartUp s;
    project::Project p;
    if (const int status = prepare(QStringLiteral("send"), args, kSendHelp, &a, &s, &p);
        status >= 0)
        return status;

    CliSendHost::installSignalHandlers();
    listFilesToSend(p, a.project);
    CliSendHost host(p.addressList, p.from, p.subject, p.smtpServer);
    host.setShowProgress(::isatty(STDERR_FILENO));
    delivery::SendRun run(&host);
    run.setMailObject(s.mail.get());
    return finish(run.run(delivery::RunSettingsOf(p, s.lists)));
}

int kolporta::cli::exportCommand(const QStringList &args)
{
    Arguments a;
    StartUp s;
    project::Project p;
    if (const int status = prepare(QStringLiteral("export"), args, kExportHelp, &a, &s, &p);
        status >= 0)
        return status;

    const QString folder = QDir(a.to).absolutePath();
    if (!QDir().mkpath(folder))
        return usageError(QStringLiteral("kolporta-cli export: cannot create %1").arg(folder));
    // Numbering starts at 00001 again; mixing two exports would lose the earlier one.
    if (ExportSession::holdsExport(folder))
        return usageError(
            QStringLiteral("kolporta-cli export: %1 already holds exported messages").arg(folder));

    CliSendHost::installSignalHandlers();
    CliSendHost host(p.addressList, p.from, p.subject, p.smtpServer);
    host.setShowProgress(::isatty(STDERR_FILENO));
    delivery::SendRun run(&host);
    run.setLogFolder(QString());
    run.setSessionFactory([folder](const settings::SmtpProfile &) {
        return std::make_unique<ExportSession>(folder);
    });
    delivery::SendRunSettings settings = delivery::RunSettingsOf(p, s.lists);
    settings.route = 0; // always the SMTP route, whatever the project selects
    return finish(run.run(settings));
}
