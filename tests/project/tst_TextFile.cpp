#include "project/TextFile.h"
#include "project/Windows1250.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

using namespace kolporta::project;

class TestTextFile : public QObject
{
    Q_OBJECT

private slots:
    void decode_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("utf8");

        QTest::newRow("ascii") << QByteArray("abc") << QStringLiteral("abc") << true;
        QTest::newRow("utf8") << QByteArray("P\xC5\x99\xC3\xAD") << QStringLiteral(u"Pří") << true;
        QTest::newRow("utf8 bom skipped")
            << QByteArray("\xEF\xBB\xBFx") << QStringLiteral("x") << true;
        QTest::newRow("cp1250") << QByteArray("P\xF8\xED\x9A") << QStringLiteral(u"Příš") << false;
        QTest::newRow("nul ends text") << QByteArray("ab\0cd", 5) << QStringLiteral("ab") << true;
        QTest::newRow("nul hides bad utf8")
            << QByteArray("ab\0\xF8", 4) << QStringLiteral("ab") << true;
        QTest::newRow("utf-16le with bom")
            << QByteArray("\xFF\xFEP\0\x59\x01\r\0\n\0", 10) << QStringLiteral(u"Př\r\n") << true;
        QTest::newRow("utf-16be with bom")
            << QByteArray("\xFE\xFF\0P\x01\x59", 6) << QStringLiteral(u"Př") << true;
        QTest::newRow("utf-16 nul char ends text") << QByteArray("\xFF\xFE"
                                                                 "a\0\0\0b\0",
            8) << QStringLiteral("a") << true;
        QTest::newRow("utf-16 lone surrogate and odd byte") << QByteArray("\xFF\xFE\x89\xDE"
                                                                          "a\0\x3D\xD8\x00\xDE\xFE",
            11) << QStringLiteral(u"\uFFFDa\U0001F600\uFFFD")
                                                            << true;
        QTest::newRow("utf-8 marks after the mark")
            << QByteArray("\xEF\xBB\xBF\xEF\xBB\xBF\xEF\xBB\xBFx") << QStringLiteral("x") << true;
        QTest::newRow("utf-16 marks after the mark")
            << QByteArray("\xFF\xFE\xFF\xFE\xFF\xFEx\0", 8) << QStringLiteral("x") << true;
        QTest::newRow("undefined byte round-trips")
            << QByteArray("\x81") << QStringLiteral(u"\u0081") << false;
    }
    void decode()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QFETCH(bool, utf8);
        TextEncoding enc;
        QCOMPARE(TextFile::decode(bytes, &enc), text);
        QCOMPARE(enc == TextEncoding::Utf8, utf8);
    }

    void splitLines_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("empty") << QString() << QStringList();
        QTest::newRow("no end") << QStringLiteral("a") << QStringList {QStringLiteral("a")};
        QTest::newRow("crlf") << QStringLiteral("a\r\nb\r\n")
                              << QStringList {QStringLiteral("a"), QStringLiteral("b")};
        QTest::newRow("mixed ends") << QStringLiteral("a\rb\nc\r\n\r\nd")
                                    << QStringList {QStringLiteral("a"), QStringLiteral("b"),
                                           QStringLiteral("c"), QString(), QStringLiteral("d")};
        QTest::newRow("lf cr is two ends") << QStringLiteral(
            "a\n\rb") << QStringList {QStringLiteral("a"), QString(), QStringLiteral("b")};
    }
    void splitLines()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, lines);
        QCOMPARE(TextFile::splitLines(text), lines);
    }

    void windows1250MatchesPublishedTable()
    {
        // Every defined byte decodes and encodes back to itself.
        for (int b = 0; b < 256; ++b) {
            const QByteArray one(1, char(b));
            const QString text = Windows1250::decode(one);
            bool ok = false;
            QCOMPARE(Windows1250::encode(text, &ok), one);
            QVERIFY(ok);
        }
        QCOMPARE(Windows1250::decode("\x80\x8A\xB9\xFF"), QStringLiteral(u"€Šą˙"));
        QCOMPARE(Windows1250::toByte(u'€'), 0x80);
        QCOMPARE(Windows1250::toByte(u'ы'), -1);
    }

    void writeFallsBackToUtf8()
    {
        const QStringList lines {QStringLiteral(u"žluťoučký"), QStringLiteral(u"Ωmega")};
        TextEncoding used;
        const QByteArray bytes = TextFile::encodeLines(lines, TextEncoding::Windows1250, &used);
        QCOMPARE(used, TextEncoding::Utf8);
        QCOMPARE(bytes, QStringLiteral(u"žluťoučký\r\nΩmega\r\n").toUtf8());

        const QByteArray cp
            = TextFile::encodeLines({QStringLiteral(u"žluť")}, TextEncoding::Windows1250, &used);
        QCOMPARE(used, TextEncoding::Windows1250);
        QCOMPARE(cp, QByteArray("\x9Elu\x9D\r\n"));
    }

    void failedWriteKeepsOldFile()
    {
        const QString dir = kolporta::test::homePath() + QStringLiteral("/ro");
        QDir().mkpath(dir);
        const QString path = dir + QStringLiteral("/p.kpj");
        kolporta::test::writeBytes(path, "old\r\n");
        // A folder without write permission refuses the temporary file.
        QFile::setPermissions(dir, QFile::ReadOwner | QFile::ExeOwner);
        if (QFile(dir + QStringLiteral("/probe")).open(QIODevice::WriteOnly))
            QSKIP("running with permissions that ignore read-only folders (root)");
        QString error;
        QVERIFY(!TextFile::write(path, {QStringLiteral("new")}, TextEncoding::Utf8, &error));
        QVERIFY2(error.startsWith(
                     QStringLiteral("Cannot create file \"") + path + QStringLiteral("\". ")),
            qPrintable(error));
        QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(kolporta::test::readBytes(path), QByteArray("old\r\n"));
    }

    void interruptedWriteKeepsOldFile()
    {
        // A write cut short half-way (the file-size limit stands in for a full disk or a
        // killed process; it also binds root) must leave the old file byte for byte.
        const QString path = kolporta::test::homePath() + QStringLiteral("/big.kpj");
        kolporta::test::writeBytes(path, "old content\r\n");
        signal(SIGXFSZ, SIG_IGN);
        rlimit old {};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit small = old;
        small.rlim_cur = 4096;
        setrlimit(RLIMIT_FSIZE, &small);
        QString error;
        const bool ok = TextFile::write(
            path, QStringList(2000, QStringLiteral("0123456789")), TextEncoding::Utf8, &error);
        setrlimit(RLIMIT_FSIZE, &old);
        QVERIFY(!ok);
        QVERIFY2(error.startsWith(QStringLiteral("Cannot create file \"")), qPrintable(error));
        QCOMPARE(kolporta::test::readBytes(path), QByteArray("old content\r\n"));
        QCOMPARE(QDir(kolporta::test::homePath()).entryList(QDir::Files),
            QStringList {QStringLiteral("big.kpj")});
    }

    void readMissingFileReportsOpenError()
    {
        QStringList lines;
        TextEncoding enc;
        QString error;
        const QString path = kolporta::test::homePath() + QStringLiteral("/missing.kpj");
        QVERIFY(!TextFile::read(path, &lines, &enc, &error));
        QVERIFY(error.startsWith(
            QStringLiteral("Cannot open file \"") + path + QStringLiteral("\". ")));
    }
};

QTEST_GUILESS_MAIN(TestTextFile)
#include "tst_TextFile.moc"
