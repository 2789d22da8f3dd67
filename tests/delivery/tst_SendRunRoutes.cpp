// The send run with its real transports: the mail-program modes through a recording mail
// program (batches by position, skipped lines, cancels, a program that fails), the SMTP
// worked example through the SMTP client and a real aiosmtpd, the SMTP client against a
// server that fails at every stage, and a real server restarted in the middle of a run.

#include "../compose/MailStructure.h"
#include "AiosmtpdServer.h"
#include "FakeSmtpServer.h"
#include "SendRunFixtures.h"
#include "TestSupport.h"

#include "compose/MessageAssembly.h"
#include "delivery/MailObject.h"
#include "delivery/SendRun.h"
#include "delivery/SmtpClient.h"
#include "settings/HomeFolder.h"

#include <QDir>
#include <QRegularExpression>
#include <QTest>

using namespace kolporta;
using namespace kolporta::delivery;
using kolporta::test::AiosmtpdServer;
using kolporta::test::FakeSmtpServer;
using kolporta::test::RecordingHost;
using kolporta::test::ScriptedSession;

namespace {

const QString kRecorder = QStringLiteral(KOLPORTA_TEST_DATA "/run-mail-program");

// The recipient headers of every hand-over so far, "To: x" or "Bcc: x, y".
QStringList handOvers(const QString &spool)
{
    QStringList out;
    for (int n = 1; QFile::exists(spool + QStringLiteral("/%1.eml").arg(n)); ++n) {
        const QByteArray eml = test::readBytes(spool + QStringLiteral("/%1.eml").arg(n));
        const QByteArray head = eml.left(eml.indexOf("\n\n"));
        QStringList rcpt;
        for (const QByteArray &line : head.split('\n')) {
            if (line.startsWith("To: ") || line.startsWith("Bcc: "))
                rcpt.append(QString::fromUtf8(line));
        }
        out.append(rcpt.join(QLatin1Char('|')));
    }
    return out;
}

} // namespace

class TestSendRunRoutes : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QDir().mkpath(settings::HomeFolder::logFolder()); }
    void mailProgram_data();
    void mailProgram();
    void workedExampleOverAiosmtpd();
    void faultMatrix_data();
    void faultMatrix();
    void lanes_data();
    void lanes();
    void lanesOverAiosmtpd_data();
    void lanesOverAiosmtpd();
    void restartedServer_data();
    void restartedServer();
    void envelope_data();
    void envelope();
    void picturesResolve_data();
    void picturesResolve();
};

void TestSendRunRoutes::mailProgram_data()
{
    QTest::addColumn<bool>("bcc");
    QTest::addColumn<int>("route");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("cancelAtRead");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QStringList>("handed");
    QTest::addColumn<QString>("journal"); // see journalText

    const QString bccHead = QStringLiteral("Odesilani pres mail klienta - BCC kopie po 2");
    const QString oneHead = QStringLiteral("Odesilani pres mail klienta - individualni maily");
    const QString handed = QStringLiteral("--- odeslano do mailoveho klienta ---");
    const QString cancelled = QStringLiteral("!!! Odesilani preruseno uzivatelem");
    const QString end = QStringLiteral("--- odesilani ukonceno ---");
    const QString a = QStringLiteral("a@x.cz"), b = QStringLiteral("b@x.cz"),
                  c = QStringLiteral("c@x.cz"), d = QStringLiteral("d@x.cz");
    const QStringList abcde {a, b, c, d, QStringLiteral("e@x.cz")};
    const QString bccOnly = QStringLiteral("To: undisclosed-recipients:;|");

    QTest::newRow("bcc: cancel pressed on line 2 is seen before line 3; {c} still handed over")
        << true << 1 << abcde << 2 << QStringList {bccHead, a, b, handed, c, cancelled, handed, end}
        << QStringList {bccOnly + QStringLiteral("Bcc: a@x.cz, b@x.cz"),
               bccOnly + QStringLiteral("Bcc: c@x.cz")}
        << QStringLiteral("1t/1 2t/1 1S/1 2S/1 3t/2 3S/2");
    QTest::newRow("bcc: cancel on the first line")
        << true << 1 << abcde << 0 << QStringList {bccHead, a, cancelled, handed, end}
        << QStringList {bccOnly + QStringLiteral("Bcc: a@x.cz")} << QStringLiteral("1t/1 1S/1");
    QTest::newRow("bcc: a batch of skipped lines is not handed over")
        << true << 1
        << QStringList {a, QStringLiteral(" "), QStringLiteral("*"), QStringLiteral("\t"), b} << -1
        << QStringList {bccHead, a, handed, b, handed, end}
        << QStringList {bccOnly + QStringLiteral("Bcc: a@x.cz"),
               bccOnly + QStringLiteral("Bcc: b@x.cz")}
        << QStringLiteral("2K 1t/1 1S/1 3K 4K 5t/2 5S/2");
    QTest::newRow("one by one: cancel pressed on line 1 is seen before line 2")
        << false << 1 << abcde << 1 << QStringList {oneHead, a, b, cancelled, end}
        << QStringList {QStringLiteral("To: a@x.cz"), QStringLiteral("To: b@x.cz")}
        << QStringLiteral("1t 1S 2t 2S");
    QTest::newRow("one by one: a cancel on a skipped line is seen before the next line")
        << false << 1 << QStringList {a, QStringLiteral("*b@x.cz"), c} << 1
        << QStringList {oneHead, a, cancelled, end} << QStringList {QStringLiteral("To: a@x.cz")}
        << QStringLiteral("1t 1S 2K");
    QTest::newRow("one by one: starred lines skipped, a blank before the star is not")
        << false << 1
        << QStringList {QStringLiteral("*Bob <b@x.cz>"), QStringLiteral(" *c@x.cz"),
               QStringLiteral("  "), d}
        << -1 << QStringList {oneHead, QStringLiteral(" *c@x.cz"), d, end}
        << QStringList {QStringLiteral("To: *c@x.cz"), QStringLiteral("To: d@x.cz")}
        << QStringLiteral("1K 2t 2S 3K 4t 4S");
    // A mail program is not known to take SMTPUTF8: such an address is refused here, and the
    // run goes on.
    const QString jiri = QStringLiteral(u"jiří@x.cz");
    const QString refused = QStringLiteral(u"!!! jiří@x.cz  Chyba - adresa odmítnuta serverem");
    QTest::newRow("bcc: a non-ASCII local part is left out")
        << true << 1 << QStringList {a, jiri, b} << -1
        << QStringList {bccHead, a, refused, handed, b, handed, end}
        << QStringList {bccOnly + QStringLiteral("Bcc: a@x.cz"),
               bccOnly + QStringLiteral("Bcc: b@x.cz")}
        << QStringLiteral("2R 1t/1 1S/1 3t/2 3S/2");
    QTest::newRow("one by one: a non-ASCII local part is not handed over")
        << false << 1 << QStringList {jiri, a} << -1 << QStringList {oneHead, refused, a, end}
        << QStringList {QStringLiteral("To: a@x.cz")} << QStringLiteral("1R 2t 2S");
    QTest::newRow("a route past the program list ends the run")
        << false << 2 << abcde << -1 << QStringList {QStringLiteral("!!! Index is out ot range")}
        << QStringList() << QString();
}

