#pragma once

#include <QString>
#include <QStringList>

namespace kolporta::project {

enum class PromptAnswer { Yes, No, Cancel };

// What a file dialog is asked to show. Filters are in Qt's form ("Kolporta (*.kpj)").
struct FileDialogRequest
{
    QStringList nameFilters;
    QString defaultSuffix; // added when the user types a name without one
    QString fileName; // the proposed name, a full path or empty
    QString initialFolder; // where the dialog opens
    bool confirmOverwrite = false;
};

// The windows the document life cycle needs, which the core never shows itself: the
// window, the command line and the tests each implement them. A dialog returns the chosen
// path, or an empty text when the user cancelled it.
class DocumentPrompts
{
public:
    virtual ~DocumentPrompts() = default;

    // A message box with the question icon and the buttons Yes, No and Cancel; closing the
    // box counts as Cancel.
    virtual PromptAnswer askYesNoCancel(const QString &text, const QString &caption) = 0;
    virtual QString openFileName(const FileDialogRequest &request) = 0;
    virtual QString saveFileName(const FileDialogRequest &request) = 0;
    // The application's general error box: the text, the program's title as caption and
    // the error icon.
    virtual void showError(const QString &text) = 0;
    // Writes the window settings; closing calls it in every case, a refused close too.
    virtual void writeWindowSettings() = 0;
};

} // namespace kolporta::project
