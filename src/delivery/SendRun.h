#pragma once

#include "delivery/LineOutcome.h"
#include "delivery/RerunPlan.h"
#include "delivery/RunJournal.h"
#include "delivery/SendLog.h"
#include "project/LineList.h"
#include "settings/SmtpProfile.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace kolporta::delivery {

class MailObject;
class SendRunHost;
class SmtpSession;

// The values a run fixes when it starts, taken from the project (the window's controls).
struct SendRunSettings
{
    int route = -1; // 0 SMTP, k >= 1 mail program k - 1, -1 nothing selected
    bool sendAsBcc = false;
    QString batchSizeText = QStringLiteral("50");
    QString body; // the whole body text, lines joined by CR LF
    bool htmlBody = false;
    QStringList pictures; // the pictures of an HTML body
    QStringList files; // the file attachments

    // For the run journal's header: the route's text ("SMTP" or the mail program's name) and
    // the project file's absolute path ("" for an untitled project).
    QString routeName;
    QString projectPath;
    // Whether the run writes a journal beside its log file; it never does without one.
    bool journal = true;
    // The address list as the run starts, when known (see RunJournal): the journal then
    // records a little ahead which lines the run will send, so that no message waits for a
    // disk flush of its own. A line that reads otherwise when its turn comes is flushed for
    // itself. Empty: every message waits for its own flush.
    project::LineList addressLines;

    // A run that continues an earlier one (see PrepareRerun): the lines whose `sends` entry
    // is false are passed over without a message, a log line or an outcome, and the records
    // carried over go into the journal right after its header. Empty: every line is sent.
    RerunPlan rerun;
    QString resumes; // the journal continued, for the header

    // A test send: exactly one message, to this address only (envelope and To), built as
    // for the address line at testLine (from 0), with its macros. No journal is written,
    // and the log's first line says it was a test.
    QString testAddress;
    int testLine = 0;
};

struct SendRunResult
{
    enum class Status {
        Finished, // the route wrote "--- odesilani ukonceno ---"
        NoRoute, // route -1: nothing sent, nothing logged
        ConnectFailed, // the SMTP connection did not open, at the start or again after a loss
        Error, // an error ended the run early; `error` holds its text
        Busy, // another run is going; this one did not start
    };
    Status status = Status::NoRoute;
    QString error;
    int lines = 0; // the address lines the run was to go through
    int passedOver = 0; // the lines an earlier run had settled (SendRunSettings::rerun)
    LineCounts counts; // the outcomes of the lines it reached

    // The run reached its end and every line has an outcome (a cancel may still have come
    // after the last one).
    bool everyLineTried() const { return status == Status::Finished && counts.total() == lines; }
};

// One send run, in any of the four modes (SMTP or a mail program, BCC batches or one
// message per address line). It reads and shows everything through a SendRunHost, writes
// the dated send log, and gets its SMTP session from a factory so that a dry run or a test
// can put its own in place of the socket client. All work is done on the calling thread;
// run() returns when the run has ended. Only one run goes at a time in a process: the host
// pumps events while it runs, and a run started from inside them is refused.
class SendRun
{
public:
    using SessionFactory
        = std::function<std::unique_ptr<SmtpSession>(const settings::SmtpProfile &profile)>;

    explicit SendRun(SendRunHost *host);
    ~SendRun();
    SendRun(const SendRun &) = delete;
    SendRun &operator=(const SendRun &) = delete;

    // Default: the SMTP client (SmtpClient), its status lines going to the host.
    void setSessionFactory(SessionFactory factory) { m_sessionFactory = std::move(factory); }
    // The program's mail object; when none is set, a run on a mail-program route makes one
    // from LoadMailPrograms(). Not owned.
    void setMailObject(MailObject *mail) { m_mail = mail; }
    // The clock that names the log file. Default: the local time.
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }
    // The folder of the log files (default: the Log folder of the home folder); an empty
    // text writes no log file at all.
    void setLogFolder(const QString &folder);
    // The waits before the reopen attempts after a lost SMTP connection, in milliseconds.
    // Default: 1, 5 and 15 s; there are never more than three attempts.
    void setReconnectDelays(const QList<int> &milliseconds) { m_reconnectDelays = milliseconds; }
    // The steady clock, in milliseconds, of the pacing and of the waits before a deferred
    // line is tried again. Default: the system's.
    void setSteadyClock(std::function<qint64()> clock) { m_steadyClock = std::move(clock); }
    // One session, one command at a time, unpaced and without deferred retries, whatever the
    // profile says (a dry run has no server to be fast with or kind to).
    void setPlainSessions(bool plain) { m_plainSessions = plain; }

    SendRunResult run(const SendRunSettings &settings);

    static bool isRunning();
    const SendLog &log() const { return m_log; }
    // The journal of the last run, "" when it wrote none.
    const QString &journalPath() const { return m_journalPath; }

    // The batch size the text gives: a whole number, else 50; at least 1.
    static int batchSizeFromText(const QString &text);

    static const QString &busyText();

private:
    class Run;
    SendRunHost *m_host;
    SessionFactory m_sessionFactory;
    MailObject *m_mail = nullptr;
    std::function<QDateTime()> m_clock;
    QString m_logFolder;
    bool m_logFolderSet = false;
    QList<int> m_reconnectDelays {1000, 5000, 15000};
    std::function<qint64()> m_steadyClock;
    bool m_plainSessions = false;
    SendLog m_log;
    QString m_journalPath;
};

// The journal header of a run with these settings, as read from the host at its start.
JournalHeader RunJournalHeader(const SendRunSettings &settings, const SendRunHost &host);

} // namespace kolporta::delivery
