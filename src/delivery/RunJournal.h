#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

namespace kolporta::delivery {

// What the journal says of one address line. `Trying` is written right before the
// end-of-data "." (or the hand-over to a mail program) that carries the line, so a line
// whose last record is `Trying` may have been delivered; `Uncertain` means the connection
// was lost after the "." and before the server's answer. Neither is ever taken for failed.
//
// `Planned` is written ahead of the run, for the lines it is about to send, and flushed to
// disk at once, so that no end of data waits for a flush of its own `trying` record. Only a
// machine that goes down loses records that were written but not yet flushed; so a line
// whose last record is `Planned` was not tried, unless the journal did not end and the
// machine has been restarted since the run: then it may have been delivered.
// Journal::finalRecords() resolves it so.
enum class JournalState { Trying, Sent, Refused, Failed, Uncertain, Skipped, Planned };

// "trying", "sent", ... as written in the journal; false for an unknown text.
QString JournalStateName(JournalState state);
bool JournalStateFromName(const QString &name, JournalState *state);

// The first record of a journal: what the run was, so that a later run can tell whether it
// continues the same mailing.
struct JournalHeader
{
    static constexpr int FormatVersion = 1;

    int version = FormatVersion;
    QString project; // the project file's absolute path, "" for an untitled project
    QString messageHash; // MessageHash() of the run's message
    QString route; // the route's text: "SMTP" or the mail program's name
    bool bcc = false; // mode: BCC batches, else one message per address line
    QString profile; // the SMTP profile's name ("" on a mail-program route)
    int batchSize = 50;
    QString log; // the file name of the run's send log
    QString resumes; // the journal this run continues (--resume / --retry-failed), else ""
    QString boot; // the machine's boot id while the run went (see CurrentBootId)
};

// This boot of the machine: /proc/sys/kernel/random/boot_id, "" when it cannot be read.
QString CurrentBootId();

// One record after the header. `line` counts from 1. `batch` is the BCC batch's number
// (from 1), 0 in the one-by-one modes; a batch's outcome is written once, without a line,
// and read back as a record for each of its lines. `earlier` marks a line this run did not
// send because the journal it continues had settled it: the record repeats the state found
// there, so a journal always tells the whole mailing's state, however many runs it took.
struct JournalRecord
{
    int line = 0;
    QString text;
    JournalState state = JournalState::Trying;
    int batch = 0;
    QString reply;
    bool earlier = false;
};

// The fields of the message that must not change between a run and its resumption.
struct MessageFields
{
    QString sender;
    QString subject;
    QString body;
    bool html = false;
    QStringList pictures;
    QStringList files;
};

// A SHA-256 over the fields, and over each picture's and attachment's path, size and
// modification time as the file stands now (a missing file counts as size -1), in hex.
QString MessageHash(const MessageFields &fields);

// The names of one run's send log and journal.
struct RunFiles
{
    QString log; // "Kolporta yyyy-mm-dd hh-nn-ss.txt"
    QString journal; // the same name with ".journal"
};

// Picks the names for a run starting at `start` and reserves them by creating the journal
// file, empty, with O_EXCL. A run never takes another's names: when a log or journal of
// that second exists already (or another process reserves it first), both names get
// " (2)", " (3)" ... before their extension. On failure (the folder cannot be written) the
// names are still given, so the log can be tried, and *error says why.
RunFiles ReserveRunFiles(const QString &folder, const QDateTime &start, QString *error = nullptr);

// The journal of one run, written as it goes: one JSON object per line, UTF-8, LF. Each
// record (or group of records) goes to the file in a single write as soon as it is made, so
// a process that is killed leaves every record (the kernel keeps what was written) but possibly a
// torn last line, which the reader ignores. Against a machine that goes down, sync() makes the
// records durable (fdatasync). finish() adds the end record: with it the journal is known to be
// whole. A journal that cannot be written costs only the journal: error() says why, and the
// run goes on.
class RunJournal
{
public:
    RunJournal() = default;
    ~RunJournal();
    RunJournal(const RunJournal &) = delete;
    RunJournal &operator=(const RunJournal &) = delete;

    // Opens (creating or appending to) the file and writes the header.
    bool start(const QString &path, const JournalHeader &header);
    void record(const JournalRecord &record);
    void record(int line, const QString &text, JournalState state, int batch = 0,
        const QString &reply = QString());
    // The outcome of a BCC batch, once for all its lines: those whose last record is
    // `trying` in it (ReadJournal gives each of them a record of its own).
    void recordBatch(int batch, JournalState state, const QString &reply = QString());
    // The records made between these two go to the file in one write, as a batch's do.
    void beginGroup() { m_grouping = true; }
    void endGroup();
    // Makes every record written so far durable before it returns.
    bool sync();
    void finish();

    bool isOpen() const { return m_fd >= 0 && !m_failed; }
    const QString &path() const { return m_path; }
    const QString &error() const { return m_error; }

    // The bytes of one record's line, with its LF; fixed key order, so journals compare.
    static QByteArray encode(const JournalRecord &record);
    static QByteArray encode(const JournalHeader &header);
    static QByteArray encodeBatch(int batch, JournalState state, const QString &reply);
    static QByteArray endRecord();

private:
    bool write(const QByteArray &bytes);

    int m_fd = -1;
    bool m_failed = false; // a write or flush failed: nothing more is written
    QString m_path;
    QString m_error;
    bool m_grouping = false;
    QByteArray m_group;
};

// A journal read back.
struct Journal
{
    JournalHeader header;
    QList<JournalRecord> records;
    bool torn = false; // the last line was cut off (the writer was killed in it)
    bool complete = false; // it has its end record: the run ended, and nothing is missing
    // The machine has been restarted since the run (or the header names no boot): records
    // written last may have been lost with it, unless the journal is complete.
    bool restarted = false;

    // Each line's last record, by line number, in line order. A `Planned` one is dropped
    // (the line was not tried), or, when the machine went down during the run (restarted and
    // not complete), it counts as `Trying`.
    QList<JournalRecord> finalRecords() const;
    // Whether finalRecords() counts planned lines as possibly delivered.
    bool plannedMayHaveGone() const { return restarted && !complete; }
};

// Reads a journal. A cut-off last line is dropped (and `torn` set); any other line that is
// not a record, a missing or foreign header, or a newer format is an error naming its line.
// A batch's outcome becomes a record for each line that was trying in that batch.
bool ReadJournal(const QString &path, Journal *journal, QString *error);

} // namespace kolporta::delivery
