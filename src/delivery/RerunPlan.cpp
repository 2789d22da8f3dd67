#include "delivery/RerunPlan.h"

#include "compose/MessageAssembly.h"
#include "delivery/SendRun.h"
#include "delivery/SendRunHost.h"

#include <QFileInfo>
#include <QHash>

namespace kolporta::delivery {

namespace {

// How strongly a state settles an address: a sent line outweighs a possibly delivered one,
// which outweighs a failure, which outweighs a skip.
int weight(JournalState state)
{
    switch (state) {
    case JournalState::Sent:
        return 3;
    case JournalState::Trying:
    case JournalState::Uncertain:
    case JournalState::Planned: // Journal::finalRecords() resolves it; were it left, be wary
        return 2;
    case JournalState::Refused:
    case JournalState::Failed:
        return 1;
    case JournalState::Skipped:
        return 0;
    }
    return 0;
}

QString modeText(bool bcc)
{
    return bcc ? QStringLiteral("BCC batches") : QStringLiteral("one message per address line");
}

} // namespace

QString RerunKey(const QString &line)
{
    return compose::AddressOfLine(line).toCaseFolded();
}

bool PlanRerun(const Journal &journal, const JournalHeader &current, const QStringList &lines,
    const RerunOptions &options, RerunPlan *plan, QString *error)
{
    *plan = RerunPlan();
    if (!options.force) {
        QStringList differences;
        if (journal.header.messageHash != current.messageHash)
            differences.append(QStringLiteral(
                "the message has changed (sender, subject, body, or a picture or attachment "
                "file)"));
        if (journal.header.route != current.route)
            differences.append(QStringLiteral("the journal's route is \"%1\", the project's \"%2\"")
                                   .arg(journal.header.route, current.route));
        if (journal.header.bcc != current.bcc)
            differences.append(QStringLiteral("the journal's mode is %1, the project's %2")
                                   .arg(modeText(journal.header.bcc), modeText(current.bcc)));
        if (!differences.isEmpty()) {
            *error = QStringLiteral("the journal was written for another mailing: %1; nothing was "
                                    "sent (--force sends anyway)")
                         .arg(differences.join(QStringLiteral("; ")));
            return false;
        }
    }

    QHash<QString, JournalState> states;
    for (const JournalRecord &r : journal.finalRecords()) {
        const QString key = RerunKey(r.text);
        const auto it = states.constFind(key);
        if (it == states.constEnd() || weight(r.state) > weight(*it))
            states.insert(key, r.state);
    }

    plan->sends.reserve(lines.size());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString &line = lines.at(i);
        // The run skips blank lines itself and records them so.
        const auto it
            = compose::IsBlankLine(line) ? states.constEnd() : states.constFind(RerunKey(line));
        bool sends;
        if (it == states.constEnd()) {
            sends = options.kind == RerunOptions::Kind::Resume || compose::IsBlankLine(line);
        } else {
            ++plan->matched;
            const int w = weight(*it);
            if (options.kind == RerunOptions::Kind::Resume)
                sends = w < 2 || (w == 2 && options.includeUncertain);
            else
                sends = w == 1 || (w == 2 && options.includeUncertain);
            if (!sends) {
                JournalRecord carried;
                carried.line = int(i + 1);
                carried.text = line;
                carried.state = *it;
                carried.earlier = true;
                plan->carried.append(carried);
            }
        }
        plan->sends.append(sends);
    }
    return true;
}

bool PrepareRerun(const QString &journalPath, const RerunOptions &options, const SendRunHost &host,
    SendRunSettings *settings, QString *error)
{
    Journal journal;
    if (!ReadJournal(journalPath, &journal, error))
        return false;
    QStringList lines;
    const int count = host.lineCount();
    lines.reserve(count);
    for (int i = 0; i < count; ++i)
        lines.append(host.addressLine(i));
    RerunPlan plan;
    if (!PlanRerun(journal, RunJournalHeader(*settings, host), lines, options, &plan, error))
        return false;
    settings->rerun = plan;
    settings->resumes = QFileInfo(journalPath).absoluteFilePath();
    return true;
}

} // namespace kolporta::delivery
