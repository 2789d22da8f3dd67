#pragma once

#include <QDate>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>

namespace kolporta::delivery {

// The limits of an SMTP profile on how fast a run may start transactions (a message, or a
// BCC batch). 0 means no limit.
struct PaceLimits
{
    int perMinute = 0;
    int perHour = 0;
    int perDay = 0;
    int minDelayMs = 0; // the least time between the starts of two transactions

    bool any() const { return perMinute > 0 || perHour > 0 || perDay > 0 || minDelayMs > 0; }
};

// Keeps a run within its provider's quotas: no more transaction starts in any sliding minute,
// hour or day than the limits allow, and at least minDelayMs between two starts, whatever
// connection they go over. A window holds the starts of the last W milliseconds, not counting
// one exactly W ago. The transactions of earlier runs that day count toward the day's limit;
// once it is used up the run is to stop (the quota frees only hours later), where the other
// limits make it wait. The clock is injected, in milliseconds of a steady clock.
class Pacer
{
public:
    using Clock = std::function<qint64()>;

    explicit Pacer(const PaceLimits &limits, Clock clock = {});

    void setEarlierToday(int transactions) { m_earlier = transactions; }

    // How long the next transaction must wait before it may start, in milliseconds: 0 now.
    qint64 waitMs() const;
    // Whether the day's limit is used up: no more transactions today.
    bool dayLimitReached() const;
    // A transaction starts now.
    void started();
    int startedCount() const { return m_count; }

    // "čekám 42 s: limit serveru", for a wait of 41.2 s.
    static QString waitText(qint64 ms);

private:
    int startsWithin(qint64 windowMs, qint64 now) const;
    qint64 now() const { return m_clock(); }

    PaceLimits m_limits;
    Clock m_clock;
    qint64 m_keepMs = 0; // the longest window a limit needs
    std::deque<qint64> m_starts; // within m_keepMs, oldest first
    qint64 m_last = 0; // the latest start
    int m_earlier = 0;
    int m_count = 0;
};

// The transactions that earlier runs with SMTP profile `profile` (compared without regard to
// case, as smtp.ini's sections are) started on `day`, read from the journals in `logFolder`
// that are named for that day: one per line sent (or possibly sent: "trying", "uncertain"),
// or per BCC batch holding such a line. Lines a resumed run took over from an earlier journal
// are counted in that journal only. `except` (a path) is left out: the run's own journal. A
// journal that cannot be read cannot be counted; its path and why go to *unread.
int TransactionsOfDay(const QString &logFolder, const QString &profile, const QDate &day,
    const QString &except = QString(), QStringList *unread = nullptr);

} // namespace kolporta::delivery
