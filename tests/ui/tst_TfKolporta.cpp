// The main window, driven by its object names: start-up and the window settings, the
// document's questions through the scripted prompts, what marks the project modified, the
// enable rule, dropped files, and the send run on its own thread against a real aiosmtpd and
// against a server that never answers.

#include "AiosmtpdServer.h"
#include "FakeSmtpServer.h"
#include "TestSupport.h"

#include "preview/HtmlPreview.h"
#include "project/ProjectFile.h"
#include "settings/HomeFolder.h"
#include "ui/HelpPage.h"
#include "ui/Prompts.h"
#include "ui/TfKolporta.h"

#include <Qsci/qsciscintilla.h>

#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QListWidget>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <functional>

using namespace kolporta;
using kolporta::project::PromptAnswer;
using kolporta::ui::Prompts;
using kolporta::ui::TfKolporta;
using Kind = kolporta::ui::Prompts::Kind;
using Step = std::function<void(TfKolporta &)>;

Q_DECLARE_METATYPE(Step)

namespace {

template <class T> T *child(const TfKolporta &w, const char *name)
{
    T *found = w.findChild<T *>(QLatin1String(name));
    if (!found)
        qFatal("no %s", name);
    return found;
}

QAction *action(const TfKolporta &w, const char *name)
{
    return child<QAction>(w, name);
}

QString shownText(const QList<Prompts::Shown> &shown)
{
    QStringList lines;
    for (const Prompts::Shown &s : shown)
        lines << QStringLiteral("%1 %2 | %3").arg(int(s.kind)).arg(s.caption, s.text);
    return lines.join(QLatin1Char('\n'));
}

QString settingsText(const QString &top = QStringLiteral("125"), const QString &lastProject = {})
{
    return QStringLiteral("[General]\nMaximized=0\nTop=%1\nLeft=380\nHeight=546\nWidth=743\n"
                          "LastDir=\nLastProject=%2\n")
        .arg(top, lastProject);
}

QStringList names(const char *list)
{
    return QString::fromLatin1(list).split(QLatin1Char(' '));
}

QWidget *progressWindow()
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *w : windows) {
        if (w->objectName() == QLatin1String("TfInfo") && w->isVisible())
            return w;
    }
    return nullptr;
}

} // namespace

class TestTfKolporta : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void startUp_data();
    void startUp();
    void settingsRoundTrip();
    void openAndSave();
    void closeQuestion_data();
    void closeQuestion();
    void modifiedBy_data();
    void modifiedBy();
    void enableRule_data();
    void enableRule();
    void drops_data();
    void drops();
    void checkBoxes();
    void smallHandlers_data();
    void smallHandlers();
    void addProfile();
    void shortcutsInEditors_data();
    void shortcutsInEditors();
    void editorTools_data();
    void editorTools();
    void sendRun();
    void silentServer();

private:
    QString path(const QString &name) const { return m_home->path() + u'/' + name; }
    QString writeProject(const QString &name, const QString &subject,
        const QStringList &addresses = {}, const QString &smtpServer = {});

    std::unique_ptr<QTemporaryDir> m_home;
};

void TestTfKolporta::init()
{
    // A home folder of its own for every case, with one mail program, so that the route
    // list can be chosen from.
    m_home = std::make_unique<QTemporaryDir>();
    settings::HomeFolder::setOverride(m_home->path());
    test::writeBytes(path(QStringLiteral("mailclients.ini")), "[cat]\r\nCommand=/bin/cat\r\n");
    Prompts::script();
}

void TestTfKolporta::cleanup()
{
    settings::HomeFolder::setOverride({});
}

QString TestTfKolporta::writeProject(const QString &name, const QString &subject,
    const QStringList &addresses, const QString &smtpServer)
{
    project::Project p;
    p.subject = subject;
    p.from = QStringLiteral("Odesílatel <from@example.cz>");
    p.addressList = addresses;
    p.text = QStringList {QStringLiteral("Dobrý den, %TO%.")};
    p.mailer = QStringLiteral("SMTP");
    p.smtpServer = smtpServer;
    p.files = QStringList {path(QStringLiteral("priloha.txt"))};
    test::writeBytes(p.files.constFirst(), "Příloha\r\n");
    QString error;
    if (!project::SaveProject(path(name), p, &error))
        qFatal("%s", qPrintable(error));
    return path(name);
}

