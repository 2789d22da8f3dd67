#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class TfInfo;
}

namespace kolporta::ui {

// The progress window of a send run: a small window at the top-left corner of the screen,
// above all others, for as long as the run goes. Its one button "&Ukončit" (also Enter and
// Esc) asks the run to stop and closes the window, which then deletes itself; the run stops
// at its next look at the cancel flag.
class TfInfo : public QDialog
{
    Q_OBJECT

public:
    explicit TfInfo(QWidget *parent = nullptr);
    ~TfInfo() override;

    // Closes the window at the end of the run, without asking the run to stop.
    void closeQuietly();

signals:
    // The user pressed "&Ukončit" (or Enter, Esc, or closed the window).
    void cancelRequested();

private slots:
    void Button1Click();

private:
    void reject() override;

    std::unique_ptr<Ui::TfInfo> m_ui;
    bool m_done = false; // the button was pressed or the run closed the window
};

} // namespace kolporta::ui
