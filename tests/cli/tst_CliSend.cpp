// kolporta-cli send and export, end to end: the program is run as a user runs it, on real
// project files, against a scripted SMTP server, a real aiosmtpd, a recording mail program
// and msmtp.

#include "AiosmtpdServer.h"
#include "CliFixtures.h"
#include "FakeSmtpServer.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <QThread>

#include <csignal>
#include <sys/stat.h>

using namespace kolporta;
using namespace kolporta::test;

class TestCliSend : public QObject
{
    Q_OBJECT

private slots:
    void usage_data();
    void usage();
    void smtpStages_data();
    void smtpStages();
    void unreachableServer();
    void noRoute();
    void aiosmtpd_data();
    void aiosmtpd();
    void mailProgram_data();
    void mailProgram();
    void msmtp();
    void signalCancels_data();
    void signalCancels();
    void killAndResume_data();
    void killAndResume();
    void fileKinds_data();
    void fileKinds();
    void filesListed();
    void secondSignalQuits_data();
    void secondSignalQuits();
    void unreadableAttachment();
    void progressOnTerminal_data();
    void progressOnTerminal();
    void exportWritesMessages_data();
    void exportWritesMessages();
    void exportKeepsEarlierExport();
    void exportWriteFails();
    void spamAssassinJudgesDemo();
};

void TestCliSend::usage_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("outText");
    QTest::addColumn<QString>("errText");

    QTest::newRow("send help") << QStringList {QStringLiteral("send"), QStringLiteral("--help")}
                               << 0 << QStringLiteral("Usage: kolporta-cli [--home DIR] send")
                               << QString();
    QTest::newRow("export help") << QStringList {QStringLiteral("export"), QStringLiteral("-h")}
                                 << 0 << QStringLiteral("--to DIR") << QString();
    QTest::newRow("send without project") << QStringList {QStringLiteral("send")} << 2 << QString()
                                          << QStringLiteral("PROJECT is missing");
    QTest::newRow("unknown option")
        << QStringList {QStringLiteral("send"), QStringLiteral("p.kpj"), QStringLiteral("--fast")}
        << 2 << QString() << QStringLiteral("unknown option --fast");
    QTest::newRow("two projects") << QStringList {QStringLiteral("send"), QStringLiteral("a.kpj"),
        QStringLiteral("b.kpj")} << 2
                                  << QString() << QStringLiteral("one PROJECT expected");
    QTest::newRow("missing project file")
        << QStringList {QStringLiteral("send"), QStringLiteral("/nonexistent/x.kpj")} << 2
        << QString() << QStringLiteral("/nonexistent/x.kpj");
    QTest::newRow("export without --to")
        << QStringList {QStringLiteral("export"), QStringLiteral("p.kpj")} << 2 << QString()
        << QStringLiteral("--to DIR is missing");
    const auto send = [](std::initializer_list<const char *> more) {
        QStringList args {QStringLiteral("send"), QStringLiteral("p.kpj")};
        for (const char *m : more)
            args.append(QString::fromUtf8(m));
        return args;
    };
    QTest::newRow("resume and test send at once")
        << send({"--resume", "j.journal", "--test", "me@y.cz"}) << 2 << QString()
        << QStringLiteral("--resume, --retry-failed and --test exclude each other");
    QTest::newRow("--force without a journal")
        << send({"--force"}) << 2 << QString()
        << QStringLiteral("--force goes with --resume or --retry-failed");
    QTest::newRow("--as-line without --test") << send({"--as-line", "2"}) << 2 << QString()
                                              << QStringLiteral("--as-line goes with --test");
    QTest::newRow("test address with a name")
        << send({"--test", "Jan <j@x.cz>"}) << 2 << QString()
        << QStringLiteral("--test Jan <j@x.cz>: blanks in the address (give a bare address");
    QTest::newRow("--home without folder")
        << QStringList {QStringLiteral("send"), QStringLiteral("p.kpj"), QStringLiteral("--home")}
        << 2 << QString() << QStringLiteral("--home needs a folder");
}

void TestCliSend::usage()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, outText);
    QFETCH(QString, errText);
    const QString home = newHome();
    const CliResult r = runCli(QStringList {QStringLiteral("--home"), home} + args);
    QCOMPARE(r.exitCode, exitCode);
    QVERIFY2(QString::fromUtf8(r.out).contains(outText), r.out.constData());
    QVERIFY2(QString::fromUtf8(r.err).contains(errText), r.err.constData());
    if (exitCode == 2)
        QVERIFY(r.out.isEmpty());
    // Nothing was sent, so no log file was written.
    QVERIFY(QDir(home + QStringLiteral("/Log")).entryList(QDir::Files).isEmpty());
}

