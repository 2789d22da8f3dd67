#include "delivery/MailPrograms.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using kolporta::delivery::MailProgram;
namespace MailPrograms = kolporta::delivery::MailPrograms;
using namespace kolporta::test;

namespace {

void makeProgram(const QString &path, bool executable)
{
    writeBytes(path, "#!/bin/sh\nexit 0\n");
    QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
    if (executable)
        permissions |= QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;
    QFile::setPermissions(path, permissions);
}

// "name|command|1" per entry, 1 when installed.
QStringList describe(const QList<MailProgram> &programs)
{
    QStringList out;
    for (const MailProgram &p : programs)
        out.append(p.name + u'|' + p.command + u'|' + (p.installed ? u'1' : u'0'));
    return out;
}

} // namespace

class TestMailPrograms : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void splitCommand_data();
    void splitCommand();
    void detect_data();
    void detect();
    void readIni_data();
    void readIni();
    void loadFollowsTheFile();
    void unreadableIni();

private:
    QByteArray m_path;
    QString m_cwd;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestMailPrograms::initTestCase()
{
    m_path = qgetenv("PATH");
    m_cwd = QDir::currentPath();
}

void TestMailPrograms::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QDir(m_dir->path()).mkdir(QStringLiteral("bin"));
    qputenv("KP_DIR", m_dir->path().toLocal8Bit());
    qputenv("PATH", (m_dir->path() + QStringLiteral("/bin")).toLocal8Bit());
    QFile::remove(homePath() + QStringLiteral("/mailclients.ini"));
}

void TestMailPrograms::cleanup()
{
    qputenv("PATH", m_path);
    QDir::setCurrent(m_cwd);
}

void TestMailPrograms::splitCommand_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QStringList>("words"); // "DIR" stands for $KP_DIR, "HOME" for the home folder

    QTest::newRow("blank") << QStringLiteral("  ") << QStringList();
    QTest::newRow("arguments") << QStringLiteral("msmtp  -a work")
                               << QStringList {QStringLiteral("msmtp"), QStringLiteral("-a"),
                                      QStringLiteral("work")};
    QTest::newRow("quoted blanks") << QStringLiteral("\"/opt/my mail/send\" -x \"a b\"")
                                   << QStringList {QStringLiteral("/opt/my mail/send"),
                                          QStringLiteral("-x"), QStringLiteral("a b")};
    QTest::newRow("variables") << QStringLiteral("$KP_DIR/send --x=${KP_DIR}y $KP_UNSET_VAR/z")
                               << QStringList {QStringLiteral("DIR/send"),
                                      QStringLiteral("--x=DIRy"), QStringLiteral("/z")};
    QTest::newRow("dollar without a name")
        << QStringLiteral("send $ a$ $1 ${")
        << QStringList {QStringLiteral("send"), QStringLiteral("$"), QStringLiteral("a$"),
               QStringLiteral("$1"), QStringLiteral("${")};
    QTest::newRow("home folder") << QStringLiteral("~/bin/send a~/b ~")
                                 << QStringList {QStringLiteral("HOME/bin/send"),
                                        QStringLiteral("a~/b"), QStringLiteral("HOME")};
    QTest::newRow("value with blanks stays one word") << QStringLiteral(
        "send $KP_BLANKS") << QStringList {QStringLiteral("send"), QStringLiteral("x y")};
}

void TestMailPrograms::splitCommand()
{
    QFETCH(QString, command);
    QFETCH(QStringList, words);
    qputenv("KP_BLANKS", "x y");
    for (QString &word : words) {
        word.replace(QStringLiteral("DIR"), m_dir->path());
        word.replace(QStringLiteral("HOME"), QDir::homePath());
    }
    QCOMPARE(MailPrograms::splitCommand(command), words);
}

void TestMailPrograms::detect_data()
{
    QTest::addColumn<QString>("sendmail"); // "none", "exec" or "plain" (not executable)
    QTest::addColumn<QString>("msmtp");
    QTest::addColumn<QStringList>("entries");

    const QString sendmail = QStringLiteral("sendmail|DIR/sbin/sendmail|");
    const QString msmtp = QStringLiteral("msmtp|msmtp|1");
    QTest::newRow("nothing") << "none"
                             << "none" << QStringList();
    QTest::newRow("both, sendmail first") << "exec"
                                          << "exec" << QStringList {sendmail + u'1', msmtp};
    QTest::newRow("sendmail only") << "exec"
                                   << "none" << QStringList {sendmail + u'1'};
    QTest::newRow("msmtp only") << "none"
                                << "exec" << QStringList {msmtp};
    QTest::newRow("sendmail present but not executable") << "plain"
                                                         << "none" << QStringList {sendmail + u'0'};
    QTest::newRow("msmtp on the PATH but not executable") << "none"
                                                          << "plain" << QStringList();
}