void TestTfKolporta::startUp_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("settings"); // "" for no settings.ini
    QTest::addColumn<bool>("withTemplate");
    QTest::addColumn<QString>("opened");
    QTest::addColumn<bool>("untitled");
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("error");

    const QString last = QStringLiteral("%HOME%/b.kpj");
    const QString fresh = QStringLiteral(u"Projects/Nový projekt.kpj");
    QTest::newRow("command line") << QStringList {QStringLiteral("a.kpj")}
                                  << settingsText(QStringLiteral("125"), last) << true << "a.kpj"
                                  << false << "A"
                                  << "";
    QTest::newRow("missing file, last project")
        << QStringList {QStringLiteral("gone.kpj")} << settingsText(QStringLiteral("125"), last)
        << true << "b.kpj" << false << "B"
        << "";
    QTest::newRow("template") << QStringList {} << settingsText() << true << "Default.KPJ" << true
                              << "T"
                              << "";
    QTest::newRow("first start, new") << QStringList {} << "" << false << fresh << true << ""
                                      << "";
    QTest::newRow("value of another type")
        << QStringList {QStringLiteral("a.kpj")} << settingsText(QStringLiteral("abc"), last)
        << true << fresh << true << ""
        << "Invalid data type for 'Top'";
    QTest::newRow("value missing")
        << QStringList {QStringLiteral("a.kpj")} << QStringLiteral("[General]\nMaximized=0\n")
        << true << fresh << true << ""
        << "Failed to get data for 'Top'";
}

void TestTfKolporta::startUp()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, settings);
    QFETCH(bool, withTemplate);
    QFETCH(QString, opened);
    QFETCH(bool, untitled);
    QFETCH(QString, subject);
    QFETCH(QString, error);

    writeProject(QStringLiteral("a.kpj"), QStringLiteral("A"));
    writeProject(QStringLiteral("b.kpj"), QStringLiteral("B"));
    if (withTemplate)
        writeProject(QStringLiteral("Default.KPJ"), QStringLiteral("T"));
    if (!settings.isEmpty())
        test::writeBytes(path(QStringLiteral("settings.ini")),
            settings.replace(QStringLiteral("%HOME%"), m_home->path()).toUtf8());
    for (QString &argument : arguments)
        argument = path(argument);

    TfKolporta w(arguments);
    const QString file = path(opened);
    QCOMPARE(w.document().projectFileName(), file);
    QCOMPARE(w.document().isUntitled(), untitled);
    QVERIFY(!w.document().isModified());
    QCOMPARE(w.windowTitle(), QStringLiteral("Kolporta   [ %1 ]").arg(QFileInfo(file).fileName()));
    QCOMPARE(child<QLineEdit>(w, "eSubject")->text(), subject);
    QCOMPARE(shownText(Prompts::takeShown()),
        error.isEmpty() ? QString() : QStringLiteral("2 Kolporta | ") + error);
}

void TestTfKolporta::settingsRoundTrip()
{
    const QString project = writeProject(QStringLiteral("a.kpj"), QStringLiteral("A"));
    {
        TfKolporta w;
        QCOMPARE(w.geometry(), QRect(380, 125, 743, 546));
        w.show();
        w.move(100, 50);
        w.resize(800, 600);
        Prompts::setNextAnswer(PromptAnswer::No);
        Prompts::setNextFileName(project);
        action(w, "aOpen")->trigger();
        QVERIFY(w.close());
    }
    QSettings ini(path(QStringLiteral("settings.ini")), QSettings::IniFormat);
    QCOMPARE(ini.value(QStringLiteral("LastProject")).toString(), project);
    QCOMPARE(ini.value(QStringLiteral("LastDir")).toString(), m_home->path());
    {
        TfKolporta w;
        QCOMPARE(w.document().projectFileName(), project);
        QCOMPARE(w.pos(), QPoint(100, 50));
        QCOMPARE(w.size(), QSize(800, 600));
        QVERIFY(!w.isMaximized());
        w.showMaximized();
        QVERIFY(w.close());
    }
    {
        TfKolporta w;
        QVERIFY(w.windowState() & Qt::WindowMaximized);
        // Restored, it takes the designed bounds, not those from before it was maximized.
        QCOMPARE(w.normalGeometry().size(), QSize(743, 546));
    }
}

