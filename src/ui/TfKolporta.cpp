#include "ui/TfKolporta.h"

#include "ui_TfKolporta.h"

#include "compose/MessageAssembly.h"
#include "delivery/SendRunHost.h"
#include "preview/HtmlPreview.h"
#include "project/WindowTexts.h"
#include "settings/EditSmtpProfile.h"
#include "settings/FirstProject.h"
#include "settings/HomeFolder.h"
#include "ui/ActionIcons.h"
#include "ui/AddressListEditor.h"
#include "ui/BodyEditor.h"
#include "ui/EditorSetup.h"
#include "ui/HelpPage.h"
#include "ui/Prompts.h"
#include "ui/TfAbout.h"
#include "ui/TfInfo.h"
#include "ui/TfSMTPEdit.h"

#include <Qsci/qscicommandset.h>
#include <Qsci/qsciscintilla.h>

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QFontDatabase>
#include <QMimeData>
#include <QMutex>
#include <QSettings>
#include <QThread>
#include <QToolBar>
#include <QWaitCondition>

#include <type_traits>

namespace kolporta::ui {

using project::PromptAnswer;
namespace HomeFolder = settings::HomeFolder;

namespace {

const QString kTitle = QStringLiteral("Kolporta");
// The dynamic property of the form that gives an action its picture.
constexpr char kPictureIndex[] = "pictureIndex";

enum EditCommand { Copy, Cut, Paste, Delete, SelectAll };

QStringList listItems(const QListWidget *list)
{
    QStringList items;
    for (int i = 0; i < list->count(); ++i)
        items.append(list->item(i)->text());
    return items;
}

void setListItems(QListWidget *list, const QStringList &items)
{
    list->clear();
    list->addItems(items);
}

QStringList comboItems(const QComboBox *combo)
{
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items.append(combo->itemText(i));
    return items;
}

// The selected item's text, or "" when nothing is selected.
QString comboText(const QComboBox *combo)
{
    return combo->currentIndex() < 0 ? QString() : combo->currentText();
}

void selectComboText(QComboBox *combo, const QString &text)
{
    combo->setCurrentIndex(text.isEmpty() ? -1 : combo->findText(text, Qt::MatchFixedString));
}

} // namespace

// The send run's host. Its functions are called on the run's thread; each one is carried
// to the window's thread. Reads and modal boxes wait for their answer there; what is only
// shown is queued, and the queue keeps the run's order, because every call goes the same way.
class TfKolporta::RunHost : public delivery::SendRunHost
{
public:
    explicit RunHost(TfKolporta *window)
        : m_window(window)
    { }

    // The window is going away: every waiting call returns at once with an empty answer.
    void abandon()
    {
        QMutexLocker lock(&m_mutex);
        m_abandoned = true;
        m_wake.wakeAll();
    }

    int lineCount() const override
    {
        return call([w = m_window] { return w->addressLineCount(); });
    }
    QString addressLine(int index) const override
    {
        return call([w = m_window, index] { return w->addressLine(index); });
    }
    QString sender() const override
    {
        return call([w = m_window] { return w->m_ui->eFrom->text(); });
    }
    QString subject() const override
    {
        return call([w = m_window] { return w->m_ui->eSubject->text(); });
    }
    QString profileName() const override
    {
        return call([w = m_window] { return comboText(w->m_ui->cbSMTPServer); });
    }
    bool cancelRequested() const override
    {
        QMutexLocker lock(&m_mutex);
        return m_abandoned || m_window->m_cancelRequested;
    }
    // The window clears the flag before the run starts, so that a stop asked for by closing
    // the window right after the start is not lost.
    void clearCancelRequested() override { }

    void setProgressMaximum(int maximum) override
    {
        post([w = m_window, maximum] {
            // A bar whose maximum is 0 would show Qt's busy animation; it is to be empty.
            w->m_ui->Progress->setRange(0, qMax(1, maximum));
            w->m_ui->Progress->setValue(0);
        });
    }
    void setProgressPosition(int position) override
    {
        post([w = m_window, position] {
            QProgressBar *bar = w->m_ui->Progress;
            bar->setValue(qBound(bar->minimum(), position, bar->maximum()));
        });
    }
    void setTitle(const QString &title) override
    {
        post([w = m_window, title] {
            w->m_runTitle = title;
            w->updateWindowTitle();
        });
    }
    void moveCaretToLine(int index) override
    {
        post([w = m_window, index] {
            w->m_ui->MemoList->setCursorPosition(index, 0);
            w->m_ui->MemoList->ensureLineVisible(index);
        });
    }
    void moveCaretToLineStart() override
    {
        post([w = m_window] {
            int line = 0;
            int column = 0;
            w->m_ui->MemoList->getCursorPosition(&line, &column);
            w->m_ui->MemoList->setCursorPosition(line, 0);
        });
    }
    // The window answers all the time; a round trip here keeps the run from getting ahead
    // of what the window shows.
    void processEvents() override
    {
        call([] {});
    }
    void showErrorBox(const QString &text, const QString &caption) override
    {
        call([w = m_window, text, caption] { Prompts::error(w, caption, text); });
    }
    void showGeneralError(const QString &text) override
    {
        call([w = m_window, text] { w->showError(text); });
    }
    void showProgressWindow() override
    {
        post([w = m_window] {
            // No owner, so that it stays on the screen's corner whatever the window does.
            w->m_info = new TfInfo;
            QObject::connect(w->m_info.data(), &TfInfo::cancelRequested, w,
                [w] { w->m_cancelRequested = true; });
            w->m_info->show();
        });
    }
    void closeProgressWindow() override
    {
        post([w = m_window] {
            if (w->m_info)
                w->m_info->closeQuietly();
        });
    }
    void setBusyCursor(bool busy) override
    {
        post([w = m_window, busy] { w->setBusy(busy); });
    }
    void clearStatusLines() override
    {
        post([w = m_window] { w->m_ui->lbLog->clear(); });
    }
    void statusLine(const QString &line) override
    {
        post([w = m_window, line] {
            w->m_ui->lbLog->addItem(line);
            w->m_ui->lbLog->scrollToBottom();
        });
    }

private:
    template <class F> void post(F f) const
    {
        QMetaObject::invokeMethod(m_window, std::move(f), Qt::QueuedConnection);
    }