void TestSendRunRoutes::mailProgram()
{
    QFETCH(bool, bcc);
    QFETCH(int, route);
    QFETCH(QStringList, lines);
    QFETCH(int, cancelAtRead);
    QFETCH(QStringList, log);
    QFETCH(QStringList, handed);
    QFETCH(QString, journal);

    const QString spool = test::homePath() + QStringLiteral("/handed-")
        + QString::fromLatin1(QTest::currentDataTag()).left(20);
    QDir(spool).removeRecursively();
    QDir().mkpath(spool);
    qputenv("RUN_MAIL_DIR", QFile::encodeName(spool));

    MailObject mail({MailProgram {QStringLiteral("Rec"), kRecorder, true}});
    RecordingHost host;
    host.lines = lines;
    host.cancelAtRead = cancelAtRead;
    SendRun run(&host);
    run.setMailObject(&mail);
    SendRunSettings settings;
    settings.route = route;
    settings.sendAsBcc = bcc;
    settings.batchSizeText = QStringLiteral("2");
    settings.body = QStringLiteral("Dobrý den, %TO%");
    const SendRunResult result = run.run(settings);

    QCOMPARE(host.logLines, log);
    QCOMPARE(handOvers(spool), handed);
    QCOMPARE(test::journalText(run.journalPath()), journal);
    const bool finished = log.last() == QLatin1String("--- odesilani ukonceno ---");
    QCOMPARE(
        result.status, finished ? SendRunResult::Status::Finished : SendRunResult::Status::Error);
    QCOMPARE(host.generalErrors.size(), finished ? 0 : 1);
    QCOMPARE(host.titles.last(), QStringLiteral("Kolporta"));
    QCOMPARE(host.progressMaximum, 0);
}

void TestSendRunRoutes::workedExampleOverAiosmtpd()
{
    AiosmtpdServer server;
    QString error;
    QVERIFY2(server.start(&error), qPrintable(error));
    test::writeBytes(settings::HomeFolder::smtpIniPath(),
        QStringLiteral("[Zkušební]\r\nServer=%1\r\nPort=%2\r\nTimeout=5\r\n")
            .arg(server.host(), server.portText())
            .toUtf8());
    RecordingHost host;
    host.lines = QStringList {QStringLiteral("Anna <a@x.cz>"), QString(), QStringLiteral("*"),
        QStringLiteral("b@x.cz"), QStringLiteral("Cyril <c@x.cz>")};
    host.profile = QStringLiteral("Zkušební");
    SendRun run(&host);
    SendRunSettings settings;
    settings.route = 0;
    settings.sendAsBcc = true;
    settings.batchSizeText = QStringLiteral("2");
    settings.body = QStringLiteral("Hromadná zpráva");
    const SendRunResult result = run.run(settings);
    QCOMPARE(result.status, SendRunResult::Status::Finished);
    QCOMPARE(host.logLines,
        (QStringList {QStringLiteral("Odesilani pres SMTP - BCC kopie po 2"),
            QStringLiteral("Anna <a@x.cz>"), QStringLiteral("b@x.cz"),
            QStringLiteral("--- odeslano ---"), QStringLiteral("Cyril <c@x.cz>"),
            QStringLiteral("--- odeslano ---"), QStringLiteral("--- odesilani ukonceno ---")}));
    QVERIFY(server.waitForMessages(2));
    const QList<AiosmtpdServer::Message> got = server.messages();
    QCOMPARE(got.size(), 2);
    QCOMPARE(got[0].rcptTo, (QStringList {QStringLiteral("a@x.cz"), QStringLiteral("b@x.cz")}));
    QCOMPARE(got[1].rcptTo, QStringList {QStringLiteral("c@x.cz")});
    QCOMPARE(got[0].data, got[1].data); // one message, encoded once
    // The socket status lines reached the host, not the send log.
    QVERIFY(!host.statusLines.isEmpty());
    for (const QString &line : host.logLines)
        QVERIFY(!line.startsWith(QLatin1String("Connect: ")));
}