void TestTfKolporta::openAndSave()
{
    const QString a = writeProject(QStringLiteral("a.kpj"), QStringLiteral("A"),
        {QStringLiteral("x@example.cz"), QStringLiteral("y@example.cz")});
    const QString b = writeProject(QStringLiteral("b.kpj"), QStringLiteral("B"));
    TfKolporta w({a});
    w.show();
    QCOMPARE(child<QLabel>(w, "lItems")->text(), QStringLiteral("2 adres"));
    QCOMPARE(child<QTabWidget>(w, "pgAttach")->tabText(1), QStringLiteral(u"Přílohy  (1) "));
    QTest::keyClicks(child<QLineEdit>(w, "eSubject"), QStringLiteral("!"));
    QVERIFY(w.document().isModified());

    Prompts::setNextAnswer(PromptAnswer::Cancel);
    action(w, "aOpen")->trigger();
    QCOMPARE(shownText(Prompts::takeShown()), QStringLiteral(u"0 Question | Uložit projekt?"));
    QCOMPARE(w.document().projectFileName(), a);

    // Yes saves the edited subject first, then the chosen project replaces it.
    Prompts::setNextAnswer(PromptAnswer::Yes);
    Prompts::setNextFileName(b);
    action(w, "aOpen")->trigger();
    QCOMPARE(shownText(Prompts::takeShown()),
        QStringLiteral(u"0 Question | Uložit projekt?\n3 Kolporta (*.kpj);;All files (*.*) | "));
    QString error;
    project::Project saved;
    QVERIFY(project::LoadProject(a, &saved, {}, &error));
    QCOMPARE(saved.subject, QStringLiteral("!A"));
    QCOMPARE(w.document().projectFileName(), b);
    QCOMPARE(w.windowTitle(), QStringLiteral("Kolporta   [ b.kpj ]"));
    QCOMPARE(child<QLineEdit>(w, "eSubject")->text(), QStringLiteral("B"));
    QCOMPARE(child<QLabel>(w, "lItems")->text(), QStringLiteral("0 adres"));
    QVERIFY(!w.document().isModified());

    QTest::keyClicks(child<QsciScintilla>(w, "MemoList"), QStringLiteral("z@example.cz"));
    const QString c = path(QStringLiteral("c.kpj"));
    Prompts::setNextFileName(c);
    action(w, "aSaveAs")->trigger();
    QCOMPARE(shownText(Prompts::takeShown()), QStringLiteral("4 Kolporta (*.kpj) | ") + b);
    QVERIFY(project::LoadProject(c, &saved, {}, &error));
    QCOMPARE(saved.addressList, QStringList {QStringLiteral("z@example.cz")});
    QCOMPARE(w.windowTitle(), QStringLiteral("Kolporta   [ c.kpj ]"));
    QVERIFY(!w.document().isModified());

    // New keeps the sender, empties the lists and the subject, and asks nothing.
    action(w, "aNew")->trigger();
    QCOMPARE(shownText(Prompts::takeShown()), QString());
    QCOMPARE(w.windowTitle(), QStringLiteral(u"Kolporta   [ Nový projekt.kpj ]"));
    QCOMPARE(child<QLineEdit>(w, "eFrom")->text(), QStringLiteral(u"Odesílatel <from@example.cz>"));
    QCOMPARE(child<QLabel>(w, "lItems")->text(), QStringLiteral("0 adres"));
    QCOMPARE(child<QTabWidget>(w, "pgAttach")->tabText(1), QStringLiteral(u"Přílohy  (0) "));
}

void TestTfKolporta::closeQuestion_data()
{
    QTest::addColumn<bool>("untitled");
    QTest::addColumn<PromptAnswer>("answer");
    QTest::addColumn<QString>("saveAs"); // the save dialog's answer, for an untitled project
    QTest::addColumn<bool>("closes");
    QTest::addColumn<QString>("savedSubject"); // the subject in the file afterwards

    QTest::newRow("cancel") << false << PromptAnswer::Cancel << "" << false << "A";
    QTest::newRow("no") << false << PromptAnswer::No << "" << true << "A";
    QTest::newRow("yes") << false << PromptAnswer::Yes << "" << true << "!A";
    QTest::newRow("yes, untitled, dialog cancelled")
        << true << PromptAnswer::Yes << "" << true << "A";
    QTest::newRow("yes, untitled") << true << PromptAnswer::Yes << "a.kpj" << true << "!";
}

void TestTfKolporta::closeQuestion()
{
    QFETCH(bool, untitled);
    QFETCH(PromptAnswer, answer);
    QFETCH(QString, saveAs);
    QFETCH(bool, closes);
    QFETCH(QString, savedSubject);

    const QString a = writeProject(QStringLiteral("a.kpj"), QStringLiteral("A"));
    TfKolporta w(untitled ? QStringList() : QStringList {a});
    w.show();
    QTest::keyClicks(child<QLineEdit>(w, "eSubject"), QStringLiteral("!"));
    Prompts::setNextAnswer(answer);
    if (untitled)
        Prompts::setNextFileName(saveAs.isEmpty() ? QString() : path(saveAs));
    QCOMPARE(w.close(), closes);
    QCOMPARE(Prompts::takeShown().constFirst().text, QStringLiteral(u"Uložit aktuální projekt ?"));
    // The settings are written whatever the answer.
    QVERIFY(QFileInfo::exists(path(QStringLiteral("settings.ini"))));
    project::Project saved;
    QString error;
    QVERIFY(project::LoadProject(a, &saved, {}, &error));
    QCOMPARE(saved.subject, savedSubject);
}

