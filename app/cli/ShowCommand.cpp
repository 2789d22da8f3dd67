#include "Commands.h"

#include "delivery/MailObject.h"
#include "project/ProjectFile.h"
#include "settings/HomeFolder.h"
#include "settings/SmtpProfile.h"

#include <QStringList>

#include <cstdio>

using namespace kolporta;

namespace {

const char kShowHelp[]
    = "Usage: kolporta-cli [--home DIR] show PROJECT\n"
      "\n"
      "Prints the project as the program loads it, as one JSON object with the keys\n"
      "addressList, subject, from, blockFile, autoBlock, mailer, smtpServer, sendAsBcc,\n"
      "htmlBody, bccMaxCount, text, attachments, files and encoding.\n"
      "\n"
      "mailer and smtpServer hold the item the project selects: \"SMTP\" or a mail program of\n"
      "the home folder's list, and a section of its smtp.ini; \"\" when the project names\n"
      "none of them. encoding is \"utf-8\" or \"windows-1250\", the file's encoding.\n"
      "\n"
      "Options:\n"
      "  --home DIR   the folder of smtp.ini and mailclients.ini\n"
      "  -h, --help   this text\n"
      "\n"
      "Exit status: 0 printed, 2 bad usage or a project that cannot be read.\n";

QByteArray jsonString(const QString &text)
{
    QByteArray out;
    out.reserve(text.size() + 2);
    out += '"';
    for (const char c : text.toUtf8()) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", unsigned(c));
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    out += '"';
    return out;
}

QByteArray jsonList(const QStringList &list)
{
    if (list.isEmpty())
        return "[]";
    QByteArray out = "[\n";
    for (qsizetype i = 0; i < list.size(); ++i) {
        out += "    ";
        out += jsonString(list[i]);
        out += i + 1 < list.size() ? ",\n" : "\n";
    }
    out += "  ]";
    return out;
}

QByteArray jsonBool(bool b)
{
    return b ? "true" : "false";
}

// The keys in the order the project file has its sections, so the output reads like it.
QByteArray projectJson(const project::Project &p)
{
    const std::pair<const char *, QByteArray> members[] = {
        {"addressList", jsonList(p.addressList)},
        {"subject", jsonString(p.subject)},
        {"from", jsonString(p.from)},
        {"blockFile", jsonString(p.blockFile)},
        {"autoBlock", jsonBool(p.autoBlock)},
        {"mailer", jsonString(p.mailer)},
        {"smtpServer", jsonString(p.smtpServer)},
        {"sendAsBcc", jsonBool(p.sendAsBcc)},
        {"htmlBody", jsonBool(p.htmlBody)},
        {"bccMaxCount", jsonString(p.bccMaxCount)},
        {"text", jsonList(p.text)},
        {"attachments", jsonList(p.attachments)},
        {"files", jsonList(p.files)},
        {"encoding",
            p.encoding == project::TextEncoding::Utf8 ? QByteArray("\"utf-8\"")
                                                      : QByteArray("\"windows-1250\"")},
    };
    QByteArray out = "{\n";
    bool first = true;
    for (const auto &[key, value] : members) {
        if (!first)
            out += ",\n";
        first = false;
        out += "  \"";
        out += key;
        out += "\": ";
        out += value;
    }
    out += "\n}\n";
    return out;
}

} // namespace

int kolporta::cli::showCommand(const QStringList &args)
{
    QStringList positional;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            std::fputs(kShowHelp, stdout);
            return 0;
        }
        if (arg == QLatin1String("--home")) {
            if (i + 1 >= args.size())
                return usageError(QStringLiteral("kolporta-cli show: --home needs a folder"));
            settings::HomeFolder::setOverride(args[++i]);
        } else if (arg.startsWith(QLatin1String("--home="))) {
            settings::HomeFolder::setOverride(arg.mid(7));
        } else if (arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
            return usageError(QStringLiteral("kolporta-cli show: unknown option %1").arg(arg));
        } else {
            positional.append(arg);
        }
    }
    if (positional.size() != 1)
        return usageError(
            QStringLiteral("kolporta-cli show: give exactly one PROJECT (see show --help)"));

    // The lists as start-up builds them: "SMTP" and the mail programs, and the profiles.
    // Start-up selects the last route when a mail program is installed and no profile, so a
    // project without [Mailer] or [SmtpServer] shows what the window would show.
    const QList<delivery::MailProgram> programs = delivery::LoadMailPrograms();
    project::ProjectLists lists;
    lists.routes.append(QStringLiteral("SMTP"));
    for (const delivery::MailProgram &program : programs)
        lists.routes.append(program.name);
    lists.profiles = settings::SmtpProfileNames(settings::HomeFolder::smtpIniPath());

    project::Project project;
    if (delivery::MailObject(programs).anyClientInstalled())
        project.mailer = lists.routes.last();
    QString error;
    if (!project::LoadProject(positional.first(), &project, lists, &error))
        return usageError(error);
    const QByteArray json = projectJson(project);
    std::fwrite(json.constData(), 1, size_t(json.size()), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
