#include "project/Document.h"
#include "project/WindowTexts.h"

#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>

using namespace kolporta::project;
using kolporta::test::homePath;

namespace {

// Answers the document's questions and dialogs from a script and records every call, with
// the home folder shown as "~".
class ScriptedPrompts : public DocumentPrompts
{
public:
    QStringList answers; // "yes", "no", "cancel" for questions; a name under ~ or "" for dialogs
    QStringList calls;

    PromptAnswer askYesNoCancel(const QString &text, const QString &caption) override
    {
        calls << QStringLiteral("ask %1 | %2").arg(text, caption);
        const QString a = next();
        if (a == QLatin1String("yes"))
            return PromptAnswer::Yes;
        if (a == QLatin1String("no"))
            return PromptAnswer::No;
        if (a == QLatin1String("cancel"))
            return PromptAnswer::Cancel;
        qFatal("script expected a question answer");
        return PromptAnswer::Cancel;
    }
    QString openFileName(const FileDialogRequest &r) override
    {
        calls << QStringLiteral("open ") + describe(r);
        return pathOf(next());
    }
    QString saveFileName(const FileDialogRequest &r) override
    {
        calls << QStringLiteral("save ") + describe(r);
        return pathOf(next());
    }
    void showError(const QString &text) override
    {
        // The system's reason varies; keep the text up to the closing quote of the path.
        calls << QStringLiteral("error ")
                + tilde(text.left(text.indexOf(u'"', text.indexOf(u'"') + 1) + 1));
    }
    void writeWindowSettings() override { calls << QStringLiteral("settings"); }

    static QString tilde(QString s) { return s.replace(homePath(), QStringLiteral("~")); }

private:
    QString next()
    {
        if (answers.isEmpty())
            qFatal("prompt script ran out");
        return answers.takeFirst();
    }
    static QString pathOf(const QString &name)
    {
        return name.isEmpty() ? QString() : homePath() + u'/' + name;
    }
    static QString describe(const FileDialogRequest &r)
    {
        return tilde(QStringLiteral("%1 | %2 | %3 | %4%5")
                         .arg(r.nameFilters.join(QStringLiteral(";;")), r.defaultSuffix, r.fileName,
                             r.initialFolder,
                             r.confirmOverwrite ? QStringLiteral(" | confirm") : QString()));
    }
};

void writeProject(const QString &name, const QString &subject)
{
    Project p;
    p.subject = subject;
    QString error;
    if (!SaveProject(homePath() + u'/' + name, p, &error))
        qFatal("%s", qPrintable(error));
}

QString subjectOnDisk(const QString &name)
{
    Project p;
    QString error;
    if (!LoadProject(homePath() + u'/' + name, &p, {}, &error))
        return QStringLiteral("<none>");
    return p.subject;
}

const QString kOpenFilters = QStringLiteral("Kolporta (*.kpj);;All files (*.*) | kpj");
const QString kSaveFilters = QStringLiteral("Kolporta (*.kpj) | kpj");
QString s(const QString &x)
{
    return x;
}
QString s(const char *x)
{
    return QString::fromUtf8(x);
}
template <typename... T> QStringList L(const T &...x)
{
    return QStringList {s(x)...};
}

} // namespace

