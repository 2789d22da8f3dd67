// The send run's control flow on the SMTP route, against a scripted session: which lines are
// sent, in which transactions, what the log says, where a cancel takes effect.

#include "SendRunFixtures.h"
#include "TestSupport.h"

#include "delivery/Pacer.h"
#include "delivery/SendRun.h"
#include "settings/HomeFolder.h"

#include <QDir>
#include <QFile>
#include <QTest>

using namespace kolporta;
using namespace kolporta::delivery;
using kolporta::test::RecordingHost;
using kolporta::test::ScriptedSession;

namespace {

const QString kFrom = QStringLiteral("Odesilatel <from@example.cz>");
const QString kFromAddr = QStringLiteral("from@example.cz");
const QDateTime kStart(QDate(2026, 3, 4), QTime(5, 6, 7));

QByteArray crlf(const QStringList &lines)
{
    QByteArray out;
    for (const QString &l : lines)
        out += l.toUtf8() + "\r\n";
    return out;
}

QSet<QString> toSet(const QStringList &l)
{
    return QSet<QString>(l.begin(), l.end());
}

QSet<int> intSet(const QString &text)
{
    QSet<int> out;
    for (const QString &s : text.split(QLatin1Char(','), Qt::SkipEmptyParts))
        out.insert(s.toInt());
    return out;
}

struct Outcome
{
    SendRunResult result;
    QStringList transcript;
    QString logPath;
    QString journalPath;
};

Outcome runSmtp(
    RecordingHost &host, const SendRunSettings &settings, const ScriptedSession::Script &script)
{
    Outcome out;
    SendRun run(&host);
    run.setClock([] { return kStart; });
    run.setSessionFactory([&](const settings::SmtpProfile &) {
        return std::make_unique<ScriptedSession>(script, &out.transcript);
    });
    out.result = run.run(settings);
    out.logPath = run.log().path();
    out.journalPath = run.journalPath();
    return out;
}

// Step H ran: whatever ended the run, the window is back to rest.
void verifyEnded(const RecordingHost &host)
{
    QVERIFY(!host.titles.isEmpty());
    QCOMPARE(host.titles.last(), QStringLiteral("Kolporta"));
    QCOMPARE(host.progressMaximum, 0);
    QVERIFY(!host.progressWindowOpen);
    QVERIFY(!host.busy);
}

} // namespace

class TestSendRun : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QDir().mkpath(settings::HomeFolder::logFolder()); }
    void init() { ScriptedSession::sharedMessages().clear(); }

    void batchSize_data();
    void batchSize();
    void smtpBcc_data();
    void smtpBcc();
    void smtpSingle_data();
    void smtpSingle();
    void connectFails_data();
    void connectFails();
    void messageHeaders_data();
    void messageHeaders();
    void unreadableAttachment_data();
    void unreadableAttachment();
    void listEditedDuringRun();
    void noRouteWritesNoFile();
    void sameSecondKeepsBothRuns();
    void secondRunIsRefused();
    void pacing_data();
    void pacing();
};

void TestSendRun::batchSize_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("size");
    QTest::newRow("letters") << QStringLiteral("abc") << 50;
    QTest::newRow("empty") << QString() << 50;
    QTest::newRow("trailing blank") << QStringLiteral("7 ") << 50;
    QTest::newRow("seven") << QStringLiteral("7") << 7;
    QTest::newRow("leading blank") << QStringLiteral(" 7") << 7;
    QTest::newRow("plus sign") << QStringLiteral("+12") << 12;
    QTest::newRow("zero") << QStringLiteral("0") << 1;
    QTest::newRow("negative") << QStringLiteral("-4") << 1;
    QTest::newRow("digits then letter") << QStringLiteral("5x") << 50;
    QTest::newRow("too large") << QStringLiteral("99999999999") << 50;
    QTest::newRow("int max") << QStringLiteral("2147483647") << 2147483647;
    QTest::newRow("sign only") << QStringLiteral("-") << 50;
    QTest::newRow("decimal") << QStringLiteral("2.5") << 50;
}

void TestSendRun::batchSize()
{
    QFETCH(QString, text);
    QFETCH(int, size);
    QCOMPARE(SendRun::batchSizeFromText(text), size);
}