// A server that fails at each stage of a session: the line outcomes, what the server kept
// (each message at most once), and the log. Two lines, a and b; BCC batches of 2.
void TestSendRunRoutes::faultMatrix_data()
{
    QTest::addColumn<bool>("bcc");
    QTest::addColumn<QStringList>("faults"); // "VERB drop|silent|421 N" or "VERB reply=TEXT"
    QTest::addColumn<QString>("outcomes"); // see RecordingHost::outcomeText
    QTest::addColumn<bool>("finished"); // else: the connection failed, at the start or later
    QTest::addColumn<QStringList>("kept"); // the recipients of each message the server kept
    QTest::addColumn<int>("mails"); // MAIL FROM commands the server got
    QTest::addColumn<QStringList>("marks"); // the log's "!!! " lines
    QTest::addColumn<QString>("box");

    const QString a = QStringLiteral("a@x.cz"), b = QStringLiteral("b@x.cz");
    const QString both = QStringLiteral("a@x.cz b@x.cz");
    const QString noConnect = QStringLiteral("!!! Nepodařilo se připojit k SMTP serveru");
    const QString noConnectBox = QStringLiteral("Chyba|Nepodařilo se připojit k SMTP serveru");
    const QString loginBox = noConnectBox + QStringLiteral("\rPřihlášení k serveru se nezdařilo: ");
    const QString closed = QStringLiteral("Connection closed by the server");
    const QString closing = QStringLiteral("421 fake.test Service closing transmission channel");
    const QStringList kinds {
        QStringLiteral("drop"), QStringLiteral("silent"), QStringLiteral("421")};
    const QStringList why {closed, QStringLiteral("Connection timed out"), closing};

    for (int k = 0; k < kinds.size(); ++k) {
        const QString &kind = kinds[k];
        const auto fault = [&](const char *verb, int n) {
            return QStringLiteral("%1 %2 %3").arg(QLatin1String(verb), kind).arg(n);
        };
        const auto row = [&](const char *mode, const char *verb) -> QTestData & {
            return QTest::addRow("%s, %s %s", mode, verb, qPrintable(kind));
        };
        // One by one. The first opening is never tried again.
        for (const char *verb : {"GREETING", "EHLO"}) {
            row("one by one", verb)
                << false << QStringList {fault(verb, 1)} << QStringLiteral("--") << false
                << QStringList() << 0 << QStringList {noConnect} << noConnectBox;
        }
        row("one by one", "AUTH") << false << QStringList {fault("AUTH", 1)} << QStringLiteral("--")
                                  << false << QStringList() << 0 << QStringList {noConnect}
                                  << loginBox + why[k];
        // Lost before the ".": the transaction goes again on a new connection.
        for (const char *verb : {"MAIL", "RCPT", "DATA"}) {
            row("one by one", verb)
                << false << QStringList {fault(verb, 1)} << QStringLiteral("SS") << true
                << QStringList {a, b} << 3 << QStringList() << QString();
        }
        // After the ".": only a 421 says the message was not taken.
        if (kind == QLatin1String("421"))
            row("one by one", ".") << false << QStringList {fault(".", 1)} << QStringLiteral("SS")
                                   << true << QStringList {a, b} << 3 << QStringList() << QString();
        else
            row("one by one", ".")
                << false << QStringList {fault(".", 1)} << QStringLiteral("US") << true
                << QStringList {a, b} << 2
                << QStringList {QStringLiteral("!!! Anna <a@x.cz>  Chyba - doručení nejisté")}
                << QString();
        row("one by one", "QUIT") << false << QStringList {fault("QUIT", 1)} << QStringLiteral("SS")
                                  << true << QStringList {a, b} << 2 << QStringList() << QString();

        // BCC. The opening stages fail in a reopen, after the first MAIL FROM was lost; the
        // run waits and opens again.
        for (const char *verb : {"GREETING", "EHLO", "AUTH"}) {
            row("bcc", verb) << true << QStringList {QStringLiteral("MAIL drop 1"), fault(verb, 2)}
                             << QStringLiteral("SS") << true << QStringList {both} << 2
                             << QStringList() << QString();
        }
        // A lost address (the second: the first is given again) or DATA: the batch's
        // transaction goes again, its addresses logged once.
        row("bcc", "MAIL") << true << QStringList {fault("MAIL", 1)} << QStringLiteral("SS") << true
                           << QStringList {both} << 2 << QStringList() << QString();
        row("bcc", "RCPT") << true << QStringList {fault("RCPT", 2)} << QStringLiteral("SS") << true
                           << QStringList {both} << 2 << QStringList() << QString();
        row("bcc", "DATA") << true << QStringList {fault("DATA", 1)} << QStringLiteral("SS") << true
                           << QStringList {both} << 2 << QStringList() << QString();
        if (kind == QLatin1String("421"))
            row("bcc", ".") << true << QStringList {fault(".", 1)} << QStringLiteral("SS") << true
                            << QStringList {both} << 2 << QStringList() << QString();
        else
            row("bcc", ".") << true << QStringList {fault(".", 1)} << QStringLiteral("UU") << true
                            << QStringList {both} << 1
                            << QStringList {QStringLiteral("!!! Chyba - doručení nejisté")}
                            << QString();
        row("bcc", "QUIT") << true << QStringList {fault("QUIT", 1)} << QStringLiteral("SS") << true
                           << QStringList {both} << 1 << QStringList() << QString();
    }

    const QStringList reopensFail {QStringLiteral("GREETING drop 2"),
        QStringLiteral("GREETING drop 3"), QStringLiteral("GREETING drop 4")};
    QTest::newRow("wrong password: the opening fails, no address is tried")
        << false << QStringList {QStringLiteral("AUTH-DATA reply=535 5.7.8 Bad credentials")}
        << QStringLiteral("--") << false << QStringList() << 0 << QStringList {noConnect}
        << loginBox + QStringLiteral("535 5.7.8 Bad credentials");
    QTest::newRow("one by one: three reopens fail, the run gives up")
        << false << QStringList {QStringLiteral("MAIL drop 1")} + reopensFail
        << QStringLiteral("F-") << false << QStringList() << 1
        << QStringList {QStringLiteral("!!! Anna <a@x.cz>  Chyba při odesílání: ") + closed,
               noConnect}
        << noConnectBox;
    QTest::newRow("bcc: three reopens fail, the open batch fails with them")
        << true << QStringList {QStringLiteral("RCPT drop 2")} + reopensFail << QStringLiteral("FF")
        << false << QStringList() << 1
        << QStringList {QStringLiteral("!!! b@x.cz  Chyba při odesílání: ") + closed,
               QStringLiteral("!!! Chyba při odesílání: ") + closed, noConnect}
        << noConnectBox;
    QTest::newRow("one by one: three retries, then the line fails and the run goes on")
        << false
        << QStringList {QStringLiteral("MAIL drop 1"), QStringLiteral("MAIL drop 2"),
               QStringLiteral("MAIL drop 3"), QStringLiteral("MAIL drop 4")}
        << QStringLiteral("FS") << true << QStringList {b} << 5
        << QStringList {QStringLiteral("!!! Anna <a@x.cz>  Chyba při odesílání: ") + closed}
        << QString();
    QTest::newRow("bcc: every address refused, so no DATA")
        << true << QStringList {QStringLiteral("RCPT reply=550 no such user")}
        << QStringLiteral("RR") << true << QStringList() << 1
        << QStringList {QStringLiteral("!!! Anna <a@x.cz>  Chyba - adresa odmítnuta serverem"),
               QStringLiteral("!!! b@x.cz  Chyba - adresa odmítnuta serverem"),
               QStringLiteral("!!! Chyba při odesílání")}
        << QString();
}

