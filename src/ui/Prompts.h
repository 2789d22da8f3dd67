#pragma once

#include "project/DocumentPrompts.h"

#include <QList>
#include <QMessageBox>
#include <QString>
#include <QUrl>

class QWidget;

namespace kolporta::ui {

// Every modal box, file dialog and desktop link of the window goes through here, so that a
// test can answer them. Normally each call shows the real QMessageBox or QFileDialog (or
// opens the link with QDesktopServices). Once a test has called script(), nothing is shown
// or opened: each call is recorded and takes the next queued answer of its kind, or the
// answer closing the window would give (Cancel, OK, an empty file name) when none is queued.
class Prompts
{
public:
    enum class Kind { Question, Information, Error, OpenFile, SaveFile, Url };

    struct Shown
    {
        Kind kind;
        QString caption; // for a file dialog: its name filters joined by ";;"
        QString text; // for a file dialog: the proposed file name; for a link: the URL
    };

    // Yes, No or Cancel, with the question icon; closing the box is Cancel.
    static project::PromptAnswer question(
        QWidget *parent, const QString &caption, const QString &text);
    static void information(QWidget *parent, const QString &caption, const QString &text);
    static void error(QWidget *parent, const QString &caption, const QString &text);
    // The chosen path, or an empty text when the user cancelled.
    static QString openFileName(QWidget *parent, const project::FileDialogRequest &request);
    static QString saveFileName(QWidget *parent, const project::FileDialogRequest &request);
    // Several existing files, in the dialog's order; none when the user cancelled.
    static QStringList openFileNames(QWidget *parent, const project::FileDialogRequest &request);
    // Opens a help page, web page or mail link in the desktop's program; failures are quiet.
    static void openUrl(const QUrl &url);

    // --- for tests -------------------------------------------------------------------
    // Starts scripting, with no answer queued and nothing recorded.
    static void script();
    static bool isScripted();
    static void setNextAnswer(project::PromptAnswer answer);
    // openFileNames takes one such answer, its paths separated by line feeds.
    static void setNextFileName(const QString &path);
    // What was asked or shown since the last call, in order.
    static QList<Shown> takeShown();
};

} // namespace kolporta::ui