void TestCliSend::smtpStages_data()
{
    QTest::addColumn<bool>("bcc");
    QTest::addColumn<QByteArray>("verb"); // where the server misbehaves ...
    QTest::addColumn<QString>("action"); // ... how: "drop" or a reply
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<int>("messages"); // messages whose data reached the server
    QTest::addColumn<int>("connections");
    QTest::addColumn<QString>("summary"); // the last line on stderr

    const QString single = QStringLiteral("Odesilani pres SMTP - individualne");
    const QString batches = QStringLiteral("Odesilani pres SMTP - BCC kopie po 2");
    const QString end = QStringLiteral("--- odesilani ukonceno ---");
    const QString sent = QStringLiteral("--- odeslano ---");
    const QString a = QStringLiteral("Anna <a@x.cz>"), b = QStringLiteral("b@x.cz");
    const QString noConnect = QStringLiteral("!!! Nepodařilo se připojit k SMTP serveru");
    const QString fromRefused
        = QStringLiteral("!!! ") + kFrom + QStringLiteral("  Chyba při komunikaci - FROM");
    const QString allSent
        = QStringLiteral("kolporta-cli: 2 sent, 0 failed, 0 uncertain, 0 skipped");
    const QString oneFailed
        = QStringLiteral("kolporta-cli: 1 sent, 1 failed, 0 uncertain, 0 skipped");
    const QString noneTried
        = QStringLiteral("kolporta-cli: 0 sent, 0 failed, 0 uncertain, 0 skipped, 2 not tried");

    QTest::newRow("all well, one by one") << false << QByteArray() << QString() << 0
                                          << QStringList {single, a, b, end} << 2 << 1 << allSent;
    QTest::newRow("all well, bcc") << true << QByteArray() << QString() << 0
                                   << QStringList {batches, a, b, sent, end} << 1 << 1 << allSent;
    QTest::newRow("drop at greeting") << false << QByteArray("GREETING") << QStringLiteral("drop")
                                      << 1 << QStringList {noConnect} << 0 << 1 << noneTried;
    QTest::newRow("greeting refused")
        << true << QByteArray("GREETING") << QStringLiteral("554 go away") << 1
        << QStringList {noConnect} << 0 << 1 << noneTried;
    QTest::newRow("drop at EHLO") << false << QByteArray("EHLO") << QStringLiteral("drop") << 1
                                  << QStringList {noConnect} << 0 << 1 << noneTried;
    // A lost connection is opened again (after a second) and the message sent again.
    QTest::newRow("drop at MAIL, one by one: sent on a new connection")
        << false << QByteArray("MAIL") << QStringLiteral("drop") << 0
        << QStringList {single, a, b, end} << 2 << 2 << allSent;
    QTest::newRow("sender refused, one by one")
        << false << QByteArray("MAIL") << QStringLiteral("553 sender rejected") << 3
        << QStringList {single, fromRefused, b, end} << 1 << 1 << oneFailed;
    QTest::newRow("address refused with 251, one by one: reopened")
        << false << QByteArray("RCPT") << QStringLiteral("251 will forward") << 3
        << QStringList {single,
               QStringLiteral("!!! Anna <a@x.cz>  Chyba - adresa odmítnuta serverem"), b, end}
        << 1 << 2 << oneFailed;
    QTest::newRow("address refused, bcc: batch goes without it")
        << true << QByteArray("RCPT") << QStringLiteral("550 no such user") << 3
        << QStringList {batches,
               QStringLiteral("!!! Anna <a@x.cz>  Chyba - adresa odmítnuta serverem"), b, sent, end}
        << 1 << 1 << oneFailed;
    QTest::newRow("data refused at the end, one by one: reopened")
        << false << QByteArray(".") << QStringLiteral("554 spam") << 3
        << QStringList {single, QStringLiteral("!!! Anna <a@x.cz>  Chyba při odesílání zprávy"), b,
               end}
        << 2 << 2 << oneFailed;
    QTest::newRow("drop after the data, bcc: uncertain, never sent again")
        << true << QByteArray(".") << QStringLiteral("drop") << 3
        << QStringList {batches, a, b, QStringLiteral("!!! Chyba - doručení nejisté"), end} << 1
        << 1 << QStringLiteral("kolporta-cli: 0 sent, 0 failed, 2 uncertain, 0 skipped");
    QTest::newRow("drop at QUIT: everything already went")
        << false << QByteArray("QUIT") << QStringLiteral("drop") << 0
        << QStringList {single, a, b, end} << 2 << 1 << allSent;
}

void TestCliSend::smtpStages()
{
    QFETCH(bool, bcc);
    QFETCH(QByteArray, verb);
    QFETCH(QString, action);
    QFETCH(int, exitCode);
    QFETCH(QStringList, log);
    QFETCH(int, messages);
    QFETCH(int, connections);
    QFETCH(QString, summary);

    FakeSmtpServer server;
    if (action == QLatin1String("drop"))
        server.setFault(verb, FakeSmtpServer::Fault::Drop);
    else if (!action.isEmpty())
        server.queueReply(verb, action.toUtf8());
    const QString home = newHome();
    writeSmtpIni(home, server.host(), server.portText());
    const QString project = saveProject(home,
        cliProject({QStringLiteral("Anna <a@x.cz>"), QStringLiteral("b@x.cz")}, bcc,
            QStringLiteral("SMTP")));

    const CliResult r = runCli({QStringLiteral("--home"), home, QStringLiteral("send"), project});
    QCOMPARE(r.exitCode, exitCode);
    QCOMPARE(outLines(r.out), log);
    QCOMPARE(logFile(home), crlf(log));
    QCOMPARE(server.messages().size(), messages);
    QCOMPARE(server.connectionCount(), connections);
    QCOMPARE(lastLine(r.err), summary);
    if (exitCode == 1)
        QVERIFY(r.err.contains("Chyba: Nepodařilo se připojit k SMTP serveru\n"));
    // The socket status lines go to stderr only; no progress line when it is no terminal.
    QVERIFY(r.err.contains("Connect: 127.0.0.1:"));
    QVERIFY(!r.out.contains("Connect:"));
    QVERIFY(!r.err.contains("ETA"));
}

void TestCliSend::unreachableServer()
{
    const QString home = newHome();
    writeSmtpIni(home, QStringLiteral("127.0.0.1"), QString::number(freeLoopbackPort()));
    const QString project = saveProject(home,
        cliProject(
            {QStringLiteral("a@x.cz"), QStringLiteral("b@x.cz")}, false, QStringLiteral("SMTP")));
    const CliResult r = runCli({QStringLiteral("--home"), home, QStringLiteral("send"), project});
    QCOMPARE(r.exitCode, 1);
    const QStringList log {QStringLiteral("!!! Nepodařilo se připojit k SMTP serveru")};
    QCOMPARE(outLines(r.out), log);
    QCOMPARE(logFile(home), crlf(log));
    QVERIFY(r.err.contains("Error: "));
}

void TestCliSend::noRoute()
{
    // A mail program this machine does not have: nothing is selected, nothing is sent.
    const QString home = newHome();
    writeMailClients(home, kRecorder);
    const QString project = saveProject(
        home, cliProject({QStringLiteral("a@x.cz")}, false, QStringLiteral("Outlook")));
    const CliResult r = runCli({QStringLiteral("--home"), home, QStringLiteral("send"), project});
    QCOMPARE(r.exitCode, 1);
    QVERIFY(r.out.isEmpty());
    QVERIFY(r.err.contains("no delivery route"));
    QVERIFY(QDir(home + QStringLiteral("/Log")).entryList(QDir::Files).isEmpty());
}