void TestMailPrograms::detect()
{
    QFETCH(QString, sendmail);
    QFETCH(QString, msmtp);
    QFETCH(QStringList, entries);
    const QString dir = m_dir->path();
    if (sendmail != u"none")
        makeProgram(dir + QStringLiteral("/sbin/sendmail"), sendmail == u"exec");
    if (msmtp != u"none")
        makeProgram(dir + QStringLiteral("/bin/msmtp"), msmtp == u"exec");
    for (QString &entry : entries)
        entry.replace(QStringLiteral("DIR"), dir);
    QCOMPARE(describe(MailPrograms::detect(dir + QStringLiteral("/sbin/sendmail"))), entries);
}

void TestMailPrograms::readIni_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QStringList>("entries");

    QTest::newRow("sections in file order, with arguments")
        << QByteArray("[Work]\r\nCommand=$KP_DIR/bin/good -a work\r\n"
                      "[Home]\r\nCommand = $KP_DIR/bin/plain\r\n"
                      "[Also work]\r\ncommand=$KP_DIR/bin/good\r\n")
        << QStringList {QStringLiteral("Work|$KP_DIR/bin/good -a work|1"),
               QStringLiteral("Home|$KP_DIR/bin/plain|0"),
               QStringLiteral("Also work|$KP_DIR/bin/good|1")};
    QTest::newRow("bare names on the PATH")
        << QByteArray("[Good]\nCommand=good -x\n[Gone]\nCommand=kolporta-no-such-mailer\n")
        << QStringList {
               QStringLiteral("Good|good -x|1"), QStringLiteral("Gone|kolporta-no-such-mailer|0")};
    QTest::newRow("quoted path with a blank")
        << QByteArray("[Spaced]\nCommand=\"$KP_DIR/my bin/good\" -x\n")
        << QStringList {QStringLiteral("Spaced|\"$KP_DIR/my bin/good\" -x|1")};
    QTest::newRow("relative path from the working folder")
        << QByteArray("[Relative]\nCommand=./bin/good\n[Folder]\nCommand=$KP_DIR/bin\n")
        << QStringList {
               QStringLiteral("Relative|./bin/good|1"), QStringLiteral("Folder|$KP_DIR/bin|0")};
    QTest::newRow("no command") << QByteArray("[Nothing]\nX=1\n")
                                << QStringList {QStringLiteral("Nothing||0")};
    QTest::newRow("Windows-1250 name")
        << QByteArray("[Po\x9atovn\xed program]\r\nCommand=good\r\n")
        << QStringList {QStringLiteral("Po\u0161tovn\u00ed program|good|1")};
    QTest::newRow("empty file") << QByteArray() << QStringList();
}

void TestMailPrograms::readIni()
{
    QFETCH(QByteArray, ini);
    QFETCH(QStringList, entries);
    const QString dir = m_dir->path();
    makeProgram(dir + QStringLiteral("/bin/good"), true);
    makeProgram(dir + QStringLiteral("/bin/plain"), false);
    makeProgram(dir + QStringLiteral("/my bin/good"), true);
    makeProgram(dir + QStringLiteral("/bin/msmtp"), true);
    QDir::setCurrent(dir);

    // Through the home folder, as start-up reads it: an existing file is the whole list,
    // even when it is empty and msmtp is on the PATH.
    writeBytes(homePath() + QStringLiteral("/mailclients.ini"), ini);
    QString error = QStringLiteral("stale");
    QCOMPARE(describe(kolporta::delivery::LoadMailPrograms(&error)), entries);
    QCOMPARE(error, QString());
}

void TestMailPrograms::loadFollowsTheFile()
{
    makeProgram(m_dir->path() + QStringLiteral("/bin/msmtp"), true);
    QString error;
    const QStringList detected = describe(MailPrograms::detect());
    QVERIFY(detected.contains(QStringLiteral("msmtp|msmtp|1")));
    QCOMPARE(describe(kolporta::delivery::LoadMailPrograms(&error)), detected);
    QCOMPARE(describe(kolporta::delivery::LoadMailPrograms()), detected);

    writeBytes(homePath() + QStringLiteral("/mailclients.ini"), "[Mine]\nCommand=msmtp -a me\n");
    QCOMPARE(describe(kolporta::delivery::LoadMailPrograms(&error)),
        QStringList {QStringLiteral("Mine|msmtp -a me|1")});
}

void TestMailPrograms::unreadableIni()
{
    // A folder in the file's place cannot be read even by root; the list is then empty and
    // says why, rather than silently offering programs the user did not list.
    makeProgram(m_dir->path() + QStringLiteral("/bin/msmtp"), true);
    QVERIFY(QDir(homePath()).mkpath(QStringLiteral("mailclients.ini")));
    QString error;
    QCOMPARE(describe(kolporta::delivery::LoadMailPrograms(&error)), QStringList());
    QVERIFY2(error.contains(QStringLiteral("mailclients.ini")), qPrintable(error));
    QDir(homePath()).rmdir(QStringLiteral("mailclients.ini"));
}

QTEST_GUILESS_MAIN(TestMailPrograms)
#include "tst_MailPrograms.moc"
