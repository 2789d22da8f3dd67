// kolporta-cli check and journal, end to end: the pre-flight check's findings on real
// project files (and against a real aiosmtpd), and the summary of a run's journal.

#include "AiosmtpdServer.h"
#include "CliFixtures.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>

using namespace kolporta;
using namespace kolporta::test;

class TestCliCheckJournal : public QObject
{
    Q_OBJECT

private slots:
    void check_data();
    void check();
    void checkText();
    void journal_data();
    void journal();
};

void TestCliCheckJournal::check_data()
{
    // The project differs from cliProject() by `changes`: lines, bcc, mailer, profile, from,
    // subject, body, html, pictures, files (file names in the case's home, where logo.gif,
    // unused.png and podminky.pdf exist and "folder" is a folder).
    QTest::addColumn<QVariantMap>("changes");
    QTest::addColumn<QString>("server"); // --server against: "", "login", "bad password", "none"
    // "severity code [lines] [| subject]", address problems with "| reason"; the two
    // findings every project gets (recipients, message-size) are left out.
    QTest::addColumn<QStringList>("findings");
    QTest::addColumn<int>("exitCode");

    auto lines = [](std::initializer_list<const char *> l) {
        QStringList out;
        for (const char *s : l)
            out.append(QString::fromUtf8(s));
        return out;
    };
    QTest::newRow("nothing to report") << QVariantMap() << QString() << QStringList() << 0;
    QTest::newRow("addresses, one by one")
        << QVariantMap {{QStringLiteral("lines"),
               lines({"a@x.cz", " ", "nobody", "a b@x.cz", "x@y@z.cz", "ann@-bad-.cz", "jiří@x.cz",
                   "Anna <A@X.CZ>", "*", "c@[127.0.0.1]", "\"quoted @ local\"@x.cz",
                   "\"escaped \\\x7F\"@x.cz"})}}
        << QString()
        << lines({"error address-invalid 3 | nobody | missing \"@\"",
               "error address-invalid 4 | a b@x.cz | blanks in the address",
               "error address-invalid 5 | x@y@z.cz | two \"@\"",
               "error address-invalid 6 | ann@-bad-.cz | bad domain",
               "error address-invalid 7 | jiří@x.cz | non-ASCII local part",
               // One by one over SMTP, a "*" line is no skipped line.
               "error address-invalid 9 | * | missing \"@\"",
               "error address-invalid 12 | \"escaped \\\x7F\"@x.cz | bad local part",
               "warning address-duplicate 1,8 | a@x.cz", "info line-skipped 2"})
        << 2;
    QTest::newRow("BCC through a mail program")
        << QVariantMap {{QStringLiteral("mailer"), QStringLiteral("Rec")},
               {QStringLiteral("bcc"), true},
               {QStringLiteral("lines"), lines({"*", "*c@x.cz", " ", "d@x.cz (Dana)"})},
               {QStringLiteral("files"), lines({"podminky.pdf"})}}
        << QString()
        << lines({"info line-skipped 1,3", "warning macro-empty body:1 | %TO%",
               "info file | podminky.pdf"})
        << 1;
    QTest::newRow("macros and empty fields")
        << QVariantMap {{QStringLiteral("from"), QString()}, {QStringLiteral("subject"), QString()},
               {QStringLiteral("body"),
                   lines({"Hi %to%, %NAME% and %C3%A9", "%FROM% %SUBJECT% %TO%"})}}
        << QString()
        << lines({"error sender-invalid", "warning subject-empty",
               "warning macro-lookalike body:1 | %to%", "warning macro-lookalike body:1 | %NAME%",
               "warning macro-empty body:2 | %FROM%", "warning macro-empty body:2 | %SUBJECT%"})
        << 2;
    QTest::newRow("pictures and files")
        << QVariantMap {{QStringLiteral("html"), true},
               {QStringLiteral("subject"), QStringLiteral("Sleva %TO%")},
               {QStringLiteral("body"),
                   lines({"<p><img src=\"logo.gif\"> <img src='http://web/x.png'>",
                       "<td background=C:\\img\\bg.jpg>"})},
               {QStringLiteral("pictures"), lines({"logo.gif", "unused.png"})},
               {QStringLiteral("files"), lines({"missing.pdf", "folder"})}}
        << QString()
        << lines({"warning macro-in-subject | Sleva %TO%", "info file | logo.gif",
               "info file | unused.png", "error file-missing | missing.pdf",
               "error file-not-regular | folder", "warning picture-unlisted body:2 | bg.jpg",
               "warning picture-unreferenced | unused.png"})
        << 2;
    QTest::newRow("no route") << QVariantMap {{QStringLiteral("mailer"), QStringLiteral("Outlook")}}
                              << QString() << lines({"error route-missing"}) << 2;
    QTest::newRow("no profile") << QVariantMap {{QStringLiteral("profile"), QStringLiteral("nic")}}
                                << QString() << lines({"error profile-missing"}) << 2;
    QTest::newRow("server: log-in and a size limit")
        << QVariantMap() << QStringLiteral("login")
        << lines({"info server-tls | server", "info server-auth | server",
               "info server-login | server", "warning message-too-big | server"})
        << 1;
    QTest::newRow("server: wrong password") << QVariantMap() << QStringLiteral("bad password")
                                            << lines({"error server-login | server"}) << 2;
    QTest::newRow("server: nobody listens") << QVariantMap() << QStringLiteral("none")
                                            << lines({"error server-unreachable | server"}) << 2;
}