void TestCliSend::aiosmtpd_data()
{
    QTest::addColumn<bool>("bcc");
    QTest::addColumn<QStringList>("options"); // after "send PROJECT"
    QTest::addColumn<QList<QStringList>>("envelopes");
    QTest::addColumn<QStringList>("toHeaders");
    QTest::addColumn<QString>("firstLog"); // the log's first line, when it is checked
    QTest::addColumn<QString>("body"); // text the (one) message's body holds, "" unchecked

    const QString toSender = QStringLiteral("To: =?iso-8859-1?Q?Odes=EDlatel?= <from@example.cz>");
    // Batches of 2 over five addresses (the blank and "*" lines count for nothing).
    QTest::newRow("bcc batches") << true << QStringList()
                                 << QList<QStringList> {{QStringLiteral("a@x.cz"),
                                                            QStringLiteral("b@x.cz")},
                                        {QStringLiteral("c@x.cz"), QStringLiteral("d@x.cz")},
                                        {QStringLiteral("e@x.cz")}}
                                 << QStringList {toSender, toSender, toSender} << QString()
                                 << QString();
    QTest::newRow("one by one") << false << QStringList()
                                << QList<QStringList> {{QStringLiteral("a@x.cz")},
                                       {QStringLiteral("b@x.cz")}, {QStringLiteral("c@x.cz")},
                                       {QStringLiteral("d@x.cz")}, {QStringLiteral("e@x.cz")}}
                                << QStringList {QStringLiteral("To: a@x.cz"),
                                       QStringLiteral("To: b@x.cz"), QStringLiteral("To: c@x.cz"),
                                       QStringLiteral("To: d@x.cz"), QStringLiteral("To: e@x.cz")}
                                << QString() << QString();
    // A test send: one message to the given address only, built for one line of the list.
    const QString me = QStringLiteral("me@y.cz");
    QTest::newRow("test send, one by one, as line 4")
        << false << QStringList {QStringLiteral("--test"), me, QStringLiteral("--as-line=4")}
        << QList<QStringList> {{me}} << QStringList {QStringLiteral("To: me@y.cz")}
        << QStringLiteral("--- zkusebni zprava na me@y.cz, sestavena pro radek 4 ---")
        << QStringLiteral("Cyril <c@x.cz> pozn.");
    QTest::newRow("test send, bcc, as the first line")
        << true << QStringList {QStringLiteral("--test"), me} << QList<QStringList> {{me}}
        << QStringList {QStringLiteral("To: me@y.cz")}
        << QStringLiteral("--- zkusebni zprava na me@y.cz, sestavena pro radek 1 ---")
        << QStringLiteral("Dobr=FD den, .");
}

void TestCliSend::aiosmtpd()
{
    QFETCH(bool, bcc);
    QFETCH(QStringList, options);
    QFETCH(QList<QStringList>, envelopes);
    QFETCH(QStringList, toHeaders);
    QFETCH(QString, firstLog);
    QFETCH(QString, body);

    AiosmtpdServer server;
    QString error;
    QVERIFY2(server.start(&error), qPrintable(error));
    const QString home = newHome();
    writeSmtpIni(home, server.host(), server.portText());
    const QStringList lines {QStringLiteral("Anna Malá <a@x.cz>"), QStringLiteral("b@x.cz"),
        QStringLiteral(" "), QStringLiteral("Cyril <c@x.cz> pozn."), QStringLiteral("d@x.cz"),
        QStringLiteral("  e@x.cz  ")};
    const QString project = saveProject(home, cliProject(lines, bcc, QStringLiteral("SMTP")));
    const CliResult r = runCli(
        QStringList {QStringLiteral("--home"), home, QStringLiteral("send"), project} + options);
    QCOMPARE(r.exitCode, 0);
    QVERIFY(server.waitForMessages(int(envelopes.size())));
    const QList<AiosmtpdServer::Message> got = server.messages();
    QCOMPARE(got.size(), envelopes.size());
    QByteArray firstDate;
    for (int i = 0; i < got.size(); ++i) {
        QCOMPARE(got[i].mailFrom, QStringLiteral("from@example.cz"));
        QCOMPARE(got[i].rcptTo, envelopes[i]);
        const QByteArray &data = got[i].data;
        QCOMPARE(headerLine(data, "To"), toHeaders[i].toUtf8());
        if (!body.isEmpty()) {
            QVERIFY2(data.contains(body.toUtf8()), data.constData());
            // Nothing of the other lines: only the one the message is built for.
            for (const char *other : {"a@x.cz", "b@x.cz", "d@x.cz", "e@x.cz"})
                QVERIFY2(!data.contains(other), other);
        }
        // No recipient leaks into a BCC batch's headers or body.
        if (bcc && options.isEmpty()) {
            for (const QString &rcpt : envelopes[i])
                QVERIFY(!data.contains(rcpt.toUtf8()));
            const qsizetype at = data.indexOf("\r\nDate: ");
            const QByteArray date = data.mid(at, data.indexOf("\r\n", at + 2) - at);
            if (i == 0)
                firstDate = date;
            QCOMPARE(date, firstDate); // one message, encoded once, for every batch
        }
    }
    QStringList log = outLines(r.out);
    QCOMPARE(logFile(home), crlf(log));
    QCOMPARE(log.last(), QStringLiteral("--- odesilani ukonceno ---"));
    if (!firstLog.isEmpty())
        QCOMPARE(log.first(), firstLog);
    // A test send keeps no journal; a run does.
    QCOMPARE(logFiles(home, QStringLiteral("*.journal")).size(), options.isEmpty() ? 1 : 0);
}

void TestCliSend::mailProgram_data()
{
    QTest::addColumn<bool>("bcc");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("exits"); // exit statuses of the hand-overs in turn
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QStringList>("handOvers"); // the recipient header of each hand-over

    const QString a = QStringLiteral("Anna <a@x.cz>"), b = QStringLiteral("b@x.cz"),
                  c = QStringLiteral("c@x.cz"), d = QStringLiteral("d@x.cz");
    const QString handed = QStringLiteral("--- odeslano do mailoveho klienta ---");
    const QString end = QStringLiteral("--- odesilani ukonceno ---");
    // Batches of 2 by position: {a, blank}, {*, b}, {c, *d}; "*d" only skipped one by one.
    const QStringList lines {
        a, QStringLiteral(" "), QStringLiteral("*"), b, c, QStringLiteral("*d@x.cz")};

    QTest::newRow("bcc batches counted by position")
        << true << lines << QString() << 0
        << QStringList {QStringLiteral("Odesilani pres mail klienta - BCC kopie po 2"), a, handed,
               b, handed, c, QStringLiteral("*d@x.cz"), handed, end}
        << QStringList {QStringLiteral("Bcc: Anna <a@x.cz>"), QStringLiteral("Bcc: b@x.cz"),
               QStringLiteral("Bcc: c@x.cz, *d@x.cz")};
    QTest::newRow("one by one, starred line skipped")
        << false << lines << QString() << 0
        << QStringList {QStringLiteral("Odesilani pres mail klienta - individualni maily"), a, b, c,
               end}
        << QStringList {QStringLiteral("To: Anna <a@x.cz>"), QStringLiteral("To: b@x.cz"),
               QStringLiteral("To: c@x.cz")};
    QTest::newRow("program fails: the run ends, what went stays logged")
        << false << QStringList {a, b, c} << QStringLiteral("0 75") << 1
        << QStringList {QStringLiteral("Odesilani pres mail klienta - individualni maily"), a,
               QStringLiteral("!!! MAPI Error: (23) \"Network failure\"")}
        << QStringList {QStringLiteral("To: Anna <a@x.cz>"), QStringLiteral("To: b@x.cz")};
    QTest::newRow("program fails in a batch")
        << true << QStringList {a, b, c} << QStringLiteral("67") << 1
        << QStringList {QStringLiteral("Odesilani pres mail klienta - BCC kopie po 2"), a, b,
               QStringLiteral("!!! MAPI Error: (14) \"Unknown recipient\"")}
        << QStringList {QStringLiteral("Bcc: Anna <a@x.cz>, b@x.cz")};
}

