#include "delivery/SmtpConnection.h"

#include "delivery/SendRunHost.h"

#include <QDeadlineTimer>
#include <QThread>

namespace kolporta::delivery {

namespace {

// The program stays alive meanwhile, and a cancel ends the wait at once (false).
bool waitPumping(SendRunHost &host, int ms)
{
    const QDeadlineTimer deadline(ms);
    for (;;) {
        host.processEvents();
        if (host.cancelRequested())
            return false;
        if (deadline.hasExpired())
            return true;
        QThread::msleep(ulong(qBound(qint64(1), deadline.remainingTime(), qint64(50))));
    }
}

} // namespace

SmtpConnection::SmtpConnection(
    std::unique_ptr<SmtpSession> session, SendRunHost &host, QList<int> delaysMs)
    : SmtpConnection(std::move(session),
        Waits {[&host] { return host.cancelRequested(); },
            [&host](int ms) { return waitPumping(host, ms); }},
        std::move(delaysMs))
{ }

SmtpConnection::SmtpConnection(
    std::unique_ptr<SmtpSession> session, Waits waits, QList<int> delaysMs)
    : m_session(std::move(session))
    , m_waits(std::move(waits))
    , m_delaysMs(std::move(delaysMs))
{ }

bool SmtpConnection::open()
{
    m_open = m_session->open();
    if (m_open) {
        m_failedOpenings = 0;
        m_error.clear();
        return true;
    }
    ++m_failedOpenings;
    m_error = m_session->lastError();
    if (m_error.isEmpty())
        m_error = QStringLiteral("Nepodařilo se připojit k SMTP serveru");
    return false;
}

void SmtpConnection::reopen()
{
    m_session->close();
    open();
}

bool SmtpConnection::lost()
{
    if (m_session->isOpen())
        return false;
    m_open = false;
    m_error = m_session->lastError();
    if (m_error.isEmpty())
        m_error = QStringLiteral("Spojení se serverem bylo ztraceno");
    return true;
}

SmtpConnection::Recovery SmtpConnection::recover(int *attempts)
{
    while (*attempts < MaxRetries) {
        if (m_waits.cancelled() || !waitBefore(*attempts))
            return Recovery::Cancelled;
        ++*attempts;
        if (open())
            return Recovery::Reopened;
        if (m_failedOpenings >= MaxRetries)
            return Recovery::GaveUp;
    }
    return Recovery::RetriesUsed;
}

bool SmtpConnection::waitBefore(int attempt)
{
    const int ms
        = m_delaysMs.isEmpty() ? 0 : m_delaysMs.at(qMin<qsizetype>(attempt, m_delaysMs.size() - 1));
    return m_waits.wait(ms);
}

void SmtpConnection::close()
{
    m_session->close();
    m_open = false;
}

} // namespace kolporta::delivery