    template <class F> std::invoke_result_t<F> call(F f) const
    {
        using R = std::invoke_result_t<F>;
        struct Answer
        {
            bool done = false;
            std::conditional_t<std::is_void_v<R>, bool, R> value {};
        };
        auto answer = std::make_shared<Answer>();
        {
            QMutexLocker lock(&m_mutex);
            if (m_abandoned)
                return R();
        }
        post([this, answer, f = std::move(f)]() mutable {
            if constexpr (std::is_void_v<R>) {
                f();
                QMutexLocker lock(&m_mutex);
                answer->done = true;
            } else {
                R value = f();
                QMutexLocker lock(&m_mutex);
                answer->value = std::move(value);
                answer->done = true;
            }
            m_wake.wakeAll();
        });
        QMutexLocker lock(&m_mutex);
        while (!answer->done && !m_abandoned)
            m_wake.wait(&m_mutex);
        if constexpr (!std::is_void_v<R>)
            return answer->done ? answer->value : R();
    }

    TfKolporta *m_window;
    mutable QMutex m_mutex;
    mutable QWaitCondition m_wake;
    bool m_abandoned = false;
};

TfKolporta::TfKolporta(const QStringList &arguments, QWidget *parent)
    : QMainWindow(parent)
    , m_ui(std::make_unique<Ui::TfKolporta>())
    , m_host(std::make_unique<RunHost>(this))
{
    m_ui->setupUi(this);
    move(380, 125); // the designed bounds, until the settings say otherwise
    m_document = new project::Document(this, HomeFolder::projectsFolder(), this);
    m_ui->Progress->setRange(0, 1);
    m_ui->Progress->setValue(0);
    m_ui->Splitter1->setStretchFactor(1, 1);
    m_ui->Splitter1->setSizes({257, 486});
    // The tabs of the body are reached by their accelerators, not by Tab.
    m_ui->PageBody->tabBar()->setFocusPolicy(Qt::NoFocus);
    m_ui->PageBody->setCornerWidget(m_ui->cHTMLBody, Qt::TopRightCorner);
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    m_ui->lbAttach->setFont(fixed);
    m_ui->lbFiles->setFont(fixed);

    setUpActions();
    setUpMenus();
    setUpEditors();
    connectControls();
    setAcceptDrops(true);
    startUp(arguments);
    m_ui->MemoList->setFocus();
}

TfKolporta::~TfKolporta()
{
    if (m_runThread) {
        m_cancelRequested = true;
        m_host->abandon();
        m_runThread->wait();
        delete m_runThread;
        m_runThread = nullptr;
    }
    delete m_info.data();
    setBusy(false);
}

void TfKolporta::setUpActions()
{
    const QList<QAction *> actions = findChildren<QAction *>(Qt::FindDirectChildrenOnly);
    for (QAction *action : actions) {
        const QVariant picture = action->property(kPictureIndex);
        if (picture.isValid())
            action->setIcon(actionIcon(picture.toInt()));
    }
    // Shortcuts work in the whole window, also for actions no menu shows.
    addActions(actions);

    connect(m_ui->aNew, &QAction::triggered, this, &TfKolporta::aNewExecute);
    connect(m_ui->aOpen, &QAction::triggered, this, &TfKolporta::aOpenExecute);
    connect(m_ui->aSave, &QAction::triggered, this, &TfKolporta::aSaveExecute);
    connect(m_ui->aSaveAs, &QAction::triggered, this, &TfKolporta::aSaveAsExecute);
    connect(m_ui->aSend, &QAction::triggered, this, &TfKolporta::aSendExecute);
    connect(m_ui->aAddAtt, &QAction::triggered, this, &TfKolporta::aAddAttExecute);
    connect(m_ui->aRemAtt, &QAction::triggered, this, &TfKolporta::aRemAttExecute);
    connect(m_ui->aAbout, &QAction::triggered, this, &TfKolporta::aAboutExecute);
    connect(m_ui->aSortAddress, &QAction::triggered, this, &TfKolporta::aSortAddressExecute);
    connect(m_ui->aSortDom, &QAction::triggered, this, &TfKolporta::aSortDomExecute);
    connect(m_ui->aToLower, &QAction::triggered, this, &TfKolporta::aToLowerExecute);
    connect(m_ui->aToASCII, &QAction::triggered, this, &TfKolporta::aToASCIIExecute);
    connect(m_ui->aPaste, &QAction::triggered, this, &TfKolporta::aPasteExecute);
    connect(m_ui->aBlock, &QAction::triggered, this, &TfKolporta::aBlockExecute);
    connect(m_ui->aEditSMTP, &QAction::triggered, this, &TfKolporta::aEditSMTPExecute);
    connect(m_ui->aAddSMTP, &QAction::triggered, this, &TfKolporta::aAddSMTPExecute);
    connect(m_ui->aOpenContent, &QAction::triggered, this, &TfKolporta::aOpenContentExecute);
    connect(m_ui->EditCopy1, &QAction::triggered, this, [this] { editCommand(Copy); });
    connect(m_ui->EditCut1, &QAction::triggered, this, [this] { editCommand(Cut); });
    connect(m_ui->EditPaste1, &QAction::triggered, this, [this] { editCommand(Paste); });
    connect(m_ui->EditDelete1, &QAction::triggered, this, [this] { editCommand(Delete); });
    connect(m_ui->EditSelectAll1, &QAction::triggered, this, [this] { editCommand(SelectAll); });
    connect(m_ui->mExit, &QAction::triggered, this, &TfKolporta::mExitClick);
    connect(m_ui->mMainHelp, &QAction::triggered, this, &TfKolporta::mMainHelpClick);
    connect(m_ui->mWWW, &QAction::triggered, this, &TfKolporta::mWWWClick);
    // F1 anywhere in the window asks for help.
    m_ui->mMainHelp->setShortcut(QKeySequence::HelpContents);

    // A tool button drops a trailing "..." from its action's text; this one is all of it.
    m_ui->aEditSMTP->setIconText(m_ui->aEditSMTP->text());
    m_ui->bEditSMTP->setDefaultAction(m_ui->aEditSMTP);
    m_ui->bAddSMTP->setDefaultAction(m_ui->aAddSMTP);
    if (QWidget *block = m_ui->ToolBar1->widgetForAction(m_ui->aBlock))
        block->setObjectName(QStringLiteral("tbBlock"));

    auto *toolBar3 = new QToolBar(m_ui->pgAttach);
    toolBar3->setObjectName(QStringLiteral("ToolBar3"));
    toolBar3->setIconSize(QSize(16, 16));
    toolBar3->setToolButtonStyle(Qt::ToolButtonIconOnly);
    toolBar3->addAction(m_ui->aAddAtt);
    toolBar3->addAction(m_ui->aRemAtt);
    m_ui->pgAttach->setCornerWidget(toolBar3, Qt::TopRightCorner);
}

void TfKolporta::setUpMenus()
{
    auto popup = [this](const char *name, const QList<QAction *> &entries) {
        auto *menu = new QMenu(this);
        menu->setObjectName(QLatin1String(name));
        for (QAction *entry : entries) {
            if (entry)
                menu->addAction(entry);
            else
                menu->addSeparator();
        }
        return menu;
    };
    const QList<QAction *> editEntries {m_ui->EditCopy1, m_ui->EditCut1, m_ui->aPaste,
        m_ui->EditDelete1, nullptr, m_ui->EditSelectAll1};

    auto *macros = new QMenu(QStringLiteral(u"Proměnné"), this);
    macros->setObjectName(QStringLiteral("mMacros"));
    // Each entry's hint is the macro it inserts.
    const QList<std::tuple<const char *, QString, QString>> macroEntries {
        {"m1", QStringLiteral(u"%TO%   (Adresát)"), QStringLiteral("%TO%")},
        {"m2", QStringLiteral(u"%FROM%  (Odesílatel)"), QStringLiteral("%FROM%")},
        {"m3", QStringLiteral(u"%SUBJECT%  (Předmět)"), QStringLiteral("%SUBJECT%")},
    };
    for (const auto &[name, text, hint] : macroEntries) {
        QAction *entry = macros->addAction(text);
        entry->setObjectName(QLatin1String(name));
        entry->setToolTip(hint);
        entry->setStatusTip(hint);
        connect(entry, &QAction::triggered, this, &TfKolporta::MacroClick);
    }
    m_popupText = popup("PopupText", {});
    m_popupText->addMenu(macros);
    m_popupText->addSeparator();
    m_popupText->addActions(editEntries.mid(0, 4));
    m_popupText->addSeparator();
    m_popupText->addAction(m_ui->EditSelectAll1);
    m_popupText->addSeparator();
    m_popupText->addAction(m_ui->aOpenContent);
    m_popupText->addSeparator();
    m_popupText->addAction(m_ui->aToASCII);

    m_popupAddress = popup("PopupAddress",
        QList<QAction *> {m_ui->aSortAddress, m_ui->aSortDom, nullptr, m_ui->aToLower, nullptr}
            + editEntries);
    m_popupAttach = popup("PopupAttach", {m_ui->aAddAtt, m_ui->aRemAtt});

    auto showOn = [this](QWidget *widget, QMenu *menu) {
        connect(widget, &QWidget::customContextMenuRequested, this, [widget, menu](QPoint pos) {
            // Scroll areas report the position in their viewport.
            auto *area = qobject_cast<QAbstractScrollArea *>(widget);
            menu->popup((area ? area->viewport() : widget)->mapToGlobal(pos));
        });
    };
    showOn(m_ui->memoText, m_popupText);
    showOn(m_ui->MemoList, m_popupAddress);
    showOn(m_ui->lbAttach, m_popupAttach);
    showOn(m_ui->lbFiles, m_popupAttach);

    for (QMenu *menu : {m_ui->mFile, m_ui->mEdit, m_ui->EMail1, m_ui->mHelp})
        connect(menu, &QMenu::aboutToShow, this, &TfKolporta::ActionListUpdate);
}

void TfKolporta::setUpEditors()
{
    m_addresses = new AddressListEditor(m_ui->MemoList, m_ui->eSearch, this);
    m_body = new BodyEditor(m_ui->memoText, this);
    for (QsciScintilla *editor : {m_ui->MemoList, m_ui->memoText})
        editor->setEolMode(QsciScintilla::EolUnix);
    // The window's shortcuts come before the editors' own keys (Ctrl+D is the action "Přidat
    // přílohu", not a duplicated line), so the editors give up any key an action uses.
    const QList<QAction *> actions = findChildren<QAction *>();
    for (const QAction *action : actions) {
        const QList<QKeySequence> shortcuts = action->shortcuts();
        for (const QKeySequence &shortcut : shortcuts) {
            if (shortcut.isEmpty())
                continue;
            const int key = shortcut[0].toCombined();
            for (QsciScintilla *editor : {m_ui->MemoList, m_ui->memoText}) {
                QsciCommand *command = editor->standardCommands()->boundTo(key);
                if (!command)
                    continue;
                if (command->key() == key)
                    command->setKey(0);
                if (command->alternateKey() == key)
                    command->setAlternateKey(0);
            }
        }
    }
    // A tool that replaced the list or the body marks the project as an edit would.
    connect(m_addresses, &AddressListEditor::linesReplaced, this, &TfKolporta::memoListChange);
    connect(m_body, &BodyEditor::bodyReplaced, this, &TfKolporta::memoTextChange);
    connect(m_body, &BodyEditor::errorOccurred, this, &TfKolporta::showError);
}

void TfKolporta::connectControls()
{
    connect(m_document, &project::Document::captionChanged, this, &TfKolporta::updateWindowTitle);
    connect(m_document, &project::Document::projectLoaded, this, &TfKolporta::projectLoaded);
    connect(m_document, &project::Document::projectCleared, this, &TfKolporta::projectCleared);

    connect(m_ui->MemoList, &QsciScintilla::textChanged, this, [this] {
        if (!m_pushing)
            memoListChange();
    });
    connect(m_ui->memoText, &QsciScintilla::textChanged, this, [this] {
        if (!m_pushing)
            memoTextChange();
    });
    for (QLineEdit *edit : {m_ui->eFrom, m_ui->eSubject}) {
        connect(edit, &QLineEdit::textChanged, this, [this] {
            if (!m_pushing)
                memoTextChange();
        });
    }
    // Only a choice the user makes in the lists counts as a change.
    connect(m_ui->cbeMail, &QComboBox::activated, this, &TfKolporta::memoTextChange);
    connect(m_ui->cbSMTPServer, &QComboBox::activated, this, &TfKolporta::memoTextChange);
    connect(
        m_ui->cbSMTPServer, &QComboBox::currentTextChanged, this, &TfKolporta::ActionListUpdate);
    for (QListWidget *list : {m_ui->lbAttach, m_ui->lbFiles}) {
        connect(list, &QListWidget::clicked, this, &TfKolporta::memoTextChange);
        connect(list, &QListWidget::itemSelectionChanged, this, &TfKolporta::ActionListUpdate);
        connect(
            list->model(), &QAbstractItemModel::rowsRemoved, this, &TfKolporta::ActionListUpdate);
    }
    connect(m_ui->pgAttach, &QTabWidget::currentChanged, this, &TfKolporta::ActionListUpdate);
    connect(m_ui->PageBody, &QTabWidget::currentChanged, this, &TfKolporta::PageBodyChange);
    connect(m_ui->cSendBCC, &QCheckBox::clicked, this, &TfKolporta::cSendBCCClick);
    connect(m_ui->cHTMLBody, &QCheckBox::clicked, this, &TfKolporta::cHTMLBodyClick);
    connect(m_ui->eSearch, &QLineEdit::textChanged, this, &TfKolporta::eSearchChange);

    // Widgets that take dropped text would swallow dropped files; files go to the window.
    const QList<QWidget *> dropTargets {m_ui->MemoList->viewport(), m_ui->eSearch, m_ui->eFrom,
        m_ui->eSubject, m_ui->eBCCMaxCount->findChild<QLineEdit *>()};
    for (QWidget *target : dropTargets) {
        if (target)
            target->installEventFilter(this);
    }
}

// --- Start-up and shut-down ---------------------------------------------------------------

void TfKolporta::startUp(const QStringList &arguments)
{
    m_document->setModified(false);
    m_document->setOpenFolder(HomeFolder::path());

    delivery::PrepareStartUp(&m_startUp);
    if (!m_startUp.mailProgramsError.isEmpty())
        showError(m_startUp.mailProgramsError);
    m_ui->cbeMail->addItems(m_startUp.lists.routes);
    selectComboText(m_ui->cbeMail, m_startUp.defaultRoute);
    // Without a mail program there is nothing to choose but the SMTP route a project names.
    m_ui->cbeMail->setEnabled(!m_startUp.defaultRoute.isEmpty());
    m_ui->cbSMTPServer->addItems(m_startUp.lists.profiles);
    m_ui->cbSMTPServer->setCurrentIndex(-1);
    pullProject();
    m_document->setLists(listsFromControls());

    QString lastProject;
    if (!readWindowSettings(&lastProject)) {
        // After a broken settings file the window starts with a new project; closing
        // writes the file anew.
        m_document->aNewExecute();
        m_document->setModified(false);
        return;
    }
    m_document->setUntitled(true);

    const settings::FirstProject first = settings::ChooseFirstProject(arguments, lastProject);
    if (!first.path.isEmpty()) {
        QString error;
        if (delivery::LoadStartUpProject(first.path, m_startUp, &m_document->project(), &error)) {
            projectLoaded();
            m_document->SetProjectFileName(first.path);
            m_document->setUntitled(first.isUntitled);
            m_document->setModified(false);
            return;
        }
        showError(error);
    }
    m_document->aNewExecute();
    m_document->setModified(false);
}

bool TfKolporta::readWindowSettings(QString *lastProject)
{
    const QString path = HomeFolder::settingsIniPath();
    // No settings yet: the designed bounds, and the open dialog in the home folder.
    if (!QFileInfo::exists(path))
        return true;
    QSettings ini(path, QSettings::IniFormat);

    auto readInt = [&](const QString &name, int *value) {
        const QVariant stored = ini.value(name);
        if (!stored.isValid()) {
            showError(QStringLiteral("Failed to get data for '%1'").arg(name));
            return false;
        }
        bool ok = false;
        if (stored.typeId() == QMetaType::QString)
            *value = stored.toString().trimmed().toInt(&ok);
        else if (stored.typeId() == QMetaType::Int)
            *value = stored.toInt(&ok);
        if (!ok)
            showError(QStringLiteral("Invalid data type for '%1'").arg(name));
        return ok;
    };
    auto readString = [&](const QString &name, QString *value) {
        const QVariant stored = ini.value(name);
        value->clear();
        if (!stored.isValid())
            return true;
        // A value with an unquoted comma reads as a list: not a string.
        if (stored.typeId() != QMetaType::QString) {
            showError(QStringLiteral("Invalid data type for '%1'").arg(name));
            return false;
        }
        *value = stored.toString();
        return true;
    };

    int maximized = 0;
    if (!readInt(QStringLiteral("Maximized"), &maximized))
        return false;
    if (maximized != 0) {
        setWindowState(windowState() | Qt::WindowMaximized);
    } else {
        int value = 0;
        if (!readInt(QStringLiteral("Top"), &value))
            return false;
        move(x(), value);
        if (!readInt(QStringLiteral("Left"), &value))
            return false;
        move(value, y());
        if (!readInt(QStringLiteral("Height"), &value))
            return false;
        resize(width(), value);
        if (!readInt(QStringLiteral("Width"), &value))
            return false;
        resize(value, height());
    }
    QString lastDir;
    if (!readString(QStringLiteral("LastDir"), &lastDir))
        return false;
    m_document->setOpenFolder(lastDir.isEmpty() ? HomeFolder::projectsFolder() : lastDir);
    return readString(QStringLiteral("LastProject"), lastProject);
}

void TfKolporta::writeWindowSettings()
{
    QSettings ini(HomeFolder::settingsIniPath(), QSettings::IniFormat);
    ini.setValue(QStringLiteral("Maximized"), isMaximized() ? 1 : 0);
    ini.setValue(QStringLiteral("Top"), y());
    ini.setValue(QStringLiteral("Left"), x());
    ini.setValue(QStringLiteral("Height"), height());
    ini.setValue(QStringLiteral("Width"), width());
    ini.setValue(QStringLiteral("LastDir"), m_document->openFolder());
    ini.setValue(QStringLiteral("LastProject"), m_document->projectFileName());
    // A file that cannot be written costs only the settings of the next start.
    ini.sync();
}

void TfKolporta::closeEvent(QCloseEvent *event)
{
    if (isSending()) {
        event->ignore();
        if (!m_closeAfterRun
            && Prompts::question(this, QStringLiteral("Dotaz"),
                   QStringLiteral(u"Zprávy se právě odesílají. Zastavit odesílání a zavřít "
                                  u"okno?"))
                == PromptAnswer::Yes) {
            // The run stops at its next look at the flag; the window closes after it.
            m_closeAfterRun = true;
            m_cancelRequested = true;
        }
        return;
    }
    m_closeAfterRun = false;
    pullProject();
    if (m_document->FormCloseQuery())
        event->accept();
    else
        event->ignore();
}

// --- The controls and the project record ---------------------------------------------------

void TfKolporta::pullProject()
{
    project::Project &p = m_document->project();
    p.addressList = editorLines(m_ui->MemoList);
    p.subject = m_ui->eSubject->text();
    p.from = m_ui->eFrom->text();
    p.text = editorLines(m_ui->memoText);
    p.htmlBody = m_ui->cHTMLBody->isChecked();
    p.attachments = listItems(m_ui->lbAttach);
    p.files = listItems(m_ui->lbFiles);
    p.mailer = comboText(m_ui->cbeMail);
    p.smtpServer = comboText(m_ui->cbSMTPServer);
    p.sendAsBcc = m_ui->cSendBCC->isChecked();
    p.bccMaxCount = m_ui->eBCCMaxCount->text();
}

void TfKolporta::pushProject()
{
    const project::Project &p = m_document->project();
    ++m_pushing;
    replaceEditorLines(m_ui->MemoList, p.addressList.toStringList());
    replaceEditorLines(m_ui->memoText, p.text);
    m_ui->eSubject->setText(p.subject);
    m_ui->eFrom->setText(p.from);
    // The start of a long sender or subject is what tells it apart.
    m_ui->eSubject->setCursorPosition(0);
    m_ui->eFrom->setCursorPosition(0);
    m_ui->cHTMLBody->setChecked(p.htmlBody);
    setListItems(m_ui->lbAttach, p.attachments);
    setListItems(m_ui->lbFiles, p.files);
    selectComboText(m_ui->cbeMail, p.mailer);
    selectComboText(m_ui->cbSMTPServer, p.smtpServer);
    m_ui->cSendBCC->setChecked(p.sendAsBcc);
    m_ui->eBCCMaxCount->setText(p.bccMaxCount);
    --m_pushing;
}

project::ProjectLists TfKolporta::listsFromControls() const
{
    return {comboItems(m_ui->cbeMail), comboItems(m_ui->cbSMTPServer)};
}

void TfKolporta::projectLoaded()
{
    pushProject();
    // What the load's click handlers leave: the batch-size field follows the BCC box, the
    // preview tab and the highlighter follow the HTML box.
    m_ui->lBCCMaxCount->setEnabled(m_ui->cSendBCC->isChecked());
    m_ui->eBCCMaxCount->setEnabled(m_ui->cSendBCC->isChecked());
    applyHtmlBox();
    m_ui->memoText->setCursorPosition(0, 0);
    m_ui->MemoList->setFocus();
    updateCounter();
    UpdateTabCaptions();
    ActionListUpdate();
}

void TfKolporta::projectCleared()
{
    const project::Project &p = m_document->project();
    ++m_pushing;
    replaceEditorLines(m_ui->MemoList, p.addressList.toStringList());
    replaceEditorLines(m_ui->memoText, p.text);
    setListItems(m_ui->lbAttach, p.attachments);
    setListItems(m_ui->lbFiles, p.files);
    m_ui->eSubject->setText(p.subject);
    --m_pushing;
    m_ui->PageBody->setTabVisible(m_ui->PageBody->indexOf(m_ui->tabHTML), false);
    // The emptied list shows "0 adres" rather than the count of the list before.
    updateCounter();
    UpdateTabCaptions();
    ActionListUpdate();
}

int TfKolporta::addressLineCount() const
{
    return m_ui->MemoList->length() == 0 ? 0 : m_ui->MemoList->lines();
}

QString TfKolporta::addressLine(int index) const
{
    if (index < 0 || index >= addressLineCount())
        return {};
    QString line = m_ui->MemoList->text(index);
    while (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r')))
        line.chop(1);
    return line;
}

QStringList TfKolporta::sendLog() const
{
    return m_run ? m_run->log().lines() : QStringList();
}

void TfKolporta::updateCounter()
{
    m_ui->lItems->setText(project::WindowTexts::addressCounter(addressLineCount()));
}

void TfKolporta::updateWindowTitle()
{
    // During a run the title shows its progress ("Kolporta: 3/120"); "Kolporta" is the
    // title the run ends with, which brings back the project's caption.
    setWindowTitle(
        m_runTitle.isEmpty() || m_runTitle == kTitle ? m_document->caption() : m_runTitle);
}

void TfKolporta::UpdateTabCaptions()
{
    m_ui->pgAttach->setTabText(m_ui->pgAttach->indexOf(m_ui->tsHTMLPic),
        project::WindowTexts::picturesTabCaption(m_ui->lbAttach->count()));
    m_ui->pgAttach->setTabText(m_ui->pgAttach->indexOf(m_ui->tsAttach),
        project::WindowTexts::attachmentsTabCaption(m_ui->lbFiles->count()));
}

void TfKolporta::memoListChange()
{
    m_document->memoListChange();
    updateCounter();
    ActionListUpdate();
}

void TfKolporta::memoTextChange()
{
    m_document->memoTextChange();
}

// --- Actions ------------------------------------------------------------------------------

void TfKolporta::ActionListUpdate()
{
    const bool sending = isSending();
    m_ui->aSend->setEnabled(!sending && addressLineCount() > 0);
    m_ui->aEditSMTP->setEnabled(settings::aEditSMTPEnabled(m_ui->cbSMTPServer->currentText()));
    const QWidget *page = m_ui->pgAttach->currentWidget();
    m_ui->aAddAtt->setEnabled(page == m_ui->tsHTMLPic || page == m_ui->tsAttach);
    m_ui->aRemAtt->setEnabled(
        (page == m_ui->tsHTMLPic && !m_ui->lbAttach->selectedItems().isEmpty())
        || (page == m_ui->tsAttach && !m_ui->lbFiles->selectedItems().isEmpty()));
    // A run reads the address list line by line and owns the document's file name.
    for (QAction *action : {m_ui->aNew, m_ui->aOpen, m_ui->aSaveAs, m_ui->aSortAddress,
             m_ui->aSortDom, m_ui->aToLower})
        action->setEnabled(!sending);
}

void TfKolporta::aNewExecute()
{
    if (isSending())
        return;
    pullProject();
    m_document->aNewExecute();
}

void TfKolporta::aOpenExecute()
{
    if (isSending())
        return;
    pullProject();
    m_document->setLists(listsFromControls());
    m_document->aOpenExecute();
    ActionListUpdate();
}

void TfKolporta::aSaveExecute()
{
    pullProject();
    m_document->aSaveExecute();
}

void TfKolporta::aSaveAsExecute()
{
    if (isSending())
        return;
    pullProject();
    m_document->aSaveAsExecute();
}

void TfKolporta::aSendExecute()
{
    if (isSending() || addressLineCount() == 0)
        return;
    pullProject();
    delivery::SendRunSettings settings
        = delivery::RunSettingsOf(m_document->project(), listsFromControls());
    // The journal names the project so that a later resume can be matched to it.
    if (!m_document->projectFileName().isEmpty())
        settings.projectPath = QFileInfo(m_document->projectFileName()).absoluteFilePath();
    m_cancelRequested = false;
    m_closeAfterRun = false;
    m_run = std::make_unique<delivery::SendRun>(m_host.get());
    m_run->setMailObject(m_startUp.mail.get());
    // The run, and with it the SMTP client and its socket, lives on this thread from start
    // to end; only the host's calls come back to the window.
    m_runThread = QThread::create([run = m_run.get(), settings] { run->run(settings); });
    m_runThread->setObjectName(QStringLiteral("SendRun"));
    connect(m_runThread, &QThread::finished, this, &TfKolporta::sendRunFinished);
    m_runThread->start();
    ActionListUpdate();
}

void TfKolporta::sendRunFinished()
{
    if (!m_runThread)
        return;
    m_runThread->wait();
    delete m_runThread;
    m_runThread = nullptr;
    m_runTitle.clear();
    updateWindowTitle();
    setBusy(false);
    ActionListUpdate();
    if (m_closeAfterRun)
        close();
}

void TfKolporta::setBusy(bool busy)
{
    if (busy == m_busyCursor)
        return;
    m_busyCursor = busy;
    // The window still answers during a run: the pointer says "working", not "wait".
    if (busy)
        QApplication::setOverrideCursor(Qt::BusyCursor);
    else
        QApplication::restoreOverrideCursor();
}

void TfKolporta::aAboutExecute()
{
    TfAbout about(this);
    about.exec();
}

void TfKolporta::aBlockExecute()
{
    Prompts::information(this, QStringLiteral("Informace"),
        QStringLiteral(u"Blokování adres podle externího seznamu není v tomto programu "
                       u"k dispozici."));
}

void TfKolporta::aEditSMTPExecute()
{
    TfSMTPEdit dialog(this);
    QString error;
    settings::aEditSMTP(
        HomeFolder::smtpIniPath(), m_ui->cbSMTPServer->currentText(), dialog, &error);
    if (!error.isEmpty())
        showError(error);
}

void TfKolporta::aAddSMTPExecute()
{
    TfSMTPEdit dialog(this);
    QStringList items = comboItems(m_ui->cbSMTPServer);
    int selected = m_ui->cbSMTPServer->currentIndex();
    QString error;
    if (settings::aAddSMTP(HomeFolder::smtpIniPath(), &items, &selected, dialog, &error)) {
        // Chosen from code: not a change of the project.
        m_ui->cbSMTPServer->addItem(items.last());
        m_ui->cbSMTPServer->setCurrentIndex(selected);
        m_document->setLists(listsFromControls());
    }
    if (!error.isEmpty())
        showError(error);
    ActionListUpdate();
}

void TfKolporta::aPasteExecute()
{
    // Into an editor through its own paste (the list's reformatting, the body's HTML);
    // otherwise the standard paste of the focused control.
    editCommand(Paste);
}

void TfKolporta::aOpenContentExecute()
{
    project::FileDialogRequest request;
    request.nameFilters = BodyEditor::contentFileFilters();
    // The first time in the project dialog's folder, then where the last body came from.
    request.initialFolder = m_contentFolder.isEmpty() ? m_document->openFolder() : m_contentFolder;
    const QString path = Prompts::openFileName(this, request);
    if (path.isEmpty())
        return;
    QString error;
    if (!m_body->loadFile(path, &error))
        return showError(error);
    m_contentFolder = QFileInfo(path).absolutePath();
}

QListWidget *TfKolporta::attachmentList() const
{
    const QWidget *page = m_ui->pgAttach->currentWidget();
    return page == m_ui->tsHTMLPic ? m_ui->lbAttach
        : page == m_ui->tsAttach   ? m_ui->lbFiles
                                   : nullptr;
}

void TfKolporta::aAddAttExecute()
{
    QListWidget *target = attachmentList();
    if (!target)
        return;
    project::FileDialogRequest request;
    request.nameFilters = QStringList {QStringLiteral("All files (*.*) (*)")};
    request.initialFolder = m_document->openFolder();
    const QStringList paths = Prompts::openFileNames(this, request);
    if (!paths.isEmpty()) {
        target->addItems(paths);
        m_document->memoTextChange();
    }
    UpdateTabCaptions();
    ActionListUpdate();
}

void TfKolporta::aRemAttExecute()
{
    QListWidget *target = attachmentList();
    if (!target)
        return;
    // Removing marks nothing: selecting the item already did.
    const QList<QListWidgetItem *> selected = target->selectedItems();
    if (!selected.isEmpty())
        delete target->takeItem(target->row(selected.constFirst()));
    UpdateTabCaptions();
    ActionListUpdate();
}

void TfKolporta::runListTool(void (AddressListEditor::*tool)())
{
    // A run reads the list line by line meanwhile.
    if (isSending())
        return;
    ++m_pushing; // one report of the change, from the tool itself
    (m_addresses->*tool)();
    --m_pushing;
}

void TfKolporta::aSortAddressExecute()
{
    runListTool(&AddressListEditor::sortAlphabetically);
}

void TfKolporta::aSortDomExecute()
{
    runListTool(&AddressListEditor::sortByDomain);
}

void TfKolporta::aToLowerExecute()
{
    runListTool(&AddressListEditor::toLowerCase);
}

void TfKolporta::aToASCIIExecute()
{
    ++m_pushing;
    m_body->removeDiacritics();
    --m_pushing;
}

void TfKolporta::MacroClick()
{
    if (auto *entry = qobject_cast<QAction *>(sender()))
        m_body->insertMacro(entry->toolTip());
}

void TfKolporta::eSearchChange()
{
    m_addresses->search(m_ui->eSearch->text());
}

void TfKolporta::PageBodyChange()
{
    if (m_ui->PageBody->currentWidget() != m_ui->tabHTML)
        return;
    // The web view starts only when it is first needed.
    if (!m_preview) {
        m_preview = new preview::HtmlPreview(m_ui->tabHTML);
        m_preview->setObjectName(QStringLiteral("HtmlPreview"));
        m_ui->tabHTMLLayout->addWidget(m_preview);
    }
    preview::PreviewContent content;
    content.body = m_ui->memoText->text();
    if (!m_document->projectFileName().isEmpty())
        content.baseFolder = QFileInfo(m_document->projectFileName()).absolutePath();
    for (int i = 0; i < addressLineCount(); ++i) {
        const QString line = addressLine(i);
        if (!compose::IsBlankLine(line)) {
            content.firstAddressLine = line;
            break;
        }
    }
    content.from = m_ui->eFrom->text();
    content.subject = m_ui->eSubject->text();
    content.pictures = listItems(m_ui->lbAttach);
    m_preview->showContent(content);
}

void TfKolporta::editCommand(int command)
{
    // The five standard actions act on whichever edit or editor has the focus.
    for (QWidget *w = QApplication::focusWidget(); w; w = w->parentWidget()) {
        if (auto *edit = qobject_cast<QLineEdit *>(w)) {
            switch (command) {
            case Copy:
                return edit->copy();
            case Cut:
                return edit->cut();
            case Paste:
                return edit->paste();
            case Delete:
                if (edit->hasSelectedText())
                    edit->del();
                return;
            case SelectAll:
                return edit->selectAll();
            }
        }
        if (auto *editor = qobject_cast<QsciScintilla *>(w)) {
            switch (command) {
            case Copy:
                return editor->copy();
            case Cut:
                return editor->cut();
            case Paste:
                if (editor == m_ui->MemoList)
                    return m_addresses->paste();
                if (editor == m_ui->memoText)
                    return m_body->paste();
                return editor->paste();
            case Delete:
                return editor->removeSelectedText();
            case SelectAll:
                return editor->selectAll();
            }
        }
        if (w->isWindow())
            return;
    }
}

void TfKolporta::cSendBCCClick()
{
    m_ui->lBCCMaxCount->setEnabled(m_ui->cSendBCC->isChecked());
    m_ui->eBCCMaxCount->setEnabled(m_ui->cSendBCC->isChecked());
}

void TfKolporta::applyHtmlBox()
{
    const bool html = m_ui->cHTMLBody->isChecked();
    m_ui->PageBody->setTabVisible(m_ui->PageBody->indexOf(m_ui->tabHTML), html);
    m_body->setHtml(html);
}

void TfKolporta::cHTMLBodyClick()
{
    applyHtmlBox();
    m_ui->memoText->setFocus();
}

void TfKolporta::mExitClick()
{
    close();
}

void TfKolporta::mMainHelpClick()
{
    Prompts::openUrl(helpPageUrl());
}

void TfKolporta::mWWWClick()
{
    Prompts::openUrl(webPageUrl());
}

// --- Dropped files ------------------------------------------------------------------------

bool TfKolporta::acceptsFileDrop(const QMimeData *mime) const
{
    if (!mime || !mime->hasUrls())
        return false;
    const QList<QUrl> urls = mime->urls();
    return std::any_of(urls.begin(), urls.end(), [](const QUrl &url) { return url.isLocalFile(); });
}

bool TfKolporta::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        // Not taken here, so the window gets it.
        if (acceptsFileDrop(static_cast<QDropEvent *>(event)->mimeData())) {
            event->ignore();
            return true;
        }
        break;
    default:
        break;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TfKolporta::dragEnterEvent(QDragEnterEvent *event)
{
    dragMoveEvent(event);
}

void TfKolporta::dragMoveEvent(QDragMoveEvent *event)
{
    // Nothing can be dropped on the status page.
    if (acceptsFileDrop(event->mimeData()) && m_ui->pgAttach->currentWidget() != m_ui->tsLog)
        event->acceptProposedAction();
    else
        event->ignore();
}

void TfKolporta::dropEvent(QDropEvent *event)
{
    if (!acceptsFileDrop(event->mimeData()))
        return event->ignore();
    FormDropFiles(event->mimeData()->urls());
    event->acceptProposedAction();
}

void TfKolporta::FormDropFiles(const QList<QUrl> &urls)
{
    QListWidget *target = attachmentList();
    if (!target)
        return;
    for (const QUrl &url : urls) {
        // Only files of this machine have a path to list.
        const QString path = url.toLocalFile();
        if (!path.isEmpty())
            target->addItem(path);
    }
    UpdateTabCaptions();
    ActionListUpdate();
}

// --- The document's prompts ---------------------------------------------------------------

PromptAnswer TfKolporta::askYesNoCancel(const QString &text, const QString &caption)
{
    return Prompts::question(this, caption, text);
}

QString TfKolporta::openFileName(const project::FileDialogRequest &request)
{
    return Prompts::openFileName(this, request);
}

QString TfKolporta::saveFileName(const project::FileDialogRequest &request)
{
    return Prompts::saveFileName(this, request);
}

void TfKolporta::showError(const QString &text)
{
    // The general error box ends a sentence that does not end in punctuation.
    QString shown = text;
    if (!shown.isEmpty() && shown.back() > QLatin1Char('.'))
        shown += QLatin1Char('.');
    Prompts::error(this, kTitle, shown);
}

} // namespace kolporta::ui
