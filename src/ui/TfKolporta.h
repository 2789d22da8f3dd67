#pragma once

#include "delivery/SendRun.h"
#include "delivery/StartUp.h"
#include "project/Document.h"
#include "project/DocumentPrompts.h"

#include <QMainWindow>
#include <QPointer>
#include <QStringList>

#include <atomic>
#include <memory>

class QListWidget;
class QMenu;
class QMimeData;
class QThread;
class QsciScintilla;

namespace kolporta::preview {
class HtmlPreview;
}

namespace Ui {
class TfKolporta;
}

namespace kolporta::ui {

class AddressListEditor;
class BodyEditor;
class TfInfo;

// The main window: every field of the open project in its controls, the action list with
// its menus, toolbars and pop-up menus, and the host of the send run. The document's life
// cycle (New, Open, Save, the close question) is the core Document's; the window copies the
// project between its controls and the Document's record around each of those actions.
//
// A send run goes on a thread of its own, because the SMTP client and the mail programs
// block while they wait. Everything the run reads or shows goes through the window's own
// thread in the order the run asks for it, so the window, the progress window and its
// cancel button answer all the while. During a run New, Open, Save as, the address-list
// tools and a second send are disabled; the address list stays editable.
class TfKolporta : public QMainWindow, private project::DocumentPrompts
{
    Q_OBJECT

public:
    // Start-up: `arguments` are the command-line parameters without the program's name.
    explicit TfKolporta(const QStringList &arguments = {}, QWidget *parent = nullptr);
    ~TfKolporta() override;

    project::Document &document() { return *m_document; }
    bool isSending() const { return m_runThread != nullptr; }
    // The send log of the last run (empty before the first).
    QStringList sendLog() const;

    // The address list as the send run and the counter see it: no lines when it is empty.
    int addressLineCount() const;
    QString addressLine(int index) const;

public slots:
    void ActionListUpdate();
    void UpdateTabCaptions();

    void aNewExecute();
    void aOpenExecute();
    void aSaveExecute();
    void aSaveAsExecute();
    void aSendExecute();
    void aAboutExecute();
    void aBlockExecute();
    void aEditSMTPExecute();
    void aAddSMTPExecute();

    // The body editor, the address tools and the attachment lists.
    void aPasteExecute();
    void aOpenContentExecute();
    void aAddAttExecute();
    void aRemAttExecute();
    void aSortAddressExecute();
    void aSortDomExecute();
    void aToLowerExecute();
    void aToASCIIExecute();
    void MacroClick();
    void eSearchChange();
    void PageBodyChange();

    void cSendBCCClick();
    void cHTMLBodyClick();
    void mExitClick();
    void mMainHelpClick();
    void mWWWClick();
    void memoListChange();
    void memoTextChange();

    // Files dropped anywhere on the window but the body editor: appended to the list of the
    // page the attachment tabs show, nowhere on the status page.
    void FormDropFiles(const QList<QUrl> &urls);

protected:
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    class RunHost;
    friend class RunHost;

    // DocumentPrompts
    project::PromptAnswer askYesNoCancel(const QString &text, const QString &caption) override;
    QString openFileName(const project::FileDialogRequest &request) override;
    QString saveFileName(const project::FileDialogRequest &request) override;
    void showError(const QString &text) override;
    void writeWindowSettings() override;

    void setUpActions();
    void setUpMenus();
    void setUpEditors();
    void connectControls();
    void startUp(const QStringList &arguments);
    bool readWindowSettings(QString *lastProject);

    // The controls and the Document's record, each way.
    void pullProject();
    void pushProject();
    void projectLoaded();
    void projectCleared();
    project::ProjectLists listsFromControls() const;
    void applyHtmlBox();
    void updateCounter();
    void updateWindowTitle();

    void editCommand(int command);
    void runListTool(void (AddressListEditor::*tool)());
    // The list the attachment actions and dropped files work on: none on the status page.
    QListWidget *attachmentList() const;
    bool acceptsFileDrop(const QMimeData *mime) const;
    void sendRunFinished();
    void setBusy(bool busy);

    std::unique_ptr<Ui::TfKolporta> m_ui;
    project::Document *m_document = nullptr;
    delivery::StartUp m_startUp;
    AddressListEditor *m_addresses = nullptr;
    BodyEditor *m_body = nullptr;
    preview::HtmlPreview *m_preview = nullptr; // made when the preview page is first shown
    QString m_contentFolder; // where the body file dialog opens once it has been used
    QMenu *m_popupText = nullptr;
    QMenu *m_popupAddress = nullptr;
    QMenu *m_popupAttach = nullptr;
    int m_pushing = 0; // controls are being set from code: no change is reported

    // The send run.
    std::unique_ptr<RunHost> m_host;
    std::unique_ptr<delivery::SendRun> m_run;
    QThread *m_runThread = nullptr;
    std::atomic<bool> m_cancelRequested = false;
    QPointer<TfInfo> m_info;
    QString m_runTitle; // the application title the run shows; empty when not running
    bool m_busyCursor = false;
    bool m_closeAfterRun = false;
};

} // namespace kolporta::ui