void TestTfKolporta::modifiedBy_data()
{
    QTest::addColumn<Step>("step");
    QTest::addColumn<bool>("modified");

    auto type = [](const char *name) {
        return Step([name](TfKolporta &w) {
            QWidget *target = child<QWidget>(w, name);
            if (auto *box = qobject_cast<QAbstractSpinBox *>(target))
                target = box->findChild<QLineEdit *>();
            QTest::keyClicks(target, QStringLiteral("7"));
        });
    };
    QTest::newRow("address list") << type("MemoList") << true;
    QTest::newRow("body") << type("memoText") << true;
    QTest::newRow("sender") << type("eFrom") << true;
    QTest::newRow("subject") << type("eSubject") << true;
    QTest::newRow("route chosen") << Step([](TfKolporta &w) {
        QTest::keyClick(child<QComboBox>(w, "cbeMail"), Qt::Key_Down);
    }) << true;
    QTest::newRow("attachment clicked") << Step([](TfKolporta &w) {
        auto *files = child<QListWidget>(w, "lbFiles");
        child<QTabWidget>(w, "pgAttach")->setCurrentIndex(1);
        QTest::mouseClick(
            files->viewport(), Qt::LeftButton, {}, files->visualItemRect(files->item(0)).center());
    }) << true;
    QTest::newRow("batch size") << type("eBCCMaxCount") << false;
    QTest::newRow("BCC box") << Step([](TfKolporta &w) {
        QTest::mouseClick(child<QCheckBox>(w, "cSendBCC"), Qt::LeftButton);
    }) << false;
    QTest::newRow("HTML box") << Step([](TfKolporta &w) {
        QTest::mouseClick(child<QCheckBox>(w, "cHTMLBody"), Qt::LeftButton);
    }) << false;
    QTest::newRow("search") << type("eSearch") << false;
}

void TestTfKolporta::modifiedBy()
{
    QFETCH(Step, step);
    QFETCH(bool, modified);

    TfKolporta w({writeProject(QStringLiteral("a.kpj"), QStringLiteral("A"))});
    w.show();
    step(w);
    QCOMPARE(w.document().isModified(), modified);
}

void TestTfKolporta::enableRule_data()
{
    QTest::addColumn<Step>("step");
    QTest::addColumn<QStringList>("disabled");

    // The project has no address line, no profile, one attachment, and shows the pictures.
    QTest::newRow("as loaded") << Step() << names("aSend aEditSMTP aRemAtt");
    QTest::newRow("one empty line") << Step([](TfKolporta &w) {
        QTest::keyClick(child<QsciScintilla>(w, "MemoList"), Qt::Key_Return);
    }) << names("aEditSMTP aRemAtt");
    QTest::newRow("profile chosen")
        << Step([](TfKolporta &w) { child<QComboBox>(w, "cbSMTPServer")->setCurrentIndex(0); })
        << names("aSend aRemAtt");
    QTest::newRow("attachment selected") << Step([](TfKolporta &w) {
        child<QTabWidget>(w, "pgAttach")->setCurrentIndex(1);
        child<QListWidget>(w, "lbFiles")->setCurrentRow(0);
    }) << names("aSend aEditSMTP");
    QTest::newRow("back on the pictures") << Step([](TfKolporta &w) {
        child<QListWidget>(w, "lbFiles")->setCurrentRow(0);
        child<QTabWidget>(w, "pgAttach")->setCurrentIndex(0);
    }) << names("aSend aEditSMTP aRemAtt");
    QTest::newRow("status page") << Step([](TfKolporta &w) {
        child<QTabWidget>(w, "pgAttach")->setCurrentIndex(2);
    }) << names("aSend aEditSMTP aAddAtt aRemAtt");
}

