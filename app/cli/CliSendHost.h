#pragma once

#include "delivery/SendRunHost.h"
#include "project/LineList.h"

#include <QElapsedTimer>
#include <QString>
#include <QStringList>

namespace kolporta::cli {

// The send run's host for kolporta-cli: the project's fields stand in for the window's
// controls, send-log lines go to stdout, status lines and error boxes to stderr, and
// SIGINT/SIGTERM stand in for the progress window's button. When stderr is a terminal a
// progress line (count, rate, time left) is kept at its bottom.
class CliSendHost : public delivery::SendRunHost
{
public:
    CliSendHost(project::LineList lines, QString sender, QString subject, QString profile);
    ~CliSendHost() override;

    // SIGINT and SIGTERM request a cancel from now on; a second one ends the process, and
    // so does a watchdog when the run has not ended within 2 s of the first.
    static void installSignalHandlers();

    int lineCount() const override { return int(m_lines.size()); }
    QString addressLine(int index) const override;
    QString sender() const override { return m_sender; }
    QString subject() const override { return m_subject; }
    QString profileName() const override { return m_profile; }
    bool cancelRequested() const override;
    bool waitsCancelled() const override { return cancelRequested(); }
    // One run per process: a signal that came before the run started still counts.
    void clearCancelRequested() override { }

    void setProgressMaximum(int) override { }
    void setProgressPosition(int) override { }
    void setTitle(const QString &) override { }
    void showWaiting(const QString &text) override;
    void moveCaretToLine(int index) override;
    void processEvents() override;
    void showErrorBox(const QString &text, const QString &caption) override;
    void showGeneralError(const QString &text) override;
    void showProgressWindow() override;
    void closeProgressWindow() override;
    void statusLine(const QString &line) override;
    void sendLogLine(const QString &line) override;

    void setShowProgress(bool on) { m_showProgress = on; }

private:
    void errorLine(const QString &text);
    void drawProgress(bool force);
    void clearProgress();

    project::LineList m_lines;
    QString m_sender;
    QString m_subject;
    QString m_profile;
    bool m_showProgress = false;
    bool m_outputOnTerminal = false; // stdout is a terminal too (usually stderr's)
    bool m_progressShown = false;
    QString m_waiting; // the pacing wait, shown in the progress line
    int m_done = 0; // address lines handled (the caret has been on them)
    int m_index = -1;
    QElapsedTimer m_clock;
    qint64 m_lastDraw = -1;
    qint64 m_lastPump = -1;
};

} // namespace kolporta::cli