// Columns shared by the two SMTP tables.
static void smtpColumns()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("batch");
    QTest::addColumn<QStringList>("refusedRcpt");
    QTest::addColumn<QString>("refusedMail"); // MAIL FROM calls refused, "1,3"
    QTest::addColumn<QStringList>("data"); // DATA results in turn
    QTest::addColumn<int>("cancelAtRead");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QStringList>("transcript");
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<QString>("outcomes"); // see RecordingHost::outcomeText
    QTest::addColumn<QString>("journal"); // see journalText
}

void TestSendRun::smtpBcc_data()
{
    smtpColumns();
    const QString head2 = QStringLiteral("Odesilani pres SMTP - BCC kopie po 2");
    const QString head50 = QStringLiteral("Odesilani pres SMTP - BCC kopie po 50");
    const QString sent = QStringLiteral("--- odeslano ---");
    const QString end = QStringLiteral("--- odesilani ukonceno ---");
    const QString mail = QStringLiteral("MAIL ") + kFromAddr;
    const QString a = QStringLiteral("Anna <a@x.cz>"), b = QStringLiteral("b@x.cz"),
                  c = QStringLiteral("  Cyril <c@x.cz> pozn."), d = QStringLiteral("d@x.cz");

    QTest::newRow("worked example: A, empty, star, B, C in batches of 2")
        << QStringList {a, QString(), QStringLiteral("*"), b, c} << QStringLiteral("2")
        << QStringList() << QString() << QStringList() << -1
        << QStringList {head2, a, b, sent, c, sent, end}
        << QStringList {QStringLiteral("open"), mail, QStringLiteral("RCPT a@x.cz"),
               QStringLiteral("RCPT b@x.cz"), QStringLiteral("DATA"), mail,
               QStringLiteral("RCPT c@x.cz"), QStringLiteral("DATA"), QStringLiteral("close")}
        << QStringList() << QStringLiteral("SKKSS")
        << QStringLiteral("2K 3K 1t/1 4t/1 1S/1 4S/1 5t/2 5S/2");
    QTest::newRow("exact multiple: second batch goes after the loop")
        << QStringList {a, b, c, d} << QStringLiteral("2") << QStringList() << QString()
        << QStringList() << -1 << QStringList {head2, a, b, sent, c, d, sent, end}
        << QStringList {QStringLiteral("open"), mail, QStringLiteral("RCPT a@x.cz"),
               QStringLiteral("RCPT b@x.cz"), QStringLiteral("DATA"), mail,
               QStringLiteral("RCPT c@x.cz"), QStringLiteral("RCPT d@x.cz"), QStringLiteral("DATA"),
               QStringLiteral("close")}
        << QStringList() << QStringLiteral("SSSS")
        << QStringLiteral("1t/1 2t/1 1S/1 2S/1 3t/2 4t/2 3S/2 4S/2");
    QTest::newRow("text batch size gives 50; blank-only lines and star send nothing more")
        << QStringList {QStringLiteral(" \t"), QStringLiteral("*"), a} << QStringLiteral("7 ")
        << QStringList() << QString() << QStringList() << -1 << QStringList {head50, a, sent, end}
        << QStringList {QStringLiteral("open"), mail, QStringLiteral("RCPT a@x.cz"),
               QStringLiteral("DATA"), QStringLiteral("close")}
        << QStringList() << QStringLiteral("KKS") << QStringLiteral("1K 2K 3t/1 3S/1");
    QTest::newRow("a starred line with an address is sent to in BCC mode")
        << QStringList {QStringLiteral("*Jan <j@x.cz>")} << QStringLiteral("50") << QStringList()
        << QString() << QStringList() << -1
        << QStringList {head50, QStringLiteral("*Jan <j@x.cz>"), sent, end}
        << QStringList {QStringLiteral("open"), mail, QStringLiteral("RCPT j@x.cz"),
               QStringLiteral("DATA"), QStringLiteral("close")}
        << QStringList() << QStringLiteral("S") << QStringLiteral("1t/1 1S/1");
    QTest::newRow("refused address still counts toward the batch")
        << QStringList {a, b, c} << QStringLiteral("2") << QStringList {b} << QString()
        << QStringList() << -1
        << QStringList {head2, a, QStringLiteral("!!! b@x.cz  Chyba - adresa odmítnuta serverem"),
               sent, c, sent, end}
        << QStringList {QStringLiteral("open"), mail, QStringLiteral("RCPT a@x.cz"),
               QStringLiteral("RCPT b@x.cz"), QStringLiteral("DATA"), mail,
               QStringLiteral("RCPT c@x.cz"), QStringLiteral("DATA"), QStringLiteral("close")}
        << QStringList() << QStringLiteral("SRS") << QStringLiteral("2R/1 1t/1 1S/1 3t/2 3S/2");
    QTest::newRow("refused sender is logged and the run goes on")
        << QStringList {a, b} << QStringLiteral("1") << QStringList() << QStringLiteral("1")
        << QStringList() << -1
        << QStringList {QStringLiteral("Odesilani pres SMTP - BCC kopie po 1"),
               QStringLiteral("!!! ") + kFrom + QStringLiteral("  Chyba při komunikaci - FROM"), a,
               sent, b, sent, end}
        << QStringList {QStringLiteral("open"), mail, QStringLiteral("RCPT a@x.cz"),
               QStringLiteral("DATA"), mail, QStringLiteral("RCPT b@x.cz"), QStringLiteral("DATA"),
               QStringLiteral("close")}
        << QStringList() << QStringLiteral("SS") << QStringLiteral("1t/1 1S/1 2t/2 2S/2");
    QTest::newRow("data refused: logged, no reopen")
        << QStringList {a, b} << QStringLiteral("1") << QStringList() << QString()
        << QStringList {QStringLiteral("refuse")} << -1
        << QStringList {QStringLiteral("Odesilani pres SMTP - BCC kopie po 1"), a,
               QStringLiteral("!!! Chyba při odesílání"), b, sent, end}
        << QStringList {QStringLiteral("open"), mail, QStringLiteral("RCPT a@x.cz"),
               QStringLiteral("DATA"), mail, QStringLiteral("RCPT b@x.cz"), QStringLiteral("DATA"),
               QStringLiteral("close")}
        << QStringList() << QStringLiteral("RS") << QStringLiteral("1t/1 1R/1 2t/2 2S/2");
    QTest::newRow("error raised in data: logged, box, reopen, next batch goes")
        << QStringList {a, b} << QStringLiteral("1") << QStringList() << QString()
        << QStringList {QStringLiteral("error:Spojení ztraceno")} << -1
        << QStringList {QStringLiteral("Odesilani pres SMTP - BCC kopie po 1"), a,
               QStringLiteral("!!! Chyba při odesílání: Spojení ztraceno"), b, sent, end}
        << QStringList {QStringLiteral("open"), mail, QStringLiteral("RCPT a@x.cz"),
               QStringLiteral("DATA"), QStringLiteral("close"), QStringLiteral("open"), mail,
               QStringLiteral("RCPT b@x.cz"), QStringLiteral("DATA"), QStringLiteral("close")}
        << QStringList {QStringLiteral("Chyba|Chyba při odesílání: Spojení ztraceno\r"
                                       "Odesílání dalších zpráv bude pokračovat")}
        << QStringLiteral("FS") << QStringLiteral("1t/1 1F/1 2t/2 2S/2");
    QTest::newRow("cancel still sends the batch collected so far")
        << QStringList {a, b, c, d} << QStringLiteral("50") << QStringList() << QString()
        << QStringList() << 1
        << QStringList {head50, a, b, QStringLiteral("!!! odesilani preruseno uzivatelem"), sent,
               end}
        << QStringList {QStringLiteral("open"), mail, QStringLiteral("RCPT a@x.cz"),
               QStringLiteral("RCPT b@x.cz"), QStringLiteral("DATA"), QStringLiteral("close")}
        << QStringList() << QStringLiteral("SS--") << QStringLiteral("1t/1 2t/1 1S/1 2S/1");
    QTest::newRow("cancel pressed on a blank line is seen after the next address")
        << QStringList {a, QString(), b, c} << QStringLiteral("50") << QStringList() << QString()
        << QStringList() << 1
        << QStringList {head50, a, b, QStringLiteral("!!! odesilani preruseno uzivatelem"), sent,
               end}
        << QStringList {QStringLiteral("open"), mail, QStringLiteral("RCPT a@x.cz"),
               QStringLiteral("RCPT b@x.cz"), QStringLiteral("DATA"), QStringLiteral("close")}
        << QStringList() << QStringLiteral("SKS-") << QStringLiteral("2K 1t/1 3t/1 1S/1 3S/1");
    QTest::newRow("cancel on a star line is polled there")
        << QStringList {a, QStringLiteral("*"), b} << QStringLiteral("50") << QStringList()
        << QString() << QStringList() << 1
        << QStringList {head50, a, QStringLiteral("!!! odesilani preruseno uzivatelem"), sent, end}
        << QStringList {QStringLiteral("open"), mail, QStringLiteral("RCPT a@x.cz"),
               QStringLiteral("DATA"), QStringLiteral("close")}
        << QStringList() << QStringLiteral("SK-") << QStringLiteral("2K 1t/1 1S/1");
    QTest::newRow("cancel on the first line of a new batch: full batch sent, no empty one")
        << QStringList {a, b} << QStringLiteral("1") << QStringList() << QString() << QStringList()
        << 0
        << QStringList {QStringLiteral("Odesilani pres SMTP - BCC kopie po 1"), a,
               QStringLiteral("!!! odesilani preruseno uzivatelem"), sent, end}
        << QStringList {QStringLiteral("open"), mail, QStringLiteral("RCPT a@x.cz"),
               QStringLiteral("DATA"), QStringLiteral("close")}
        << QStringList() << QStringLiteral("S-") << QStringLiteral("1t/1 1S/1");
}