void TestSendRunRoutes::faultMatrix()
{
    QFETCH(bool, bcc);
    QFETCH(QStringList, faults);
    QFETCH(QString, outcomes);
    QFETCH(bool, finished);
    QFETCH(QStringList, kept);
    QFETCH(int, mails);
    QFETCH(QStringList, marks);
    QFETCH(QString, box);

    FakeSmtpServer server;
    server.setReply("EHLO", "250-fake.test\r\n250 AUTH CRAM-MD5");
    server.setReply("AUTH", "334 PDE+");
    server.setReply("AUTH-DATA", "235 ok");
    for (const QString &f : faults) {
        const QStringList parts = f.split(QLatin1Char(' '));
        const QByteArray verb = parts[0].toUtf8();
        if (parts[1].startsWith(QLatin1String("reply="))) {
            server.setReply(verb, f.mid(f.indexOf(QLatin1Char('=')) + 1).toUtf8());
            continue;
        }
        const FakeSmtpServer::Fault fault = parts[1] == QLatin1String("drop")
            ? FakeSmtpServer::Fault::Drop
            : parts[1] == QLatin1String("silent") ? FakeSmtpServer::Fault::Silent
                                                  : FakeSmtpServer::Fault::Closing;
        server.setFault(verb, fault, parts[2].toInt());
    }

    RecordingHost host;
    host.lines = QStringList {QStringLiteral("Anna <a@x.cz>"), QStringLiteral("b@x.cz")};
    SendRun run(&host);
    run.setReconnectDelays({1, 1, 1});
    run.setSessionFactory([&](const settings::SmtpProfile &) {
        settings::SmtpProfile profile;
        profile.server = server.host();
        profile.port = server.portText();
        profile.user = QStringLiteral("jan");
        profile.password = QStringLiteral("heslo");
        auto client = std::make_unique<SmtpClient>(profile);
        client->setReplyTimeout(250); // the silent rows wait this long, once each
        return client;
    });
    SendRunSettings settings;
    settings.route = 0;
    settings.sendAsBcc = bcc;
    settings.batchSizeText = QStringLiteral("2");
    settings.body = QStringLiteral("Zpráva pro %TO%");
    const SendRunResult result = run.run(settings);

    QCOMPARE(host.outcomeText(), outcomes);
    QCOMPARE(host.outcomeReports, host.outcomes.size());
    QCOMPARE(result.status,
        finished ? SendRunResult::Status::Finished : SendRunResult::Status::ConnectFailed);
    QStringList got;
    for (const FakeSmtpServer::Delivery &d : server.deliveries())
        got.append(QString::fromUtf8(d.recipients.join(' ')));
    QCOMPARE(got, kept);
    const QByteArrayList commands = server.commands();
    QCOMPARE(std::count_if(commands.begin(), commands.end(),
                 [](const QByteArray &c) { return c.startsWith("MAIL FROM"); }),
        mails);
    QStringList gotMarks = host.logLines;
    gotMarks.removeIf([](const QString &l) { return !l.startsWith(QLatin1String("!!! ")); });
    QCOMPARE(gotMarks, marks);
    QCOMPARE(host.boxes.join(QLatin1Char('\n')), box);
    // An address line stands in the log once at most, however often it was given.
    for (const QString &line : std::as_const(host.lines))
        QVERIFY(host.logLines.count(line) <= 1);
    // The journal agrees, and it said "trying" for every line of a message the server kept
    // before the end of that message's data went out.
    Journal journal;
    QString error;
    QVERIFY2(ReadJournal(run.journalPath(), &journal, &error), qPrintable(error));
    RecordingHost fromJournal;
    fromJournal.lines = host.lines;
    for (const JournalRecord &r : journal.finalRecords())
        fromJournal.lineOutcome(r.line - 1,
            r.state == JournalState::Sent            ? LineOutcome::Sent
                : r.state == JournalState::Refused   ? LineOutcome::Refused
                : r.state == JournalState::Uncertain ? LineOutcome::Uncertain
                                                     : LineOutcome::Failed);
    QCOMPARE(fromJournal.outcomeText(), outcomes);
    const QString records = test::journalText(run.journalPath());
    for (const QString &message : std::as_const(got))
        for (const QString &rcpt : message.split(QLatin1Char(' ')))
            QVERIFY2(records.contains(
                         QStringLiteral("%1t").arg(rcpt == QLatin1String("a@x.cz") ? 1 : 2)),
                qPrintable(records));
}

