#include "CliStartUp.h"
#include "Commands.h"

#include <QStringList>

#include <cstdio>

using namespace kolporta;
using namespace kolporta::cli;

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
        {"addressList", jsonList(p.addressList.toStringList())},
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
    Arguments a;
    const QString error = parseArguments(QStringLiteral("show"), args, false, &a);
    if (!error.isEmpty())
        return usageError(error);
    if (a.help) {
        std::fputs(kShowHelp, stdout);
        return 0;
    }
    // Start-up selects the last route when a mail program is installed and no profile, so a
    // project without [Mailer] or [SmtpServer] shows what the window would show.
    StartUp s;
    startUp(&s);
    project::Project project;
    if (!loadStartUpProject(a.project, s, &project))
        return 2;
    const QByteArray json = projectJson(project);
    std::fwrite(json.constData(), 1, size_t(json.size()), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