void TestCliSend::mailProgram()
{
    QFETCH(bool, bcc);
    QFETCH(QStringList, lines);
    QFETCH(QString, exits);
    QFETCH(int, exitCode);
    QFETCH(QStringList, log);
    QFETCH(QStringList, handOvers);

    const QString home = newHome();
    const QString spool = home + QStringLiteral("/handed");
    QDir().mkpath(spool);
    writeMailClients(home, kRecorder);
    const QString project = saveProject(home, cliProject(lines, bcc, QStringLiteral("rec")));
    QProcessEnvironment env;
    env.insert(QStringLiteral("RUN_MAIL_DIR"), spool);
    env.insert(QStringLiteral("RUN_MAIL_EXITS"), exits);
    const CliResult r
        = runCli({QStringLiteral("--home"), home, QStringLiteral("send"), project}, env);

    QCOMPARE(r.exitCode, exitCode);
    QCOMPARE(outLines(r.out), log);
    QCOMPARE(logFile(home), crlf(log));
    if (exitCode == 1)
        QVERIFY(r.err.contains("Chyba: MAPI Error: ("));
    QCOMPARE(
        QDir(spool).entryList({QStringLiteral("*.eml")}, QDir::Files).size(), handOvers.size());
    for (int i = 0; i < handOvers.size(); ++i) {
        const QByteArray eml = readBytes(spool + QStringLiteral("/%1.eml").arg(i + 1));
        const QByteArray header = handOvers[i].toUtf8();
        QVERIFY2(
            eml.startsWith(header + "\n") || eml.contains("\n" + header + "\n"), eml.constData());
        QCOMPARE(readBytes(spool + QStringLiteral("/%1.args").arg(i + 1)), QByteArray("-i\n-t\n"));
    }
}

void TestCliSend::msmtp()
{
    const QString msmtp = QStandardPaths::findExecutable(QStringLiteral("msmtp"));
    if (msmtp.isEmpty())
        QSKIP("msmtp is not installed (scripts/install-deps installs it)");
    AiosmtpdServer server;
    QString error;
    QVERIFY2(server.start(&error), qPrintable(error));
    const QString home = newHome();
    writeMailClients(home,
        QStringLiteral("%1 --file=/dev/null --host=%2 --port=%3 --auth=off "
                       "--tls=off --from=from@example.cz")
            .arg(msmtp, server.host(), server.portText()));
    const QStringList lines {
        QStringLiteral("Anna <a@x.cz>"), QStringLiteral("b@x.cz"), QStringLiteral("*c@x.cz")};
    for (const bool bcc : {true, false}) {
        const QString project = saveProject(home, cliProject(lines, bcc, QStringLiteral("Rec")));
        const CliResult r
            = runCli({QStringLiteral("--home"), home, QStringLiteral("send"), project});
        QVERIFY2(r.exitCode == 0, r.err.constData());
    }
    // BCC: one hand-over for the batch {Anna, b}, one for {*c}; one by one: Anna and b.
    QVERIFY(server.waitForMessages(4));
    const QList<AiosmtpdServer::Message> got = server.messages();
    QCOMPARE(got.size(), 4);
    QCOMPARE(got[0].rcptTo, (QStringList {QStringLiteral("a@x.cz"), QStringLiteral("b@x.cz")}));
    QCOMPARE(got[1].rcptTo, QStringList {QStringLiteral("*c@x.cz")});
    QCOMPARE(got[2].rcptTo, QStringList {QStringLiteral("a@x.cz")});
    QCOMPARE(got[3].rcptTo, QStringList {QStringLiteral("b@x.cz")});
    for (const AiosmtpdServer::Message &m : got)
        QVERIFY2(!m.data.contains("\nBcc:") && !m.data.startsWith("Bcc:"), m.data.constData());
    QVERIFY(got[3].data.contains("Dobr")); // the body made it through
}

void TestCliSend::signalCancels_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<QByteArray>("verb"); // the server falls silent at ...
    QTest::addColumn<int>("occurrence"); // ... this one of these commands
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QString>("summary");

    const QString head = QStringLiteral("Odesilani pres SMTP - individualne");
    const QString cancelled = QStringLiteral("!!! odesilani preruseno uzivatelem");
    const QString end = QStringLiteral("--- odesilani ukonceno ---");
    // Before the ".", the line is not sent; after it, it is uncertain.
    QTest::newRow("SIGTERM while the server holds an address")
        << int(SIGTERM) << QByteArray("RCPT") << 2
        << QStringList {head, QStringLiteral("a@x.cz"),
               QStringLiteral(
                   "!!! b@x.cz  Chyba při odesílání: Cancelled while waiting for the server"),
               cancelled, end}
        << QStringLiteral("kolporta-cli: 1 sent, 1 failed, 0 uncertain, 0 skipped, 2 not tried");
    QTest::newRow("SIGINT while the server holds the end of the data")
        << int(SIGINT) << QByteArray(".") << 1
        << QStringList {head, QStringLiteral("!!! a@x.cz  Chyba - doručení nejisté"), cancelled,
               end}
        << QStringLiteral("kolporta-cli: 0 sent, 0 failed, 1 uncertain, 0 skipped, 3 not tried");
}