// The profile's keys of speed and quotas against a scripted server: pipelined transactions
// (replies in one chunk and byte by byte, refusals at each command of a group), several
// connections answering at different speeds, deferred 4xx replies, and pacing, with the
// steady clock moved on by the run's pumps and waits. Lines a to f; the log is the whole
// log, and the server kept each line that was sent exactly once.
void TestSendRunRoutes::lanes_data()
{
    QTest::addColumn<bool>("bcc");
    QTest::addColumn<int>("batch");
    QTest::addColumn<QString>("keys"); // of the profile, ";" between them
    QTest::addColumn<QStringList>("server"); // "VERB reply=|queue=TEXT", "VERB drop|closing N",
                                             // "byte", "delays=MS,MS..."
    QTest::addColumn<int>("lines");
    QTest::addColumn<int>("cancelAt"); // the cancel button is pressed while this line is read
    QTest::addColumn<int>("runs"); // the same run again; the last one is looked at
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QString>("outcomes");

    const QString s1 = QStringLiteral("Odesilani pres SMTP - individualne");
    const QString b2 = QStringLiteral("Odesilani pres SMTP - BCC kopie po 2");
    const QString b3 = QStringLiteral("Odesilani pres SMTP - BCC kopie po 3");
    const QString end = QStringLiteral("--- odesilani ukonceno ---");
    const QString sent = QStringLiteral("--- odeslano ---");
    const QString a = QStringLiteral("Anna <a@x.cz>"), b = QStringLiteral("b@x.cz"),
                  c = QStringLiteral("c@x.cz"), d = QStringLiteral("d@x.cz"),
                  e = QStringLiteral("e@x.cz"), f = QStringLiteral("f@x.cz");
    const auto refused = [](const QString &line) {
        return QStringLiteral("!!! ") + line
            + QStringLiteral("  Chyba - adresa odmítnuta serverem");
    };
    const auto later = [](const QString &line) {
        return QStringLiteral("!!! ") + line
            + QStringLiteral("  dočasně odmítnuto, opakuji později");
    };
    const QString fromRefused
        = QStringLiteral("!!! Odesilatel <from@example.cz>  Chyba při komunikaci - FROM");
    const QString dataRefused = QStringLiteral("!!! Anna <a@x.cz>  Chyba při odesílání zprávy");
    const QString batchRefused = QStringLiteral("!!! Chyba při odesílání");
    const QString pipe = QStringLiteral("Pipelining=1");
    const QString ehlo = QStringLiteral("EHLO reply=250-fake.test\r\n250 PIPELINING");
    const auto bad = [](const char *verb) {
        return QLatin1String(verb) + QStringLiteral(" queue=503 bad sequence");
    };
    const QString retry = QStringLiteral("RetryTemporary=1;RetryDelays=5");
    const auto dayLimit = [](int n) {
        return QStringLiteral("!!! denní limit serveru vyčerpán (MaxPerDay=%1), zbylé řádky lze "
                              "odeslat zítra")
            .arg(n);
    };

    QTest::newRow("pipelined, one by one")
        << false << 2 << pipe << QStringList {ehlo} << 2 << -1 << 1 << QStringList {s1, a, b, end}
        << QStringLiteral("SS");
    QTest::newRow("pipelined, one by one, byte by byte")
        << false << 2 << pipe << QStringList {ehlo, QStringLiteral("byte")} << 2 << -1 << 1
        << QStringList {s1, a, b, end} << QStringLiteral("SS");
    QTest::newRow("pipelined, bcc")
        << true << 2 << pipe << QStringList {ehlo} << 3 << -1 << 1
        << QStringList {b2, a, b, sent, c, sent, end} << QStringLiteral("SSS");
    QTest::newRow("pipelined, bcc, byte by byte")
        << true << 2 << pipe << QStringList {ehlo, QStringLiteral("byte")} << 3 << -1 << 1
        << QStringList {b2, a, b, sent, c, sent, end} << QStringLiteral("SSS");
    QTest::newRow("pipelined: sender refused")
        << false << 2 << pipe
        << QStringList {ehlo, QStringLiteral("MAIL queue=550 no"), bad("RCPT"), bad("DATA")} << 2
        << -1 << 1 << QStringList {s1, fromRefused, b, end} << QStringLiteral("RS");
    QTest::newRow("pipelined: address refused")
        << false << 2 << pipe
        << QStringList {ehlo, QStringLiteral("RCPT queue=550 no"),
               QStringLiteral("DATA queue=554 no valid recipients")}
        << 2 << -1 << 1 << QStringList {s1, refused(a), b, end} << QStringLiteral("RS");
    QTest::newRow("pipelined: DATA refused")
        << false << 2 << pipe << QStringList {ehlo, QStringLiteral("DATA queue=554 no")} << 2 << -1
        << 1 << QStringList {s1, dataRefused, b, end} << QStringLiteral("RS");
    QTest::newRow("pipelined: the message refused")
        << false << 2 << pipe << QStringList {ehlo, QStringLiteral(". queue=554 no")} << 2 << -1
        << 1 << QStringList {s1, dataRefused, b, end} << QStringLiteral("RS");
    QTest::newRow("pipelined, bcc: sender refused")
        << true << 2 << pipe
        << QStringList {ehlo, QStringLiteral("MAIL queue=550 no"), bad("RCPT"), bad("RCPT"),
               bad("DATA")}
        << 3 << -1 << 1
        << QStringList {b2, fromRefused, refused(a), refused(b), batchRefused, c, sent, end}
        << QStringLiteral("RRS");
    QTest::newRow("pipelined, bcc: an address refused")
        << true << 2 << pipe << QStringList {ehlo, QStringLiteral("RCPT queue=550 no")} << 3 << -1
        << 1 << QStringList {b2, refused(a), b, sent, c, sent, end} << QStringLiteral("RSS");
    QTest::newRow("pipelined, bcc: every address refused, 354 never comes")
        << true << 2 << pipe
        << QStringList {ehlo, QStringLiteral("RCPT queue=550 no"),
               QStringLiteral("RCPT queue=550 no"),
               QStringLiteral("DATA queue=554 no valid recipients")}
        << 3 << -1 << 1 << QStringList {b2, refused(a), refused(b), batchRefused, c, sent, end}
        << QStringLiteral("RRS");
    QTest::newRow("pipelined, bcc: DATA refused")
        << true << 2 << pipe << QStringList {ehlo, QStringLiteral("DATA queue=451 later")} << 3
        << -1 << 1 << QStringList {b2, a, b, batchRefused, c, sent, end} << QStringLiteral("RRS");

    QTest::newRow("three connections of different speeds")
        << false << 2 << QStringLiteral("Connections=3")
        << QStringList {QStringLiteral("delays=60,0,20")} << 6 << -1 << 1
        << QStringList {s1, a, b, c, d, e, f, end} << QStringLiteral("SSSSSS");
    QTest::newRow("two connections of different speeds, bcc, pipelined")
        << true << 2 << QStringLiteral("Connections=2;Pipelining=1")
        << QStringList {ehlo, QStringLiteral("delays=60,0")} << 5 << -1 << 1
        << QStringList {b2, a, b, sent, c, d, sent, e, sent, end} << QStringLiteral("SSSSS");
    QTest::newRow("a lost connection is made again while the others go on")
        << false << 2 << QStringLiteral("Connections=3")
        << QStringList {QStringLiteral("MAIL drop 2")} << 6 << -1 << 1
        << QStringList {s1, a, b, c, d, e, f, end} << QStringLiteral("SSSSSS");
    QTest::newRow("cancel: the messages under way finish first")
        << false << 2 << QStringLiteral("Connections=2")
        << QStringList {QStringLiteral("delays=30,30")} << 6 << 2 << 1
        << QStringList {s1, a, b, QStringLiteral("!!! odesilani preruseno uzivatelem"), end}
        << QStringLiteral("SS----");

    QTest::newRow("451 twice, then 250")
        << false << 2 << retry
        << QStringList {QStringLiteral(". queue=451 greylisted"),
               QStringLiteral(". queue=451 greylisted")}
        << 1 << -1 << 1 << QStringList {s1, later(a), a, end} << QStringLiteral("S");
    QTest::newRow("a deferred line waits while the next goes")
        << false << 2 << retry << QStringList {QStringLiteral("RCPT queue=451 later")} << 2 << -1
        << 1 << QStringList {s1, later(a), b, a, end} << QStringLiteral("SS");
    QTest::newRow("bcc: a deferred address goes again in a batch of its own")
        << true << 3 << retry << QStringList {QStringLiteral("RCPT queue=451 later")} << 3 << -1
        << 1 << QStringList {b3, later(a), b, c, sent, a, sent, end} << QStringLiteral("SSS");
    QTest::newRow("bcc: a 4xx to DATA defers the batch")
        << true << 2 << retry << QStringList {QStringLiteral("DATA queue=451 later")} << 2 << -1
        << 1 << QStringList {b2, later(a), later(b), a, b, sent, end} << QStringLiteral("SS");
    QTest::newRow("the tries run out: refused")
        << false << 2 << retry << QStringList {QStringLiteral("RCPT reply=451 later")} << 1 << -1
        << 1 << QStringList {s1, later(a), refused(a), end} << QStringLiteral("R");
    QTest::newRow("without the key a 4xx is a refusal")
        << false << 2 << QStringLiteral("MinDelayMs=1")
        << QStringList {QStringLiteral("RCPT queue=451 later")} << 2 << -1 << 1
        << QStringList {s1, refused(a), b, end} << QStringLiteral("RS");
    QTest::newRow("421 is a lost connection, not a deferral")
        << false << 2 << retry << QStringList {QStringLiteral("MAIL closing 1")} << 2 << -1 << 1
        << QStringList {s1, a, b, end} << QStringLiteral("SS");

    QTest::newRow("a per-minute limit makes the run wait")
        << false << 2 << QStringLiteral("MaxPerMinute=1") << QStringList() << 2 << -1 << 1
        << QStringList {s1, a, b, end} << QStringLiteral("SS");
    QTest::newRow("the per-day limit stops the run")
        << false << 2 << QStringLiteral("MaxPerDay=2") << QStringList() << 3 << -1 << 1
        << QStringList {s1, a, b, dayLimit(2), end} << QStringLiteral("SS-");
    QTest::newRow("the per-day limit counts the day's earlier runs")
        << false << 2 << QStringLiteral("MaxPerDay=3") << QStringList() << 2 << -1 << 2
        << QStringList {s1, a, dayLimit(3), end} << QStringLiteral("S-");
}

