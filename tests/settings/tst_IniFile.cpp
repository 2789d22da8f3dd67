#include "settings/IniFile.h"
#include "settings/SmtpProfile.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <sys/stat.h>

using namespace kolporta::settings;
using kolporta::test::readBytes;
using kolporta::test::writeBytes;

static QString operator""_q(const char *text, size_t size)
{
    return QString::fromUtf8(text, qsizetype(size));
}

class TestIniFile : public QObject
{
    Q_OBJECT

    QString path(const QString &name = QStringLiteral("smtp.ini"))
    {
        return kolporta::test::homePath() + QLatin1Char('/') + name;
    }

private slots:
    void init() { QFile::remove(path()); }

    // Each row: file bytes, then "section|key" and the value read.
    void read_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");

        QTest::newRow("plain") << QByteArray("[A]\r\nServer=smtp.x\r\n") << "A"_q
                               << "Server"_q
                               << "smtp.x"_q;
        QTest::newRow("case of section and key")
            << QByteArray("[Firma]\r\nPORT=587\r\n") << "fIRMA"_q
            << "port"_q
            << "587"_q;
        QTest::newRow("blanks around first = only")
            << QByteArray("  [ A ]  \r\n  Passw  =  a = b  \r\n") << "A"_q
            << "Passw"_q
            << "a = b"_q;
        QTest::newRow("control chars trimmed like blanks")
            << QByteArray("[A]\r\n\tUser=\x01u\x1f\r\n") << "A"_q
            << "User"_q
            << "u"_q;
        QTest::newRow("comment skipped")
            << QByteArray("[A]\r\n;Server=old\r\nServer=new\r\n") << "A"_q
            << "Server"_q
            << "new"_q;
        QTest::newRow("lines before first section ignored")
            << QByteArray("Server=x\r\n[A]\r\n") << "A"_q
            << "Server"_q
            << "<none>"_q;
        QTest::newRow("first duplicate key wins") << QByteArray("[A]\r\nk=1\r\nK=2\r\n") << "A"_q
                                                  << "k"_q
                                                  << "1"_q;
        QTest::newRow("first duplicate section wins")
            << QByteArray("[A]\r\nk=1\r\n[a]\r\nk=2\r\n") << "a"_q
            << "k"_q
            << "1"_q;
        QTest::newRow("lf and lone cr line ends") << QByteArray("[A]\nx=1\ry=2\n") << "A"_q
                                                  << "y"_q
                                                  << "2"_q;
        QTest::newRow("empty section name") << QByteArray("[]\r\nServer=s\r\n") << ""_q
                                            << "Server"_q
                                            << "s"_q;
        QTest::newRow("windows-1250 bytes")
            << QByteArray("[Po\x9Ata]\r\nUser=\x9Eluv\r\n") << QStringLiteral(u"pošta") << "User"_q
            << QStringLiteral(u"žluv");
        QTest::newRow("utf-8 bytes")
            << QByteArray("[Po\xC5\xA1ta]\r\nUser=x\r\n") << QStringLiteral(u"POŠTA") << "User"_q
            << "x"_q;
        QTest::newRow("bracket line needs both ends") << QByteArray("[A]\r\n[B\r\nk=1\r\n") << "A"_q
                                                      << "k"_q
                                                      << "1"_q;
    }
    void read()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        writeBytes(path(), file);
        IniFile ini;
        QString error;
        QVERIFY2(ini.load(path(), &error), qPrintable(error));
        QCOMPARE(ini.value(section, key, QStringLiteral("<none>")), value);
    }

    // Each row: file bytes, writes "section|key|value" in order, the exact bytes saved.
    void write_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("writes");
        QTest::addColumn<QByteArray>("saved");

        QTest::newRow("missing file, new section")
            << QByteArray() << QStringList {"Firma|Server|s"_q, "Firma|Port|25"_q}
            << QByteArray("[Firma]\r\nServer=s\r\nPort=25\r\n\r\n");
        QTest::newRow("replace in place, other case")
            << QByteArray("[Firma]\r\nServer=a\r\nPort=25\r\n") << QStringList {"FIRMA|server|b"_q}
            << QByteArray("[Firma]\r\nserver=b\r\nPort=25\r\n\r\n");
        QTest::newRow("append key to end of its section, not the file")
            << QByteArray("[A]\r\nx=1\r\n[B]\r\ny=2\r\n") << QStringList {"a|z|3"_q}
            << QByteArray("[A]\r\nx=1\r\nz=3\r\n\r\n[B]\r\ny=2\r\n\r\n");
        QTest::newRow("new section after the last one")
            << QByteArray("[A]\r\nx=1\r\n") << QStringList {"C|k|v"_q}
            << QByteArray("[A]\r\nx=1\r\n\r\n[C]\r\nk=v\r\n\r\n");
        QTest::newRow("comments, blanks and spaces around = not kept")
            << QByteArray(";hand edited\r\n\r\n[A]\r\n  x =  1 \r\n\r\n") << QStringList {}
            << QByteArray("[A]\r\nx=1\r\n\r\n");
        QTest::newRow("line without = kept")
            << QByteArray("[A]\r\nstray text\r\nx=1\r\n") << QStringList {"A|x|2"_q}
            << QByteArray("[A]\r\nstray text\r\nx=2\r\n\r\n");
        QTest::newRow("empty section name")
            << QByteArray() << QStringList {"|Server|"_q} << QByteArray("[]\r\nServer=\r\n\r\n");
        QTest::newRow("empty file keeps nothing")
            << QByteArray("") << QStringList {} << QByteArray("");
        QTest::newRow("windows-1250 file stays windows-1250")
            << QByteArray("[Po\x9Ata]\r\nx=1\r\n") << QStringList {QStringLiteral(u"POŠTA|x|ž")}
            << QByteArray("[Po\x9Ata]\r\nx=\x9E\r\n\r\n");
        // The comment held the only byte that is no UTF-8; without it the password "Čš" (C8 9A)
        // would read back as the one UTF-8 letter "Ț".
        QTest::newRow("windows-1250 file becomes utf-8 when its bytes would read as utf-8")
            << QByteArray("[A]\r\n; pozn\x9Amka\r\nPassw=\xC8\x9A\r\n") << QStringList {}
            << QByteArray("[A]\r\nPassw=\xC4\x8C\xC5\xA1\r\n\r\n");
        QTest::newRow("windows-1250 file becomes utf-8 when a character does not fit")
            << QByteArray("[Po\x9Ata]\r\nx=1\r\n") << QStringList {QStringLiteral(u"POŠTA|x|Ω")}
            << QByteArray("[Po\xC5\xA1ta]\r\nx=\xCE\xA9\r\n\r\n");
    }
    void write()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, writes);
        QFETCH(QByteArray, saved);
        if (!file.isNull())
            writeBytes(path(), file);
        IniFile ini;
        QVERIFY(ini.load(path()));
        for (const QString &w : writes) {
            const QStringList parts = w.split(QLatin1Char('|'));
            ini.setValue(parts.at(0), parts.at(1), parts.at(2));
        }
        QString error;
        QVERIFY2(ini.save(path(), &error), qPrintable(error));
        QCOMPARE(readBytes(path()), saved);

        // Only the owner may read a file that holds passwords, whatever it had before.
        struct stat st;
        QCOMPARE(::stat(QFile::encodeName(path()).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0600u);
    }

    void sectionsInFileOrder()
    {
        writeBytes(path(), "[Zeta]\r\n[alfa]\r\n;[x]\r\n[ Mid ]\r\n");
        QCOMPARE(SmtpProfileNames(path()), (QStringList {"Zeta"_q, "alfa"_q, "Mid"_q}));
        QCOMPARE(SmtpProfileNames(path(QStringLiteral("missing.ini"))), QStringList());
    }

    void lineBreakInValueRefusedAndFileKept()
    {
        const QByteArray old("[A]\r\nPassw=old\r\n");
        writeBytes(path(), old);
        IniFile ini;
        QVERIFY(ini.load(path()));
        ini.setValue(QStringLiteral("A"), QStringLiteral("Passw"), QStringLiteral("x\r\n[B]"));
        QString error;
        QVERIFY(!ini.save(path(), &error));
        QVERIFY(error.contains(path()));
        QCOMPARE(readBytes(path()), old);
    }

    void unreadableFileIsAnError()
    {
        // A folder in the file's place cannot be read, even by root.
        QDir().mkpath(path());
        IniFile ini;
        QString error;
        QVERIFY(!ini.load(path(), &error));
        QVERIFY(error.contains(path()));
        SmtpProfile profile;
        QVERIFY(!LoadSmtpProfile(path(), QStringLiteral("A"), &profile, &error));
        QDir().rmdir(path());
    }

    void loadProfile_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("expected"); // server, port, user, password, timeout,
                                                   // security, caFile
        QTest::newRow("all keys") << QByteArray("[F]\r\nServer=s\r\nPort=587\r\nUser=u\r\n"
                                                "Passw=p w\r\nTimeout=5\r\nSecurity=STARTTLS\r\n"
                                                "CAFile=/c.pem\r\n")
                                  << "f"_q
                                  << QStringList {"s"_q, "587"_q, "u"_q, "p w"_q, "5"_q,
                                         "STARTTLS"_q, "/c.pem"_q};
        QTest::newRow("relative CAFile is beside the file")
            << QByteArray("[F]\r\nCAFile=certs/ca.pem\r\n") << "F"_q
            << QStringList {""_q, "25"_q, ""_q, ""_q, "60"_q, ""_q,
                   kolporta::test::homePath() + "/certs/ca.pem"_q};
        QTest::newRow("missing keys give defaults") << QByteArray(
            "[F]\r\n") << "F"_q << QStringList {""_q, "25"_q, ""_q, ""_q, "60"_q, ""_q, ""_q};
        QTest::newRow("missing section")
            << QByteArray("[G]\r\nServer=s\r\n") << "F"_q
            << QStringList {""_q, "25"_q, ""_q, ""_q, "60"_q, ""_q, ""_q};
        QTest::newRow("missing file")
            << QByteArray() << "F"_q << QStringList {""_q, "25"_q, ""_q, ""_q, "60"_q, ""_q, ""_q};
        QTest::newRow("empty port stays empty")
            << QByteArray("[F]\r\nPort=\r\n") << "F"_q
            << QStringList {""_q, ""_q, ""_q, ""_q, "60"_q, ""_q, ""_q};
        QTest::newRow("bad timeout keeps default")
            << QByteArray("[F]\r\nTimeout=-3\r\n") << "F"_q
            << QStringList {""_q, "25"_q, ""_q, ""_q, "60"_q, ""_q, ""_q};
        QTest::newRow("text timeout keeps default")
            << QByteArray("[F]\r\nTimeout=soon\r\n") << "F"_q
            << QStringList {""_q, "25"_q, ""_q, ""_q, "60"_q, ""_q, ""_q};
    }
    void loadProfile()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, name);
        QFETCH(QStringList, expected);
        if (!file.isNull())
            writeBytes(path(), file);
        SmtpProfile p;
        p.server = QStringLiteral("stale"); // the result must not keep old values
        QVERIFY(LoadSmtpProfile(path(), name, &p));
        QCOMPARE((QStringList {p.server, p.port, p.user, p.password,
                     QString::number(p.timeoutSeconds), p.security, p.caFile}),
            expected);
    }
};

QTEST_GUILESS_MAIN(TestIniFile)
#include "tst_IniFile.moc"