void TestTfKolporta::enableRule()
{
    QFETCH(Step, step);
    QFETCH(QStringList, disabled);

    test::writeBytes(path(QStringLiteral("smtp.ini")), "[test]\r\nServer=127.0.0.1\r\n");
    TfKolporta w({writeProject(QStringLiteral("a.kpj"), QStringLiteral("A"))});
    w.show();
    if (step)
        step(w);
    QStringList found;
    const QList<QAction *> actions = w.findChildren<QAction *>();
    for (const QAction *a : actions) {
        if (!a->isEnabled() && !a->objectName().isEmpty())
            found << a->objectName();
    }
    found.sort();
    disabled.sort();
    QCOMPARE(found.join(u' '), disabled.join(u' '));
    // The profile buttons follow their actions.
    QCOMPARE(child<QToolButton>(w, "bEditSMTP")->isEnabled(),
        !disabled.contains(QLatin1String("aEditSMTP")));
    QVERIFY(child<QToolButton>(w, "bAddSMTP")->isEnabled());
}

void TestTfKolporta::drops_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("on");
    QTest::addColumn<int>("pictures");
    QTest::addColumn<int>("attachments");

    QTest::newRow("pictures, on the address list") << 0 << "MemoList" << 3 << 1;
    QTest::newRow("attachments, on the address list") << 1 << "MemoList" << 0 << 4;
    QTest::newRow("attachments, on the sender") << 1 << "eFrom" << 0 << 4;
    QTest::newRow("status page") << 2 << "MemoList" << 0 << 1;
}

void TestTfKolporta::drops()
{
    QFETCH(int, page);
    QFETCH(QString, on);
    QFETCH(int, pictures);
    QFETCH(int, attachments);

    TfKolporta w({writeProject(QStringLiteral("a.kpj"), QStringLiteral("A"))});
    w.show();
    child<QTabWidget>(w, "pgAttach")->setCurrentIndex(page);
    QWidget *target = child<QWidget>(w, on.toLatin1().constData());
    if (auto *area = qobject_cast<QAbstractScrollArea *>(target))
        target = area->viewport();

    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/a.png")),
        QUrl::fromLocalFile(QStringLiteral("/tmp/b c.png")),
        QUrl::fromLocalFile(QStringLiteral(u"/tmp/č.png"))});
    mime.setText(QStringLiteral("/tmp/a.png")); // what would land in an edit as text
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(target, &enter);
    QCOMPARE(enter.isAccepted(), page != 2);
    // The drop goes where the drag was accepted: the window.
    QDropEvent drop(
        w.mapFromGlobal(target->mapToGlobal(at)), Qt::CopyAction, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(&w, &drop);

    QCOMPARE(child<QListWidget>(w, "lbAttach")->count(), pictures);
    QCOMPARE(child<QListWidget>(w, "lbFiles")->count(), attachments);
    QCOMPARE(child<QTabWidget>(w, "pgAttach")->tabText(0),
        QStringLiteral(u"Obrázky do HTML  (%1) ").arg(pictures));
    QCOMPARE(child<QTabWidget>(w, "pgAttach")->tabText(1),
        QStringLiteral(u"Přílohy  (%1) ").arg(attachments));
    QCOMPARE(child<QsciScintilla>(w, "MemoList")->text(), QString());
    QVERIFY(!w.document().isModified());
}

void TestTfKolporta::checkBoxes()
{
    TfKolporta w({writeProject(QStringLiteral("a.kpj"), QStringLiteral("A"))});
    w.show();
    auto *bcc = child<QCheckBox>(w, "cSendBCC");
    auto *html = child<QCheckBox>(w, "cHTMLBody");
    auto *body = child<QTabWidget>(w, "PageBody");
    auto *memoText = child<QsciScintilla>(w, "memoText");
    QWidget *batchSize = child<QWidget>(w, "eBCCMaxCount");
    QVERIFY(!batchSize->isEnabled());
    QVERIFY(!body->isTabVisible(1));
    for (int click = 1; click <= 2; ++click) {
        const bool on = click == 1;
        QTest::mouseClick(bcc, Qt::LeftButton);
        QCOMPARE(batchSize->isEnabled(), on);
        QCOMPARE(child<QLabel>(w, "lBCCMaxCount")->isEnabled(), on);
        QTest::mouseClick(html, Qt::LeftButton);
        QCOMPARE(body->isTabVisible(1), on);
        QCOMPARE(memoText->lexer() != nullptr, on);
    }
    // The batch-size arrows step the number between 0 and 100; typed text stays as typed.
    QTest::mouseClick(bcc, Qt::LeftButton);
    auto *edit = batchSize->findChild<QLineEdit *>();
    edit->setText(QStringLiteral("99"));
    QTest::keyClick(batchSize, Qt::Key_Up);
    QTest::keyClick(batchSize, Qt::Key_Up);
    QCOMPARE(edit->text(), QStringLiteral("100"));
    edit->setText(QStringLiteral("abc"));
    QTest::keyClick(batchSize, Qt::Key_Down);
    QCOMPARE(edit->text(), QStringLiteral("99"));
    edit->selectAll();
    QTest::keyClicks(edit, QStringLiteral("7 x"));
    QCOMPARE(edit->text(), QStringLiteral("7 x"));
}

