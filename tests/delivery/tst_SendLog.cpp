// The send log's file: after every line it holds every line so far, even after a write
// failed; a new run replaces it at its first line.

#include "TestSupport.h"

#include "delivery/SendLog.h"

#include <QDir>
#include <QFile>
#include <QTest>

using namespace kolporta;
using kolporta::delivery::SendLog;

namespace {
QByteArray crlf(const QStringList &lines)
{
    QByteArray out;
    for (const QString &l : lines)
        out += l.toUtf8() + "\r\n";
    return out;
}
} // namespace

class TestSendLog : public QObject
{
    Q_OBJECT

private slots:
    void fileName_data();
    void fileName();
    void mirrorsEveryLine_data();
    void mirrorsEveryLine();
    void recoversAfterFailedWrite_data();
    void recoversAfterFailedWrite();
    void newRunReplacesFile();
    void concurrentRunsKeepWholeLines();
};

void TestSendLog::fileName_data()
{
    QTest::addColumn<QDateTime>("start");
    QTest::addColumn<QString>("name");
    QTest::newRow("zero padded") << QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5))
                                 << QStringLiteral("Kolporta 2026-01-02 03-04-05.txt");
    QTest::newRow("24-hour clock") << QDateTime(QDate(2025, 12, 31), QTime(23, 59, 58))
                                   << QStringLiteral("Kolporta 2025-12-31 23-59-58.txt");
}

void TestSendLog::fileName()
{
    QFETCH(QDateTime, start);
    QFETCH(QString, name);
    QCOMPARE(SendLog::pathFor(QStringLiteral("/x/Log"), start), QStringLiteral("/x/Log/") + name);
}

void TestSendLog::mirrorsEveryLine_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("czech text in utf-8")
        << QStringList {QStringLiteral("Odesilani pres SMTP - individualne"),
               QStringLiteral("Žluťoučký kůň <kun@x.cz>"),
               QStringLiteral("!!! x  Chyba - adresa odmítnuta serverem")};
    QTest::newRow("blanks and empty lines kept")
        << QStringList {QStringLiteral("  a@x.cz  "), QString(), QStringLiteral("\tb")};
    // The file gets their UTF-8 form; the log in memory keeps them as they were.
    QTest::newRow("lines UTF-8 cannot hold as they are")
        << QStringList {QStringLiteral(u"\uFEFFa@x.cz"), QString(QChar(0xD800)) + u'b',
               QStringLiteral(u"c\U0001F600")};
}

void TestSendLog::mirrorsEveryLine()
{
    QFETCH(QStringList, lines);
    const QString path = test::homePath() + QStringLiteral("/mirror.txt");
    test::writeBytes(path, "older run\r\n");
    SendLog log;
    log.start(path);
    QStringList so;
    for (const QString &l : lines) {
        log.append(l);
        so.append(l);
        // Read while the log is still open: nothing waits in a buffer.
        QCOMPARE(test::readBytes(path), crlf(so));
    }
    QCOMPARE(log.lines(), lines);
}

void TestSendLog::recoversAfterFailedWrite_data()
{
    QTest::addColumn<int>("failFrom"); // the folder disappears before this line
    QTest::addColumn<int>("failCount");
    QTest::newRow("first line fails") << 0 << 1;
    // The folder is removed under an open file: writes to the old handle would still
    // "succeed" into a file nobody can see.
    QTest::newRow("middle lines fail") << 2 << 2;
}

void TestSendLog::recoversAfterFailedWrite()
{
    QFETCH(int, failFrom);
    QFETCH(int, failCount);
    const QString folder = test::homePath() + QStringLiteral("/Log-recover");
    const QString path = folder + QStringLiteral("/log.txt");
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    SendLog log;
    log.start(path);
    QStringList all;
    for (int i = 0; i < 6; ++i) {
        if (i == failFrom)
            QDir(folder).removeRecursively();
        if (i == failFrom + failCount)
            QDir().mkpath(folder);
        const QString line = QStringLiteral("line %1").arg(i);
        log.append(line);
        all.append(line);
        if (i >= failFrom && i < failFrom + failCount)
            QVERIFY(!QFile::exists(path));
        else
            QCOMPARE(test::readBytes(path), crlf(all));
    }
    QCOMPARE(log.lines(), all);
}

void TestSendLog::newRunReplacesFile()
{
    const QString path = test::homePath() + QStringLiteral("/again.txt");
    SendLog log;
    log.start(path);
    log.append(QStringLiteral("first run, line 1"));
    log.append(QStringLiteral("first run, line 2"));
    // A run that writes no line leaves the earlier file alone.
    log.start(path);
    QCOMPARE(test::readBytes(path),
        crlf({QStringLiteral("first run, line 1"), QStringLiteral("first run, line 2")}));
    QVERIFY(log.lines().isEmpty());
    log.append(QStringLiteral("second"));
    QCOMPARE(test::readBytes(path), crlf({QStringLiteral("second")}));
}

void TestSendLog::concurrentRunsKeepWholeLines()
{
    // Two programs started in the same second share the file name. The later one replaces
    // the content; the earlier one's later lines must then follow it, not overwrite it at
    // their old offset and leave a hole of NUL bytes.
    const QString path = test::homePath() + QStringLiteral("/same-second.txt");
    SendLog first;
    first.start(path);
    first.append(QStringLiteral("first run, a long line that reaches far into the file"));
    first.append(QStringLiteral("first run, another long line of the earlier run"));
    SendLog second;
    second.start(path);
    second.append(QStringLiteral("second run"));
    first.append(QStringLiteral("first run, line 3"));
    second.append(QStringLiteral("second run, line 2"));
    QCOMPARE(test::readBytes(path),
        crlf({QStringLiteral("second run"), QStringLiteral("first run, line 3"),
            QStringLiteral("second run, line 2")}));
}

QTEST_GUILESS_MAIN(TestSendLog)
#include "tst_SendLog.moc"