void TestSendRunRoutes::lanes()
{
    QFETCH(bool, bcc);
    QFETCH(int, batch);
    QFETCH(QString, keys);
    QFETCH(QStringList, server);
    QFETCH(int, lines);
    QFETCH(int, cancelAt);
    QFETCH(int, runs);
    QFETCH(QStringList, log);
    QFETCH(QString, outcomes);

    FakeSmtpServer fake;
    for (const QString &item : std::as_const(server)) {
        const qsizetype blank = item.indexOf(QLatin1Char(' '));
        const QByteArray verb = item.left(blank).toUtf8();
        const QString rest = item.mid(blank + 1);
        if (item == QLatin1String("byte"))
            fake.setByteByByte(true);
        else if (item.startsWith(QLatin1String("delays="))) {
            QList<int> delays;
            for (const QString &ms : item.mid(7).split(QLatin1Char(',')))
                delays.append(ms.toInt());
            fake.setConnectionDelays(delays);
        } else if (rest.startsWith(QLatin1String("reply=")))
            fake.setReply(verb, rest.mid(6).toUtf8());
        else if (rest.startsWith(QLatin1String("queue=")))
            fake.queueReply(verb, rest.mid(6).toUtf8());
        else
            fake.setFault(verb,
                rest.startsWith(QLatin1String("drop")) ? FakeSmtpServer::Fault::Drop
                                                       : FakeSmtpServer::Fault::Closing,
                rest.section(QLatin1Char(' '), 1).toInt());
    }
    // A profile of its own, so that no other row's journals count toward its day.
    static int rows = 0;
    const QString profile = QStringLiteral("lanes%1").arg(++rows);
    test::writeBytes(settings::HomeFolder::smtpIniPath(),
        QStringLiteral("[%1]\r\nServer=%2\r\nPort=%3\r\nTimeout=5\r\n%4\r\n")
            .arg(profile, fake.host(), fake.portText(),
                QString(keys).replace(QLatin1Char(';'), QStringLiteral("\r\n")))
            .toUtf8());

    const QStringList pool {QStringLiteral("Anna <a@x.cz>"), QStringLiteral("b@x.cz"),
        QStringLiteral("c@x.cz"), QStringLiteral("d@x.cz"), QStringLiteral("e@x.cz"),
        QStringLiteral("f@x.cz")};
    RecordingHost host;
    host.lines = pool.mid(0, lines);
    host.profile = profile;
    // The steady clock goes on a second at each pump, and ten while the run shows a wait.
    qint64 clock = 0;
    host.onPump = [&clock] { clock += 1000; };
    host.onWaiting = [&clock](const QString &) { clock += 10000; };
    for (int run = 0; run < runs; ++run) {
        host.logLines.clear();
        host.titles.clear();
        host.outcomes.clear();
        host.outcomeReports = 0;
        host.cancelAtRead = cancelAt;
        SendRun sendRun(&host);
        sendRun.setReconnectDelays({1, 1, 1});
        sendRun.setSteadyClock([&clock] { return clock; });
        SendRunSettings settings;
        settings.route = 0;
        settings.sendAsBcc = bcc;
        settings.batchSizeText = QString::number(batch);
        settings.body = QStringLiteral("Zpráva pro %TO%");
        settings.addressLines = host.lines;
        QCOMPARE(sendRun.run(settings).status, SendRunResult::Status::Finished);
    }
    QCOMPARE(host.logLines, log);
    QCOMPARE(host.outcomeText(), outcomes);
    QCOMPARE(host.outcomeReports, host.outcomes.size());
    QStringList kept;
    for (const FakeSmtpServer::Delivery &delivery : fake.deliveries())
        for (const QByteArray &rcpt : delivery.recipients)
            kept.append(QString::fromUtf8(rcpt));
    QStringList expected; // an earlier run sent every line
    for (int run = 1; run < runs; ++run)
        for (const QString &line : std::as_const(host.lines))
            expected.append(compose::AddressOfLine(line));
    for (int i = 0; i < outcomes.size(); ++i)
        if (outcomes.at(i) == QLatin1Char('S'))
            expected.append(compose::AddressOfLine(host.lines.at(i)));
    kept.sort();
    expected.sort();
    QCOMPARE(kept, expected);
    if (keys.contains(QLatin1String("Pipelining=1"))) {
        // Every transaction went as one group: MAIL FROM, its RCPT TO and DATA.
        for (const QByteArrayList &group : fake.commandGroups())
            if (group.constFirst().startsWith("MAIL"))
                QCOMPARE(group.constLast(), QByteArray("DATA"));
    }
    // The wait shows in the title, with its seconds.
    const bool waited = std::any_of(host.titles.cbegin(), host.titles.cend(), [](const QString &t) {
        return t.startsWith(QStringLiteral("Kolporta: čekám "))
            && t.endsWith(QStringLiteral(" s: limit serveru"));
    });
    QCOMPARE(waited, keys.contains(QLatin1String("MaxPerMinute")));
}

