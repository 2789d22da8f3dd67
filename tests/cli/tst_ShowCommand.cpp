#include "TestSupport.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

using kolporta::test::dataPath;
using kolporta::test::homePath;

namespace {

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Runs the built kolporta-cli with the test's home folder.
Run runCli(const QStringList &args)
{
    QProcess process;
    process.start(QStringLiteral(KOLPORTA_BUILD_DIR "/app/cli/kolporta-cli"), args);
    if (!process.waitForFinished(30000))
        qFatal("kolporta-cli did not finish");
    Run run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

void writeHomeFile(const QString &name, const QString &content)
{
    const QString path = homePath() + u'/' + name;
    if (content.isNull())
        QFile::remove(path);
    else
        kolporta::test::writeBytes(path, content.toUtf8());
}

QString s(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

const QStringList kKeys {s("addressList"), s("subject"), s("from"), s("blockFile"), s("autoBlock"),
    s("mailer"), s("smtpServer"), s("sendAsBcc"), s("htmlBody"), s("bccMaxCount"), s("text"),
    s("attachments"), s("files"), s("encoding")};

} // namespace

class TestShowCommand : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QDir(homePath()).removeRecursively();
        QDir().mkpath(homePath());
    }

    void samplesPrintWholeProject_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("encoding");
        QTest::newRow("windows-1250") << s("project-cp1250.kpj") << s("windows-1250");
        QTest::newRow("utf-8") << s("project-utf8.kpj") << s("utf-8");
    }
    void samplesPrintWholeProject()
    {
        QFETCH(QString, file);
        QFETCH(QString, encoding);
        writeHomeFile(s("mailclients.ini"), QStringLiteral(""));
        writeHomeFile(s("smtp.ini"), s("[Gmail]\r\nServer=a\r\n[Seznam]\r\nServer=b\r\n"));
        const Run run = runCli({s("show"), dataPath(file)});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.err, QByteArray());

        // The keys come in the order the file has its sections.
        qsizetype last = -1;
        for (const QString &key : kKeys) {
            const qsizetype at = run.out.indexOf("\"" + key.toUtf8() + "\":");
            QVERIFY2(at > last, qPrintable(key));
            last = at;
        }
        QJsonParseError parseError;
        const QJsonObject o = QJsonDocument::fromJson(run.out, &parseError).object();
        QCOMPARE(parseError.error, QJsonParseError::NoError);
        QCOMPARE(o.keys().size(), kKeys.size());
        QCOMPARE(o.value(s("addressList")).toVariant().toStringList(),
            QStringList({s("Jan Novák <jan@example.cz>"), s("   "),
                s("Petr Šťastný <petr@example.cz>"), s("*Žofie Dvořáková <zofie@example.cz>")}));
        QCOMPARE(o.value(s("subject")).toString(), s("Příliš žluťoučký kůň"));
        QCOMPARE(o.value(s("from")).toString(), s("Kolporta <info@example.cz>"));
        QCOMPARE(o.value(s("blockFile")).toString(), s("/tmp/blok.txt"));
        QCOMPARE(o.value(s("autoBlock")), QJsonValue(true));
        QCOMPARE(o.value(s("mailer")).toString(), s("SMTP"));
        QCOMPARE(o.value(s("smtpServer")).toString(), s("Seznam"));
        QCOMPARE(o.value(s("sendAsBcc")), QJsonValue(true));
        QCOMPARE(o.value(s("htmlBody")), QJsonValue(false));
        QCOMPARE(o.value(s("bccMaxCount")), QJsonValue(s("25")));
        QCOMPARE(o.value(s("text")).toVariant().toStringList(),
            QStringList({s("Dobrý den, %TO%,"), QString(), s("[Nic]"), s("[Files] ")}));
        QCOMPARE(
            o.value(s("attachments")).toVariant().toStringList(), QStringList {s("obrázek.png")});
        QCOMPARE(
            o.value(s("files")).toVariant().toStringList(), QStringList {s("/tmp/příloha.pdf")});
        QCOMPARE(o.value(s("encoding")).toString(), encoding);
    }

    // The route and the profile are selected from the lists start-up builds: "SMTP" and the
    // mail programs of mailclients.ini, and the sections of smtp.ini.
    void selection_data()
    {
        QTest::addColumn<QString>("project");
        QTest::addColumn<QString>("mailClients"); // null: no file
        QTest::addColumn<QString>("smtpIni"); // null: no file
        QTest::addColumn<QString>("mailer");
        QTest::addColumn<QString>("smtpServer");

        const QString posta = s("[Posta]\r\nCommand=/bin/cat\r\n");
        const QString gone = s("[Zmizelý]\r\nCommand=/nonexistent/mailer\r\n");
        const QString seznam = s("[Seznam]\r\nServer=smtp.example.cz\r\n");
        QTest::newRow("mail program matched without case")
            << s("[Mailer]\r\nposta\r\n") << posta + gone << seznam << s("Posta") << QString();
        QTest::newRow("route not on this machine")
            << s("[Mailer]\r\nOutlook\r\n") << posta << seznam << QString() << QString();
        QTest::newRow("no [Mailer]: the last route when a program is installed")
            << s("[Subject]\r\nx\r\n") << posta + gone << seznam << s("Zmizelý") << QString();
        QTest::newRow("no [Mailer], no program installed")
            << s("[Subject]\r\nx\r\n") << gone << seznam << QString() << QString();
        QTest::newRow("[Mailer] empty line keeps start-up's choice")
            << s("[Mailer]\r\n\r\n") << posta << seznam << s("Posta") << QString();
        QTest::newRow("profile matched without case")
            << s("[SmtpServer]\r\nSEZNAM\r\n") << QStringLiteral("") << seznam << QString()
            << s("Seznam");
        QTest::newRow("profile not in smtp.ini")
            << s("[SmtpServer]\r\nGmail\r\n") << QStringLiteral("") << seznam << QString()
            << QString();
        QTest::newRow("no smtp.ini") << s("[SmtpServer]\r\nSeznam\r\n[Mailer]\r\nSMTP\r\n")
                                     << QStringLiteral("") << QString() << s("SMTP") << QString();
    }
    void selection()
    {
        QFETCH(QString, project);
        QFETCH(QString, mailClients);
        QFETCH(QString, smtpIni);
        QFETCH(QString, mailer);
        QFETCH(QString, smtpServer);
        writeHomeFile(s("p.kpj"), project);
        writeHomeFile(s("mailclients.ini"), mailClients);
        writeHomeFile(s("smtp.ini"), smtpIni);
        const Run run = runCli({s("show"), homePath() + s("/p.kpj")});
        QCOMPARE(run.exitCode, 0);
        const QJsonObject o = QJsonDocument::fromJson(run.out).object();
        QCOMPARE(o.value(s("mailer")).toString(), mailer);
        QCOMPARE(o.value(s("smtpServer")).toString(), smtpServer);
    }

    void homeOption()
    {
        const QString other = homePath() + s("/other");
        QDir().mkpath(other);
        kolporta::test::writeBytes(other + s("/smtp.ini"), "[Jinde]\r\n");
        kolporta::test::writeBytes(other + s("/mailclients.ini"), "");
        writeHomeFile(s("p.kpj"), s("[SmtpServer]\r\njinde\r\n"));
        const Run run = runCli({s("--home"), other, s("show"), homePath() + s("/p.kpj")});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(QJsonDocument::fromJson(run.out).object().value(s("smtpServer")).toString(),
            s("Jinde"));
    }

    void escapesAreValidJson()
    {
        kolporta::test::writeBytes(homePath() + s("/mailclients.ini"), "");
        writeHomeFile(s("p.kpj"), s("[Text]\r\n\"quoted\" \\ back\tslash \x01\x1f\r\n"));
        const Run run = runCli({s("show"), homePath() + s("/p.kpj")});
        QJsonParseError parseError;
        const QJsonObject o = QJsonDocument::fromJson(run.out, &parseError).object();
        QCOMPARE(parseError.error, QJsonParseError::NoError);
        QCOMPARE(o.value(s("text")).toVariant().toStringList(),
            QStringList {s("\"quoted\" \\ back\tslash \x01\x1f")});
    }

    void usage_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("stdoutStart");
        QTest::addColumn<QString>("stderrStart");
        const QString missing = homePath() + s("/missing.kpj");
        QTest::newRow("unreadable project") << QStringList {s("show"), missing} << 2 << QString()
                                            << s("Cannot open file \"") + missing + s("\". ");
        QTest::newRow("a folder is unreadable") << QStringList {s("show"),
            homePath()} << 2 << QString() << s("Cannot open file \"") + homePath() + s("\". ");
        QTest::newRow("help") << QStringList {s("show"), s("--help")} << 0
                              << s("Usage: kolporta-cli [--home DIR] show PROJECT") << QString();
        QTest::newRow("no project") << QStringList {s("show")} << 2 << QString()
                                    << s("kolporta-cli show: PROJECT is missing");
        QTest::newRow("two projects")
            << QStringList {s("show"), s("a.kpj"), s("b.kpj")} << 2 << QString()
            << s("kolporta-cli show: one PROJECT expected, also got b.kpj");
        QTest::newRow("unknown option")
            << QStringList {s("show"), s("--json"), s("a.kpj")} << 2 << QString()
            << s("kolporta-cli show: unknown option --json");
    }
    void usage()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, stdoutStart);
        QFETCH(QString, stderrStart);
        const Run run = runCli(args);
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2(QString::fromUtf8(run.out).startsWith(stdoutStart), run.out.constData());
        QVERIFY2(QString::fromUtf8(run.err).startsWith(stderrStart), run.err.constData());
        if (stdoutStart.isEmpty())
            QCOMPARE(run.out, QByteArray());
    }
};

QTEST_GUILESS_MAIN(TestShowCommand)
#include "tst_ShowCommand.moc"
