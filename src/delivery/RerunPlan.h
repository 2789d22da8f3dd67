#pragma once

#include "delivery/RunJournal.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace kolporta::delivery {

class SendRunHost;
struct SendRunSettings;

// Which address lines a run that continues an earlier one (from its journal) sends.
//
// Lines are matched by their address, compared without regard to case, not by their
// number: the list may have been edited since. An address's state is the strongest of its
// lines' last records: sent, then trying / uncertain (possibly delivered), then refused /
// failed, then skipped.
//   Resume       sends every line except those whose address is sent, and (unless
//                includeUncertain) those possibly delivered.
//   RetryFailed  sends only the lines whose address is refused or failed (and, with
//                includeUncertain, possibly delivered).
// A line the run does not send but the journal had settled is carried into the new
// journal with its state (`earlier`), so resuming the new run's journal sends nothing twice.
struct RerunOptions
{
    enum class Kind { Resume, RetryFailed };
    Kind kind = Kind::Resume;
    bool includeUncertain = false;
    bool force = false; // go on although the message, route or mode differ
};

struct RerunPlan
{
    QList<bool> sends; // per address line of the current list (index from 0)
    QList<JournalRecord> carried; // records for the new journal, line numbers from 1
    int matched = 0; // current lines whose address the journal knows
};

// The address by which lines are matched: the address of the line, case-folded.
QString RerunKey(const QString &line);

// Compares the journal's header with the run about to start (message hash, route, mode);
// unless options.force, a difference is an error that names it and the plan is empty.
bool PlanRerun(const Journal &journal, const JournalHeader &current, const QStringList &lines,
    const RerunOptions &options, RerunPlan *plan, QString *error);

// Reads the journal at `journalPath` and sets up `settings` (made from the project) to
// continue it over the host's address lines: the plan, and the journal named as the one
// resumed. False, with settings unchanged, when the journal cannot be read or was written
// for another mailing (see PlanRerun).
bool PrepareRerun(const QString &journalPath, const RerunOptions &options, const SendRunHost &host,
    SendRunSettings *settings, QString *error);

} // namespace kolporta::delivery