// Four connections to a real server: every address arrives exactly once, and the log reads
// as one connection's would.
void TestSendRunRoutes::lanesOverAiosmtpd_data()
{
    QTest::addColumn<bool>("bcc");
    QTest::newRow("one by one") << false;
    QTest::newRow("bcc") << true;
}

void TestSendRunRoutes::lanesOverAiosmtpd()
{
    QFETCH(bool, bcc);
    AiosmtpdServer server;
    QString error;
    QVERIFY2(server.start(&error), qPrintable(error));
    test::writeBytes(settings::HomeFolder::smtpIniPath(),
        QStringLiteral("[Rychlý]\r\nServer=%1\r\nPort=%2\r\nTimeout=5\r\nConnections=4\r\n"
                       "Pipelining=1\r\n")
            .arg(server.host(), server.portText())
            .toUtf8());
    RecordingHost host;
    host.profile = QStringLiteral("Rychlý");
    QStringList addresses;
    QStringList log {bcc ? QStringLiteral("Odesilani pres SMTP - BCC kopie po 5")
                         : QStringLiteral("Odesilani pres SMTP - individualne")};
    for (int i = 1; i <= 23; ++i) {
        addresses.append(QStringLiteral("r%1@x.cz").arg(i));
        host.lines.append(QStringLiteral("Příjemce %1 <r%1@x.cz>").arg(i));
        log.append(host.lines.constLast());
        if (bcc && (i % 5 == 0 || i == 23))
            log.append(QStringLiteral("--- odeslano ---"));
    }
    log.append(QStringLiteral("--- odesilani ukonceno ---"));
    SendRun run(&host);
    SendRunSettings settings;
    settings.route = 0;
    settings.sendAsBcc = bcc;
    settings.batchSizeText = QStringLiteral("5");
    settings.body = QStringLiteral("Zpráva pro %TO%");
    QCOMPARE(run.run(settings).status, SendRunResult::Status::Finished);
    QCOMPARE(host.logLines, log);
    QVERIFY(server.waitForMessages(bcc ? 5 : 23));
    QStringList got;
    for (const AiosmtpdServer::Message &message : server.messages())
        got += message.rcptTo;
    got.sort();
    addresses.sort();
    QCOMPARE(got, addresses);
}

void TestSendRunRoutes::restartedServer_data()
{
    QTest::addColumn<bool>("bcc");
    QTest::addColumn<QList<QStringList>>("envelopes");
    const QStringList all {QStringLiteral("a@x.cz"), QStringLiteral("b@x.cz"),
        QStringLiteral("c@x.cz"), QStringLiteral("d@x.cz"), QStringLiteral("e@x.cz")};
    QList<QStringList> single;
    for (const QString &address : all)
        single.append(QStringList {address});
    QTest::newRow("one by one") << false << single;
    // The restart comes inside the first batch: its first three addresses go again.
    QTest::newRow("bcc") << true << QList<QStringList> {all.mid(0, 4), all.mid(4)};
}

void TestSendRunRoutes::restartedServer()
{
    QFETCH(bool, bcc);
    QFETCH(QList<QStringList>, envelopes);
    AiosmtpdServer server;
    QString error;
    QVERIFY2(server.start(&error), qPrintable(error));
    test::writeBytes(settings::HomeFolder::smtpIniPath(),
        QStringLiteral("[Zkušební]\r\nServer=%1\r\nPort=%2\r\nTimeout=5\r\n")
            .arg(server.host(), server.portText())
            .toUtf8());
    RecordingHost host;
    host.lines = QStringList {QStringLiteral("a@x.cz"), QStringLiteral("b@x.cz"),
        QStringLiteral("c@x.cz"), QStringLiteral("d@x.cz"), QStringLiteral("e@x.cz")};
    host.profile = QStringLiteral("Zkušební");
    bool restarted = false;
    // While the run is at the fourth line, the server goes down and comes back on its port;
    // the connection the run holds is gone with the old one.
    host.onRead = [&](int index) {
        if (index == 3) {
            server.stop();
            restarted = server.start(&error);
        }
    };
    SendRun run(&host);
    run.setReconnectDelays({10, 10, 10});
    SendRunSettings settings;
    settings.route = 0;
    settings.sendAsBcc = bcc;
    settings.batchSizeText = QStringLiteral("4");
    settings.body = QStringLiteral("Zpráva");
    const SendRunResult result = run.run(settings);
    QVERIFY2(restarted, qPrintable(error));
    QCOMPARE(result.status, SendRunResult::Status::Finished);
    QCOMPARE(host.outcomeText(), QStringLiteral("SSSSS"));
    QVERIFY(server.waitForMessages(int(envelopes.size())));
    QList<QStringList> got;
    for (const AiosmtpdServer::Message &m : server.messages())
        got.append(m.rcptTo);
    QCOMPARE(got, envelopes);
    for (const QString &line : std::as_const(host.logLines))
        QVERIFY2(!line.startsWith(QLatin1String("!!! ")), qPrintable(line));
}

// The envelope and the address headers against a real server, with and without SMTPUTF8: an
// "addr (Name)" line gives addr, a domain that is not ASCII goes in IDNA form, and a local part
// that is not ASCII goes only with SMTPUTF8, or is refused here without a word to the server.
void TestSendRunRoutes::envelope_data()
{
    QTest::addColumn<bool>("smtpUtf8"); // the server offers it
    QTest::addColumn<bool>("bcc");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("log"); // between the route's first and last line
    // Per message: MAIL FROM|RCPT TO, ...|SMTPUTF8 or -|From header|To header
    QTest::addColumn<QStringList>("messages");

    const QString jiri = QStringLiteral(u"Jiří <jiří@example.cz>");
    const QString refused
        = QStringLiteral(u"!!! Jiří <jiří@example.cz>  Chyba - adresa odmítnuta serverem");
    const QString marie = QStringLiteral(u"marie@example.cz (Marie Dvořáková)");
    const QString idn = QStringLiteral(u"jan@příklad.cz");
    const QString from = QStringLiteral("From: \"Kolporta Demo\" <demo@example.cz>");
    const QString sent = QStringLiteral("--- odeslano ---");
    QTest::newRow("one by one, server without SMTPUTF8")
        << false << false << QStringList {marie, jiri, idn} << QStringList {marie, refused, idn}
        << QStringList {QStringLiteral("demo@example.cz|marie@example.cz|-|") + from
                   + QStringLiteral("|To: marie@example.cz"),
               QStringLiteral("demo@example.cz|jan@xn--pklad-zsa96e.cz|-|") + from
                   + QStringLiteral("|To: jan@xn--pklad-zsa96e.cz")};
    QTest::newRow("one by one, server with SMTPUTF8")
        << true << false << QStringList {jiri, idn} << QStringList {jiri, idn}
        << QStringList {QStringLiteral(u"demo@example.cz|jiří@example.cz|SMTPUTF8|") + from
                   + QStringLiteral(u"|To: jiří@example.cz"),
               QStringLiteral("demo@example.cz|jan@xn--pklad-zsa96e.cz|-|") + from
                   + QStringLiteral("|To: jan@xn--pklad-zsa96e.cz")};
    QTest::newRow("bcc, server without SMTPUTF8")
        << false << true << QStringList {jiri, marie} << QStringList {refused, marie, sent}
        << QStringList {QStringLiteral("demo@example.cz|marie@example.cz|-|") + from
               + QStringLiteral("|To: \"Kolporta Demo\" <demo@example.cz>")};
    QTest::newRow("bcc, server with SMTPUTF8")
        << true << true << QStringList {jiri, marie} << QStringList {jiri, marie, sent}
        << QStringList {
               QStringLiteral(u"demo@example.cz|jiří@example.cz,marie@example.cz|SMTPUTF8|") + from
               + QStringLiteral("|To: \"Kolporta Demo\" <demo@example.cz>")};
}

