// kolporta-cli check: the pre-flight check of a project, without sending anything.

#include "CliStartUp.h"
#include "Commands.h"

#include "delivery/PreflightCheck.h"

#include <cstdio>

using namespace kolporta;
using namespace kolporta::cli;
using delivery::CheckFinding;

namespace {

const char kCheckHelp[]
    = "Usage: kolporta-cli [--home DIR] check PROJECT [--json] [--server]\n"
      "\n"
      "Looks at the project as a send run would go through it, and sends nothing:\n"
      "  - address lines the run skips, and lines whose address is no valid mailbox\n"
      "    (missing \"@\", blanks, two \"@\", a bad domain, a non-ASCII local part ...);\n"
      "  - the same address on several lines (letter case ignored);\n"
      "  - text that looks like a macro but is none (%NAME%, %to%), and %FROM% or\n"
      "    %SUBJECT% with an empty sender or subject;\n"
      "  - pictures the HTML body shows but the picture list lacks, and the other way round;\n"
      "  - every picture and attachment file: missing, unreadable, not a regular file, or\n"
      "    its size; and the size of the biggest message;\n"
      "  - the sender's address, an empty subject, the route and the SMTP profile.\n"
      "Line numbers count from 1, as the window's title \"Kolporta: n/m\" does.\n"
      "\n"
      "Options:\n"
      "  --server     also connect to the profile's SMTP server: read its EHLO, compare the\n"
      "               biggest message with its SIZE limit, report TLS, the AUTH mechanisms\n"
      "               and whether the profile's log-in succeeds, then QUIT (no message)\n"
      "  --json       print the findings as one JSON object instead of text\n"
      "  --home DIR   the home folder (smtp.ini, mailclients.ini ...)\n"
      "  -h, --help   this text\n"
      "\n"
      "Findings are errors (the lines would fail: invalid addresses, missing or unreadable\n"
      "files, a bad sender, no profile or route, no server), warnings (duplicates, look-alike\n"
      "macros, picture mismatches, a message over the server's SIZE, an empty subject) or\n"
      "information (skipped lines, file sizes, what the server offers).\n"
      "\n"
      "Exit status: 0 only information, 1 warnings, 2 errors, or bad usage or a project\n"
      "that cannot be read.\n";

// "3", "3, 5", "4-9, 12": consecutive numbers as ranges, so long lists stay readable.
QString lineRanges(const QList<int> &lines)
{
    QStringList parts;
    for (qsizetype i = 0; i < lines.size();) {
        qsizetype j = i;
        while (j + 1 < lines.size() && lines.at(j + 1) == lines.at(j) + 1)
            ++j;
        parts.append(j > i ? QStringLiteral("%1-%2").arg(lines.at(i)).arg(lines.at(j))
                           : QString::number(lines.at(i)));
        i = j + 1;
    }
    return parts.join(QStringLiteral(", "));
}

QString findingLine(const CheckFinding &f)
{
    QString line = f.severity == CheckFinding::Severity::Error ? QStringLiteral("error: ")
        : f.severity == CheckFinding::Severity::Warning        ? QStringLiteral("warning: ")
                                                               : QStringLiteral("info: ");
    if (!f.lines.isEmpty())
        line += QStringLiteral("%1%2 %3: ")
                    .arg(f.bodyLines ? QStringLiteral("body ") : QString(),
                        f.lines.size() > 1 ? QStringLiteral("lines") : QStringLiteral("line"),
                        lineRanges(f.lines));
    if (!f.subject.isEmpty())
        line += QLatin1Char('"') + f.subject + QStringLiteral("\": ");
    return line + f.message + QLatin1Char('\n');
}

QString count(int n, const char *one, const char *many)
{
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

} // namespace

int kolporta::cli::checkCommand(const QStringList &args)
{
    CommandSyntax syntax;
    syntax.command = QStringLiteral("check");
    syntax.flagOptions = QStringList {QStringLiteral("--json"), QStringLiteral("--server")};
    Arguments a;
    const QString error = parseArguments(syntax, args, &a);
    if (!error.isEmpty())
        return usageError(error);
    if (a.help) {
        std::fputs(kCheckHelp, stdout);
        return 0;
    }
    StartUp s;
    startUp(&s);
    project::Project p;
    if (!loadStartUpProject(a.project, s, &p))
        return 2;

    const delivery::CheckReport report
        = delivery::PreflightCheck(p, s, a.flags.contains(QStringLiteral("--server")));
    QByteArray out;
    if (a.flags.contains(QStringLiteral("--json"))) {
        out = report.toJson();
    } else {
        QString text;
        for (const CheckFinding &f : report.findings)
            text += findingLine(f);
        text += QStringLiteral("check: %1, %2, %3\n")
                    .arg(count(report.count(CheckFinding::Severity::Error), "error", "errors"),
                        count(report.count(CheckFinding::Severity::Warning), "warning", "warnings"),
                        count(report.count(CheckFinding::Severity::Info), "piece of information",
                            "pieces of information"));
        out = text.toUtf8();
    }
    std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
    std::fflush(stdout);
    return report.exitStatus();
}
