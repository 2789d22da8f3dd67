// kolporta-cli send and export: the send run of a project file, without a window.

#include "CliSendHost.h"
#include "CliStartUp.h"
#include "Commands.h"
#include "ExportSession.h"
#include "RunReport.h"

#include "compose/MessageAssembly.h"
#include "delivery/MailObject.h"
#include "delivery/MailPrograms.h"
#include "delivery/PreflightCheck.h"
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
      "       kolporta-cli [--home DIR] send PROJECT --resume JOURNAL [--include-uncertain]\n"
      "                                               [--force]\n"
      "       kolporta-cli [--home DIR] send PROJECT --retry-failed JOURNAL [...]\n"
      "       kolporta-cli [--home DIR] send PROJECT --test ADDRESS [--as-line N]\n"
      "\n"
      "Sends the project's message to every line of its address list, exactly as F5 does\n"
      "in the window: through the route and SMTP profile the project selects (the routes\n"
      "are \"SMTP\" and the mail programs of mailclients.ini or found on this machine; the\n"
      "profiles are the sections of smtp.ini), in BCC batches or one message per line.\n"
      "\n"
      "  stdout   every line of the send log as it is written; the log file\n"
      "           Log/Kolporta yyyy-mm-dd hh-nn-ss.txt in the home folder gets them too\n"
      "           (\" (2)\", \" (3)\" ... before \".txt\" when a run of that second has one)\n"
      "  journal  beside the log, with the same name and \".journal\": for each address line\n"
      "           \"trying\" right before its message's end of data goes to the server (or\n"
      "           to the mail program), then its outcome; kolporta-cli journal reads it\n"
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
      "A run that was killed, crashed or stopped is continued with --resume and the\n"
      "journal it left. Lines are matched by their address (letter case ignored), so the\n"
      "list may have been edited since; lines keep their numbers and order. A new log and\n"
      "journal are written, and the new journal also holds the lines settled before, so it\n"
      "can be resumed in turn. A journal written for another message (sender, subject,\n"
      "body, or a picture's or attachment's path, size or time), route or mode is refused\n"
      "and nothing is sent, unless --force is given.\n"
      "\n"
      "Options:\n"
      "  --resume JOURNAL       send to every line whose address the journal does not\n"
      "                         record as sent, nor as possibly delivered (trying or\n"
      "                         uncertain)\n"
      "  --retry-failed JOURNAL send only to the lines whose address the journal records\n"
      "                         as failed or refused\n"
      "  --include-uncertain    with either: also send to the possibly delivered lines,\n"
      "                         which may then get the message twice\n"
      "  --force                with either: go on although the message, route or mode\n"
      "                         differ from the journal's\n"
      "  --test ADDRESS         send exactly one message, to ADDRESS only (envelope and\n"
      "                         To), built as for one address line with its macros, through\n"
      "                         the project's route; no journal, and the log's first line\n"
      "                         says it was a test\n"
      "  --as-line N            the address line the test message is built for, counted\n"
      "                         from 1 (default: the first line that is not blank)\n"
      "  --home DIR             the home folder (smtp.ini, Log/, mailclients.ini ...)\n"
      "  -h, --help             this text\n"
      "\n"
      "Exit status:\n"
      "  0  every line that is not skipped was sent (or handed to the mail program)\n"
      "  3  every line was tried, but some failed or are uncertain (each has a \"!!! \"\n"
      "     line in the log)\n"
      "  1  the run stopped before it tried every line: a cancel, no connection (at the\n"
      "     start, or after giving up on the server), an error, no route selected\n"
      "  2  bad usage, a project that cannot be read, or a journal that cannot be read or\n"
      "     was written for another mailing\n"
      "With --resume or --retry-failed the lines settled before count as done.\n";

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
int prepare(const char *help, Arguments *a, StartUp *s, project::Project *p, const QString &error)
{
    if (!error.isEmpty())
        return usageError(error);
    if (a->help) {
        std::fputs(help, stdout);
        return 0;
    }
    startUp(s);
    return loadStartUpProject(a->project, *s, p) ? -1 : 2;
}

const QString kResume = QStringLiteral("--resume");
const QString kRetry = QStringLiteral("--retry-failed");
const QString kUncertain = QStringLiteral("--include-uncertain");
const QString kForce = QStringLiteral("--force");
const QString kTest = QStringLiteral("--test");
const QString kAsLine = QStringLiteral("--as-line");