void TestSendRunRoutes::envelope()
{
    QFETCH(bool, smtpUtf8);
    QFETCH(bool, bcc);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, log);
    QFETCH(QStringList, messages);

    AiosmtpdServer::Options options;
    options.smtpUtf8 = smtpUtf8;
    AiosmtpdServer server(options);
    QString error;
    QVERIFY2(server.start(&error), qPrintable(error));
    test::writeBytes(settings::HomeFolder::smtpIniPath(),
        QStringLiteral("[t]\r\nServer=%1\r\nPort=%2\r\nTimeout=5\r\n")
            .arg(server.host(), server.portText())
            .toUtf8());
    RecordingHost host;
    host.lines = lines;
    host.from = QStringLiteral("demo@example.cz (Kolporta Demo)");
    host.profile = QStringLiteral("t");
    SendRun run(&host);
    SendRunSettings settings;
    settings.route = 0;
    settings.sendAsBcc = bcc;
    settings.body = QStringLiteral("Dobrý den");
    QCOMPARE(run.run(settings).status, SendRunResult::Status::Finished);
    QCOMPARE(host.logLines.mid(1, host.logLines.size() - 2), log);

    QVERIFY(server.waitForMessages(int(messages.size())));
    QStringList got;
    for (const AiosmtpdServer::Message &m : server.messages()) {
        QStringList headers;
        for (const QByteArray &line : m.data.left(m.data.indexOf("\r\n\r\n")).split('\n')) {
            if (line.startsWith("From: ") || line.startsWith("To: "))
                headers.append(QString::fromUtf8(line.trimmed()));
        }
        got.append(m.mailFrom + u'|' + m.rcptTo.join(u',') + u'|'
            + (m.mailOptions.contains(QStringLiteral("SMTPUTF8")) ? QStringLiteral("SMTPUTF8")
                                                                  : QStringLiteral("-"))
            + u'|' + headers.join(u'|'));
    }
    QCOMPARE(got, messages);
}

// The body prepared once per run and the messages built later agree on the pictures'
// Content-IDs, on both routes, and the attachment travels beside them.
void TestSendRunRoutes::picturesResolve_data()
{
    QTest::addColumn<int>("route");
    QTest::newRow("SMTP") << 0;
    QTest::newRow("mail program") << 1;
}

void TestSendRunRoutes::picturesResolve()
{
    QFETCH(int, route);
    const QString dir = test::homePath() + QStringLiteral("/pictures-%1").arg(route);
    QDir().mkpath(dir + QStringLiteral(u"/obrázky"));
    test::writeBytes(dir + QStringLiteral(u"/obrázky/logo 1.png"), "\x89PNG\r\n");
    test::writeBytes(dir + QStringLiteral(u"/ceník.txt"), "cena");
    const QString spool = dir + QStringLiteral("/handed");
    QDir().mkpath(spool);
    qputenv("RUN_MAIL_DIR", QFile::encodeName(spool));

    MailObject mail({MailProgram {QStringLiteral("Rec"), kRecorder, true}});
    RecordingHost host;
    host.lines = QStringList {QStringLiteral(u"Jana Nováková <jana@example.cz>")};
    SendRun run(&host);
    run.setMailObject(&mail);
    QStringList transcript;
    ScriptedSession::sharedMessages().clear();
    run.setSessionFactory([&](const settings::SmtpProfile &) {
        return std::make_unique<ScriptedSession>(ScriptedSession::Script(), &transcript);
    });
    SendRunSettings settings;
    settings.route = route;
    settings.htmlBody = true;
    settings.body = QStringLiteral(u"<p>Dobrý den, %TO%</p><img alt=\"Logo\" "
                                   u"src=\"obrázky\\logo 1.png\">");
    settings.pictures = {dir + QStringLiteral(u"/obrázky/logo 1.png")};
    settings.files = {dir + QStringLiteral(u"/ceník.txt")};
    QCOMPARE(run.run(settings).status, SendRunResult::Status::Finished);

    const QByteArray message = route == 0
        ? ScriptedSession::sharedMessages().value(0).join("\r\n") + "\r\n"
        : test::readBytes(spool + QStringLiteral("/1.eml"));
    const QStringList facts
        = test::mailFacts(message, {QStringLiteral("part "), QStringLiteral("text ")});
    static const QRegularExpression cid(QStringLiteral("src=\\\\?\"cid:([^\"\\\\]+)"));
    const QRegularExpressionMatch reference = cid.match(facts.join(u'\n'));
    QVERIFY2(reference.hasMatch(), qPrintable(facts.join(u'\n')));
    const QString id = reference.captured(1);
    QVERIFY2(facts.filter(QStringLiteral("cid=<") + id + u'>').size() == 1,
        qPrintable(facts.join(u'\n')));
    QVERIFY2(facts.filter(QStringLiteral(u"filename=ceník.txt")).size() == 1,
        qPrintable(facts.join(u'\n')));
    // The plain-text part, with the macro filled in.
    QVERIFY2(
        facts.filter(QStringLiteral(u"Dobrý den, Jana Nováková <jana@example.cz>")).size() == 1,
        qPrintable(facts.join(u'\n')));
}

QTEST_GUILESS_MAIN(TestSendRunRoutes)
#include "tst_SendRunRoutes.moc"