void TestCliSend::signalCancels()
{
    QFETCH(int, signal);
    QFETCH(QByteArray, verb);
    QFETCH(int, occurrence);
    QFETCH(QStringList, log);
    QFETCH(QString, summary);
    // The server would keep the run waiting far longer than the test: only the signal can end
    // it, and it must do so within 2 s, by the run's cancel rule.
    FakeSmtpServer server;
    server.setFault(verb, FakeSmtpServer::Fault::Silent, occurrence);
    const QString home = newHome();
    writeSmtpIni(home, server.host(), server.portText(), 60);
    const QStringList lines {QStringLiteral("a@x.cz"), QStringLiteral("b@x.cz"),
        QStringLiteral("c@x.cz"), QStringLiteral("d@x.cz")};
    const QString project = saveProject(home, cliProject(lines, false, QStringLiteral("SMTP")));
    QElapsedTimer sinceSignal;
    const CliResult r = runCli(
        {QStringLiteral("--home"), home, QStringLiteral("send"), project}, {},
        [&](QProcess &p) {
            QDeadlineTimer deadline(10000);
            const auto reached = [&] {
                if (verb == ".")
                    return server.messages().size() >= occurrence;
                const QByteArrayList commands = server.commands();
                return std::count_if(commands.begin(), commands.end(), [&](const QByteArray &c) {
                    return c.startsWith(verb);
                }) >= occurrence;
            };
            while (!reached() && !deadline.hasExpired())
                QThread::msleep(10);
            QThread::msleep(50); // the program is waiting for the reply by now
            sinceSignal.start();
            ::kill(pid_t(p.processId()), signal);
        },
        10000);
    const qint64 elapsed = sinceSignal.elapsed();
    QVERIFY2(
        elapsed < 2000, qPrintable(QStringLiteral("ended %1 ms after the signal").arg(elapsed)));
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(outLines(r.out), log);
    QCOMPARE(logFile(home), crlf(log));
    QCOMPARE(lastLine(r.err), summary);
}

// What the journal of the home folder's only run says: the address lines in those states.
static QStringList journalLines(const QString &journal, const char *states)
{
    const CliResult r = runCli({QStringLiteral("journal"), journal, QStringLiteral("--list"),
        QString::fromLatin1(states)});
    return r.exitCode == 0 ? outLines(r.out) : QStringList {QString::fromUtf8(r.err)};
}

void TestCliSend::killAndResume_data()
{
    QTest::addColumn<bool>("bcc");
    QTest::addColumn<bool>("kill"); // else the server refuses the first address
    QTest::addColumn<QStringList>("rerun"); // the options of the second run

    const QString resume = QStringLiteral("--resume");
    const QString uncertain = QStringLiteral("--include-uncertain");
    QTest::newRow("one by one, resumed") << false << true << QStringList {resume};
    QTest::newRow("one by one, resumed with the uncertain")
        << false << true << QStringList {resume, uncertain};
    QTest::newRow("bcc, resumed") << true << true << QStringList {resume};
    QTest::newRow("bcc, resumed with the uncertain")
        << true << true << QStringList {resume, uncertain};
    QTest::newRow("one by one, the refused one retried")
        << false << false << QStringList {QStringLiteral("--retry-failed")};
    QTest::newRow("bcc, the refused one retried")
        << true << false << QStringList {QStringLiteral("--retry-failed")};
}

// kill -9 at a random point of a run against a slow server: the journal never says sent for
// what the server did not take, and says sent or trying for all it took. Continued from the
// journal, the mailing reaches every address once, but those possibly delivered, which go
// again only when the user says so.
void TestCliSend::killAndResume()
{
    QFETCH(bool, bcc);
    QFETCH(bool, kill);
    QFETCH(QStringList, rerun);
    const QStringList addresses {QStringLiteral("a@x.cz"), QStringLiteral("b@x.cz"),
        QStringLiteral("c@x.cz"), QStringLiteral("d@x.cz"), QStringLiteral("e@x.cz"),
        QStringLiteral("f@x.cz")};
    const QStringList lines {QStringLiteral("Anna <a@x.cz>"), QStringLiteral("b@x.cz"),
        QStringLiteral(" "), QStringLiteral("c@x.cz"), QStringLiteral("Dana <D@X.CZ>"),
        QStringLiteral("e@x.cz"), QStringLiteral("f@x.cz")};
    const auto addressOf = [&](const QString &line) {
        const QString l = line.toLower();
        for (const QString &a : addresses)
            if (l.contains(a))
                return a;
        return line;
    };
    const auto delivered = [&](const FakeSmtpServer &server) {
        QStringList out;
        for (const FakeSmtpServer::Delivery &d : server.deliveries())
            for (const QByteArray &rcpt : d.recipients)
                out.append(QString::fromUtf8(rcpt).toLower());
        return out;
    };

    for (int point = 0; point < (kill ? 3 : 1); ++point) {
        FakeSmtpServer server;
        server.setReplyDelay(15);
        if (!kill)
            server.queueReply("RCPT", "550 5.1.1 no such user");
        const QString home = newHome();
        writeSmtpIni(home, server.host(), server.portText());
        const QString project = saveProject(home, cliProject(lines, bcc, QStringLiteral("SMTP")));
        // The run takes about 0.4 s; the kill comes anywhere in it, or just after it.
        const int killAfter = int(QRandomGenerator::global()->bounded(450));
        const CliResult first
            = runCli({QStringLiteral("--home"), home, QStringLiteral("send"), project}, {},
                [&](QProcess &p) {
                    if (!kill)
                        return;
                    QDeadlineTimer deadline(10000);
                    while (server.commands().isEmpty() && !deadline.hasExpired())
                        QThread::msleep(2);
                    QThread::msleep(killAfter);
                    ::kill(pid_t(p.processId()), SIGKILL);
                });
        const QString where = QStringLiteral("killed %1 ms after the greeting").arg(killAfter);
        QVERIFY2(kill ? first.exitCode == -1 || first.exitCode == 0 : first.exitCode == 3,
            qPrintable(where));
        const QStringList journals = logFiles(home, QStringLiteral("*.journal"));
        QCOMPARE(journals.size(), 1);

        QStringList sent;
        for (const QString &l : journalLines(journals.first(), "sent"))
            sent.append(addressOf(l));
        QStringList maybe;
        for (const QString &l : journalLines(journals.first(), "trying,uncertain"))
            maybe.append(addressOf(l));
        const QStringList firstDelivered = delivered(server);
        for (const QString &a : std::as_const(sent))
            QVERIFY2(firstDelivered.contains(a), qPrintable(a + QStringLiteral(", ") + where));
        for (const QString &a : firstDelivered)
            QVERIFY2(sent.contains(a) || maybe.contains(a),
                qPrintable(a + QStringLiteral(", ") + where));
        if (!kill)
            QCOMPARE(journalLines(journals.first(), "refused"), QStringList {lines.first()});

        server.setReplyDelay(0);
        const CliResult second
            = runCli(QStringList {QStringLiteral("--home"), home, QStringLiteral("send"), project,
                         rerun.first(), journals.first()}
                + rerun.mid(1));
        QVERIFY2(second.exitCode == 0, second.err.constData());
        const QStringList all = delivered(server);
        const bool withUncertain = rerun.contains(QStringLiteral("--include-uncertain"));
        for (const QString &a : addresses) {
            const qsizetype times = all.count(a);
            const QString what
                = QStringLiteral("%1 delivered %2 times, %3").arg(a).arg(times).arg(where);
            if (!maybe.contains(a))
                QVERIFY2(times == 1, qPrintable(what));
            else if (withUncertain)
                QVERIFY2(times == 1 || times == 2, qPrintable(what));
            else
                QVERIFY2(times <= 1, qPrintable(what));
        }
        // The new journal holds the whole mailing: resumed in turn, it sends nothing more.
        QStringList next = logFiles(home, QStringLiteral("*.journal"));
        next.removeAll(journals.first());
        if (next.isEmpty()) {
            // The first run had settled every line: nothing was left to send.
            QVERIFY2(second.err.contains("leaves no address line to send"), second.err.constData());
            continue;
        }
        QCOMPARE(next.size(), 1);
        const CliResult third = runCli({QStringLiteral("--home"), home, QStringLiteral("send"),
            project, QStringLiteral("--resume"), next.first()});
        QCOMPARE(third.exitCode, 0);
        QCOMPARE(delivered(server).size(), all.size());
    }
}