void TestTfKolporta::smallHandlers_data()
{
    QTest::addColumn<Step>("step");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("text");

    QTest::newRow("aBlock") << Step([](TfKolporta &w) { action(w, "aBlock")->trigger(); })
                            << int(Kind::Information) << "Informace"
                            << "";
    QTest::newRow("help menu") << Step([](TfKolporta &w) { action(w, "mMainHelp")->trigger(); })
                               << int(Kind::Url) << "" << ui::helpPageUrl().toString();
    QTest::newRow("F1 in the address list") << Step([](TfKolporta &w) {
        QTest::keyClick(child<QsciScintilla>(w, "MemoList"), Qt::Key_F1);
    }) << int(Kind::Url) << "" << ui::helpPageUrl().toString();
    QTest::newRow("web page") << Step([](TfKolporta &w) { action(w, "mWWW")->trigger(); })
                              << int(Kind::Url) << "" << ui::webPageUrl().toString();
}

void TestTfKolporta::smallHandlers()
{
    QFETCH(Step, step);
    QFETCH(int, kind);
    QFETCH(QString, caption);
    QFETCH(QString, text);

    TfKolporta w;
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    step(w);
    const QList<Prompts::Shown> shown = Prompts::takeShown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(int(shown[0].kind), kind);
    QCOMPARE(shown[0].caption, caption);
    if (!text.isEmpty())
        QCOMPARE(shown[0].text, text);
}

void TestTfKolporta::addProfile()
{
    TfKolporta w({writeProject(QStringLiteral("a.kpj"), QStringLiteral("A"))});
    w.show();
    // The profile dialog is modal; fill it in and press OK once it is up.
    QTimer::singleShot(0, &w, [] {
        QWidget *dialog = QApplication::activeModalWidget();
        QVERIFY(dialog);
        dialog->findChild<QLineEdit *>(QStringLiteral("eSMTPName"))
            ->setText(QStringLiteral(u"Nový"));
        dialog->findChild<QLineEdit *>(QStringLiteral("eSMTPServer"))
            ->setText(QStringLiteral("smtp.example.cz"));
        QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("bOK")), Qt::LeftButton);
    });
    child<QToolButton>(w, "bAddSMTP")->click();
    auto *profiles = child<QComboBox>(w, "cbSMTPServer");
    QCOMPARE(profiles->currentText(), QStringLiteral(u"Nový"));
    QVERIFY(action(w, "aEditSMTP")->isEnabled());
    // Chosen by the program, not by the user: the project is not modified.
    QVERIFY(!w.document().isModified());
    QVERIFY(test::readBytes(path(QStringLiteral("smtp.ini")))
                .contains(QStringLiteral(u"[Nový]").toUtf8()));
}

void TestTfKolporta::shortcutsInEditors_data()
{
    QTest::addColumn<QString>("editor");
    QTest::addColumn<QKeySequence>("key");
    QTest::addColumn<QString>("actionName");

    QTest::newRow("Ctrl+D") << "MemoList" << QKeySequence(Qt::CTRL | Qt::Key_D) << "aAddAtt";
    QTest::newRow("Ctrl+V") << "memoText" << QKeySequence(Qt::CTRL | Qt::Key_V) << "aPaste";
    QTest::newRow("Ctrl+C") << "MemoList" << QKeySequence(Qt::CTRL | Qt::Key_C) << "EditCopy1";
}

void TestTfKolporta::shortcutsInEditors()
{
    QFETCH(QString, editor);
    QFETCH(QKeySequence, key);
    QFETCH(QString, actionName);

    TfKolporta w;
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    auto *target = child<QsciScintilla>(w, editor.toLatin1().constData());
    target->setFocus();
    QSignalSpy triggered(action(w, actionName.toLatin1().constData()), &QAction::triggered);
    QTest::keySequence(target, key);
    QCOMPARE(triggered.size(), 1);
    QCOMPARE(target->text(), QString());
}