static void runSmtpRow(bool bcc)
{
    QFETCH(QStringList, lines);
    QFETCH(QString, batch);
    QFETCH(QStringList, refusedRcpt);
    QFETCH(QString, refusedMail);
    QFETCH(QStringList, data);
    QFETCH(int, cancelAtRead);
    QFETCH(QStringList, log);
    QFETCH(QStringList, transcript);
    QFETCH(QStringList, boxes);
    QFETCH(QString, outcomes);
    QFETCH(QString, journal);

    RecordingHost host;
    host.lines = lines;
    host.from = kFrom;
    host.cancelAtRead = cancelAtRead;
    SendRunSettings settings;
    settings.route = 0;
    settings.sendAsBcc = bcc;
    settings.batchSizeText = batch;
    settings.body = QStringLiteral("Dobrý den,\r\nzpráva pro %TO%.");
    ScriptedSession::Script script;
    script.refusedRcpt = toSet(refusedRcpt);
    script.refusedMailFrom = intSet(refusedMail);
    script.data = data;

    const Outcome out = runSmtp(host, settings, script);
    QCOMPARE(out.transcript, transcript);
    QCOMPARE(host.logLines, log);
    QCOMPARE(host.boxes, boxes);
    QCOMPARE(host.outcomeText(), outcomes);
    QCOMPARE(out.result.counts.total(), host.outcomeReports);
    QCOMPARE(out.result.status, SendRunResult::Status::Finished);
    QVERIFY(host.generalErrors.isEmpty());
    QCOMPARE(test::readBytes(out.logPath), crlf(log));
    QCOMPARE(test::journalText(out.journalPath), journal);
    verifyEnded(host);
}

