#include "project/ProjectFile.h"

#include "TestSupport.h"

#include <QDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

using namespace kolporta::project;
using kolporta::test::homePath;
using kolporta::test::readBytes;

namespace {

const ProjectLists kLists {{QStringLiteral("SMTP"), QStringLiteral("sendmail")},
    {QStringLiteral("Seznam"), QStringLiteral("Gmail")}};

// A project as it stands before a load, every field set, so a test sees which fields a
// load keeps and which it resets.
Project previousProject()
{
    Project p;
    p.addressList = QStringList {QStringLiteral("old@example.cz")};
    p.subject = QStringLiteral("old subject");
    p.from = QStringLiteral("old from");
    p.text = QStringList {QStringLiteral("old body")};
    p.htmlBody = true;
    p.attachments = QStringList {QStringLiteral("old.png")};
    p.files = QStringList {QStringLiteral("old.pdf")};
    p.mailer = QStringLiteral("sendmail");
    p.smtpServer = QStringLiteral("Gmail");
    p.sendAsBcc = true;
    p.bccMaxCount = QStringLiteral("7");
    p.blockFile = QStringLiteral("old.txt");
    p.autoBlock = true;
    return p;
}

// One field in a comparable text form; lists are joined with "|".
QString field(const Project &p, const QString &name)
{
    const auto flag = [](bool b) { return b ? QStringLiteral("1") : QStringLiteral("0"); };
    const QChar bar(u'|');
    if (name == QLatin1String("addressList"))
        return p.addressList.join(bar);
    if (name == QLatin1String("subject"))
        return p.subject;
    if (name == QLatin1String("from"))
        return p.from;
    if (name == QLatin1String("text"))
        return p.text.join(bar);
    if (name == QLatin1String("htmlBody"))
        return flag(p.htmlBody);
    if (name == QLatin1String("attachments"))
        return p.attachments.join(bar);
    if (name == QLatin1String("files"))
        return p.files.join(bar);
    if (name == QLatin1String("mailer"))
        return p.mailer;
    if (name == QLatin1String("smtpServer"))
        return p.smtpServer;
    if (name == QLatin1String("sendAsBcc"))
        return flag(p.sendAsBcc);
    if (name == QLatin1String("bccMaxCount"))
        return p.bccMaxCount;
    if (name == QLatin1String("blockFile"))
        return p.blockFile;
    if (name == QLatin1String("autoBlock"))
        return flag(p.autoBlock);
    qFatal("unknown field");
    return {};
}

const QStringList kFields {QStringLiteral("addressList"), QStringLiteral("subject"),
    QStringLiteral("from"), QStringLiteral("text"), QStringLiteral("htmlBody"),
    QStringLiteral("attachments"), QStringLiteral("files"), QStringLiteral("mailer"),
    QStringLiteral("smtpServer"), QStringLiteral("sendAsBcc"), QStringLiteral("bccMaxCount"),
    QStringLiteral("blockFile"), QStringLiteral("autoBlock")};

void compareProjects(const Project &actual, const Project &expected)
{
    for (const QString &name : kFields)
        QCOMPARE(field(actual, name) + u'#' + name, field(expected, name) + u'#' + name);
}

Project loadText(const QString &content, LoadEffects *effects = nullptr)
{
    const QString path = homePath() + QStringLiteral("/t.kpj");
    kolporta::test::writeBytes(path, content.toUtf8());
    Project p = previousProject();
    QString error;
    if (!LoadProject(path, &p, kLists, &error, effects))
        qFatal("load failed: %s", qPrintable(error));
    return p;
}

// What both sample files (the same project in two encodings) hold.
Project sampleProject()
{
    Project p;
    p.addressList = QStringList {QStringLiteral(u"Jan Novák <jan@example.cz>"),
        QStringLiteral("   "), QStringLiteral(u"Petr Šťastný <petr@example.cz>"),
        QStringLiteral(u"*Žofie Dvořáková <zofie@example.cz>")};
    p.subject = QStringLiteral(u"Příliš žluťoučký kůň");
    p.from = QStringLiteral("Kolporta <info@example.cz>");
    p.blockFile = QStringLiteral("/tmp/blok.txt");
    p.autoBlock = true;
    p.mailer = QStringLiteral("SMTP");
    p.smtpServer = QStringLiteral("Seznam");
    p.sendAsBcc = true;
    p.htmlBody = false;
    p.bccMaxCount = QStringLiteral("25");
    p.text = QStringList {QStringLiteral(u"Dobrý den, %TO%,"), QString(), QStringLiteral("[Nic]"),
        QStringLiteral("[Files] ")};
    p.files = QStringList {QStringLiteral(u"/tmp/příloha.pdf")};
    p.attachments = QStringList {QStringLiteral(u"obrázek.png")};
    return p;
}

} // namespace