// Projects, pictures and attachments that are no regular file are refused like unreadable
// ones, at once: reading them would block for ever (a FIFO) or never end (/dev/zero).
void TestCliSend::fileKinds_data()
{
    QTest::addColumn<QString>("role");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    const QString notRegular = QStringLiteral("Není obyčejný soubor");
    for (const QString &role :
        {QStringLiteral("project"), QStringLiteral("picture"), QStringLiteral("attachment")}) {
        for (const QString &kind : {QStringLiteral("fifo"), QStringLiteral("/dev/zero"),
                 QStringLiteral("folder"), QStringLiteral("link to a fifo")})
            QTest::addRow("%s: %s", qPrintable(role), qPrintable(kind))
                << role << kind << notRegular;
    }
    QTest::newRow("project: over 64 MiB") << QStringLiteral("project") << QStringLiteral("huge")
                                          << QStringLiteral("Soubor je větší než 64 MiB");
}

void TestCliSend::fileKinds()
{
    QFETCH(QString, role);
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    const QString home = newHome();
    QString path = home + QStringLiteral("/special");
    if (kind == QLatin1String("/dev/zero")) {
        path = kind;
    } else if (kind == QLatin1String("folder")) {
        QVERIFY(QDir().mkpath(path));
    } else if (kind == QLatin1String("huge")) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(64 * 1024 * 1024 + 1)); // sparse: nothing is written
    } else {
        const QString fifo = home + QStringLiteral("/fifo");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        if (kind == QLatin1String("fifo"))
            path = fifo;
        else
            QVERIFY(QFile::link(fifo, path));
    }

    CliResult r;
    if (role == QLatin1String("project")) {
        r = runCli({QStringLiteral("--home"), home, QStringLiteral("show"), path}, {}, {}, 10000);
        QCOMPARE(r.exitCode, 2);
    } else {
        project::Project p = cliProject({QStringLiteral("a@x.cz")}, false, QStringLiteral("SMTP"));
        p.htmlBody = role == QLatin1String("picture");
        (p.htmlBody ? p.attachments : p.files) = QStringList {path};
        const QString project = saveProject(home, p);
        r = runCli({QStringLiteral("--home"), home, QStringLiteral("export"), project,
                       QStringLiteral("--to"), home + QStringLiteral("/out")},
            {}, {}, 10000);
        QCOMPARE(r.exitCode, 1);
    }
    const QString error = QStringLiteral("Cannot open file \"%1\". %2").arg(path, reason);
    QVERIFY2(QString::fromUtf8(r.err).contains(error), r.err.constData());
}

// Before the first message, send names every file it will read, and warns of those a
// project from someone else could use to mail private files.
void TestCliSend::filesListed()
{
    FakeSmtpServer server;
    const QString home = newHome();
    writeSmtpIni(home, server.host(), server.portText());
    const QString user = home + QStringLiteral("/user");
    const QString folder = home + QStringLiteral("/project");
    const QString key = user + QStringLiteral("/.ssh/id_ed25519");
    const QString inProject = folder + QStringLiteral("/cenik.pdf");
    const QString inHome = user + QStringLiteral("/doc.pdf");
    const QString hiddenFile = folder + QStringLiteral("/.skryty");
    const QString outside = home + QStringLiteral("/jinde/x.pdf");
    const QString link = folder + QStringLiteral("/nevinny.pdf");
    for (const QString &f : {key, inProject, inHome, hiddenFile, outside})
        writeBytes(f, "12345");
    QVERIFY(QFile::link(key, link));

    project::Project p = cliProject({QStringLiteral("a@x.cz")}, false, QStringLiteral("SMTP"));
    p.attachments = QStringList {inProject}; // a picture, listed though the body is no HTML
    p.files = QStringList {inHome, key, hiddenFile, outside, link};
    QDir().mkpath(folder);
    QString error;
    const QString project = folder + QStringLiteral("/p.kpj");
    QVERIFY(project::SaveProject(project, p, &error));
    QProcessEnvironment env;
    env.insert(QStringLiteral("HOME"), user);
    const CliResult r
        = runCli({QStringLiteral("--home"), home, QStringLiteral("send"), project}, env);
    QCOMPARE(r.exitCode, 0);

    const auto canonical = [](const QString &f) { return QFileInfo(f).canonicalFilePath(); };
    const QString hidden
        = QStringLiteral("kolporta-cli: warning: %1 is hidden or lies in a hidden folder");
    const QStringList expected {
        QStringLiteral("kolporta-cli: picture %1 (5 bytes)").arg(canonical(inProject)),
        QStringLiteral("kolporta-cli: attachment %1 (5 bytes)").arg(canonical(inHome)),
        QStringLiteral("kolporta-cli: attachment %1 (5 bytes)").arg(canonical(key)),
        hidden.arg(canonical(key)),
        QStringLiteral("kolporta-cli: attachment %1 (5 bytes)").arg(canonical(hiddenFile)),
        hidden.arg(canonical(hiddenFile)),
        QStringLiteral("kolporta-cli: attachment %1 (5 bytes)").arg(canonical(outside)),
        QStringLiteral("kolporta-cli: warning: %1 lies outside the project's folder and the home "
                       "folder")
            .arg(canonical(outside)),
        QStringLiteral("kolporta-cli: attachment %1 (5 bytes)").arg(canonical(key)),
        hidden.arg(canonical(key)),
    };
    const QStringList err = QString::fromUtf8(r.err).split(QLatin1Char('\n'));
    QCOMPARE(err.mid(0, expected.size()), expected);
}