void TestSendRun::smtpBcc()
{
    runSmtpRow(true);
}

void TestSendRun::smtpSingle_data()
{
    smtpColumns();
    const QString head = QStringLiteral("Odesilani pres SMTP - individualne");
    const QString end = QStringLiteral("--- odesilani ukonceno ---");
    const QString mail = QStringLiteral("MAIL ") + kFromAddr;
    const QString cancelled = QStringLiteral("!!! odesilani preruseno uzivatelem");
    const QString a = QStringLiteral("Anna <a@x.cz>"), b = QStringLiteral(" b@x.cz "),
                  c = QStringLiteral("*Cyril <c@x.cz>");
    const QString open = QStringLiteral("open"), close = QStringLiteral("close"),
                  data = QStringLiteral("DATA"), ra = QStringLiteral("RCPT a@x.cz"),
                  rb = QStringLiteral("RCPT b@x.cz"), rc = QStringLiteral("RCPT c@x.cz");

    QTest::newRow("each line its own transaction; blank skipped; star line sent")
        << QStringList {a, QStringLiteral("   "), b, c} << QStringLiteral("2") << QStringList()
        << QString() << QStringList() << -1 << QStringList {head, a, b, c, end}
        << QStringList {open, mail, ra, data, mail, rb, data, mail, rc, data, close}
        << QStringList() << QStringLiteral("SKSS") << QStringLiteral("1t 1S 2K 3t 3S 4t 4S");
    QTest::newRow("refused address: logged, reopened, next line")
        << QStringList {a, b} << QString() << QStringList {QStringLiteral("a@x.cz")} << QString()
        << QStringList() << -1
        << QStringList {head,
               QStringLiteral("!!! Anna <a@x.cz>  Chyba - adresa odmítnuta serverem"), b, end}
        << QStringList {open, mail, ra, close, open, mail, rb, data, close} << QStringList()
        << QStringLiteral("RS") << QStringLiteral("1R 2t 2S");
    QTest::newRow("refused data: logged, reopened")
        << QStringList {a, b} << QString() << QStringList() << QString()
        << QStringList {QStringLiteral("refuse")} << -1
        << QStringList {head, QStringLiteral("!!! Anna <a@x.cz>  Chyba při odesílání zprávy"), b,
               end}
        << QStringList {open, mail, ra, data, close, open, mail, rb, data, close} << QStringList()
        << QStringLiteral("RS") << QStringLiteral("1t 1R 2t 2S");
    QTest::newRow("refused sender: logged, connection kept, no recipient given")
        << QStringList {a, b} << QString() << QStringList() << QStringLiteral("1") << QStringList()
        << -1
        << QStringList {head,
               QStringLiteral("!!! ") + kFrom + QStringLiteral("  Chyba při komunikaci - FROM"), b,
               end}
        << QStringList {open, mail, mail, rb, data, close} << QStringList() << QStringLiteral("RS")
        << QStringLiteral("1R 2t 2S");
    QTest::newRow("error raised in data: logged with the line, box, no reopen")
        << QStringList {a, b} << QString() << QStringList() << QString()
        << QStringList {QStringLiteral("error:Vypršel čas")} << -1
        << QStringList {head, QStringLiteral("!!! Anna <a@x.cz>  Chyba při odesílání: Vypršel čas"),
               b, end}
        << QStringList {open, mail, ra, data, mail, rb, data, close}
        << QStringList {QStringLiteral("Chyba|Chyba při odesílání: Vypršel čas\r"
                                       "Odesílání dalších zpráv bude pokračovat")}
        << QStringLiteral("FS") << QStringLiteral("1t 1F 2t 2S");
    QTest::newRow("cancel is seen after the message of that line")
        << QStringList {a, b, c} << QString() << QStringList() << QString() << QStringList() << 1
        << QStringList {head, a, b, cancelled, end}
        << QStringList {open, mail, ra, data, mail, rb, data, close} << QStringList()
        << QStringLiteral("SS-") << QStringLiteral("1t 1S 2t 2S");
    QTest::newRow("cancel pressed on a blank line is seen after the next message")
        << QStringList {a, QString(), b, c} << QString() << QStringList() << QString()
        << QStringList() << 1 << QStringList {head, a, b, cancelled, end}
        << QStringList {open, mail, ra, data, mail, rb, data, close} << QStringList()
        << QStringLiteral("SKS-") << QStringLiteral("1t 1S 2K 3t 3S");
    QTest::newRow("no poll after a refused address")
        << QStringList {a, b, c} << QString() << QStringList {QStringLiteral("a@x.cz")} << QString()
        << QStringList() << 0
        << QStringList {head,
               QStringLiteral("!!! Anna <a@x.cz>  Chyba - adresa odmítnuta serverem"), b, cancelled,
               end}
        << QStringList {open, mail, ra, close, open, mail, rb, data, close} << QStringList()
        << QStringLiteral("RS-") << QStringLiteral("1R 2t 2S");
    QTest::newRow("poll after a refused sender")
        << QStringList {a, b} << QString() << QStringList() << QStringLiteral("1") << QStringList()
        << 0
        << QStringList {head,
               QStringLiteral("!!! ") + kFrom + QStringLiteral("  Chyba při komunikaci - FROM"),
               cancelled, end}
        << QStringList {open, mail, close} << QStringList() << QStringLiteral("R-")
        << QStringLiteral("1R");
}