// What is wrong with the options of send on their own, or "".
QString optionProblem(const Arguments &a)
{
    const auto has = [&](const QString &o) { return a.values.contains(o) || a.flags.contains(o); };
    const int kinds = int(has(kResume)) + int(has(kRetry)) + int(has(kTest));
    if (kinds > 1)
        return QStringLiteral("kolporta-cli send: --resume, --retry-failed and --test exclude "
                              "each other");
    for (const QString &o : {kUncertain, kForce}) {
        if (has(o) && !has(kResume) && !has(kRetry))
            return QStringLiteral("kolporta-cli send: %1 goes with --resume or --retry-failed")
                .arg(o);
    }
    if (has(kAsLine) && !has(kTest))
        return QStringLiteral("kolporta-cli send: --as-line goes with --test");
    if (has(kTest)) {
        const QString address = a.values.value(kTest);
        if (const QString problem = delivery::MailboxProblem(address); !problem.isEmpty())
            return QStringLiteral("kolporta-cli send: --test %1: %2 (give a bare address, such "
                                  "as you@example.cz)")
                .arg(address, problem);
    }
    return {};
}

// The line the test message is built for; an error text when it does not fit the project.
QString testLine(const Arguments &a, const project::LineList &lines, int *index)
{
    if (a.values.contains(kAsLine)) {
        bool ok = false;
        const int n = a.values.value(kAsLine).toInt(&ok);
        if (!ok || n < 1 || n > lines.size())
            return QStringLiteral("kolporta-cli send: --as-line %1: the address list has lines "
                                  "1 to %2")
                .arg(a.values.value(kAsLine))
                .arg(lines.size());
        if (compose::IsBlankLine(lines.at(n - 1)))
            return QStringLiteral("kolporta-cli send: --as-line %1: that line is blank").arg(n);
        *index = n - 1;
        return {};
    }
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (!compose::IsBlankLine(lines.at(i))) {
            *index = int(i);
            return {};
        }
    }
    return QStringLiteral("kolporta-cli send: --test: the address list has no line to build the "
                          "message for");
}

} // namespace

int kolporta::cli::sendCommand(const QStringList &args)
{
    CommandSyntax syntax;
    syntax.command = QStringLiteral("send");
    syntax.valueOptions
        = {{kResume, QStringLiteral("a journal")}, {kRetry, QStringLiteral("a journal")},
            {kTest, QStringLiteral("an address")}, {kAsLine, QStringLiteral("a line number")}};
    syntax.flagOptions = QStringList {kUncertain, kForce};
    Arguments a;
    QString error = parseArguments(syntax, args, &a);
    if (error.isEmpty() && !a.help)
        error = optionProblem(a);
    StartUp s;
    project::Project p;
    if (const int status = prepare(kSendHelp, &a, &s, &p, error); status >= 0)
        return status;

    CliSendHost host(p.addressList, p.from, p.subject, p.smtpServer);
    delivery::SendRunSettings settings = delivery::RunSettingsOf(p, s.lists);
    settings.projectPath = QFileInfo(a.project).absoluteFilePath();
    if (a.values.contains(kTest)) {
        settings.testAddress = a.values.value(kTest);
        error = testLine(a, p.addressList, &settings.testLine);
        if (!error.isEmpty())
            return usageError(error);
    }
    const bool retry = a.values.contains(kRetry);
    if (retry || a.values.contains(kResume)) {
        delivery::RerunOptions options;
        options.kind = retry ? delivery::RerunOptions::Kind::RetryFailed
                             : delivery::RerunOptions::Kind::Resume;
        options.includeUncertain = a.flags.contains(kUncertain);
        options.force = a.flags.contains(kForce);
        if (!delivery::PrepareRerun(
                a.values.value(retry ? kRetry : kResume), options, host, &settings, &error))
            return usageError(QStringLiteral("kolporta-cli send: ") + error);
        bool any = false;
        for (qsizetype i = 0; i < settings.rerun.sends.size(); ++i)
            any = any
                || (settings.rerun.sends.at(i)
                    && !delivery::RunSkipsLine(
                        p.addressList.at(i), settings.route > 0, settings.sendAsBcc));
        if (!any) {
            usageError(QStringLiteral("kolporta-cli: the journal leaves no address line to send; "
                                      "nothing was sent"));
            return 0;
        }
    }

    CliSendHost::installSignalHandlers();
    listFilesToSend(p, a.project);
    host.setShowProgress(::isatty(STDERR_FILENO));
    delivery::SendRun run(&host);
    run.setMailObject(s.mail.get());
    return finish(run.run(settings));
}

int kolporta::cli::exportCommand(const QStringList &args)
{
    Arguments a;
    StartUp s;
    project::Project p;
    const QString error = parseArguments(QStringLiteral("export"), args, true, &a);
    if (const int status = prepare(kExportHelp, &a, &s, &p, error); status >= 0)
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
    run.setPlainSessions(true); // one numbered file after another
    run.setSessionFactory([folder](const settings::SmtpProfile &) {
        return std::make_unique<ExportSession>(folder);
    });
    delivery::SendRunSettings settings = delivery::RunSettingsOf(p, s.lists);
    settings.route = 0; // always the SMTP route, whatever the project selects
    return finish(run.run(settings));
}
