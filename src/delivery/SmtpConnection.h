#pragma once

#include "delivery/SmtpSession.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>

namespace kolporta::delivery {

class SendRunHost;

// One SMTP session of a send run, and its keeping: whether it is open, opening it again
// after it was lost (waiting before each attempt: 1, 5 and 15 s by default), and giving up on
// the server after MaxRetries openings in a row failed. A session that did not complete its
// opening is never used. Each transaction counts its own retries, so none is tried more
// than MaxRetries times again.
class SmtpConnection
{
public:
    static constexpr int MaxRetries = 3;

    enum class Recovery {
        Reopened, // a new session is open: the transaction may go again
        RetriesUsed, // the transaction has had its retries; it fails, the run goes on
        Cancelled, // the user cancelled; no new connection is made for that
        GaveUp, // MaxRetries openings in a row failed
    };

    // How the waits before a reopening are spent: `cancelled` says whether the user
    // cancelled, and `wait` waits the milliseconds given, false when a cancel ended it.
    struct Waits
    {
        std::function<bool()> cancelled;
        std::function<bool(int ms)> wait;
    };

    // Waits that keep the host's program alive meanwhile.
    SmtpConnection(std::unique_ptr<SmtpSession> session, SendRunHost &host, QList<int> delaysMs);
    SmtpConnection(std::unique_ptr<SmtpSession> session, Waits waits, QList<int> delaysMs);

    SmtpSession &session() { return *m_session; }
    bool isOpen() const { return m_open; }
    // Why the session was lost, or why it did not open.
    const QString &error() const { return m_error; }

    // Opens the session; a failure counts toward giving up.
    bool open();
    // Closes and opens again at once, as the run does after some refusals. A failure leaves
    // the session closed; the next transaction opens it with the waits of recover().
    void reopen();
    // After a failed operation: whether it lost the session rather than being refused.
    bool lost();
    // Opens the session again after a loss, for a transaction that has been retried
    // *attempts times so far.
    Recovery recover(int *attempts);
    void close();

private:
    bool waitBefore(int attempt);

    std::unique_ptr<SmtpSession> m_session;
    Waits m_waits;
    QList<int> m_delaysMs;
    bool m_open = false;
    int m_failedOpenings = 0; // in a row
    QString m_error;
};

} // namespace kolporta::delivery