void TestCliCheckJournal::check()
{
    QFETCH(QVariantMap, changes);
    QFETCH(QString, server);
    QFETCH(QStringList, findings);
    QFETCH(int, exitCode);

    const QString home = newHome();
    writeBytes(home + QStringLiteral("/logo.gif"), "GIF89a");
    writeBytes(home + QStringLiteral("/unused.png"), "\x89PNG");
    writeBytes(home + QStringLiteral("/podminky.pdf"), "%PDF");
    QDir().mkpath(home + QStringLiteral("/folder"));
    writeMailClients(home, dataPath(QStringLiteral("run-mail-program")));

    AiosmtpdServer::Options options;
    options.user = QStringLiteral("jana");
    options.password = QStringLiteral("tajne");
    options.sizeLimit = server == QLatin1String("login") ? 200 : -1;
    AiosmtpdServer smtp(options);
    QString endpoint = QStringLiteral("127.0.0.1:25");
    if (server == QLatin1String("none")) {
        endpoint = QStringLiteral("127.0.0.1:%1").arg(freeLoopbackPort());
    } else if (!server.isEmpty()) {
        QString error;
        QVERIFY2(smtp.start(&error), qPrintable(error));
        endpoint = QStringLiteral("127.0.0.1:") + smtp.portText();
    }
    const QString password = server == QLatin1String("bad password") ? QStringLiteral("spatne")
                                                                     : QStringLiteral("tajne");
    writeSmtpIni(home, QStringLiteral("127.0.0.1"), endpoint.section(QLatin1Char(':'), 1), 5,
        QStringLiteral("User=jana\r\nPassw=%1\r\n").arg(password));

    project::Project p = cliProject({QStringLiteral("Anna <a@x.cz>"), QStringLiteral("b@x.cz")},
        changes.value(QStringLiteral("bcc")).toBool(),
        changes.value(QStringLiteral("mailer"), QStringLiteral("SMTP")).toString());
    p.addressList = changes.value(QStringLiteral("lines"), p.addressList).toStringList();
    p.smtpServer = changes.value(QStringLiteral("profile"), p.smtpServer).toString();
    p.from = changes.value(QStringLiteral("from"), p.from).toString();
    p.subject = changes.value(QStringLiteral("subject"), p.subject).toString();
    p.text = changes.value(QStringLiteral("body"), p.text).toStringList();
    p.htmlBody = changes.value(QStringLiteral("html")).toBool();
    for (const QString &f : changes.value(QStringLiteral("pictures")).toStringList())
        p.attachments.append(home + QLatin1Char('/') + f);
    for (const QString &f : changes.value(QStringLiteral("files")).toStringList())
        p.files.append(home + QLatin1Char('/') + f);
    const QString project = saveProject(home, p);

    QStringList args {
        QStringLiteral("--home"), home, QStringLiteral("check"), project, QStringLiteral("--json")};
    if (!server.isEmpty())
        args.append(QStringLiteral("--server"));
    const CliResult r = runCli(args);
    QCOMPARE(r.exitCode, exitCode);
    QJsonParseError error;
    const QJsonObject root = QJsonDocument::fromJson(r.out, &error).object();
    QVERIFY2(error.error == QJsonParseError::NoError, r.out.constData());

    QStringList got;
    int counts[3] = {0, 0, 0};
    for (const QJsonValue &v : root.value(QLatin1String("findings")).toArray()) {
        const QJsonObject f = v.toObject();
        const QString severity = f.value(QLatin1String("severity")).toString();
        counts[severity == QLatin1String("error")      ? 0
                : severity == QLatin1String("warning") ? 1
                                                       : 2]++;
        const QString code = f.value(QLatin1String("code")).toString();
        if (code == QLatin1String("recipients") || code == QLatin1String("message-size"))
            continue;
        QString line = severity + QLatin1Char(' ') + code;
        QStringList numbers;
        for (const QJsonValue &n : f.value(QLatin1String("lines")).toArray())
            numbers.append(QString::number(n.toInt()));
        if (!numbers.isEmpty())
            line += QLatin1Char(' ')
                + (f.value(QLatin1String("linesOf")).toString() == QLatin1String("body")
                        ? QStringLiteral("body:")
                        : QString())
                + numbers.join(QLatin1Char(','));
        QString subject = f.value(QLatin1String("subject")).toString();
        subject.replace(home + QLatin1Char('/'), QString());
        subject.replace(endpoint, QStringLiteral("server"));
        if (!subject.isEmpty() && code != QLatin1String("sender-invalid"))
            line += QStringLiteral(" | ") + subject;
        if (code == QLatin1String("address-invalid"))
            line += QStringLiteral(" | ") + f.value(QLatin1String("message")).toString();
        got.append(line);
    }
    QCOMPARE(got.join(u'\n'), findings.join(u'\n'));
    QCOMPARE(root.value(QLatin1String("errors")).toInt(), counts[0]);
    QCOMPARE(root.value(QLatin1String("warnings")).toInt(), counts[1]);
    QCOMPARE(root.value(QLatin1String("information")).toInt(), counts[2]);
    if (!server.isEmpty() && server != QLatin1String("none")) {
        // It logged in and left: no transaction was started, nothing was stored.
        QVERIFY(smtp.messages().isEmpty());
    }
}

