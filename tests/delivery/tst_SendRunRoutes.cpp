// The send run with its real transports: the mail-program modes through a recording mail
// program (batches by position, skipped lines, cancels, a program that fails), and the SMTP
// worked example through the SMTP client and a real aiosmtpd.

#include "AiosmtpdServer.h"
#include "SendRunFixtures.h"
#include "TestSupport.h"

#include "delivery/MailObject.h"
#include "delivery/SendRun.h"
#include "settings/HomeFolder.h"

#include <QDir>
#include <QTest>

using namespace kolporta;
using namespace kolporta::delivery;
using kolporta::test::AiosmtpdServer;
using kolporta::test::RecordingHost;

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
};

void TestSendRunRoutes::mailProgram_data()
{
    QTest::addColumn<bool>("bcc");
    QTest::addColumn<int>("route");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("cancelAtRead");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QStringList>("handed");

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
               bccOnly + QStringLiteral("Bcc: c@x.cz")};
    QTest::newRow("bcc: cancel on the first line")
        << true << 1 << abcde << 0 << QStringList {bccHead, a, cancelled, handed, end}
        << QStringList {bccOnly + QStringLiteral("Bcc: a@x.cz")};
    QTest::newRow("bcc: a batch of skipped lines is not handed over")
        << true << 1
        << QStringList {a, QStringLiteral(" "), QStringLiteral("*"), QStringLiteral("\t"), b} << -1
        << QStringList {bccHead, a, handed, b, handed, end}
        << QStringList {
               bccOnly + QStringLiteral("Bcc: a@x.cz"), bccOnly + QStringLiteral("Bcc: b@x.cz")};
    QTest::newRow("one by one: cancel pressed on line 1 is seen before line 2")
        << false << 1 << abcde << 1 << QStringList {oneHead, a, b, cancelled, end}
        << QStringList {QStringLiteral("To: a@x.cz"), QStringLiteral("To: b@x.cz")};
    QTest::newRow("one by one: a cancel on a skipped line is seen before the next line")
        << false << 1 << QStringList {a, QStringLiteral("*b@x.cz"), c} << 1
        << QStringList {oneHead, a, cancelled, end} << QStringList {QStringLiteral("To: a@x.cz")};
    QTest::newRow("one by one: starred lines skipped, a blank before the star is not")
        << false << 1
        << QStringList {QStringLiteral("*Bob <b@x.cz>"), QStringLiteral(" *c@x.cz"),
               QStringLiteral("  "), d}
        << -1 << QStringList {oneHead, QStringLiteral(" *c@x.cz"), d, end}
        << QStringList {QStringLiteral("To: *c@x.cz"), QStringLiteral("To: d@x.cz")};
    QTest::newRow("a route past the program list ends the run")
        << false << 2 << abcde << -1 << QStringList {QStringLiteral("!!! Index is out ot range")}
        << QStringList();
}

void TestSendRunRoutes::mailProgram()
{
    QFETCH(bool, bcc);
    QFETCH(int, route);
    QFETCH(QStringList, lines);
    QFETCH(int, cancelAtRead);
    QFETCH(QStringList, log);
    QFETCH(QStringList, handed);

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

QTEST_GUILESS_MAIN(TestSendRunRoutes)
#include "tst_SendRunRoutes.moc"
