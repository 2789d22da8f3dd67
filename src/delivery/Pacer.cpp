#include "delivery/Pacer.h"

#include "delivery/RunJournal.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSet>

#include <algorithm>

namespace kolporta::delivery {

namespace {

constexpr qint64 Minute = 60 * 1000;
constexpr qint64 Hour = 60 * Minute;
constexpr qint64 Day = 24 * Hour;

qint64 steadyNow()
{
    static QElapsedTimer timer = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return timer.elapsed();
}

} // namespace

Pacer::Pacer(const PaceLimits &limits, Clock clock)
    : m_limits(limits)
    , m_clock(clock ? std::move(clock) : Clock(steadyNow))
{
    m_keepMs = limits.perDay > 0 ? Day
        : limits.perHour > 0     ? Hour
        : limits.perMinute > 0   ? Minute
                                 : 0;
}

int Pacer::startsWithin(qint64 windowMs, qint64 now) const
{
    const auto first = std::upper_bound(m_starts.begin(), m_starts.end(), now - windowMs);
    return int(m_starts.end() - first);
}

qint64 Pacer::waitMs() const
{
    const qint64 t = now();
    qint64 wait = 0;
    if (m_limits.minDelayMs > 0 && m_count > 0)
        wait = std::max(wait, m_last + m_limits.minDelayMs - t);
    const struct
    {
        int limit;
        qint64 window;
    } windows[] = {{m_limits.perMinute, Minute}, {m_limits.perHour, Hour}};
    for (const auto &w : windows) {
        if (w.limit <= 0 || startsWithin(w.window, t) < w.limit)
            continue;
        // The start that must leave the window: the limit-th most recent one.
        const qint64 leaving = m_starts.at(m_starts.size() - size_t(w.limit));
        wait = std::max(wait, leaving + w.window - t);
    }
    return wait;
}

bool Pacer::dayLimitReached() const
{
    return m_limits.perDay > 0
        && qint64(m_earlier) + startsWithin(Day, now()) >= qint64(m_limits.perDay);
}

void Pacer::started()
{
    const qint64 t = now();
    ++m_count;
    m_last = t;
    if (m_keepMs == 0)
        return;
    m_starts.push_back(t);
    while (!m_starts.empty() && m_starts.front() <= t - m_keepMs)
        m_starts.pop_front();
}

QString Pacer::waitText(qint64 ms)
{
    const qint64 seconds = (std::max<qint64>(ms, 0) + 999) / 1000;
    return QStringLiteral("čekám %1 s: limit serveru").arg(seconds);
}

int TransactionsOfDay(const QString &logFolder, const QString &profile, const QDate &day,
    const QString &except, QStringList *unread)
{
    const QDir dir(logFolder);
    const QString pattern = QStringLiteral("Kolporta ") + day.toString(QStringLiteral("yyyy-MM-dd"))
        + QStringLiteral(" *.journal");
    const QString skip = except.isEmpty() ? QString() : QFileInfo(except).absoluteFilePath();
    int count = 0;
    for (const QFileInfo &file : dir.entryInfoList({pattern}, QDir::Files, QDir::Name)) {
        if (file.absoluteFilePath() == skip)
            continue;
        Journal journal;
        QString error;
        if (!ReadJournal(file.absoluteFilePath(), &journal, &error)) {
            if (unread)
                unread->append(error);
            continue;
        }
        // A mail-program run names no profile.
        if (journal.header.profile.isEmpty()
            || journal.header.profile.compare(profile, Qt::CaseInsensitive) != 0)
            continue;
        QSet<int> batches;
        for (const JournalRecord &r : journal.finalRecords()) {
            if (r.earlier)
                continue;
            if (r.state != JournalState::Sent && r.state != JournalState::Trying
                && r.state != JournalState::Uncertain)
                continue;
            if (journal.header.bcc)
                batches.insert(r.batch);
            else
                ++count;
        }
        count += int(batches.size());
    }
    return count;
}

} // namespace kolporta::delivery