class TestProjectFile : public QObject
{
    Q_OBJECT

private slots:
    void loadSampleFiles_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("utf8");
        QTest::newRow("windows-1250") << QStringLiteral("project-cp1250.kpj") << false;
        QTest::newRow("utf-8") << QStringLiteral("project-utf8.kpj") << true;
    }
    void loadSampleFiles()
    {
        QFETCH(QString, file);
        QFETCH(bool, utf8);
        Project p = previousProject();
        QString error;
        QVERIFY2(
            LoadProject(kolporta::test::dataPath(file), &p, kLists, &error), qPrintable(error));
        compareProjects(p, sampleProject());
        QCOMPARE(p.encoding == TextEncoding::Utf8, utf8);
    }

    void valueRules_data()
    {
        QTest::addColumn<QString>("content");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");

        // The length comes from the literal, so rows may hold a NUL.
        const auto row = []<std::size_t N>(const char *tag, const char16_t(&content)[N],
                             const char *name, const char16_t *expected) {
            QTest::newRow(tag) << QString::fromUtf16(content, qsizetype(N - 1))
                               << QString::fromLatin1(name) << QString::fromUtf16(expected);
        };
        // Lines before the first head are ignored; the lists are reset, the rest kept.
        row("no head: list reset", u"a@b.cz\r\nx\r\n", "addressList", u"");
        row("no head: body reset", u"a@b.cz\r\n", "text", u"");
        row("no head: pictures reset", u"", "attachments", u"");
        row("no head: files reset", u"", "files", u"");
        row("no head: subject kept", u"[Nothing]\r\nx\r\n", "subject", u"old subject");
        row("no head: from kept", u"", "from", u"old from");
        row("no head: batch kept", u"", "bccMaxCount", u"7");
        row("no head: route kept", u"", "mailer", u"sendmail");
        row("no head: profile kept", u"", "smtpServer", u"Gmail");
        row("no head: block file kept", u"", "blockFile", u"old.txt");
        row("no head: html box reset", u"", "htmlBody", u"0");
        row("no head: bcc box reset", u"", "sendAsBcc", u"0");
        row("no head: auto block reset", u"", "autoBlock", u"0");

        row("empty subject line ignored", u"[Subject]\r\n\r\n", "subject", u"old subject");
        row("last subject wins", u"[Subject]\r\nA\r\nB\r\n", "subject", u"B");
        row("subject kept verbatim", u"[Subject]\r\n  A  \r\n", "subject", u"  A  ");
        row("empty from empties", u"[From]\r\n\r\n", "from", u"");
        row("empty block file empties", u"[BlockFile]\r\n\r\n", "blockFile", u"");
        row("empty batch size empties", u"[BCCMaxCount]\r\n\r\n", "bccMaxCount", u"");
        row("batch size unchecked", u"[BCCMaxCount]\r\n 7x\r\n", "bccMaxCount", u" 7x");

        row("empty address lines dropped", u"[Address list]\r\na\r\n\r\n  \r\nb", "addressList",
            u"a|  |b");
        row("empty body lines kept", u"[Text]\r\nA\r\n\r\nB\r\n\r\n", "text", u"A||B|");
        row("empty picture lines dropped", u"[Attachments]\r\n\r\np.png\r\n", "attachments",
            u"p.png");
        row("empty file lines dropped", u"[Files]\r\n\r\nf.pdf\r\n", "files", u"f.pdf");
        row("list sections append", u"[Files]\r\na\r\n[Subject]\r\ns\r\n[FILES]\r\nb\r\n", "files",
            u"a|b");

        row("lower-case head ends body", u"[Text]\r\nA\r\n[files]\r\nf.pdf\r\n", "text", u"A");
        row("lower-case head opens section", u"[Text]\r\nA\r\n[files]\r\nf.pdf\r\n", "files",
            u"f.pdf");
        row("mixed-case head", u"[aDdReSs LiSt]\r\nx\r\n", "addressList", u"x");
        row("byte-order marks at the start dropped", u"\uFEFF\uFEFF[Address list]\r\na",
            "addressList", u"a");
        row("U+FEFF starting a later line kept", u"[Address list]\r\na\r\n\uFEFFb\r\n\uFEFF",
            "addressList", u"a|\uFEFFb|\uFEFF");
        row("unknown bracket stays in body", u"[Text]\r\n[Nic]\r\n", "text", u"[Nic]");
        row("head with trailing blank is a value", u"[Text]\r\nA\r\n[Files] \r\nB\r\n", "text",
            u"A|[Files] |B");
        row("head with leading blank is a value", u"[Text]\r\n [Files]\r\n", "text", u" [Files]");
        row("dotless i does not make a head", u"[Text]\r\n[fıles]\r\n", "text", u"[fıles]");

        row("route matched without case", u"[Mailer]\r\nsmtp\r\n", "mailer", u"SMTP");
        row("route unknown selects none", u"[Mailer]\r\nOutlook\r\n", "mailer", u"");
        row("route empty line ignored", u"[Mailer]\r\n\r\n", "mailer", u"sendmail");
        row("route not trimmed", u"[Mailer]\r\nSMTP \r\n", "mailer", u"");
        row("route last wins", u"[Mailer]\r\nSMTP\r\n[Mailer]\r\nsendMAIL\r\n", "mailer",
            u"sendmail");
        row("profile matched item text", u"[SmtpServer]\r\nseznam\r\n", "smtpServer", u"Seznam");
        row("profile unknown selects none", u"[SmtpServer]\r\nPosta\r\n", "smtpServer", u"");

        row("bcc 1 checks", u"[SendAsBCC]\r\n1\r\n", "sendAsBcc", u"1");
        row("bcc 0 after 1 does nothing", u"[SendAsBCC]\r\n1\r\n0\r\n", "sendAsBcc", u"1");
        row("bcc needs exactly 1", u"[SendAsBCC]\r\n1 \r\n", "sendAsBcc", u"0");
        row("html 1 checks", u"[HTMLBody]\r\n1\r\n", "htmlBody", u"1");
        row("html true is not 1", u"[HTMLBody]\r\ntrue\r\n", "htmlBody", u"0");
        row("auto block 1 sets", u"[AutoBlock]\r\n1\r\n", "autoBlock", u"1");

        row("lone CR and LF end lines", u"[Text]\rA\nB\r\nC", "text", u"A|B|C");
        row("LF CR is two line ends", u"[Text]\r\nA\n\rB", "text", u"A||B");
        row("NUL ends the text", u"[Text]\r\nA\r\nB\0[Files]\r\nx\r\n", "text", u"A|B");
        row("NUL ends the text: no files", u"[Text]\r\nA\0[Files]\r\nx\r\n", "files", u"");
    }
    void valueRules()
    {
        QFETCH(QString, content);
        QFETCH(QString, name);
        QFETCH(QString, expected);
        QCOMPARE(field(loadText(content), name), expected);
    }

    void loadEffects_data()
    {
        QTest::addColumn<QString>("content");
        QTest::addColumn<bool>("htmlBefore");
        QTest::addColumn<bool>("bccBefore");
        QTest::addColumn<bool>("htmlResetClick");
        QTest::addColumn<bool>("bccResetClick");
        QTest::addColumn<int>("htmlClicks");
        QTest::addColumn<bool>("bccClick");

        QTest::newRow("nothing checked, no sections")
            << QString() << false << false << false << false << 0 << false;
        QTest::newRow("reset unchecks both")
            << QString() << true << true << true << true << 0 << false;
        QTest::newRow("html 0: one click per line")
            << QStringLiteral("[HTMLBody]\r\n0\r\n") << false << false << false << false << 1
            << false;
        QTest::newRow("html 1: checking clicks too")
            << QStringLiteral("[HTMLBody]\r\n1\r\n") << true << false << true << false << 2
            << false;
        QTest::newRow("html 1,1,x: box checked once")
            << QStringLiteral("[HTMLBody]\r\n1\r\n1\r\nx\r\n") << false << false << false << false
            << 4 << false;
        QTest::newRow("html empty line still clicks")
            << QStringLiteral("[HTMLBody]\r\n\r\n") << false << false << false << false << 1
            << false;
        QTest::newRow("bcc 1 twice clicks once") << QStringLiteral("[SendAsBCC]\r\n1\r\n1\r\n")
                                                 << false << true << false << true << 0 << true;
        QTest::newRow("bcc 0 does not click") << QStringLiteral("[SendAsBCC]\r\n0\r\n") << false
                                              << false << false << false << 0 << false;
    }
    void loadEffects()
    {
        QFETCH(QString, content);
        QFETCH(bool, htmlBefore);
        QFETCH(bool, bccBefore);
        QFETCH(bool, htmlResetClick);
        QFETCH(bool, bccResetClick);
        QFETCH(int, htmlClicks);
        QFETCH(bool, bccClick);

        Project p;
        p.htmlBody = htmlBefore;
        p.sendAsBcc = bccBefore;
        LoadEffects fx;
        ReadProjectLines(TextFile::splitLines(content), &p, kLists, &fx);
        QCOMPARE(fx.htmlBoxResetClick, htmlResetClick);
        QCOMPARE(fx.bccBoxResetClick, bccResetClick);
        QCOMPARE(fx.htmlBodyClicks, htmlClicks);
        QCOMPARE(fx.bccBoxClick, bccClick);
        QVERIFY(fx.hidePreviewTab && fx.bodyCaretToStart && fx.focusAddressList && fx.memoListChange
            && fx.updateTabCaptions);
    }

    void unreadableFileChangesNothing_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("missing") << homePath() + QStringLiteral("/missing.kpj");
        QTest::newRow("a folder") << homePath();
    }
    void unreadableFileChangesNothing()
    {
        QFETCH(QString, path);
        Project p = previousProject();
        p.encoding = TextEncoding::Windows1250;
        QString error;
        QVERIFY(!LoadProject(path, &p, kLists, &error));
        QVERIFY2(
            error.startsWith(QStringLiteral("Cannot open file \"") + path + QStringLiteral("\". ")),
            qPrintable(error));
        QVERIFY(error.size() > path.size() + 20); // the system's reason follows
        compareProjects(p, previousProject());
        QCOMPARE(p.encoding, TextEncoding::Windows1250);
    }

    void savedLayout_data()
    {
        QTest::addColumn<bool>("autoBlock");
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray head = "[Address list]\r\na\r\n  \r\nb\r\n[Subject]\r\n\r\n[From]\r\nF\r\n"
                                "[BlockFile]\r\n\r\n[AutoBlock]\r\n";
        const QByteArray tail = "[Mailer]\r\n\r\n[SmtpServer]\r\nSeznam\r\n[SendAsBCC]\r\n0\r\n"
                                "[HTMLBody]\r\n1\r\n[BCCMaxCount]\r\nabc\r\n[Text]\r\nX\r\n\r\n\r\n"
                                "[Attachments]\r\np.png\r\n[Files]\r\n";
        QTest::newRow("auto block off: no line after its head") << false << head + tail;
        QTest::newRow("auto block on") << true << head + "1\r\n" + tail;
    }
    void savedLayout()
    {
        QFETCH(bool, autoBlock);
        QFETCH(QByteArray, bytes);
        Project p;
        p.addressList = QStringList {
            QStringLiteral("a"), QString(), QStringLiteral("  "), QString(), QStringLiteral("b")};
        p.from = QStringLiteral("F");
        p.smtpServer = QStringLiteral("Seznam");
        p.htmlBody = true;
        p.bccMaxCount = QStringLiteral("abc");
        p.text = QStringList {QStringLiteral("X"), QString(), QString()};
        p.attachments = QStringList {QStringLiteral("p.png")};
        p.autoBlock = autoBlock;
        const QString path = homePath() + QStringLiteral("/layout.kpj");
        QString error;
        QVERIFY2(SaveProject(path, p, &error), qPrintable(error));
        QCOMPARE(readBytes(path), bytes);
    }

    void roundTrip_data()
    {
        QTest::addColumn<QString>("file"); // in tests/data, or "" for `bytes`
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("extraSubject");
        QTest::addColumn<bool>("utf8Written");
        QTest::newRow("windows-1250 stays")
            << QStringLiteral("project-cp1250.kpj") << QByteArray() << QString() << false;
        QTest::newRow("utf-8 stays")
            << QStringLiteral("project-utf8.kpj") << QByteArray() << QString() << true;
        QTest::newRow("utf-8 even when all fits")
            << QStringLiteral("project-utf8.kpj") << QByteArray() << QStringLiteral(u"čšž") << true;
        QTest::newRow("windows-1250 falls back to utf-8")
            << QStringLiteral("project-cp1250.kpj") << QByteArray() << QStringLiteral(u"Ωmega ✓")
            << true;
        // The line before the first head held the only byte that is no UTF-8; without it the
        // subject "Čš" (C8 9A) would read back as the one UTF-8 letter "Ț".
        QTest::newRow("windows-1250 that would read back as other utf-8 text")
            << QString() << QByteArray("pozn\x9Amka\r\n[Subject]\r\n\xC8\x9A\r\n") << QString()
            << true;
    }
    void roundTrip()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, extraSubject);
        QFETCH(bool, utf8Written);
        if (file.isEmpty()) {
            file = homePath() + QStringLiteral("/given.kpj");
            kolporta::test::writeBytes(file, bytes);
        } else {
            file = kolporta::test::dataPath(file);
        }
        Project p;
        QString error;
        QVERIFY(LoadProject(file, &p, kLists, &error));
        if (!extraSubject.isEmpty())
            p.subject = extraSubject;
        const QString path = homePath() + QStringLiteral("/round.kpj");
        TextEncoding used;
        QVERIFY2(SaveProject(path, p, &error, &used), qPrintable(error));
        QCOMPARE(used == TextEncoding::Utf8, utf8Written);

        Project again;
        QVERIFY(LoadProject(path, &again, kLists, &error));
        compareProjects(again, p);
        QCOMPARE(again.encoding, used);

        // Saving what was loaded gives the same bytes: the writer's own form is stable.
        const QString second = homePath() + QStringLiteral("/round2.kpj");
        QVERIFY(SaveProject(second, again, &error));
        QCOMPARE(readBytes(second), readBytes(path));
    }

    void interruptedSaveKeepsOldFile()
    {
        // The file-size limit cuts the write short half-way, as a full disk would; it also
        // binds root, under which CI runs.
        const QString dir = homePath() + QStringLiteral("/cut");
        QDir().mkpath(dir);
        const QString path = dir + QStringLiteral("/p.kpj");
        const QByteArray old
            = readBytes(kolporta::test::dataPath(QStringLiteral("project-cp1250.kpj")));
        kolporta::test::writeBytes(path, old);

        Project p;
        p.addressList = QStringList(5000, QStringLiteral("Somebody <somebody@example.cz>"));
        signal(SIGXFSZ, SIG_IGN);
        rlimit saved {};
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit small = saved;
        small.rlim_cur = 8192;
        setrlimit(RLIMIT_FSIZE, &small);
        QString error;
        const bool ok = SaveProject(path, p, &error);
        setrlimit(RLIMIT_FSIZE, &saved);

        QVERIFY(!ok);
        QVERIFY2(error.startsWith(
                     QStringLiteral("Cannot create file \"") + path + QStringLiteral("\". ")),
            qPrintable(error));
        QCOMPARE(readBytes(path), old);
        QCOMPARE(QDir(dir).entryList(QDir::Files), QStringList {QStringLiteral("p.kpj")});
    }

    void saveIntoMissingFolderFails()
    {
        const QString path = homePath() + QStringLiteral("/no/such/folder/p.kpj");
        QString error;
        QVERIFY(!SaveProject(path, Project(), &error));
        QVERIFY2(
            error.startsWith(QStringLiteral("Cannot create file \"") + path), qPrintable(error));
        QVERIFY(!QFile::exists(path));
    }
};

QTEST_GUILESS_MAIN(TestProjectFile)
#include "tst_ProjectFile.moc"