void TestCliCheckJournal::checkText()
{
    const QString home = newHome();
    writeSmtpIni(home, QStringLiteral("127.0.0.1"), QStringLiteral("25"));
    const QString project = saveProject(home,
        cliProject({QStringLiteral("a@x.cz"), QStringLiteral(" "), QStringLiteral("\t"),
                       QStringLiteral(" "), QStringLiteral("A@x.cz"), QStringLiteral("nobody")},
            false, QStringLiteral("SMTP")));
    const CliResult r = runCli({QStringLiteral("--home"), home, QStringLiteral("check"), project});
    QCOMPARE(r.exitCode, 2);
    QStringList out = outLines(r.out);
    static const QRegularExpression size(QStringLiteral("the biggest message is \\d+ bytes$"));
    QCOMPARE(out.size(), 6);
    QVERIFY2(size.match(out.takeAt(4)).hasMatch(), r.out.constData());
    QCOMPARE(out,
        QStringList({QStringLiteral("error: line 6: \"nobody\": missing \"@\""),
            QStringLiteral("warning: lines 1, 5: \"a@x.cz\": the same address on 2 lines"),
            QStringLiteral("info: lines 2-4: 3 lines skipped by the run (blank)"),
            QStringLiteral("info: 2 address lines to send to"),
            QStringLiteral("check: 1 error, 1 warning, 3 pieces of information")}));
}

