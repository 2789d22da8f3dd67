#include "CliSendHost.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <sys/time.h>
#include <unistd.h>

namespace kolporta::cli {

namespace {

volatile std::sig_atomic_t g_cancel = 0;

// The run stops by its own rule within about a second wherever it waits for the server.
// Whatever else it may be stuck in (a name lookup, a connection attempt, a mail program)
// must not keep the program past the two seconds a signal promises.
constexpr long WatchdogMs = 1900;

void onWatchdog(int)
{
    static const char note[] = "kolporta-cli: the run did not stop in time; quitting now "
                               "(the send log tells what was sent)\n";
    [[maybe_unused]] ssize_t n = ::write(STDERR_FILENO, note, sizeof note - 1);
    ::_exit(1);
}

void onSignal(int)
{
    g_cancel = 1;
    itimerval watchdog = {};
    watchdog.it_value.tv_sec = WatchdogMs / 1000;
    watchdog.it_value.tv_usec = (WatchdogMs % 1000) * 1000;
    ::setitimer(ITIMER_REAL, &watchdog, nullptr);
    // Whichever of the two signals comes next ends the process (sigaction is
    // async-signal-safe; SA_RESETHAND alone would reset only the one that came).
    struct sigaction byDefault = {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    sigaction(SIGINT, &byDefault, nullptr);
    sigaction(SIGTERM, &byDefault, nullptr);
    static const char note[] = "\nkolporta-cli: stopping the run "
                               "(send the signal again to quit at once)\n";
    // Only async-signal-safe calls here.
    [[maybe_unused]] ssize_t n = ::write(STDERR_FILENO, note, sizeof note - 1);
}

void writeOut(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

QString duration(qint64 seconds)
{
    if (seconds >= 3600)
        return QStringLiteral("%1:%2:%3")
            .arg(seconds / 3600)
            .arg((seconds / 60) % 60, 2, 10, QLatin1Char('0'))
            .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

CliSendHost::CliSendHost(project::LineList lines, QString sender, QString subject, QString profile)
    : m_lines(std::move(lines))
    , m_sender(std::move(sender))
    , m_subject(std::move(subject))
    , m_profile(std::move(profile))
    , m_outputOnTerminal(::isatty(STDOUT_FILENO))
{
    m_clock.start();
}

CliSendHost::~CliSendHost()
{
    clearProgress();
}

void CliSendHost::installSignalHandlers()
{
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // The second signal finds the default action again and ends the process; the send log
    // is flushed line by line, so it still tells what went out.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    struct sigaction watchdog = {};
    watchdog.sa_handler = onWatchdog;
    sigemptyset(&watchdog.sa_mask);
    sigaction(SIGALRM, &watchdog, nullptr);
}

QString CliSendHost::addressLine(int index) const
{
    return index >= 0 && index < m_lines.size() ? m_lines.at(index) : QString();
}

bool CliSendHost::cancelRequested() const
{
    return g_cancel != 0;
}

void CliSendHost::moveCaretToLine(int index)
{
    ++m_done;
    m_index = index;
    drawProgress(false);
}

void CliSendHost::processEvents()
{
    // Nothing here waits for events (the socket blocks, signals set a flag), so the pump
    // runs only now and then rather than costing two system calls per address line.
    const qint64 now = m_clock.elapsed();
    if (m_lastPump >= 0 && now - m_lastPump < 50)
        return;
    m_lastPump = now;
    QCoreApplication::processEvents();
}

void CliSendHost::errorLine(const QString &text)
{
    clearProgress();
    writeOut(stderr, text + QLatin1Char('\n'));
    drawProgress(true);
}

void CliSendHost::showErrorBox(const QString &text, const QString &)
{
    // The box's carriage return (its line break on Windows) would overwrite the line on a
    // terminal; a blank keeps the message on one line.
    QString oneLine = text;
    oneLine.replace(QLatin1Char('\r'), QLatin1Char(' '));
    errorLine(QStringLiteral("Chyba: ") + oneLine);
}

void CliSendHost::showGeneralError(const QString &text)
{
    showErrorBox(text, QString());
}

void CliSendHost::showProgressWindow()
{
    m_clock.restart();
    m_done = 0;
    m_index = -1;
}

void CliSendHost::closeProgressWindow()
{
    clearProgress();
    m_showProgress = false;
}

void CliSendHost::statusLine(const QString &line)
{
    errorLine(line);
}

void CliSendHost::sendLogLine(const QString &line)
{
    // On a terminal shared with the progress line the log line would land behind it.
    const bool shared = m_outputOnTerminal && m_progressShown;
    if (shared)
        clearProgress();
    writeOut(stdout, line + QLatin1Char('\n'));
    if (shared)
        drawProgress(true);
}

void CliSendHost::showWaiting(const QString &text)
{
    m_waiting = text;
    drawProgress(true);
}

void CliSendHost::drawProgress(bool force)
{
    if (!m_showProgress || m_index < 0)
        return;
    const qint64 now = m_clock.elapsed();
    if (!force && m_lastDraw >= 0 && now - m_lastDraw < 200)
        return;
    m_lastDraw = now;
    const int total = lineCount();
    const double seconds = now / 1000.0;
    const double rate = seconds > 0 ? m_done / seconds : 0;
    // Time left from the pace through the list, blank lines included.
    const double linesPerSecond = seconds > 0 ? (m_index + 1) / seconds : 0;
    const int left = qMax(0, total - (m_index + 1));
    const QString eta
        = linesPerSecond > 0 ? duration(qint64(left / linesPerSecond + 0.5)) : QStringLiteral("?");
    writeOut(stderr,
        QStringLiteral("\r%1/%2 lines  %3 addresses  %4/s  ETA %5%6\x1b[K")
            .arg(m_index + 1)
            .arg(total)
            .arg(m_done)
            .arg(rate, 0, 'f', 1)
            .arg(eta)
            .arg(m_waiting.isEmpty() ? QString() : QStringLiteral("  ") + m_waiting));
    m_progressShown = true;
}

void CliSendHost::clearProgress()
{
    if (!m_progressShown)
        return;
    writeOut(stderr, QStringLiteral("\r\x1b[K"));
    m_progressShown = false;
}

} // namespace kolporta::cli
