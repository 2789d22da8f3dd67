#include "delivery/SmtpLanes.h"

#include "delivery/SmtpConnection.h"

#include <QDeadlineTimer>
#include <QThread>

namespace kolporta::delivery {

namespace {

bool temporary(int code)
{
    return code >= 400 && code < 500;
}

} // namespace

// One connection and the thread that speaks over it.
class SmtpLanes::Lane
{
public:
    Lane(SmtpLanes &owner, std::unique_ptr<SmtpSession> session, QList<int> delaysMs)
        : m_owner(owner)
    {
        SmtpConnection::Waits waits {[&owner] { return owner.m_cancelled.load(); },
            [&owner](int ms) {
                const QDeadlineTimer deadline(ms);
                QMutexLocker lock(&owner.m_mutex);
                while (!owner.m_cancelled && !owner.m_quit && !deadline.hasExpired())
                    owner.m_toLanes.wait(&owner.m_mutex, deadline);
                return !owner.m_cancelled;
            }};
        session->setCancelCheck([&owner] { return owner.m_waitsCancelled.load(); });
        m_conn = std::make_unique<SmtpConnection>(
            std::move(session), std::move(waits), std::move(delaysMs));
    }

    void start(bool openNow)
    {
        m_openNow = openNow;
        m_thread = QThread::create([this] { loop(); });
        m_thread->start();
    }
    void join()
    {
        if (m_thread) {
            m_thread->wait();
            delete m_thread;
            m_thread = nullptr;
        }
    }

    // The first opening's outcome: 0 while it goes, 1 open, -1 failed.
    int opened = 0;
    QString openError;
    bool loginFailed = false;
    bool smtpUtf8 = false;

private:
    void loop();
    LaneResult execute(const LaneJob &job);
    bool session(); // an open session for the next transaction