void TestCliSend::secondSignalQuits_data()
{
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("second");
    QTest::newRow("SIGINT twice") << int(SIGINT) << int(SIGINT);
    QTest::newRow("SIGTERM, then SIGINT") << int(SIGTERM) << int(SIGINT);
    QTest::newRow("SIGINT, then SIGTERM") << int(SIGINT) << int(SIGTERM);
}

void TestCliSend::secondSignalQuits()
{
    QFETCH(int, first);
    QFETCH(int, second);
    // The server holds the first address far longer than the test waits: only the second
    // signal, whichever it is, can end the program before that.
    FakeSmtpServer server;
    server.setFault("RCPT", FakeSmtpServer::Fault::Silent, 1);
    const QString home = newHome();
    writeSmtpIni(home, server.host(), server.portText(), 30);
    const QString project = saveProject(home,
        cliProject(
            {QStringLiteral("a@x.cz"), QStringLiteral("b@x.cz")}, false, QStringLiteral("SMTP")));
    QElapsedTimer clock;
    clock.start();
    const CliResult r = runCli(
        {QStringLiteral("--home"), home, QStringLiteral("send"), project}, {}, [&](QProcess &p) {
            QDeadlineTimer deadline(10000);
            while (!server.commands().contains("RCPT TO:<a@x.cz>") && !deadline.hasExpired())
                QThread::msleep(10);
            ::kill(pid_t(p.processId()), first);
            QThread::msleep(200);
            ::kill(pid_t(p.processId()), second);
        });
    QCOMPARE(r.exitCode, -1); // ended by the signal
    QVERIFY2(clock.elapsed() < 20000, "the second signal did not end the program");
    // The log says what went: nothing but the head line.
    QCOMPARE(logFile(home), crlf({QStringLiteral("Odesilani pres SMTP - individualne")}));
}

void TestCliSend::unreadableAttachment()
{
    FakeSmtpServer server;
    const QString home = newHome();
    writeSmtpIni(home, server.host(), server.portText());
    project::Project p = cliProject({QStringLiteral("a@x.cz")}, false, QStringLiteral("SMTP"));
    p.files = QStringList {home + QStringLiteral("/chybi.pdf")};
    const QString project = saveProject(home, p);
    const CliResult r = runCli({QStringLiteral("--home"), home, QStringLiteral("send"), project});
    QCOMPARE(r.exitCode, 1);
    const QStringList log = outLines(r.out);
    QCOMPARE(log.size(), 2);
    QCOMPARE(log.first(), QStringLiteral("Odesilani pres SMTP - individualne"));
    QVERIFY(log.last().startsWith(QLatin1String("!!! ")));
    QVERIFY(log.last().contains(QStringLiteral("chybi.pdf")));
    QCOMPARE(logFile(home), crlf(log));
    QVERIFY(r.err.contains("Chyba: " + log.last().mid(4).toUtf8() + "\n"));
    QCOMPARE(server.messages().size(), 0);
}

// The lines a terminal shows for `bytes`: a carriage return goes back to the first column,
// ESC [ K wipes the rest of the line, and a character overwrites the one under the cursor.
static QStringList screenLines(const QByteArray &bytes)
{
    const QString text = QString::fromUtf8(bytes);
    QStringList lines;
    QString line;
    qsizetype col = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\r')) {
            col = 0;
        } else if (c == QLatin1Char('\n')) {
            lines.append(line);
            line.clear();
            col = 0;
        } else if (c == QLatin1Char('\x1b') && text.mid(i, 3) == QLatin1String("\x1b[K")) {
            line.truncate(col);
            i += 2;
        } else {
            if (col < line.size())
                line[col] = c;
            else
                line.append(c);
            ++col;
        }
    }
    if (!line.isEmpty())
        lines.append(line);
    return lines;
}

void TestCliSend::progressOnTerminal_data()
{
    QTest::addColumn<bool>("stdoutToTerminal");
    QTest::newRow("log lines to a file") << false;
    // The usual case: the log lines and the progress line share one terminal.
    QTest::newRow("log lines to the same terminal") << true;
}

void TestCliSend::progressOnTerminal()
{
    QFETCH(bool, stdoutToTerminal);
    // script(1) gives the program a terminal for stderr (and stdout, unless redirected).
    const QString script = QStandardPaths::findExecutable(QStringLiteral("script"));
    if (script.isEmpty())
        QSKIP("script(1) from util-linux is missing");
    FakeSmtpServer server;
    const QString home = newHome();
    writeSmtpIni(home, server.host(), server.portText());
    const QString project = saveProject(home,
        cliProject({QStringLiteral("a@x.cz"), QStringLiteral("b@x.cz"), QStringLiteral("c@x.cz")},
            true, QStringLiteral("SMTP")));
    const QString outFile = home + QStringLiteral("/stdout.txt");
    QString command = QStringLiteral("'%1' --home '%2' send '%3'").arg(kCli, home, project);
    if (!stdoutToTerminal)
        command += QStringLiteral(" >'%1'").arg(outFile);
    QProcess p;
    p.start(script, {QStringLiteral("-qec"), command, QStringLiteral("/dev/null")});
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitCode(), 0);
    const QByteArray terminal = p.readAllStandardOutput();
    QVERIFY2(terminal.contains("lines") && terminal.contains("/s  ETA "), terminal.constData());
    QVERIFY(terminal.contains("\r\x1b[K")); // the line is wiped before anything else
    const QStringList log = outLines(logFile(home).replace("\r\n", "\n"));
    QCOMPARE(log.last(), QStringLiteral("--- odesilani ukonceno ---"));
    if (stdoutToTerminal) {
        // Every log line stands on a line of its own, never glued to the progress line.
        QStringList shown = screenLines(terminal);
        shown.removeIf([&](const QString &l) { return !log.contains(l); });
        QCOMPARE(shown, log);
    } else {
        // The log lines themselves stay clean of it.
        QCOMPARE(outLines(readBytes(outFile)), log);
    }
}

void TestCliSend::exportWritesMessages_data()
{
    QTest::addColumn<bool>("bcc");
    QTest::addColumn<QStringList>("rcpts"); // each message's .rcpt file, lines joined by "|"
    QTest::newRow("bcc") << true
                         << QStringList {QStringLiteral("a@x.cz|b@x.cz"), QStringLiteral("c@x.cz")};
    QTest::newRow("one by one") << false
                                << QStringList {QStringLiteral("a@x.cz"), QStringLiteral("b@x.cz"),
                                       QStringLiteral("c@x.cz")};
}

