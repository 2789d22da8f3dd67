// The run journal: what is read back from a journal file (whole, cut off by a kill, damaged),
// the names a run reserves beside earlier runs, the message hash, and which lines a resumed
// or retried run sends.

#include "TestSupport.h"

#include "delivery/Pacer.h"
#include "delivery/RerunPlan.h"
#include "delivery/RunJournal.h"

#include <QDir>
#include <QFile>
#include <QTest>

using namespace kolporta;
using namespace kolporta::delivery;

namespace {

const QByteArray kHead = "{\"kolporta\":\"journal\",\"version\":1,\"project\":\"/p.kpj\","
                         "\"message\":\"h\",\"route\":\"SMTP\",\"mode\":\"single\","
                         "\"profile\":\"test\",\"batchSize\":50,\"log\":\"l.txt\"}\n";

// "line:state" for each line's last record, joined by spaces.
QString finalStates(const Journal &journal)
{
    QStringList out;
    for (const JournalRecord &r : journal.finalRecords())
        out.append(QStringLiteral("%1:%2").arg(r.line).arg(JournalStateName(r.state)));
    return out.join(QLatin1Char(' '));
}

JournalHeader header()
{
    JournalHeader h;
    h.messageHash = QStringLiteral("h");
    h.route = QStringLiteral("SMTP");
    return h;
}

} // namespace

class TestRunJournal : public QObject
{
    Q_OBJECT

private slots:
    void writtenRecordsReadBack();
    void readFile_data();
    void readFile();
    void reservedNames_data();
    void reservedNames();
    void messageHash_data();
    void messageHash();
    void plan_data();
    void plan();
    void transactionsOfDay_data();
    void transactionsOfDay();
};

void TestRunJournal::writtenRecordsReadBack()
{
    const QString path = test::homePath() + QStringLiteral("/written.journal");
    JournalHeader h = header();
    h.project = QStringLiteral("/tmp/Žluťoučký \"kůň\".kpj");
    h.bcc = true;
    h.batchSize = 7;
    h.resumes = QStringLiteral("/x/earlier.journal");
    QList<JournalRecord> records {
        {1, QStringLiteral("\"Anna\" <a@x.cz>\\"), JournalState::Trying, 1, QString(), false},
        {1, QStringLiteral("Tab\there, CR\r, \x01"), JournalState::Sent, 1,
            QStringLiteral("250 2.0.0 Ok: queued"), false},
        {2, QStringLiteral("Pavel Novák <p@x.cz>"), JournalState::Uncertain, 0, QString(), true},
    };
    {
        RunJournal journal;
        QVERIFY(journal.start(path, h));
        for (const JournalRecord &r : records) {
            journal.record(r);
            // Each record is in the file at once, before any sync.
            QVERIFY(test::readBytes(path).endsWith(RunJournal::encode(r)));
        }
        QVERIFY(journal.sync());
    }
    Journal read;
    QString error;
    QVERIFY2(ReadJournal(path, &read, &error), qPrintable(error));
    QCOMPARE(read.header.project, h.project);
    QCOMPARE(read.header.bcc, true);
    QCOMPARE(read.header.batchSize, 7);
    QCOMPARE(read.header.resumes, h.resumes);
    QCOMPARE(read.records.size(), records.size());
    for (qsizetype i = 0; i < records.size(); ++i) {
        QCOMPARE(read.records[i].line, records[i].line);
        QCOMPARE(read.records[i].text, records[i].text);
        QCOMPARE(read.records[i].state, records[i].state);
        QCOMPARE(read.records[i].batch, records[i].batch);
        QCOMPARE(read.records[i].reply, records[i].reply);
        QCOMPARE(read.records[i].earlier, records[i].earlier);
    }
    // Records keep a fixed key order, so journals can be compared and read by eye.
    QCOMPARE(RunJournal::encode(records[1]),
        QByteArray("{\"line\":1,\"text\":\"Tab\\there, CR\\r, \\u0001\",\"state\":\"sent\","
                   "\"batch\":1,\"reply\":\"250 2.0.0 Ok: queued\"}\n"));
}

