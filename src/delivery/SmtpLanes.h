#pragma once

#include "delivery/SmtpSession.h"

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QWaitCondition>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

class QThread;

namespace kolporta::delivery {

// One SMTP transaction for a lane: a message to one address line, or a BCC batch.
struct LaneJob
{
    int id = 0;
    bool bcc = false;
    QList<int> indexes; // the address lines, in list order
    QStringList lines;
    QStringList recipients; // each line's address in its transport form
    // The lines that cannot go (the address needs SMTPUTF8, which the message goes
    // without): they count as refused, and the server hears nothing of them.
    QList<bool> held;
    QString sender; // in its transport form
    QList<QByteArray> message; // the encoded lines, not yet dot-stuffed
    qint64 size = 0;
    bool smtpUtf8 = false;
    // A 4xx reply to MAIL FROM, RCPT TO or the data defers the line rather than refusing it.
    bool mayDefer = false;
};

// What became of a LaneJob.
struct LaneResult
{
    enum class Stage {
        Sent, // the server took the message for the accepted addresses
        SenderRefused, // MAIL FROM refused
        NoneAccepted, // every address refused (or deferred): the message did not go
        DataRefused, // DATA or the end of data refused
        Error, // an error of the session's own, with its text in `reply`
        Failed, // the connection was lost and could not be made again in time
        Uncertain, // lost after the end-of-data "."
        Deferred, // a 4xx to MAIL FROM or the data: every line that was not refused waits
    };
    int id = 0;
    Stage stage = Stage::Failed;
    // Per line of the job: RCPT TO's reply code (0: not given), and whether it was deferred.
    QList<int> rcpt;
    QList<bool> deferred;
    bool tried = false; // the end of data went out
    bool afterEnd = false; // the failure came at the end of data
    QString reply; // the server's reply, or the error
    bool gaveUp = false; // the lane gave up on the server: the run stops
    bool cancelled = false; // a reopening was cancelled

    bool accepted(qsizetype k) const { return rcpt.value(k) == 250 && !deferred.value(k); }
};

// The SMTP sessions of a run that spreads its transactions over several connections, each a
// thread that waits for the server on its own. The run hands out jobs and takes back their
// results in the order they finish; it never waits on a session itself. Every session is
// opened, logged in and closed normally, and one that is lost is opened again by the
// lost-connection rules (SmtpConnection) while the others go on.
class SmtpLanes
{
public:
    // Makes one lane's session; its status lines go to `status`, from the lane's thread.
    using StatusSink = std::function<void(const QString &line)>;
    using SessionFactory = std::function<std::unique_ptr<SmtpSession>(const StatusSink &status)>;

    // An event for the run, in the order the lanes made them.
    struct Event
    {
        enum class Kind { Result, BeforeEnd, Status };
        Kind kind = Kind::Result;
        LaneResult result;
        // BeforeEnd: right before the end of data of job `result.id`, the lines whose
        // address the server accepted. The run records them as trying, then release()s.
        QList<int> indexes;
        QString status; // Status
    };

    SmtpLanes(int count, SessionFactory factory, QList<int> reconnectDelaysMs);
    ~SmtpLanes();
    SmtpLanes(const SmtpLanes &) = delete;
    SmtpLanes &operator=(const SmtpLanes &) = delete;

    // Opens the first lane's session and waits for it, pumping `pump` meanwhile. False when
    // it did not open; then *error says why and *loginFailed whether the log-in failed.
    bool openFirst(const std::function<void()> &pump, QString *error, bool *loginFailed);
    // Whether the first session offered SMTPUTF8 (all go to the same server).
    bool offersSmtpUtf8() const { return m_smtpUtf8; }

    int count() const { return int(m_lanes.size()); }
    int busy() const { return m_busy; }
    bool hasFreeLane() const { return m_busy < count(); }
    void dispatch(LaneJob job);

    // Waits up to `ms` for events and takes them; a status line may come from any lane.
    std::deque<Event> takeEvents(int ms);
    // Answers a BeforeEnd event: the lane may send its end of data.
    void release(int jobId);
    // Set from the run's thread; lanes look at them while they wait.
    void setCancelled(bool on);
    void setWaitsCancelled(bool on) { m_waitsCancelled = on; }
    bool waitsCancelled() const { return m_waitsCancelled; }

    // Closes every session (QUIT) and ends the threads.
    void finish();

private:
    class Lane;
    void post(Event event);
    // On a lane: waits for release(id), or for the end.
    void awaitRelease(int id);

    std::vector<std::unique_ptr<Lane>> m_lanes;
    QMutex m_mutex;
    QWaitCondition m_toLanes;
    QWaitCondition m_toRun;
    std::deque<LaneJob> m_jobs; // waiting for a lane
    std::deque<Event> m_events;
    QList<int> m_released;
    bool m_quit = false;
    std::atomic<bool> m_cancelled {false};
    std::atomic<bool> m_waitsCancelled {false};
    int m_busy = 0; // jobs handed out and not yet back (the run's thread only)
    bool m_smtpUtf8 = false;
    bool m_finished = false;
};

} // namespace kolporta::delivery
