// kolporta-cli send and export: the send run of a project file, without a window.

#include "CliSendHost.h"
#include "Commands.h"
#include "ExportSession.h"

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
      "  stderr   the SMTP connection's status lines, a \"Chyba: \" line for every error,\n"
      "           and a progress line (count, rate, time left) when stderr is a terminal\n"
      "\n"
      "SIGINT (Ctrl-C) or SIGTERM stops the run as the window's \"Ukončit\" button does: the\n"
      "batch collected so far is still sent and the log says the run was stopped. A second\n"
      "signal ends the program at once.\n"
      "\n"
      "Options:\n"
      "  --home DIR   the home folder (smtp.ini, Log/, mailclients.ini ...)\n"
      "  -h, --help   this text\n"
      "\n"
      "Exit status: 0 the run reached its end (\"--- odesilani ukonceno ---\"), 1 it ended\n"
      "otherwise (no route selected, no connection, an error), 2 bad usage or a project\n"
      "that cannot be read.\n";

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
      "Exit status: 0 the run reached its end and every message was written, 1 otherwise\n"
      "(a message that could not be written gets a \"!!! \" line and a \"Chyba: \" line),\n"
      "2 bad usage or a project that cannot be read.\n";

struct Arguments
{
    QString project;
    QString to;
    bool help = false;
};

// Parses "PROJECT [--to DIR] [--home DIR] [--help]" in any order; returns an error text.
QString parse(const QString &command, QStringList args, bool takesTo, Arguments *out)
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

// What start-up prepares before the first project is opened: the Log folder, the route list
// with the mail object, the profile names.
struct StartUp
{
    QList<delivery::MailProgram> programs;
    std::unique_ptr<delivery::MailObject> mail;
    project::ProjectLists lists;
    QString defaultRoute;
};

void startUp(StartUp *s)
{
    // A folder that cannot be made costs only the log files.
    QDir().mkpath(settings::HomeFolder::logFolder());
    QString error;
    s->programs = delivery::LoadMailPrograms(&error);
    if (!error.isEmpty())
        kolporta::cli::usageError(
            QStringLiteral("kolporta-cli: %1; no mail program is used").arg(error));
    s->mail = std::make_unique<delivery::MailObject>(s->programs);
    s->lists.routes.append(QStringLiteral("SMTP"));
    for (const delivery::MailProgram &p : std::as_const(s->programs))
        s->lists.routes.append(p.name);
    // With a mail program installed, start-up selects the last route listed.
    if (s->mail->anyClientInstalled())
        s->defaultRoute = s->lists.routes.last();
    s->lists.profiles = settings::SmtpProfileNames(settings::HomeFolder::smtpIniPath());
}

bool loadProject(const QString &path, const StartUp &s, project::Project *p)
{
    p->mailer = s.defaultRoute;
    QString error;
    if (!QFileInfo(path).isFile()) {
        kolporta::cli::usageError(
            QStringLiteral("kolporta-cli: %1 is not a project file").arg(path));
        return false;
    }
    if (!project::LoadProject(path, p, s.lists, &error)) {
        kolporta::cli::usageError(QStringLiteral("kolporta-cli: %1").arg(error));
        return false;
    }
    return true;
}

delivery::SendRunSettings runSettings(const project::Project &p, const StartUp &s)
{
    delivery::SendRunSettings settings;
    settings.route = p.mailer.isEmpty() ? -1 : int(s.lists.routes.indexOf(p.mailer));
    settings.sendAsBcc = p.sendAsBcc;
    settings.batchSizeText = p.bccMaxCount;
    settings.body = p.text.join(QStringLiteral("\r\n"));
    settings.htmlBody = p.htmlBody;
    settings.pictures = p.attachments;
    settings.files = p.files;
    return settings;
}

int exitStatus(const delivery::SendRunResult &result)
{
    // The window shows nothing for a run without a route; here silence would look like a
    // hang or a success, so say why nothing happened.
    if (result.status == delivery::SendRunResult::Status::NoRoute)
        kolporta::cli::usageError(QStringLiteral("kolporta-cli: the project selects no delivery "
                                                 "route on this machine; nothing was sent"));
    return result.status == delivery::SendRunResult::Status::Finished ? 0 : 1;
}

} // namespace

int kolporta::cli::sendCommand(const QStringList &args)
{
    Arguments a;
    const QString error = parse(QStringLiteral("send"), args, false, &a);
    if (!error.isEmpty())
        return usageError(error);
    if (a.help) {
        std::fputs(kSendHelp, stdout);
        return 0;
    }
    StartUp s;
    startUp(&s);
    project::Project p;
    if (!loadProject(a.project, s, &p))
        return 2;

    CliSendHost::installSignalHandlers();
    CliSendHost host(p.addressList, p.from, p.subject, p.smtpServer);
    host.setShowProgress(::isatty(STDERR_FILENO));
    delivery::SendRun run(&host);
    run.setMailObject(s.mail.get());
    return exitStatus(run.run(runSettings(p, s)));
}

int kolporta::cli::exportCommand(const QStringList &args)
{
    Arguments a;
    const QString error = parse(QStringLiteral("export"), args, true, &a);
    if (!error.isEmpty())
        return usageError(error);
    if (a.help) {
        std::fputs(kExportHelp, stdout);
        return 0;
    }
    StartUp s;
    startUp(&s);
    project::Project p;
    if (!loadProject(a.project, s, &p))
        return 2;

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
    int failures = 0;
    run.setSessionFactory([folder, &failures](const settings::SmtpProfile &) {
        return std::make_unique<ExportSession>(folder, &failures);
    });
    delivery::SendRunSettings settings = runSettings(p, s);
    settings.route = 0; // always the SMTP route, whatever the project selects
    const int status = exitStatus(run.run(settings));
    // The run goes on after a message it could not write, as after a lost connection; the
    // exit status must not call that a success.
    return failures > 0 ? 1 : status;
}