void TestRunJournal::readFile_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("states"); // or, after "!", the error's text
    QTest::addColumn<bool>("torn");

    const QByteArray a1 = "{\"line\":1,\"text\":\"a@x.cz\",\"state\":\"trying\"}\n";
    const QByteArray a2 = "{\"line\":1,\"text\":\"a@x.cz\",\"state\":\"sent\"}\n";
    const QByteArray b1 = "{\"line\":2,\"text\":\"b@x.cz\",\"state\":\"trying\"}\n";
    QTest::newRow("whole") << kHead + a1 + a2 + b1 << QStringLiteral("1:sent 2:trying") << false;
    QTest::newRow("header only") << kHead << QString() << false;
    QTest::newRow("killed inside the last record")
        << kHead + a1 + a2 + b1.left(20) << QStringLiteral("1:sent") << true;
    QTest::newRow("killed before the last line end: the record is whole")
        << kHead + a1 + a2 + b1.chopped(1) << QStringLiteral("1:sent 2:trying") << false;
    QTest::newRow("empty file: the run reserved its name only")
        << QByteArray() << QStringLiteral("!line 1: not a Kolporta run journal") << false;
    QTest::newRow("another program's JSON")
        << QByteArray("{\"line\":1}\n") << QStringLiteral("!line 1: not a Kolporta run journal")
        << false;
    QTest::newRow("a newer format")
        << QByteArray(kHead).replace("\"version\":1", "\"version\":2")
        << QStringLiteral("!line 1: journal format 2 is not known") << false;
    QTest::newRow("damage inside is no cut-off")
        << kHead + a1 + "garbage\n" + b1 << QStringLiteral("!line 3: not a JSON object") << false;
    QTest::newRow("unknown state")
        << kHead + QByteArray(a1).replace("trying", "delivered")
        << QStringLiteral("!line 2: unknown state \"delivered\"") << false;
    QTest::newRow("no line number") << kHead + QByteArray(a1).replace("\"line\":1", "\"line\":0")
                                    << QStringLiteral("!line 2: no line number") << false;

    // A batch's outcome, written once, is that of each line still trying in the batch: not
    // of one refused on its own, nor of one refused when the batch was made again.
    QTest::newRow("a batch's outcome") << kHead
            + "{\"line\":1,\"text\":\"a@x.cz\",\"state\":\"trying\",\"batch\":1}\n"
              "{\"line\":2,\"text\":\"b@x.cz\",\"state\":\"trying\",\"batch\":1}\n"
              "{\"line\":3,\"text\":\"c@x.cz\",\"state\":\"refused\",\"batch\":1}\n"
              "{\"line\":2,\"text\":\"b@x.cz\",\"state\":\"refused\",\"batch\":1}\n"
              "{\"line\":1,\"text\":\"a@x.cz\",\"state\":\"trying\",\"batch\":1}\n"
              "{\"batch\":1,\"state\":\"sent\",\"reply\":\"250 ok\"}\n"
              "{\"batch\":2,\"state\":\"sent\"}\n"
                                       << QStringLiteral("1:sent 2:refused 3:refused") << false;

    // Lines planned ahead count only when the machine may have lost what followed them.
    const QByteArray planned = "{\"line\":1,\"text\":\"a@x.cz\",\"state\":\"planned\"}\n"
                               "{\"line\":2,\"text\":\"b@x.cz\",\"state\":\"planned\"}\n"
                               "{\"line\":3,\"text\":\"c@x.cz\",\"state\":\"planned\"}\n";
    const auto booted = [&](const char *boot) {
        return QByteArray(kHead).replace("}\n", ",\"boot\":\"" + QByteArray(boot) + "\"}\n")
            + planned + a1 + a2 + b1;
    };
    QTest::newRow("killed: planned lines were not tried")
        << booted("THIS BOOT") << QStringLiteral("1:sent 2:trying") << false;
    QTest::newRow("the machine went down: planned lines may have gone")
        << booted("another boot") << QStringLiteral("1:sent 2:trying 3:trying") << false;
    QTest::newRow("ended, then the machine restarted: planned lines were not tried")
        << booted("another boot") + "{\"end\":true}\n"
        << QStringLiteral("1:sent 2:trying") << false;
}