void TestCliSend::exportWritesMessages()
{
    QFETCH(bool, bcc);
    QFETCH(QStringList, rcpts);
    FakeSmtpServer server; // the profile points at it, yet it must hear nothing
    const QString home = newHome();
    writeSmtpIni(home, server.host(), server.portText());
    // A mail-program route in the project: export still goes the SMTP way.
    writeMailClients(home, kRecorder);
    const QString project = saveProject(home,
        cliProject({QStringLiteral("Anna <a@x.cz>"), QStringLiteral("b@x.cz"),
                       QStringLiteral("Cyril <c@x.cz>")},
            bcc, QStringLiteral("Rec")));
    const QString out = home + QStringLiteral("/out/nested");
    const CliResult r = runCli({QStringLiteral("--home"), home, QStringLiteral("export"), project,
        QStringLiteral("--to"), out});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(outLines(r.out).last(), QStringLiteral("--- odesilani ukonceno ---"));
    QCOMPARE(server.connectionCount(), 0);
    QVERIFY(!QDir(home + QStringLiteral("/Log")).exists()
        || QDir(home + QStringLiteral("/Log")).entryList(QDir::Files).isEmpty());
    QStringList files = QDir(out).entryList(QDir::Files);
    QCOMPARE(files.size(), rcpts.size() * 2);
    for (int i = 0; i < rcpts.size(); ++i) {
        const QString base = out + QStringLiteral("/%1").arg(i + 1, 5, 10, QLatin1Char('0'));
        QCOMPARE(readBytes(base + QStringLiteral(".rcpt")), crlf(rcpts[i].split(QLatin1Char('|'))));
        const QByteArray eml = readBytes(base + QStringLiteral(".eml"));
        QVERIFY(eml.startsWith("From: "));
        QVERIFY(eml.endsWith("\r\n"));
        QVERIFY(!eml.contains("\r\r") && eml.count('\n') == eml.count("\r\n"));
    }
}

void TestCliSend::exportKeepsEarlierExport()
{
    const QString home = newHome();
    const QString out = home + QStringLiteral("/out");
    writeBytes(out + QStringLiteral("/00001.eml"), "earlier");
    const QString project
        = saveProject(home, cliProject({QStringLiteral("a@x.cz")}, false, QStringLiteral("SMTP")));
    const CliResult r = runCli({QStringLiteral("--home"), home, QStringLiteral("export"), project,
        QStringLiteral("--to"), out});
    QCOMPARE(r.exitCode, 2);
    QVERIFY(r.err.contains("already holds exported messages"));
    QCOMPARE(readBytes(out + QStringLiteral("/00001.eml")), QByteArray("earlier"));
    QVERIFY(r.out.isEmpty());
}

void TestCliSend::exportWriteFails()
{
    // A folder where the second message's file should go: that one cannot be written, the
    // others are, and the exit status says so.
    const QString home = newHome();
    const QString out = home + QStringLiteral("/out");
    QDir().mkpath(out + QStringLiteral("/00002.eml"));
    const QString project = saveProject(home,
        cliProject({QStringLiteral("a@x.cz"), QStringLiteral("b@x.cz"), QStringLiteral("c@x.cz")},
            false, QStringLiteral("SMTP")));
    const CliResult r = runCli({QStringLiteral("--home"), home, QStringLiteral("export"), project,
        QStringLiteral("--to"), out});
    QCOMPARE(r.exitCode, 3);
    QCOMPARE(
        lastLine(r.err), QStringLiteral("kolporta-cli: 2 sent, 1 failed, 0 uncertain, 0 skipped"));
    const QStringList log = outLines(r.out);
    QCOMPARE(log.size(), 5);
    QCOMPARE(log[1], QStringLiteral("a@x.cz"));
    QVERIFY2(
        log[2].startsWith(QStringLiteral("!!! b@x.cz  Chyba při odesílání: ")), qPrintable(log[2]));
    QCOMPARE(log[3], QStringLiteral("c@x.cz"));
    QCOMPARE(log[4], QStringLiteral("--- odesilani ukonceno ---"));
    QVERIFY(r.err.contains("Chyba: Chyba při odesílání: "));
    QCOMPARE(readBytes(out + QStringLiteral("/00001.rcpt")), QByteArray("a@x.cz\r\n"));
    QCOMPARE(readBytes(out + QStringLiteral("/00003.rcpt")), QByteArray("c@x.cz\r\n"));
}

// SpamAssassin, local tests only, as a judge of the demo project's message: no rule that marks
// a broken structure fires (an empty or missing text part, no To, no Message-ID, no Date).
void TestCliSend::spamAssassinJudgesDemo()
{
    const QString spamassassin = QStandardPaths::findExecutable(QStringLiteral("spamassassin"));
    if (spamassassin.isEmpty())
        QSKIP("spamassassin is not installed (scripts/install-deps installs it)");
    const QString home = newHome();
    QProcess cli;
    // The project names its files relative to the repository.
    cli.setWorkingDirectory(QStringLiteral(KOLPORTA_TEST_DATA "/../.."));
    cli.start(kCli,
        {QStringLiteral("--home"), home, QStringLiteral("export"),
            QStringLiteral("examples/demo.kpj"), QStringLiteral("--to"),
            home + QStringLiteral("/out")});
    QVERIFY(cli.waitForFinished(60000));
    QCOMPARE(cli.exitCode(), 0);

    QProcess judge;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home); // its user preferences go there
    judge.setProcessEnvironment(env);
    judge.setStandardInputFile(home + QStringLiteral("/out/00001.eml"));
    judge.start(spamassassin, {QStringLiteral("-L"), QStringLiteral("-t")});
    QVERIFY(judge.waitForFinished(120000));
    const QString report = QString::fromUtf8(judge.readAllStandardOutput());
    QVERIFY2(report.contains(QStringLiteral("Content analysis details")), qPrintable(report));
    static const QRegularExpression rule(QStringLiteral("^\\s*-?\\d+\\.\\d+\\s+([A-Z0-9_]+)\\s"),
        QRegularExpression::MultilineOption);
    QStringList fired;
    for (const QRegularExpressionMatch &m : rule.globalMatch(report))
        fired.append(m.captured(1));
    for (const char *name : {"MPART_ALT_DIFF", "MIME_HTML_ONLY", "MIME_HTML_MOSTLY",
             "MISSING_HEADERS", "MISSING_MID", "MISSING_DATE", "HTML_MIME_NO_HTML_TAG"})
        QVERIFY2(!fired.contains(QLatin1String(name)), qPrintable(fired.join(u' ')));
    QVERIFY2(fired.contains(QStringLiteral("HTML_MESSAGE")), qPrintable(report));
}

QTEST_GUILESS_MAIN(TestCliSend)
#include "tst_CliSend.moc"