void TestSendRun::smtpSingle()
{
    runSmtpRow(false);
}

void TestSendRun::connectFails_data()
{
    QTest::addColumn<bool>("bcc");
    QTest::newRow("bcc") << true;
    QTest::newRow("one by one") << false;
}

void TestSendRun::connectFails()
{
    QFETCH(bool, bcc);
    RecordingHost host;
    host.lines = QStringList {QStringLiteral("a@x.cz"), QStringLiteral("b@x.cz")};
    SendRunSettings settings;
    settings.route = 0;
    settings.sendAsBcc = bcc;
    ScriptedSession::Script script;
    script.opens = {false};
    const Outcome out = runSmtp(host, settings, script);

    const QStringList log {QStringLiteral("!!! Nepodařilo se připojit k SMTP serveru")};
    QCOMPARE(out.result.status, SendRunResult::Status::ConnectFailed);
    QCOMPARE(out.transcript, QStringList {QStringLiteral("open")});
    QCOMPARE(host.logLines, log);
    QCOMPARE(test::readBytes(out.logPath), crlf(log));
    // No line was reached: the journal has its header alone, and resuming it sends them all.
    QCOMPARE(test::journalText(out.journalPath), QString());
    QCOMPARE(
        host.boxes, QStringList {QStringLiteral("Chyba|Nepodařilo se připojit k SMTP serveru")});
    QVERIFY(host.generalErrors.isEmpty());
    verifyEnded(host);
}