// The tools of the editors, reached through the window's actions and controls: the list,
// its selection, the body, the number of pictures, and "*" when the project is modified.
void TestTfKolporta::editorTools_data()
{
    QTest::addColumn<Step>("step");
    QTest::addColumn<QString>("state");

    auto trigger
        = [](const char *name) { return [name](TfKolporta &w) { action(w, name)->trigger(); }; };
    QTest::newRow("sort") << Step(trigger("aSortAddress"))
                          << QStringLiteral(u"A@x.cz\nb@y.cz |  | Příliš žluťoučký | 0 *");
    QTest::newRow("remove diacritics") << Step(
        trigger("aToASCII")) << QStringLiteral(u"b@y.cz\nA@x.cz |  | Prilis zlutoucky | 0 *");
    QTest::newRow("paste into the list") << Step([](TfKolporta &w) {
        QGuiApplication::clipboard()->setText(QStringLiteral("c@z.cz; 'd'@z.cz"));
        child<QsciScintilla>(w, "MemoList")->setFocus();
        action(w, "aPaste")->trigger();
    }) << QStringLiteral(u"c@z.cz\nd@z.cz\nb@y.cz\nA@x.cz |  | Příliš žluťoučký | 0 *");
    QTest::newRow("macro") << Step([](TfKolporta &w) {
        child<QsciScintilla>(w, "memoText")->setCursorPosition(0, 7);
        action(w, "m1")->trigger();
    }) << QStringLiteral(u"b@y.cz\nA@x.cz |  | Příliš %TO%žluťoučký | 0 *");
    QTest::newRow("quick search") << Step([](TfKolporta &w) {
        QTest::keyClicks(child<QLineEdit>(w, "eSearch"), QStringLiteral("X.C"));
    }) << QStringLiteral(u"b@y.cz\nA@x.cz | x.c | Příliš žluťoučký | 0");
    QTest::newRow("body from a file") << Step([](TfKolporta &w) {
        const QString file = w.document().openFolder() + QStringLiteral("/body.htm");
        test::writeBytes(file, "<p>\x9Elu\x9D</p>\r\n");
        Prompts::setNextFileName(file);
        action(w, "aOpenContent")->trigger();
    }) << QStringLiteral(u"b@y.cz\nA@x.cz |  | <p>žluť</p> | 0 *");
    QTest::newRow("two pictures added, one removed") << Step([](TfKolporta &w) {
        Prompts::setNextFileName(QStringLiteral("/p/a.png\n/p/b.png"));
        action(w, "aAddAtt")->trigger();
        child<QListWidget>(w, "lbAttach")->setCurrentRow(0);
        action(w, "aRemAtt")->trigger();
    }) << QStringLiteral(u"b@y.cz\nA@x.cz |  | Příliš žluťoučký | 1 *");
}

void TestTfKolporta::editorTools()
{
    QFETCH(Step, step);
    project::Project p;
    p.addressList = QStringList {QStringLiteral("b@y.cz"), QStringLiteral("A@x.cz")};
    p.text = QStringList {QStringLiteral(u"Příliš žluťoučký")};
    p.htmlBody = true;
    QString error;
    QVERIFY(project::SaveProject(path(QStringLiteral("t.kpj")), p, &error));
    TfKolporta w({path(QStringLiteral("t.kpj"))});
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    step(w);
    auto *list = child<QsciScintilla>(w, "MemoList");
    QTEST(QStringLiteral("%1 | %2 | %3 | %4%5")
              .arg(list->text(), list->selectedText(), child<QsciScintilla>(w, "memoText")->text())
              .arg(child<QListWidget>(w, "lbAttach")->count())
              .arg(w.document().isModified() ? QStringLiteral(" *") : QString()),
        "state");
    QVERIFY(!list->isUndoAvailable() || !QByteArray(QTest::currentDataTag()).startsWith("sort"));
    // The web view is made only when the preview page is shown.
    QVERIFY(!w.findChild<preview::HtmlPreview *>());
}