    SmtpLanes &m_owner;
    std::unique_ptr<SmtpConnection> m_conn;
    QThread *m_thread = nullptr;
    bool m_openNow = false;
    bool m_triedOpen = false;
    bool m_gaveUp = false;
    int m_attempts = 0; // of the transaction under way
};

void SmtpLanes::Lane::loop()
{
    if (m_openNow) {
        m_triedOpen = true;
        const bool ok = m_conn->open();
        QMutexLocker lock(&m_owner.m_mutex);
        opened = ok ? 1 : -1;
        openError = m_conn->error();
        loginFailed = m_conn->session().loginFailed();
        smtpUtf8 = ok && m_conn->session().offersSmtpUtf8();
        m_owner.m_toRun.wakeAll();
    }
    for (;;) {
        LaneJob job;
        {
            QMutexLocker lock(&m_owner.m_mutex);
            while (!m_owner.m_quit && m_owner.m_jobs.empty())
                m_owner.m_toLanes.wait(&m_owner.m_mutex);
            if (m_owner.m_jobs.empty())
                break;
            job = std::move(m_owner.m_jobs.front());
            m_owner.m_jobs.pop_front();
        }
        Event event;
        if (m_gaveUp) {
            // The run stops once a lane gave up; a job it still took fails at once.
            event.result.id = job.id;
            event.result.rcpt.fill(0, job.lines.size());
            event.result.deferred.fill(false, job.lines.size());
            event.result.reply = m_conn->error();
            event.result.gaveUp = true;
        } else {
            event.result = execute(job);
            m_gaveUp = event.result.gaveUp;
        }
        m_owner.post(std::move(event));
    }
    // The session goes in the thread that used its socket.
    if (m_conn->isOpen())
        m_conn->close();
    m_conn.reset();
}

// A lane opens its session when its first job comes; one that does not open, or is lost,
// is opened again by the lost-connection rules, with the waits between the attempts.
bool SmtpLanes::Lane::session()
{
    if (m_conn->isOpen())
        return true;
    if (!m_triedOpen) {
        m_triedOpen = true;
        if (m_conn->open())
            return true;
    }
    return false;
}

LaneResult SmtpLanes::Lane::execute(const LaneJob &job)
{
    LaneResult r;
    r.id = job.id;
    r.rcpt.fill(0, job.lines.size());
    r.deferred.fill(false, job.lines.size());
    SmtpSession &smtp = m_conn->session();
    m_attempts = 0;
    for (;;) {
        if (!session()) {
            const SmtpConnection::Recovery recovery = m_conn->recover(&m_attempts);
            if (recovery != SmtpConnection::Recovery::Reopened) {
                r.rcpt.fill(0);
                r.deferred.fill(false);
                r.stage = LaneResult::Stage::Failed;
                r.reply = m_conn->error();
                r.gaveUp = recovery == SmtpConnection::Recovery::GaveUp;
                r.cancelled = recovery == SmtpConnection::Recovery::Cancelled;
                return r;
            }
        }
        // Addresses that cannot go are left out; the server hears nothing of them.
        QStringList given;
        QList<qsizetype> from;
        for (qsizetype k = 0; k < job.recipients.size(); ++k) {
            if (job.held.value(k))
                continue;
            given.append(job.recipients.at(k));
            from.append(k);
        }
        TransactionReplies replies;
        const bool ok = smtp.startTransaction(job.sender, job.size, given, &replies, job.smtpUtf8);
        if (!ok && m_conn->lost())
            continue; // before the data: the transaction goes again on a new connection
        r.rcpt.fill(0);
        r.deferred.fill(false);
        for (qsizetype g = 0; g < from.size(); ++g) {
            const int code = replies.rcpt.value(g);
            r.rcpt[from.at(g)] = code;
            r.deferred[from.at(g)] = job.mayDefer && replies.senderAccepted() && temporary(code);
        }
        if (!ok) {
            r.reply = smtp.lastReplyText();
            if (!replies.senderAccepted()) {
                r.stage = LaneResult::Stage::SenderRefused;
                if (job.mayDefer && temporary(replies.mail)) {
                    r.stage = LaneResult::Stage::Deferred;
                    for (const qsizetype k : std::as_const(from))
                        r.deferred[k] = true;
                }
                return r; // no transaction stands on the server: the session goes on
            }
            const bool any = replies.anyAccepted();
            if (any && job.mayDefer && temporary(replies.data)) {
                r.stage = LaneResult::Stage::Deferred;
                for (qsizetype k = 0; k < r.rcpt.size(); ++k)
                    r.deferred[k] = r.deferred.at(k) || r.rcpt.at(k) == 250;
            } else
                r.stage = any ? LaneResult::Stage::DataRefused : LaneResult::Stage::NoneAccepted;
            // A refused address or DATA command: the next transaction starts on a new
            // connection, so nothing of this one can stay open on the server.
            m_conn->reopen();
            return r;
        }
        QString error;
        if (!smtp.sendMessageLines(job.message, &error)) {
            if (error.isEmpty() && m_conn->lost())
                continue;
            r.reply = error.isEmpty() ? smtp.lastReplyText() : error;
            r.stage = !error.isEmpty()                            ? LaneResult::Stage::Error
                : job.mayDefer && temporary(smtp.lastReplyCode()) ? LaneResult::Stage::Deferred
                                                                  : LaneResult::Stage::DataRefused;
            if (r.stage == LaneResult::Stage::Deferred)
                for (qsizetype k = 0; k < r.rcpt.size(); ++k)
                    r.deferred[k] = r.rcpt.at(k) == 250;
            if (r.stage != LaneResult::Stage::Error || job.bcc)
                m_conn->reopen();
            return r;
        }
        // From the "." on the message may have been delivered: the run notes it first.
        Event before;
        before.kind = Event::Kind::BeforeEnd;
        before.result.id = job.id;
        for (qsizetype k = 0; k < r.rcpt.size(); ++k)
            if (r.rcpt.at(k) == 250)
                before.indexes.append(job.indexes.at(k));
        m_owner.post(std::move(before));
        m_owner.awaitRelease(job.id);
        r.tried = true;
        r.afterEnd = true;
        if (smtp.sendEndOfData(&error)) {
            r.stage = LaneResult::Stage::Sent;
            r.reply = smtp.lastReplyText();
            return r;
        }
        if (!error.isEmpty()) {
            r.stage = LaneResult::Stage::Error;
            r.reply = error;
            if (job.bcc)
                m_conn->reopen();
            return r;
        }
        if (m_conn->lost()) {
            // 421: the server did not take the message; anything else may have delivered it.
            if (smtp.lastReplyCode() == 421)
                continue;
            r.stage = LaneResult::Stage::Uncertain;
            r.reply = m_conn->error();
            return r;
        }
        r.reply = smtp.lastReplyText();
        if (job.mayDefer && temporary(smtp.lastReplyCode())) {
            r.stage = LaneResult::Stage::Deferred;
            for (qsizetype k = 0; k < r.rcpt.size(); ++k)
                r.deferred[k] = r.rcpt.at(k) == 250;
        } else {
            r.stage = LaneResult::Stage::DataRefused;
        }
        return r;
    }
}

SmtpLanes::SmtpLanes(int count, SessionFactory factory, QList<int> reconnectDelaysMs)
{
    const StatusSink sink = [this](const QString &line) {
        Event event;
        event.kind = Event::Kind::Status;
        event.status = line;
        post(std::move(event));
    };
    for (int i = 0; i < count; ++i) {
        std::unique_ptr<SmtpSession> session = factory(sink);
        if (!session)
            break;
        m_lanes.push_back(std::make_unique<Lane>(*this, std::move(session), reconnectDelaysMs));
    }
}

SmtpLanes::~SmtpLanes()
{
    finish();
}

bool SmtpLanes::openFirst(const std::function<void()> &pump, QString *error, bool *loginFailed)
{
    if (m_lanes.empty()) {
        *error = QString();
        *loginFailed = false;
        return false;
    }
    for (size_t i = 0; i < m_lanes.size(); ++i)
        m_lanes[i]->start(i == 0);
    Lane &first = *m_lanes.front();
    for (;;) {
        {
            QMutexLocker lock(&m_mutex);
            if (first.opened == 0)
                m_toRun.wait(&m_mutex, 50);
            if (first.opened != 0) {
                *error = first.openError;
                *loginFailed = first.loginFailed;
                m_smtpUtf8 = first.smtpUtf8;
                return first.opened > 0;
            }
        }
        pump();
    }
}

void SmtpLanes::dispatch(LaneJob job)
{
    ++m_busy;
    QMutexLocker lock(&m_mutex);
    m_jobs.push_back(std::move(job));
    m_toLanes.wakeAll();
}

std::deque<SmtpLanes::Event> SmtpLanes::takeEvents(int ms)
{
    std::deque<Event> events;
    {
        QMutexLocker lock(&m_mutex);
        if (m_events.empty() && ms > 0)
            m_toRun.wait(&m_mutex, ms);
        events.swap(m_events);
    }
    for (const Event &e : events)
        if (e.kind == Event::Kind::Result)
            --m_busy;
    return events;
}

void SmtpLanes::release(int jobId)
{
    QMutexLocker lock(&m_mutex);
    m_released.append(jobId);
    m_toLanes.wakeAll();
}

void SmtpLanes::awaitRelease(int id)
{
    QMutexLocker lock(&m_mutex);
    while (!m_released.contains(id) && !m_quit)
        m_toLanes.wait(&m_mutex);
    m_released.removeOne(id);
}

void SmtpLanes::post(Event event)
{
    QMutexLocker lock(&m_mutex);
    m_events.push_back(std::move(event));
    m_toRun.wakeAll();
}

void SmtpLanes::setCancelled(bool on)
{
    QMutexLocker lock(&m_mutex);
    m_cancelled = on;
    m_toLanes.wakeAll();
}

void SmtpLanes::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    {
        QMutexLocker lock(&m_mutex);
        m_quit = true;
        m_toLanes.wakeAll();
    }
    for (const std::unique_ptr<Lane> &lane : m_lanes)
        lane->join();
}

} // namespace kolporta::delivery