class TestDocument : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QDir(homePath()).removeRecursively();
        QDir().mkpath(homePath());
        writeProject(QStringLiteral("current.kpj"), QStringLiteral("current"));
        writeProject(QStringLiteral("other.kpj"), QStringLiteral("other"));
    }

    // Each row starts from current.kpj (subject "current") open in the document, titled or
    // untitled, with or without unsaved changes (the change is the subject "edited").
    void decisions_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("modified");
        QTest::addColumn<bool>("untitled");
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<QString>("fileName"); // afterwards, under ~
        QTest::addColumn<bool>("untitledAfter");
        QTest::addColumn<bool>("modifiedAfter");
        QTest::addColumn<QString>("subject"); // in the document afterwards
        QTest::addColumn<QStringList>("disk"); // name=subject of files afterwards
        QTest::addColumn<bool>("canClose");

        const QString askOpen = QStringLiteral(u"ask Uložit projekt? | Question");
        const QString askClose = QStringLiteral(u"ask Uložit aktuální projekt ? | Dotaz");
        const QString openDlg = QStringLiteral("open ") + kOpenFilters + QStringLiteral(" |  | ~");
        const QString saveDlg
            = QStringLiteral("save ") + kSaveFilters + QStringLiteral(" | ~/current.kpj | ~");
        const QString settings = QStringLiteral("settings");
        const QStringList untouched {
            QStringLiteral("current.kpj=current"), QStringLiteral("other.kpj=other")};
        const QStringList savedCurrent {
            QStringLiteral("current.kpj=edited"), QStringLiteral("other.kpj=other")};
        const QString cur = QStringLiteral("current.kpj");
        const QString oth = QStringLiteral("other.kpj");
        const QString edited = QStringLiteral("edited");
        const QString current = QStringLiteral("current");
        const QString other = QStringLiteral("other");

        QTest::newRow("open, unchanged: no question")
            << s("open") << false << false << L(oth) << L(openDlg) << oth << false << false << other
            << untouched << true;
        QTest::newRow("open, changed, yes: saves, then opens")
            << s("open") << true << false << L("yes", oth) << L(askOpen, openDlg) << oth << false
            << false << other << savedCurrent << true;
        QTest::newRow("open, changed, no: discards")
            << s("open") << true << false << L("no", oth) << L(askOpen, openDlg) << oth << false
            << false << other << untouched << true;
        QTest::newRow("open, changed, cancel: nothing happens")
            << s("open") << true << false << L("cancel") << L(askOpen) << cur << false << true
            << edited << untouched << true;
        QTest::newRow("open, untitled, yes, save cancelled: still opens")
            << s("open") << true << true << L("yes", "", oth) << L(askOpen, saveDlg, openDlg) << oth
            << false << false << other << untouched << true;
        QTest::newRow("open, untitled, yes, save cancelled, open cancelled")
            << s("open") << true << true << L("yes", "", "") << L(askOpen, saveDlg, openDlg) << cur
            << true << true << edited << untouched << true;
        QTest::newRow("open, untitled, yes, save failed: stops")
            << s("open") << true << true << L("yes", "gone/x.kpj")
            << L(askOpen, saveDlg, QStringLiteral("error Cannot create file \"~/gone/x.kpj\""))
            << cur << true << true << edited << untouched << true;
        QTest::newRow("open dialog cancelled")
            << s("open") << false << false << L("") << L(openDlg) << cur << false << false
            << current << untouched << true;
        QTest::newRow("open a missing file: error, nothing changes")
            << s("open") << true << false << L("no", "missing.kpj")
            << L(askOpen, openDlg, QStringLiteral("error Cannot open file \"~/missing.kpj\""))
            << cur << false << true << edited << untouched << true;

        QTest::newRow("save titled: no dialog") << s("save") << true << false << L() << L() << cur
                                                << false << false << edited << savedCurrent << true;
        QTest::newRow("save untitled: dialog, new name")
            << s("save") << true << true << L("new.kpj") << L(saveDlg) << s("new.kpj") << false
            << false << edited << (untouched + L("new.kpj=edited")) << true;
        QTest::newRow("save untitled, cancelled: nothing changes")
            << s("save") << true << true << L("") << L(saveDlg) << cur << true << true << edited
            << untouched << true;
        QTest::newRow("save untitled over an existing file: no overwrite question")
            << s("save") << true << true << L(oth) << L(saveDlg) << oth << false << false << edited
            << L("current.kpj=current", "other.kpj=edited") << true;
        QTest::newRow("save fails: flags and name stay")
            << s("save") << true << true << L("gone/x.kpj")
            << L(saveDlg, QStringLiteral("error Cannot create file \"~/gone/x.kpj\"")) << cur
            << true << true << edited << untouched << true;
        QTest::newRow("save as titled: asks anyway")
            << s("saveas") << false << false << L("copy.kpj") << L(saveDlg) << s("copy.kpj")
            << false << false << current << (untouched + L("copy.kpj=current")) << true;

        QTest::newRow("close unchanged: settings only")
            << s("close") << false << false << L() << L(settings) << cur << false << false
            << current << untouched << true;
        QTest::newRow("close, cancel: stays open, settings written")
            << s("close") << true << false << L("cancel") << L(askClose, settings) << cur << false
            << true << edited << untouched << false;
        QTest::newRow("close, no: closes unsaved")
            << s("close") << true << false << L("no") << L(askClose, settings) << cur << false
            << true << edited << untouched << true;
        QTest::newRow("close, yes: saves and closes")
            << s("close") << true << false << L("yes") << L(askClose, settings) << cur << false
            << false << edited << savedCurrent << true;
        QTest::newRow("close, yes, save cancelled: closes")
            << s("close") << true << true << L("yes", "") << L(askClose, saveDlg, settings) << cur
            << true << true << edited << untouched << true;
        QTest::newRow("close, yes, save failed: stays open")
            << s("close") << true << true << L("yes", "gone/x.kpj")
            << L(askClose, saveDlg, QStringLiteral("error Cannot create file \"~/gone/x.kpj\""),
                   settings)
            << cur << true << true << edited << untouched << false;

        QTest::newRow("new: no question, untitled")
            << s("new") << false << false << L() << L()
            << QStringLiteral(u"Projects/Nový projekt.kpj") << true << true << QString()
            << untouched << true;
    }
    void decisions()
    {
        QFETCH(QString, action);
        QFETCH(bool, modified);
        QFETCH(bool, untitled);
        QFETCH(QStringList, answers);
        QFETCH(QStringList, calls);
        QFETCH(QString, fileName);
        QFETCH(bool, untitledAfter);
        QFETCH(bool, modifiedAfter);
        QFETCH(QString, subject);
        QFETCH(QStringList, disk);
        QFETCH(bool, canClose);

        ScriptedPrompts prompts;
        Document doc(&prompts, homePath() + QStringLiteral("/Projects"));
        const QString path = homePath() + QStringLiteral("/current.kpj");
        QString error;
        QVERIFY(doc.loadProject(path, &error));
        doc.SetProjectFileName(path);
        doc.setUntitled(untitled);
        doc.setModified(false);
        doc.setOpenFolder(homePath());
        if (modified) {
            doc.project().subject = QStringLiteral("edited");
            doc.memoTextChange();
        }
        prompts.answers = answers;

        bool closes = true;
        if (action == QLatin1String("open"))
            doc.aOpenExecute();
        else if (action == QLatin1String("save"))
            doc.aSaveExecute();
        else if (action == QLatin1String("saveas"))
            doc.aSaveAsExecute();
        else if (action == QLatin1String("close"))
            closes = doc.FormCloseQuery();
        else if (action == QLatin1String("new"))
            doc.aNewExecute();

        QCOMPARE(prompts.calls, calls);
        QVERIFY2(prompts.answers.isEmpty(), "script not used up");
        QCOMPARE(doc.projectFileName(), homePath() + u'/' + fileName);
        QCOMPARE(doc.caption(),
            QStringLiteral("Kolporta   [ ") + QFileInfo(fileName).fileName()
                + QStringLiteral(" ]"));
        QCOMPARE(doc.isUntitled(), untitledAfter);
        QCOMPARE(doc.isModified(), modifiedAfter);
        QCOMPARE(doc.project().subject, subject);
        QCOMPARE(closes, canClose);
        for (const QString &entry : disk)
            QCOMPARE(
                entry.section(u'=', 0, 0) + u'=' + subjectOnDisk(entry.section(u'=', 0, 0)), entry);
    }

    void openRemembersFolder()
    {
        QDir().mkpath(homePath() + QStringLiteral("/sub"));
        writeProject(QStringLiteral("sub/p.kpj"), QStringLiteral("p"));
        ScriptedPrompts prompts;
        Document doc(&prompts, homePath());
        doc.setOpenFolder(homePath());
        prompts.answers = QStringList {QStringLiteral("sub/p.kpj"), QString()};
        doc.aOpenExecute();
        QCOMPARE(doc.openFolder(), homePath() + QStringLiteral("/sub"));
        doc.aOpenExecute();
        QCOMPARE(prompts.calls.last(),
            QStringLiteral("open ") + kOpenFilters + QStringLiteral(" |  | ~/sub"));
    }

    void newKeepsListedFields_data()
    {
        QTest::addColumn<bool>("subjectWasEmpty");
        QTest::addColumn<bool>("modifiedAfter");
        QTest::newRow("emptying a subject is a change") << false << true;
        QTest::newRow("empty subject: no change") << true << false;
    }
    void newKeepsListedFields()
    {
        QFETCH(bool, subjectWasEmpty);
        QFETCH(bool, modifiedAfter);
        ScriptedPrompts prompts;
        Document doc(&prompts, homePath() + QStringLiteral("/Projects"));
        Project &p = doc.project();
        p.addressList = QStringList {QStringLiteral("a@b.cz")};
        p.text = QStringList {QStringLiteral("body")};
        p.attachments = QStringList {QStringLiteral("p.png")};
        p.files = QStringList {QStringLiteral("f.pdf")};
        p.subject = subjectWasEmpty ? QString() : QStringLiteral("S");
        p.from = QStringLiteral("me@b.cz");
        p.mailer = QStringLiteral("SMTP");
        p.smtpServer = QStringLiteral("Seznam");
        p.sendAsBcc = true;
        p.bccMaxCount = QStringLiteral("20");
        p.htmlBody = true;
        p.blockFile = QStringLiteral("b.txt");
        p.autoBlock = true;
        p.encoding = TextEncoding::Windows1250;
        QSignalSpy cleared(&doc, &Document::projectCleared);
        QSignalSpy caption(&doc, &Document::captionChanged);

        doc.aNewExecute();

        QVERIFY(p.addressList.isEmpty() && p.text.isEmpty() && p.attachments.isEmpty()
            && p.files.isEmpty() && p.subject.isEmpty());
        QCOMPARE(p.from, QStringLiteral("me@b.cz"));
        QCOMPARE(p.mailer, QStringLiteral("SMTP"));
        QCOMPARE(p.smtpServer, QStringLiteral("Seznam"));
        QVERIFY(p.sendAsBcc && p.htmlBody && p.autoBlock);
        QCOMPARE(p.bccMaxCount, QStringLiteral("20"));
        QCOMPARE(p.blockFile, QStringLiteral("b.txt"));
        QCOMPARE(p.encoding, TextEncoding::Utf8);
        QCOMPARE(doc.isModified(), modifiedAfter);
        QCOMPARE(cleared.count(), 1);
        QCOMPARE(caption.count(), 1);
        QCOMPARE(
            caption.first().first().toString(), QStringLiteral(u"Kolporta   [ Nový projekt.kpj ]"));
    }

    void openReportsLoadEffects()
    {
        ScriptedPrompts prompts;
        Document doc(&prompts, homePath());
        doc.project().htmlBody = true;
        QSignalSpy loaded(&doc, &Document::projectLoaded);
        prompts.answers = QStringList {QStringLiteral("current.kpj")};
        doc.aOpenExecute();
        QCOMPARE(loaded.count(), 1);
        const auto fx = loaded.first().first().value<LoadEffects>();
        QVERIFY(fx.htmlBoxResetClick);
        QCOMPARE(fx.htmlBodyClicks, 1); // the one "0" line of [HTMLBody]
    }

    void fallbackEncodingSticks()
    {
        // A Windows-1250 file that once had to be written as UTF-8 is a UTF-8 file now.
        const QString path = homePath() + QStringLiteral("/cp.kpj");
        kolporta::test::writeBytes(path, "[Subject]\r\n\x9Elu\x9D\r\n");
        ScriptedPrompts prompts;
        Document doc(&prompts, homePath());
        QString error;
        QVERIFY(doc.loadProject(path, &error));
        doc.SetProjectFileName(path);
        doc.setUntitled(false);
        QCOMPARE(doc.project().encoding, TextEncoding::Windows1250);
        doc.project().subject = QStringLiteral(u"Ω");
        QCOMPARE(doc.aSaveExecute(), Document::SaveOutcome::Saved);
        doc.project().subject = QStringLiteral(u"žluť");
        QCOMPARE(doc.aSaveExecute(), Document::SaveOutcome::Saved);
        QVERIFY(kolporta::test::readBytes(path).contains(QStringLiteral(u"žluť").toUtf8()));
    }

    void windowTexts_data()
    {
        QTest::addColumn<QString>("actual");
        QTest::addColumn<QString>("expected");
        QTest::newRow("caption strips folder")
            << WindowTexts::caption(QStringLiteral("/home/u/Projects/leden.kpj"))
            << QStringLiteral("Kolporta   [ leden.kpj ]");
        QTest::newRow("caption of empty name")
            << WindowTexts::caption(QString()) << QStringLiteral("Kolporta   [  ]");
        QTest::newRow("counter zero")
            << WindowTexts::addressCounter(0) << QStringLiteral("0 adres");
        QTest::newRow("counter") << WindowTexts::addressCounter(12345)
                                 << QStringLiteral("12345 adres");
        QTest::newRow("pictures tab")
            << WindowTexts::picturesTabCaption(3) << QStringLiteral(u"Obrázky do HTML  (3) ");
        QTest::newRow("attachments tab")
            << WindowTexts::attachmentsTabCaption(0) << QStringLiteral(u"Přílohy  (0) ");
    }
    void windowTexts()
    {
        QFETCH(QString, actual);
        QFETCH(QString, expected);
        QCOMPARE(actual, expected);
    }
};

QTEST_GUILESS_MAIN(TestDocument)
#include "tst_Document.moc"