void TestSendRun::messageHeaders_data()
{
    QTest::addColumn<bool>("bcc");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QByteArray>("toHeader");
    QTest::addColumn<QByteArray>("bodyText");

    // One by one: To is the bare address, while %TO% gets the line untouched.
    QTest::newRow("one by one") << false << QStringLiteral("Bob  <bob@x.cz> pozn.")
                                << QByteArray("To: bob@x.cz")
                                << QByteArray("Hi Bob  <bob@x.cz> pozn. from f@x.cz");
    // BCC: the recipients appear in no header; To names the sender; %TO% is empty.
    QTest::newRow("bcc") << true << QStringLiteral("Bob <bob@x.cz>") << QByteArray("To: f@x.cz")
                         << QByteArray("Hi  from f@x.cz");
}

void TestSendRun::messageHeaders()
{
    QFETCH(bool, bcc);
    QFETCH(QString, line);
    QFETCH(QByteArray, toHeader);
    QFETCH(QByteArray, bodyText);

    RecordingHost host;
    host.lines = QStringList {line};
    host.from = QStringLiteral("f@x.cz");
    host.subj = QStringLiteral("S %TO%");
    SendRunSettings settings;
    settings.route = 0;
    settings.sendAsBcc = bcc;
    settings.body = QStringLiteral("Hi %TO% from %FROM%");
    const Outcome out = runSmtp(host, settings, {});
    QCOMPARE(out.result.status, SendRunResult::Status::Finished);
    QCOMPARE(ScriptedSession::sharedMessages().size(), 1);
    const QList<QByteArray> &msg = ScriptedSession::sharedMessages().first();
    QVERIFY(msg.contains(toHeader));
    QVERIFY(msg.contains(QByteArray("Subject: S %TO%")));
    QVERIFY(msg.contains(bodyText));
    for (const QByteArray &l : msg)
        QVERIFY2(!l.contains("bob@x.cz") || l == bodyText || l == toHeader, l.constData());
}

void TestSendRun::unreadableAttachment_data()
{
    QTest::addColumn<bool>("bcc");
    QTest::addColumn<int>("breakAtRead"); // the file becomes unreadable when this line is read
    QTest::addColumn<QStringList>("sentBefore");
    QTest::addColumn<QStringList>("transcript");

    const QString mail = QStringLiteral("MAIL from@example.cz");
    QTest::newRow("bcc: message built once, before any address")
        << true << -2 << QStringList()
        << QStringList {QStringLiteral("open"), QStringLiteral("close")};
    QTest::newRow("one by one: the second message fails, the first stays sent")
        << false << 1 << QStringList {QStringLiteral("a@x.cz")}
        << QStringList {QStringLiteral("open"), mail, QStringLiteral("RCPT a@x.cz"),
               QStringLiteral("DATA"), QStringLiteral("close")};
}

void TestSendRun::unreadableAttachment()
{
    QFETCH(bool, bcc);
    QFETCH(int, breakAtRead);
    QFETCH(QStringList, sentBefore);
    QFETCH(QStringList, transcript);

    const QString file = test::homePath() + QStringLiteral("/priloha.pdf");
    test::writeBytes(file, "%PDF-1.4\n");
    if (breakAtRead == -2)
        QFile::remove(file);

    RecordingHost host;
    host.lines = QStringList {QStringLiteral("a@x.cz"), QStringLiteral("b@x.cz")};
    host.onRead = [&](int index) {
        if (index == breakAtRead)
            QFile::remove(file);
    };
    SendRunSettings settings;
    settings.route = 0;
    settings.sendAsBcc = bcc;
    settings.body = QStringLiteral("text");
    settings.files = QStringList {file};
    const Outcome out = runSmtp(host, settings, {});

    QCOMPARE(out.result.status, SendRunResult::Status::Error);
    QVERIFY(out.result.error.contains(QStringLiteral("priloha.pdf")));
    QCOMPARE(out.transcript, transcript);
    QCOMPARE(host.generalErrors, QStringList {out.result.error});
    // The log names what went and why the run stopped; it has no end line.
    QStringList log {bcc ? QStringLiteral("Odesilani pres SMTP - BCC kopie po 50")
                         : QStringLiteral("Odesilani pres SMTP - individualne")};
    log += sentBefore;
    log += QStringLiteral("!!! ") + out.result.error;
    QCOMPARE(host.logLines, log);
    QCOMPARE(test::readBytes(out.logPath), crlf(log));
    QCOMPARE(test::journalText(out.journalPath), bcc ? QString() : QStringLiteral("1t 1S"));
    verifyEnded(host);
}

