#pragma once

#include "delivery/LineOutcome.h"

#include <QString>

namespace kolporta::delivery {

// What a send run reads from and shows in the program around it. The run asks for the
// address lines, the sender, the subject, the profile name and the cancel flag afresh each
// time it needs them, because the user may edit them while the run goes; everything it shows
// (progress, title, caret, error boxes) goes back through the same interface. The main
// window, kolporta-cli and the tests each implement it; the core never shows a window.
class SendRunHost
{
public:
    virtual ~SendRunHost() = default;

    // --- read afresh -------------------------------------------------------------------
    virtual int lineCount() const = 0;
    // The address line at `index`, unchanged. An index past the current end reads as "".
    virtual QString addressLine(int index) const = 0;
    virtual QString sender() const = 0; // the sender field as typed
    virtual QString subject() const = 0; // the subject field as typed
    virtual QString profileName() const = 0; // the selected SMTP profile's text, "" for none
    virtual bool cancelRequested() const = 0;
    virtual void clearCancelRequested() = 0;
    // Whether a wait for the SMTP server may be given up (after a grace of a second) rather
    // than waited out. kolporta-cli says yes once a signal asked it to stop, as it promises
    // to end within 2 s; the window lets the last batch go at the server's pace.
    virtual bool waitsCancelled() const { return false; }

    // --- shown -------------------------------------------------------------------------
    virtual void setProgressMaximum(int maximum) = 0;
    virtual void setProgressPosition(int position) = 0;
    virtual void repaintProgress() { }
    virtual void setTitle(const QString &title) = 0;
    // The run waits for its provider's limits: "čekám 42 s: limit serveru" for the progress
    // line, "" when the wait is over.
    virtual void showWaiting(const QString &text) { Q_UNUSED(text) }
    // Moves the caret of the address list to `index`, scrolls it into view and repaints it.
    virtual void moveCaretToLine(int index) = 0;
    // At the end of every run: the caret goes to the first column of its own line.
    virtual void moveCaretToLineStart() { }
    virtual void repaintMainWindow() { }
    // Lets the program around the run handle its pending events (the cancel button etc.).
    virtual void processEvents() = 0;
    // A modal box; the run goes on when it returns.
    virtual void showErrorBox(const QString &text, const QString &caption) = 0;
    // The program's general error box for an error that ended the run (caption: the
    // program's title). Called after the run has ended.
    virtual void showGeneralError(const QString &text) = 0;

    virtual void showProgressWindow() { }
    virtual void closeProgressWindow() { }
    virtual void setBusyCursor(bool busy) { Q_UNUSED(busy) }
    // The list of socket status lines is emptied at the start of every run ...
    virtual void clearStatusLines() { }
    // ... and gets the SMTP transport's status lines (never the send log).
    virtual void statusLine(const QString &line) { Q_UNUSED(line) }
    // Every send-log line, right after it was written to the log file.
    virtual void sendLogLine(const QString &line) { Q_UNUSED(line) }
    // What became of the address line at `index`, once it is known; once per line.
    virtual void lineOutcome(int index, LineOutcome outcome)
    {
        Q_UNUSED(index)
        Q_UNUSED(outcome)
    }
};

} // namespace kolporta::delivery
