// kolporta-cli journal: what a run's journal says, as a summary or as address lines.

#include "CliStartUp.h"
#include "Commands.h"

#include "delivery/RunJournal.h"

#include <QMap>

#include <algorithm>
#include <cstdio>

using namespace kolporta;
using namespace kolporta::cli;
using delivery::JournalState;

namespace {

const char kJournalHelp[]
    = "Usage: kolporta-cli [--home DIR] journal JOURNAL [--list STATE[,STATE...]]\n"
      "\n"
      "Every send run writes a journal beside its send log,\n"
      "Log/Kolporta yyyy-mm-dd hh-nn-ss.journal: a header, then for each address line\n"
      "\"trying\" right before its message's end of data goes to the server (or to the\n"
      "mail program), and then its outcome. This command reads one.\n"
      "\n"
      "Without --list it prints a summary: the run's route and mode, how many address\n"
      "lines ended in each state, and the lines that were possibly delivered.\n"
      "\n"
      "States:\n"
      "  sent       the server (or mail program) took the message\n"
      "  refused    the server refused the address, the sender or the message\n"
      "  failed     not delivered: an error, or the connection was lost before the end\n"
      "  uncertain  the connection was lost after the end of data: possibly delivered\n"
      "  trying     the run ended (killed, crashed) while the message was on its way:\n"
      "             possibly delivered\n"
      "  skipped    a blank or \"*\" line the run skips\n"
      "\n"
      "The run also records, a little ahead, the lines it is about to send (\"planned\"),\n"
      "and flushes those records to disk before their turn. When the run did not end\n"
      "and the machine has been restarted since, the last records may have been lost with\n"
      "it: then a line that is only planned counts as trying. Otherwise it was not tried.\n"
      "\n"
      "Options:\n"
      "  --list STATE  print the address lines whose last state is STATE (several states\n"
      "                separated by commas), one a line, ready to paste into a project\n"
      "  -h, --help    this text\n"
      "\n"
      "Exit status: 0 printed, 2 bad usage or a journal that cannot be read.\n";

const JournalState kOrder[] = {JournalState::Sent, JournalState::Refused, JournalState::Failed,
    JournalState::Uncertain, JournalState::Trying, JournalState::Skipped};

void print(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
}

} // namespace

int kolporta::cli::journalCommand(const QStringList &args)
{
    CommandSyntax syntax;
    syntax.command = QStringLiteral("journal");
    syntax.positional = QStringLiteral("JOURNAL");
    syntax.valueOptions.append({QStringLiteral("--list"), QStringLiteral("a state")});
    Arguments a;
    const QString error = parseArguments(syntax, args, &a);
    if (!error.isEmpty())
        return usageError(error);
    if (a.help) {
        std::fputs(kJournalHelp, stdout);
        return 0;
    }
    QList<JournalState> wanted;
    if (a.values.contains(QStringLiteral("--list"))) {
        for (const QString &name :
            a.values.value(QStringLiteral("--list")).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            JournalState state;
            // A planned line is resolved by the reader; it is never a line's state.
            if (!delivery::JournalStateFromName(name.trimmed(), &state)
                || state == JournalState::Planned)
                return usageError(QStringLiteral("kolporta-cli journal: unknown state \"%1\" (the "
                                                 "states are sent, refused, failed, uncertain, "
                                                 "trying and skipped)")
                                      .arg(name));
            wanted.append(state);
        }
        if (wanted.isEmpty())
            return usageError(QStringLiteral("kolporta-cli journal: --list needs a state"));
    }

    delivery::Journal journal;
    QString readError;
    if (!delivery::ReadJournal(a.project, &journal, &readError))
        return usageError(QStringLiteral("kolporta-cli journal: ") + readError);
    const QList<delivery::JournalRecord> lines = journal.finalRecords();

    if (!wanted.isEmpty()) {
        QString out;
        for (const delivery::JournalRecord &r : lines)
            if (wanted.contains(r.state))
                out += r.text + QLatin1Char('\n');
        print(out);
        return 0;
    }

    const delivery::JournalHeader &h = journal.header;
    QString out;
    out += QStringLiteral("journal: %1\n").arg(a.project);
    out += QStringLiteral("project: %1\n")
               .arg(h.project.isEmpty() ? QStringLiteral("(untitled)") : h.project);
    out += QStringLiteral("route:   %1%2, %3\n")
               .arg(h.route,
                   h.profile.isEmpty() ? QString()
                                       : QStringLiteral(", profile \"%1\"").arg(h.profile),
                   h.bcc ? QStringLiteral("BCC batches of %1").arg(h.batchSize)
                         : QStringLiteral("one message per address line"));
    if (!h.log.isEmpty())
        out += QStringLiteral("log:     %1\n").arg(h.log);
    if (!h.resumes.isEmpty())
        out += QStringLiteral("resumes: %1\n").arg(h.resumes);
    int earlier = 0;
    QHash<JournalState, int> counts;
    for (const delivery::JournalRecord &r : lines) {
        ++counts[r.state];
        earlier += r.earlier ? 1 : 0;
    }
    for (const JournalState state : kOrder)
        out += QStringLiteral("%1 %2\n")
                   .arg(delivery::JournalStateName(state) + QLatin1Char(':'), -10)
                   .arg(counts.value(state), 7);
    if (earlier > 0)
        out += QStringLiteral("(%1 of these lines were settled by the journal this run "
                              "continued)\n")
                   .arg(earlier);
    if (journal.torn)
        out += QStringLiteral("The journal's last line was cut off: the run was killed while "
                              "writing it.\n");
    if (journal.plannedMayHaveGone()) {
        QMap<int, JournalState> last;
        for (const delivery::JournalRecord &r : std::as_const(journal.records))
            last.insert(r.line, r.state);
        const qsizetype planned = std::count(last.cbegin(), last.cend(), JournalState::Planned);
        if (planned > 0)
            out += QStringLiteral("The run did not end, and the machine has been restarted since: "
                                  "its last records may be lost, so the %1 lines it was about "
                                  "to send count as trying.\n")
                       .arg(planned);
    }
    QString possible;
    for (const delivery::JournalRecord &r : lines)
        if (r.state == JournalState::Trying || r.state == JournalState::Uncertain)
            possible += QStringLiteral("  line %1: %2\n").arg(r.line).arg(r.text);
    if (!possible.isEmpty())
        out += QStringLiteral("Possibly delivered (trying or uncertain; check with the "
                              "recipients or the server's log before sending again):\n")
            + possible;
    print(out);
    return 0;
}