void TestSendRun::listEditedDuringRun()
{
    // Lines added during the run are not sent but count in the title; lines cut off read as
    // empty and are skipped.
    RecordingHost host;
    host.lines = QStringList {QStringLiteral("a@x.cz"), QStringLiteral("b@x.cz"),
        QStringLiteral("c@x.cz"), QStringLiteral("d@x.cz")};
    host.onRead = [&](int index) {
        if (index == 0)
            host.lines.append(QStringLiteral("new@x.cz"));
        if (index == 1)
            host.lines = host.lines.mid(0, 2)
                + QStringList {QStringLiteral("x"), QStringLiteral("y"), QStringLiteral("z")};
        if (index == 2)
            host.lines = host.lines.mid(0, 2);
    };
    SendRunSettings settings;
    settings.route = 0;
    const Outcome out = runSmtp(host, settings, {});
    QCOMPARE(out.result.status, SendRunResult::Status::Finished);
    QCOMPARE(host.logLines,
        (QStringList {QStringLiteral("Odesilani pres SMTP - individualne"),
            QStringLiteral("a@x.cz"), QStringLiteral("b@x.cz"),
            QStringLiteral("--- odesilani ukonceno ---")}));
    QCOMPARE(host.titles,
        (QStringList {QStringLiteral("Kolporta: 1/4"), QStringLiteral("Kolporta: 2/5"),
            QStringLiteral("Kolporta: 3/5"), QStringLiteral("Kolporta: 4/2"),
            QStringLiteral("Kolporta")}));
    QCOMPARE(host.carets, (QList<int> {0, 1}));
}

void TestSendRun::noRouteWritesNoFile()
{
    RecordingHost host;
    host.lines = QStringList {QStringLiteral("a@x.cz")};
    SendRunSettings settings;
    settings.route = -1;
    const QDir logs(settings::HomeFolder::logFolder());
    const QStringList before = logs.entryList(QDir::Files);
    const Outcome out = runSmtp(host, settings, {});
    QCOMPARE(out.result.status, SendRunResult::Status::NoRoute);
    QVERIFY(out.transcript.isEmpty());
    QVERIFY(host.logLines.isEmpty());
    QVERIFY(out.logPath.isEmpty());
    QVERIFY(out.journalPath.isEmpty());
    QCOMPARE(logs.entryList(QDir::Files), before);
    verifyEnded(host);
}

// Two runs started in the same second: the second takes the next names, and neither log nor
// journal of the first is touched.
void TestSendRun::sameSecondKeepsBothRuns()
{
    const QString folder = settings::HomeFolder::logFolder();
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    RecordingHost host;
    host.lines = QStringList {QStringLiteral("a@x.cz"), QStringLiteral("b@x.cz")};
    SendRunSettings settings;
    settings.route = 0;
    const Outcome first = runSmtp(host, settings, {});
    const QByteArray firstJournal = test::readBytes(first.journalPath);
    host.lines = QStringList {QStringLiteral("c@x.cz")};
    host.logLines.clear();
    settings.sendAsBcc = true;
    const Outcome second = runSmtp(host, settings, {});

    const QString stem = folder + QStringLiteral("/Kolporta 2026-03-04 05-06-07");
    QCOMPARE(first.logPath, stem + QStringLiteral(".txt"));
    QCOMPARE(second.logPath, stem + QStringLiteral(" (2).txt"));
    QCOMPARE(second.journalPath, stem + QStringLiteral(" (2).journal"));
    QCOMPARE(test::readBytes(first.logPath),
        crlf({QStringLiteral("Odesilani pres SMTP - individualne"), QStringLiteral("a@x.cz"),
            QStringLiteral("b@x.cz"), QStringLiteral("--- odesilani ukonceno ---")}));
    QCOMPARE(test::readBytes(first.journalPath), firstJournal);
    QCOMPARE(test::readBytes(second.logPath), crlf(host.logLines));
    Journal journal;
    QString error;
    QVERIFY2(ReadJournal(second.journalPath, &journal, &error), qPrintable(error));
    QCOMPARE(journal.header.log, QStringLiteral("Kolporta 2026-03-04 05-06-07 (2).txt"));
    QCOMPARE(journal.header.route, QStringLiteral("SMTP"));
    QVERIFY(journal.header.bcc);
    QVERIFY(!journal.restarted);
}