void TestCliCheckJournal::journal_data()
{
    QTest::addColumn<QByteArray>("journal");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out"); // stdout, whole
    QTest::addColumn<QString>("err"); // a part of stderr

    const QByteArray killed
        = "{\"kolporta\":\"journal\",\"version\":1,\"project\":\"/p/x.kpj\",\"message\":\"h\","
          "\"route\":\"SMTP\",\"mode\":\"single\",\"profile\":\"test\",\"batchSize\":50,"
          "\"log\":\"Kolporta 2026-01-02 03-04-05.txt\"}\n"
          "{\"line\":1,\"text\":\"Anna <a@x.cz>\",\"state\":\"sent\",\"earlier\":true}\n"
          "{\"line\":2,\"text\":\"\",\"state\":\"skipped\"}\n"
          "{\"line\":3,\"text\":\"b@x.cz\",\"state\":\"trying\"}\n"
          "{\"line\":3,\"text\":\"b@x.cz\",\"state\":\"refused\",\"reply\":\"550 no\"}\n"
          "{\"line\":4,\"text\":\"c@x.cz\",\"state\":\"trying\"}\n"
          "{\"line\":4,\"text\":\"c@x.cz\",\"state\":\"uncertain\"}\n"
          "{\"line\":5,\"text\":\"Dana <d@x.cz>\",\"state\":\"failed\"}\n"
          "{\"line\":6,\"text\":\"e@x.cz\",\"state\":\"trying\"}\n"
          "{\"line\":7,\"text\":\"f@x.cz\",\"st";
    QTest::newRow("summary")
        << killed << QStringList() << 0
        << QStringLiteral("journal: JOURNAL\n"
                          "project: /p/x.kpj\n"
                          "route:   SMTP, profile \"test\", one message per address line\n"
                          "log:     Kolporta 2026-01-02 03-04-05.txt\n"
                          "sent:            1\n"
                          "refused:         1\n"
                          "failed:          1\n"
                          "uncertain:       1\n"
                          "trying:          1\n"
                          "skipped:         1\n"
                          "(1 of these lines were settled by the journal this run continued)\n"
                          "The journal's last line was cut off: the run was killed while "
                          "writing it.\n"
                          "Possibly delivered (trying or uncertain; check with the recipients "
                          "or the server's log before sending again):\n"
                          "  line 4: c@x.cz\n"
                          "  line 6: e@x.cz\n")
        << QString();
    QTest::newRow("list the failures")
        << killed << QStringList {QStringLiteral("--list"), QStringLiteral("failed,refused")} << 0
        << QStringLiteral("b@x.cz\nDana <d@x.cz>\n") << QString();
    QTest::newRow("list the sent ones") << killed << QStringList {QStringLiteral("--list=sent")}
                                        << 0 << QStringLiteral("Anna <a@x.cz>\n") << QString();
    QTest::newRow("unknown state")
        << killed << QStringList {QStringLiteral("--list"), QStringLiteral("maybe")} << 2
        << QString() << QStringLiteral("unknown state \"maybe\"");
    QTest::newRow("not a journal")
        << QByteArray("Odesilani pres SMTP - individualne\r\n") << QStringList() << 2 << QString()
        << QStringLiteral("line 1: not a Kolporta run journal");
}

void TestCliCheckJournal::journal()
{
    QFETCH(QByteArray, journal);
    QFETCH(QStringList, options);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);
    const QString path = newHome() + QStringLiteral("/run.journal");
    writeBytes(path, journal);
    const CliResult r = runCli(QStringList {QStringLiteral("journal"), path} + options);
    QCOMPARE(r.exitCode, exitCode);
    QCOMPARE(QString::fromUtf8(r.out), QString(out).replace(QStringLiteral("JOURNAL"), path));
    QVERIFY2(QString::fromUtf8(r.err).contains(err), r.err.constData());
}

QTEST_GUILESS_MAIN(TestCliCheckJournal)
#include "tst_CliCheckJournal.moc"