void TestTfKolporta::sendRun()
{
    // Every socket must live on the run's thread; Qt warns when one is used across threads.
    QTest::failOnWarning(QRegularExpression(QStringLiteral("thread|QSocketNotifier")));
    test::AiosmtpdServer server;
    QString error;
    QVERIFY2(server.start(&error), qPrintable(error));
    test::writeBytes(path(QStringLiteral("smtp.ini")),
        QStringLiteral("[test]\r\nServer=%1\r\nPort=%2\r\n")
            .arg(server.host(), server.portText())
            .toUtf8());
    const QStringList lines {QStringLiteral("Anna <a@example.cz>"), QStringLiteral(" "),
        QStringLiteral("b@example.cz"), QStringLiteral("c@example.cz")};
    TfKolporta w({writeProject(
        QStringLiteral("a.kpj"), QStringLiteral("A"), lines, QStringLiteral("test"))});
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    const QString caption = w.windowTitle();

    QTest::keyClick(&w, Qt::Key_F5);
    QVERIFY(w.isSending());
    for (const char *name : {"aNew", "aOpen", "aSaveAs", "aSortAddress", "aSend"})
        QVERIFY2(!action(w, name)->isEnabled(), name);
    QVERIFY(action(w, "aSave")->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(!w.isSending(), 30000);

    QCOMPARE(w.sendLog().join(u'\n'),
        QStringList({QStringLiteral("Odesilani pres SMTP - individualne"), lines[0], lines[2],
                        lines[3], QStringLiteral("--- odesilani ukonceno ---")})
            .join(u'\n'));
    QVERIFY(server.waitForMessages(3));
    QCOMPARE(server.messages().size(), 3);
    QCOMPARE(server.messages().at(2).rcptTo, QStringList {QStringLiteral("c@example.cz")});
    const QDir logs(path(QStringLiteral("Log")));
    const QStringList journals = logs.entryList({QStringLiteral("*.journal")});
    QCOMPARE(journals.size(), 1);
    QFile journal(logs.filePath(journals.constFirst()));
    QVERIFY(journal.open(QIODevice::ReadOnly));
    QCOMPARE(QJsonDocument::fromJson(journal.readLine()).object().value(u"project").toString(),
        QFileInfo(path(QStringLiteral("a.kpj"))).absoluteFilePath());
    auto *status = child<QListWidget>(w, "lbLog");
    QVERIFY(status->count() > 0);
    QCOMPARE(w.windowTitle(), caption);
    QVERIFY(action(w, "aSend")->isEnabled());
    QVERIFY(action(w, "aNew")->isEnabled());
    QVERIFY(!progressWindow());
    QCOMPARE(child<QProgressBar>(w, "Progress")->value(), 0);
    QVERIFY(!w.document().isModified());
}

void TestTfKolporta::silentServer()
{
    // The server never answers MAIL FROM; the client waits out its two seconds meanwhile.
    test::FakeSmtpServer server;
    server.setFault("MAIL", test::FakeSmtpServer::Fault::Silent);
    test::writeBytes(path(QStringLiteral("smtp.ini")),
        QStringLiteral("[test]\r\nServer=%1\r\nPort=%2\r\nTimeout=2\r\n")
            .arg(server.host(), server.portText())
            .toUtf8());
    TfKolporta w({writeProject(QStringLiteral("a.kpj"), QStringLiteral("A"),
        {QStringLiteral("a@example.cz"), QStringLiteral("b@example.cz")}, QStringLiteral("test"))});
    w.show();

    action(w, "aSend")->trigger();
    // EHLO, MAIL; the run asks the window for the sender meanwhile, so the wait must let the
    // window answer.
    QTRY_COMPARE(server.commands().size(), 2);
    // The window goes on handling its events while the run waits for the server.
    QElapsedTimer clock;
    clock.start();
    qint64 firedAfter = -1;
    QTimer::singleShot(50, &w, [&] { firedAfter = clock.elapsed(); });
    QTRY_VERIFY_WITH_TIMEOUT(firedAfter >= 0, 1500);
    QVERIFY(w.isSending());
    QCOMPARE(w.windowTitle(), QStringLiteral("Kolporta: 1/2"));
    QVERIFY(QApplication::overrideCursor());

    // Closing asks first; No lets the run go on.
    Prompts::setNextAnswer(PromptAnswer::No);
    QVERIFY(!w.close());
    QCOMPARE(Prompts::takeShown().constFirst().caption, QStringLiteral("Dotaz"));
    QTRY_VERIFY(progressWindow());
    QPointer<QWidget> info = progressWindow();
    QTest::keyClick(info, Qt::Key_Escape);
    QTRY_VERIFY(info.isNull());
    QVERIFY(w.isSending());

    QTRY_VERIFY_WITH_TIMEOUT(!w.isSending(), 15000);
    QCOMPARE(w.sendLog().join(u'\n'),
        QStringList(
            {QStringLiteral("Odesilani pres SMTP - individualne"),
                QStringLiteral(u"!!! a@example.cz  Chyba při odesílání: Connection timed out"),
                QStringLiteral("!!! odesilani preruseno uzivatelem"),
                QStringLiteral("--- odesilani ukonceno ---")})
            .join(u'\n'));
    QVERIFY(!server.commands().contains("RCPT TO:<b@example.cz>"));
    QCOMPARE(w.windowTitle(), QStringLiteral("Kolporta   [ a.kpj ]"));
    QVERIFY(!QApplication::overrideCursor());
}

QTEST_MAIN(TestTfKolporta)
#include "tst_TfKolporta.moc"