void TestSendRun::secondRunIsRefused()
{
    RecordingHost host;
    host.lines = QStringList {QStringLiteral("a@x.cz"), QStringLiteral("b@x.cz")};
    SendRunSettings settings;
    settings.route = 0;
    SendRunResult inner;
    QStringList innerTranscript;
    RecordingHost innerHost;
    innerHost.lines = QStringList {QStringLiteral("z@x.cz")};
    host.onPump = [&] {
        if (host.pumps != 1)
            return;
        SendRun again(&innerHost);
        again.setSessionFactory([&](const settings::SmtpProfile &) {
            return std::make_unique<ScriptedSession>(ScriptedSession::Script(), &innerTranscript);
        });
        inner = again.run(settings);
    };
    const Outcome out = runSmtp(host, settings, {});
    QCOMPARE(inner.status, SendRunResult::Status::Busy);
    QVERIFY(innerTranscript.isEmpty());
    QVERIFY(innerHost.titles.isEmpty());
    QCOMPARE(out.result.status, SendRunResult::Status::Finished);
    QCOMPARE(host.logLines.size(), 4);
    QVERIFY(!SendRun::isRunning());
}

// Transaction starts against the profile's limits, with an injected clock. Each step is
// "time:wait" (in ms; "day" when the day's limit is used up); a step whose wait is 0 starts a
// transaction.
void TestSendRun::pacing_data()
{
    QTest::addColumn<int>("perMinute");
    QTest::addColumn<int>("perHour");
    QTest::addColumn<int>("perDay");
    QTest::addColumn<int>("minDelayMs");
    QTest::addColumn<int>("earlier"); // transactions of earlier runs that day
    QTest::addColumn<QString>("steps");

    QTest::newRow("no limits") << 0 << 0 << 0 << 0 << 0 << QStringLiteral("0:0 0:0 0:0");
    QTest::newRow("per minute, sliding")
        << 2 << 0 << 0 << 0 << 0
        << QStringLiteral("0:0 30000:0 30001:29999 59999:1 60000:0 60001:29999 90000:0");
    QTest::newRow("per hour beyond per minute")
        << 2 << 3 << 0 << 0 << 0 << QStringLiteral("0:0 1000:0 2000:58000 60000:0 60000:3540000");
    QTest::newRow("least delay between starts")
        << 0 << 0 << 0 << 500 << 0 << QStringLiteral("0:0 100:400 500:0 999:1 1000:0");
    QTest::newRow("the day counts earlier runs")
        << 0 << 0 << 3 << 0 << 2 << QStringLiteral("0:0 5:day 3600000:day");
    QTest::newRow("the day used up before the run")
        << 0 << 0 << 2 << 0 << 5 << QStringLiteral("0:day");
    QTest::newRow("the day slides for the run's own starts")
        << 0 << 0 << 2 << 0 << 0 << QStringLiteral("0:0 1:0 2:day 86400000:0 86400000:day");
}

void TestSendRun::pacing()
{
    QFETCH(int, perMinute);
    QFETCH(int, perHour);
    QFETCH(int, perDay);
    QFETCH(int, minDelayMs);
    QFETCH(int, earlier);
    QFETCH(QString, steps);
    qint64 now = 0;
    Pacer pacer({perMinute, perHour, perDay, minDelayMs}, [&now] { return now; });
    pacer.setEarlierToday(earlier);
    for (const QString &step : steps.split(QLatin1Char(' '))) {
        now = step.section(QLatin1Char(':'), 0, 0).toLongLong();
        const QString wait
            = pacer.dayLimitReached() ? QStringLiteral("day") : QString::number(pacer.waitMs());
        QVERIFY2(wait == step.section(QLatin1Char(':'), 1),
            qPrintable(step + QStringLiteral(" gave ") + wait));
        if (wait == QLatin1String("0"))
            pacer.started();
    }
    QCOMPARE(Pacer::waitText(41200), QStringLiteral("čekám 42 s: limit serveru"));
}

QTEST_GUILESS_MAIN(TestSendRun)
#include "tst_SendRun.moc"