void TestRunJournal::readFile()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, states);
    QFETCH(bool, torn);
    const QString path = test::homePath() + QStringLiteral("/read.journal");
    test::writeBytes(path, QByteArray(bytes).replace("THIS BOOT", CurrentBootId().toLatin1()));
    Journal journal;
    QString error;
    const bool ok = ReadJournal(path, &journal, &error);
    if (states.startsWith(QLatin1Char('!'))) {
        QVERIFY(!ok);
        QVERIFY2(error.startsWith(path + QStringLiteral(", ")) && error.contains(states.mid(1)),
            qPrintable(error));
        return;
    }
    QVERIFY2(ok, qPrintable(error));
    QCOMPARE(finalStates(journal), states);
    QCOMPARE(journal.torn, torn);
}

void TestRunJournal::reservedNames_data()
{
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<QString>("base"); // the names the run gets, without extension

    const QString s = QStringLiteral("Kolporta 2026-01-02 03-04-05");
    QTest::newRow("first run of the second") << QStringList() << s;
    QTest::newRow("an earlier run's log")
        << QStringList {s + QStringLiteral(".txt")} << s + QStringLiteral(" (2)");
    // A run that wrote no log line yet still holds its name by its journal.
    QTest::newRow("an earlier run's journal only")
        << QStringList {s + QStringLiteral(".journal")} << s + QStringLiteral(" (2)");
    QTest::newRow("third run") << QStringList {s + QStringLiteral(".txt"),
        s + QStringLiteral(".journal"), s + QStringLiteral(" (2).txt")}
                               << s + QStringLiteral(" (3)");
    QTest::newRow("another second is another name")
        << QStringList {QStringLiteral("Kolporta 2026-01-02 03-04-06.txt")} << s;
}

void TestRunJournal::reservedNames()
{
    QFETCH(QStringList, existing);
    QFETCH(QString, base);
    const QString folder
        = test::homePath() + QStringLiteral("/names-") + QString::fromUtf8(QTest::currentDataTag());
    QDir().mkpath(folder);
    for (const QString &name : existing)
        test::writeBytes(folder + QLatin1Char('/') + name, "earlier");
    const QDateTime start(QDate(2026, 1, 2), QTime(3, 4, 5));
    QString error;
    const RunFiles files = ReserveRunFiles(folder, start, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(files.log, folder + QLatin1Char('/') + base + QStringLiteral(".txt"));
    QCOMPARE(files.journal, folder + QLatin1Char('/') + base + QStringLiteral(".journal"));
    QVERIFY(QFileInfo::exists(files.journal)); // reserved
    for (const QString &name : existing)
        QCOMPARE(test::readBytes(folder + QLatin1Char('/') + name), QByteArray("earlier"));
    // The next run in the same second does not take the reserved names.
    QVERIFY(ReserveRunFiles(folder, start).journal != files.journal);
}

void TestRunJournal::messageHash_data()
{
    QTest::addColumn<int>("change");
    QTest::addColumn<bool>("differs");
    QTest::newRow("nothing changed") << 0 << false;
    QTest::newRow("sender") << 1 << true;
    QTest::newRow("subject") << 2 << true;
    QTest::newRow("body") << 3 << true;
    QTest::newRow("HTML flag") << 4 << true;
    QTest::newRow("a picture moved to the attachments") << 5 << true;
    QTest::newRow("an attachment's content (size)") << 6 << true;
    QTest::newRow("an attachment touched (time)") << 7 << true;
    QTest::newRow("the body split into other fields") << 8 << true;
}

void TestRunJournal::messageHash()
{
    QFETCH(int, change);
    QFETCH(bool, differs);
    const QString dir = test::homePath() + QStringLiteral("/hash-%1").arg(change);
    const QString pic = dir + QStringLiteral("/a.gif"), file = dir + QStringLiteral("/b.pdf");
    test::writeBytes(pic, "GIF89a");
    test::writeBytes(file, "%PDF");
    MessageFields f {
        QStringLiteral("a@x.cz"), QStringLiteral("S"), QStringLiteral("Body"), true, {pic}, {file}};
    const QString before = MessageHash(f);
    QFile touched(file);
    switch (change) {
    case 1:
        f.sender = QStringLiteral("b@x.cz");
        break;
    case 2:
        f.subject = QStringLiteral("S2");
        break;
    case 3:
        f.body += QLatin1Char(' ');
        break;
    case 4:
        f.html = false;
        break;
    case 5:
        f.pictures.clear();
        f.files.prepend(pic);
        break;
    case 6:
        test::writeBytes(file, "%PDF-1.7");
        break;
    case 7:
        QVERIFY(touched.open(QIODevice::ReadWrite));
        QVERIFY(touched.setFileTime(
            QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
        break;
    case 8:
        f.subject = QStringLiteral("SB");
        f.body = QStringLiteral("ody");
        break;
    }
    QCOMPARE(MessageHash(f) != before, differs);
}

void TestRunJournal::plan_data()
{
    QTest::addColumn<QStringList>("records"); // "line|text|state"
    QTest::addColumn<QStringList>("lines"); // the project's address list now
    QTest::addColumn<bool>("retry");
    QTest::addColumn<bool>("includeUncertain");
    QTest::addColumn<QString>("change"); // of the run about to start: message, route, mode
    QTest::addColumn<QString>("sends"); // one digit per line, or "!" and the error's text
    QTest::addColumn<QString>("carried"); // "line:state" of the records carried over

    const QStringList killed {QStringLiteral("1|Anna <a@x.cz>|sent"),
        QStringLiteral("2|b@x.cz|refused"), QStringLiteral("3|c@x.cz|failed"),
        QStringLiteral("4|d@x.cz|uncertain"), QStringLiteral("5|e@x.cz|trying"),
        QStringLiteral("6| |skipped")};
    const QStringList same {QStringLiteral("Anna <a@x.cz>"), QStringLiteral("b@x.cz"),
        QStringLiteral("c@x.cz"), QStringLiteral("d@x.cz"), QStringLiteral("e@x.cz"),
        QStringLiteral(" "), QStringLiteral("f@x.cz")};
    QTest::newRow("resume") << killed << same << false << false << QString()
                            << QStringLiteral("0110011")
                            << QStringLiteral("1:sent 4:uncertain 5:trying");
    QTest::newRow("resume, uncertain included")
        << killed << same << false << true << QString() << QStringLiteral("0111111")
        << QStringLiteral("1:sent");
    QTest::newRow("retry failed") << killed << same << true << false << QString()
                                  << QStringLiteral("0110010")
                                  << QStringLiteral("1:sent 4:uncertain 5:trying");
    QTest::newRow("retry failed, uncertain included")
        << killed << same << true << true << QString() << QStringLiteral("0111110")
        << QStringLiteral("1:sent");
    // The user edited the list: lines are found by address, letter case ignored.
    QTest::newRow("edited list") << killed
                                 << QStringList {QStringLiteral("new@x.cz"),
                                        QStringLiteral("E@X.CZ"),
                                        QStringLiteral("Anna B. <A@x.cz>"),
                                        QStringLiteral("C@x.cz")}
                                 << false << false << QString() << QStringLiteral("1001")
                                 << QStringLiteral("2:trying 3:sent");
    // An address on two lines: one sent copy settles it.
    QTest::newRow("duplicate sent once")
        << QStringList {QStringLiteral("1|a@x.cz|failed"), QStringLiteral("2|a@x.cz|sent")}
        << QStringList {QStringLiteral("a@x.cz"), QStringLiteral("a@x.cz")} << true << false
        << QString() << QStringLiteral("00") << QStringLiteral("1:sent 2:sent");
    // A line's last record counts: trying, then refused, is refused.
    QTest::newRow("last record of a line")
        << QStringList {QStringLiteral("1|a@x.cz|trying"), QStringLiteral("1|a@x.cz|refused")}
        << QStringList {QStringLiteral("a@x.cz")} << true << false << QString()
        << QStringLiteral("1") << QString();
    QTest::newRow("records carried from an earlier run count as well")
        << QStringList {QStringLiteral("1|a@x.cz|sent|earlier"), QStringLiteral("2|b@x.cz|sent")}
        << QStringList {QStringLiteral("a@x.cz"), QStringLiteral("b@x.cz"),
               QStringLiteral("c@x.cz")}
        << false << false << QString() << QStringLiteral("001") << QStringLiteral("1:sent 2:sent");
    // Nothing is sent for another mailing unless the user insists.
    QTest::newRow("message changed")
        << killed << same << false << false << QStringLiteral("message")
        << QStringLiteral("!the message has changed") << QString();
    QTest::newRow("route changed") << killed << same << true << false << QStringLiteral("route")
                                   << QStringLiteral("!the journal's route is \"SMTP\", the "
                                                     "project's \"Rec\"")
                                   << QString();
    QTest::newRow("mode changed") << killed << same << false << false << QStringLiteral("mode")
                                  << QStringLiteral("!the journal's mode is one message per "
                                                    "address line, the project's BCC batches")
                                  << QString();
    QTest::newRow("message changed, --force")
        << killed << same << false << false << QStringLiteral("message force")
        << QStringLiteral("0110011") << QStringLiteral("1:sent 4:uncertain 5:trying");
}

void TestRunJournal::plan()
{
    QFETCH(QStringList, records);
    QFETCH(QStringList, lines);
    QFETCH(bool, retry);
    QFETCH(bool, includeUncertain);
    QFETCH(QString, change);
    QFETCH(QString, sends);
    QFETCH(QString, carried);

    Journal journal;
    journal.header = header();
    for (const QString &r : records) {
        const QStringList f = r.split(QLatin1Char('|'));
        JournalRecord record;
        record.line = f[0].toInt();
        record.text = f[1];
        QVERIFY(JournalStateFromName(f[2], &record.state));
        record.earlier = f.size() > 3;
        journal.records.append(record);
    }
    RerunOptions options;
    options.kind = retry ? RerunOptions::Kind::RetryFailed : RerunOptions::Kind::Resume;
    options.includeUncertain = includeUncertain;
    options.force = change.contains(QLatin1String("force"));
    JournalHeader current = header();
    if (change.startsWith(QLatin1String("message")))
        current.messageHash = QStringLiteral("other");
    else if (change == QLatin1String("route"))
        current.route = QStringLiteral("Rec");
    else if (change == QLatin1String("mode"))
        current.bcc = true;
    RerunPlan plan;
    QString error;
    const bool ok = PlanRerun(journal, current, lines, options, &plan, &error);
    if (sends.startsWith(QLatin1Char('!'))) {
        QVERIFY(!ok);
        QVERIFY2(error.contains(sends.mid(1)) && error.contains(QLatin1String("--force")),
            qPrintable(error));
        QVERIFY(plan.sends.isEmpty());
        return;
    }
    QVERIFY2(ok, qPrintable(error));
    QString got;
    for (bool s : plan.sends)
        got += s ? QLatin1Char('1') : QLatin1Char('0');
    QCOMPARE(got, sends);
    QStringList c;
    for (const JournalRecord &r : plan.carried) {
        QVERIFY(r.earlier);
        QCOMPARE(r.text, lines.at(r.line - 1));
        c.append(QStringLiteral("%1:%2").arg(r.line).arg(JournalStateName(r.state)));
    }
    QCOMPARE(c.join(QLatin1Char(' ')), carried);
}

// The transactions earlier runs of a profile started on a day, as the day's limit counts them.
void TestRunJournal::transactionsOfDay_data()
{
    QTest::addColumn<QString>("profile");
    QTest::addColumn<QDate>("day");
    QTest::addColumn<QString>("except");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("unread");

    const QDate day(2026, 3, 4);
    const QString first = QStringLiteral("Kolporta 2026-03-04 05-06-07.journal");
    QTest::newRow("sent or maybe sent lines, and BCC batches")
        << QStringLiteral("test") << day << QString() << 4 + 2 << 1;
    QTest::newRow("the run's own journal left out")
        << QStringLiteral("Test") << day << first << 2 << 1;
    QTest::newRow("another profile") << QStringLiteral("other") << day << QString() << 1 << 1;
    QTest::newRow("the day before")
        << QStringLiteral("test") << day.addDays(-1) << QString() << 1 << 0;
    QTest::newRow("no journal that day")
        << QStringLiteral("test") << day.addDays(1) << QString() << 0 << 0;
}

void TestRunJournal::transactionsOfDay()
{
    QFETCH(QString, profile);
    QFETCH(QDate, day);
    QFETCH(QString, except);
    QFETCH(int, count);
    QFETCH(int, unread);

    const QString folder = test::homePath() + QStringLiteral("/day");
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    using S = JournalState;
    const auto write = [&](const QString &name, const QString &profileName, bool bcc,
                           const QList<JournalRecord> &records) {
        JournalHeader h = header();
        h.profile = profileName;
        h.bcc = bcc;
        RunJournal journal;
        QVERIFY(journal.start(folder + QLatin1Char('/') + name, h));
        for (const JournalRecord &r : records)
            journal.record(r);
    };
    // One by one: lines 1, 3, 4 and 5 may have been delivered; 7 was sent by an earlier run.
    write(QStringLiteral("Kolporta 2026-03-04 05-06-07.journal"), QStringLiteral("test"), false,
        {{1, {}, S::Sent, 0, {}, false}, {2, {}, S::Refused, 0, {}, false},
            {3, {}, S::Trying, 0, {}, false}, {3, {}, S::Sent, 0, {}, false},
            {4, {}, S::Uncertain, 0, {}, false}, {5, {}, S::Trying, 0, {}, false},
            {6, {}, S::Failed, 0, {}, false}, {7, {}, S::Sent, 0, {}, true}});
    // BCC: batches 1 and 2 went, 3 and 4 did not.
    write(QStringLiteral("Kolporta 2026-03-04 09-00-00 (2).journal"), QStringLiteral("TEST"), true,
        {{1, {}, S::Sent, 1, {}, false}, {2, {}, S::Refused, 1, {}, false},
            {3, {}, S::Sent, 2, {}, false}, {4, {}, S::Sent, 2, {}, false},
            {5, {}, S::Failed, 3, {}, false}, {6, {}, S::Refused, 4, {}, false}});
    write(QStringLiteral("Kolporta 2026-03-04 10-00-00.journal"), QStringLiteral("other"), false,
        {{1, {}, S::Sent, 0, {}, false}});
    write(QStringLiteral("Kolporta 2026-03-04 10-30-00.journal"), QString(), false,
        {{1, {}, S::Sent, 0, {}, false}}); // a mail program's run
    write(QStringLiteral("Kolporta 2026-03-03 23-59-59.journal"), QStringLiteral("test"), false,
        {{1, {}, S::Sent, 0, {}, false}});
    test::writeBytes(folder + QStringLiteral("/Kolporta 2026-03-04 11-00-00.journal"), "garbage\n");

    QStringList unreadJournals;
    QCOMPARE(
        TransactionsOfDay(folder, profile, day,
            except.isEmpty() ? QString() : folder + QLatin1Char('/') + except, &unreadJournals),
        count);
    QCOMPARE(unreadJournals.size(), unread);
}

QTEST_GUILESS_MAIN(TestRunJournal)
#include "tst_RunJournal.moc"
