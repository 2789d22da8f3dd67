#include "delivery/MailObject.h"

#include "../compose/MailStructure.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using kolporta::delivery::MailObject;
using kolporta::delivery::MailProgram;
using kolporta::delivery::RecipientKind;
using namespace kolporta::test;

namespace {

const char *const fakeVariables[]
    = {"FAKE_MAIL_EXIT", "FAKE_MAIL_NOREAD", "FAKE_MAIL_HANG", "FAKE_MAIL_SAY", "FAKE_MAIL_CRASH"};

QString fakeProgram()
{
    return dataPath(QStringLiteral("fake-mail-program"));
}

MailProgram entry(const QString &name, const QString &command)
{
    return {name, command, true};
}

QString mapi(int code, const char *text)
{
    return QStringLiteral("MAPI Error: (%1) \"%2\"").arg(code).arg(QLatin1String(text));
}

// "to:text" or "bcc:text" as a recipient of the mail object.
void addRecipients(MailObject *mail, const QStringList &recipients)
{
    for (const QString &r : recipients) {
        if (r.startsWith(u"bcc:"))
            mail->addRecipient(r.mid(4), RecipientKind::Bcc);
        else
            mail->addRecipient(r.mid(3), RecipientKind::To);
    }
}

} // namespace

class TestMailObject : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void prepareClient_data();
    void prepareClient();
    void sendChecks_data();
    void sendChecks();
    void exitStatus_data();
    void exitStatus();
    void handOver_data();
    void handOver();
    void defaultClient();
    void setBody_data();
    void setBody();

private:
    QString recorded(const char *name) const { return m_record->filePath(QLatin1String(name)); }
    bool programRan() const { return QFile::exists(recorded("args")); }

    std::unique_ptr<QTemporaryDir> m_record;
    std::unique_ptr<QTemporaryDir> m_files;
};

void TestMailObject::init()
{
    m_record = std::make_unique<QTemporaryDir>();
    m_files = std::make_unique<QTemporaryDir>();
    qputenv("FAKE_MAIL_DIR", m_record->path().toLocal8Bit());
    for (const char *name : fakeVariables)
        qunsetenv(name);
}

void TestMailObject::cleanup()
{
    for (const char *name : fakeVariables)
        qunsetenv(name);
}

void TestMailObject::prepareClient_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("error"); // "DIR" stands for the folder of the test's files

    QTest::newRow("installed") << 0 << QString();
    QTest::newRow("below the list") << -1 << QStringLiteral("Index is out ot range");
    QTest::newRow("past the list") << 5 << QStringLiteral("Index is out ot range");
    QTest::newRow("missing path")
        << 1
        << QStringLiteral(
               "Cannot start the mail program \"DIR/no-such-mailer\": No such file or directory");
    QTest::newRow("not executable")
        << 2 << QStringLiteral("Cannot start the mail program \"DIR/plain\": Permission denied");
    QTest::newRow("not on the PATH")
        << 3
        << QStringLiteral("Cannot start the mail program \"kolporta-no-such-mailer\": No such file "
                          "or directory");
    QTest::newRow("no command")
        << 4
        << QStringLiteral("Cannot start the mail program \"Empty\": No such file or directory");
}

void TestMailObject::prepareClient()
{
    QFETCH(int, index);
    QFETCH(QString, error);
    const QString dir = m_files->path();
    writeBytes(dir + QStringLiteral("/plain"), "#!/bin/sh\n");
    error.replace(QStringLiteral("DIR"), dir);

    // Every entry claims to be installed: the check is made afresh when the client is
    // prepared, as the program may have gone since the list was built.
    MailObject mail({entry(QStringLiteral("Fake"), fakeProgram()),
        entry(QStringLiteral("Missing"), dir + QStringLiteral("/no-such-mailer")),
        entry(QStringLiteral("Plain"), dir + QStringLiteral("/plain")),
        entry(QStringLiteral("Unknown"), QStringLiteral("kolporta-no-such-mailer -x")),
        entry(QStringLiteral("Empty"), QString())});
    QString text = QStringLiteral("stale");
    QCOMPARE(mail.prepareClient(index, &text), error.isEmpty());
    QCOMPARE(text, error);
    if (index >= 0 && index < mail.programs().size())
        QCOMPARE(mail.programs().at(index).installed, error.isEmpty());
}

void TestMailObject::sendChecks_data()
{
    QTest::addColumn<bool>("installed");
    QTest::addColumn<QStringList>("attachments"); // names in the test's folder; "pic:" pictures
    QTest::addColumn<QStringList>("recipients");
    QTest::addColumn<QString>("error");

    const QString notInstalled
        = QStringLiteral("No Simple MAPI client installed, cannot send the message");
    const QStringList someone {QStringLiteral("to:jan@example.cz")};

    QTest::newRow("nothing installed comes first")
        << false << QStringList {QStringLiteral("missing.png")} << QStringList() << notInstalled;
    QTest::newRow("missing picture before no recipient")
        << true << QStringList {QStringLiteral("pic:missing.png")} << QStringList()
        << mapi(11, "A specified attachment was not found");
    QTest::newRow("second attachment missing")
        << true << QStringList {QStringLiteral("photo.png"), QStringLiteral("gone.pdf")} << someone
        << mapi(11, "A specified attachment was not found");
    QTest::newRow("folder as attachment")
        << true << QStringList {QStringLiteral("folder")} << someone
        << mapi(11, "A specified attachment was not found");
    QTest::newRow("no recipient") << true << QStringList {QStringLiteral("photo.png")}
                                  << QStringList() << mapi(25, "Invalid recipients");
    QTest::newRow("recipient without an address")
        << true << QStringList()
        << QStringList {QStringLiteral("to:jan@example.cz"), QStringLiteral("bcc:Petr <>")}
        << mapi(25, "Invalid recipients");
}

void TestMailObject::sendChecks()
{
    QFETCH(bool, installed);
    QFETCH(QStringList, attachments);
    QFETCH(QStringList, recipients);

    writeBytes(m_files->filePath(QStringLiteral("photo.png")), "PNG");
    QDir(m_files->path()).mkdir(QStringLiteral("folder"));
    MailProgram program = entry(QStringLiteral("Fake"), fakeProgram());
    program.installed = installed;
    MailObject mail({program});
    QString error;
    if (installed)
        QVERIFY(mail.prepareClient(0, &error));
    QStringList paths, pictures; // "pic:name" is a picture
    for (const QString &name : attachments) {
        if (name.startsWith(u"pic:"))
            pictures.append(m_files->filePath(name.mid(4)));
        else
            paths.append(m_files->filePath(name));
    }
    mail.setPictures(pictures, "r");
    mail.setAttachments(paths);
    addRecipients(&mail, recipients);
    mail.setSubject(QStringLiteral("s"));
    mail.setBody(QStringLiteral("b"));

    QVERIFY(!mail.send(&error));
    QTEST(error, "error");
    QVERIFY(!programRan());
}

void TestMailObject::exitStatus_data()
{
    QTest::addColumn<QByteArrayList>("environment"); // NAME=value for the fake program
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<bool>("bigMessage");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("output");

    const int normal = 60000;
    QTest::newRow("0 delivered") << QByteArrayList() << normal << false << QString() << QString();
    QTest::newRow("67 no such user") << QByteArrayList {"FAKE_MAIL_EXIT=67"} << normal << false
                                     << mapi(14, "Unknown recipient") << QString();
    QTest::newRow("75 temporary failure, with the program's words")
        << QByteArrayList {"FAKE_MAIL_EXIT=75", "FAKE_MAIL_SAY=mailer: cannot connect"} << normal
        << false << mapi(23, "Network failure") << QStringLiteral("mailer: cannot connect");
    QTest::newRow("1 is a failure, not a cancel")
        << QByteArrayList {"FAKE_MAIL_EXIT=1"} << normal << false << mapi(2, "General MAPI failure")
        << QString();
    QTest::newRow("64 usage error") << QByteArrayList {"FAKE_MAIL_EXIT=64"} << normal << false
                                    << mapi(2, "General MAPI failure") << QString();
    QTest::newRow("255") << QByteArrayList {"FAKE_MAIL_EXIT=255"} << normal << false
                         << mapi(2, "General MAPI failure") << QString();
    QTest::newRow("killed by a signal") << QByteArrayList {"FAKE_MAIL_CRASH=1"} << normal << false
                                        << mapi(2, "General MAPI failure") << QString();
    QTest::newRow("exits unread with a big message")
        << QByteArrayList {"FAKE_MAIL_NOREAD=1", "FAKE_MAIL_EXIT=75"} << normal << true
        << mapi(23, "Network failure") << QString();
    // Without the kill the fake would sleep well past CTest's limit for the whole test.
    QTest::newRow("hangs and is killed") << QByteArrayList {"FAKE_MAIL_HANG=3600"} << 300 << true
                                         << mapi(2, "General MAPI failure") << QString();
}

void TestMailObject::exitStatus()
{
    QFETCH(QByteArrayList, environment);
    QFETCH(int, timeoutMs);
    QFETCH(bool, bigMessage);
    QFETCH(QString, error);

    for (const QByteArray &setting : environment) {
        const qsizetype eq = setting.indexOf('=');
        qputenv(setting.left(eq).constData(), setting.mid(eq + 1));
    }
    MailObject mail({entry(QStringLiteral("Fake"), fakeProgram())});
    mail.setTimeout(timeoutMs);
    QString text;
    QVERIFY(mail.prepareClient(0, &text));
    mail.setSubject(QStringLiteral("s"));
    // Far more than a pipe holds, so the writer meets a reader that is gone or stuck.
    mail.setBody(
        bigMessage ? QStringLiteral("0123456789abcdef\r\n").repeated(400000) : QStringLiteral("b"));
    mail.addRecipient(QStringLiteral("jan@example.cz"), RecipientKind::Bcc);

    QCOMPARE(mail.send(&text), error.isEmpty());
    QCOMPARE(text, error);
    QTEST(mail.programOutput(), "output");
    QVERIFY(programRan());
}

void TestMailObject::handOver_data()
{
    QTest::addColumn<bool>("html");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("arguments"); // after the program's path
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("recipients");
    QTest::addColumn<QStringList>("facts");
    QTest::addColumn<QStringList>("expectedArguments");

    const QStringList recipients {
        QStringLiteral("to:  Jan Nov\u00e1k <jan@example.cz>\t"),
        QStringLiteral("bcc:Nov\u00e1k, Petr <petr@example.cz> "),
        QStringLiteral("bcc:\teva@example.cz"),
    };
    const QStringList people {
        QStringLiteral("header Subject: Pozv\u00e1nka"),
        QStringLiteral("to Jan Nov\u00e1k|jan@example.cz"),
        QStringLiteral("bcc Nov\u00e1k, Petr|petr@example.cz"),
        QStringLiteral("bcc |eva@example.cz"),
    };

    QTest::newRow("plain text, files attached") << false << QStringLiteral("Dobr\u00fd den")
                                                << QString()
                                                << QStringList {QStringLiteral("pic:photo.png"),
                                                       QStringLiteral("doc.pdf")}
                                                << recipients
                                                << people
            + QStringList {
                QStringLiteral("part 0 multipart/mixed"),
                QStringLiteral("part 1 text/plain; charset=iso-8859-1; encoding=quoted-printable"),
                QStringLiteral("text 'Dobr\u00fd den\\n'"),
                QStringLiteral("part 1 image/png; disposition=attachment; filename=photo.png; "
                               "encoding=base64"),
                QStringLiteral("DATA photo.png"),
                QStringLiteral("part 1 application/pdf; disposition=attachment; filename=doc.pdf; "
                               "encoding=base64"),
                QStringLiteral("DATA doc.pdf"),
            } << QStringList {QStringLiteral("-i"), QStringLiteral("-t")};
    QTest::newRow("HTML with a picture and an attachment") << true
                                                           << QStringLiteral("<p>"
                                                                             "\u017dlu\u0165ou"
                                                                             "\u010dk\u00fd <img "
                                                                             "src=\"cid:photo.png@"
                                                                             "r\"></p>\r\n")
                                                           << QStringLiteral(
                                                                  "--account \"work place\"")
                                                           << QStringList {QStringLiteral(
                                                                               "doc.pdf"),
                                                                  QStringLiteral("pic:photo.png")}
                                                           << recipients
                                                           << people
            + QStringList {
                QStringLiteral("part 0 multipart/mixed"),
                QStringLiteral("part 1 multipart/alternative"),
                QStringLiteral("part 2 text/plain; charset=iso-8859-2; encoding=quoted-printable"),
                QStringLiteral("text '\u017dlu\u0165ou\u010dk\u00fd\\n'"),
                QStringLiteral("part 2 multipart/related; type=text/html"),
                QStringLiteral("part 3 text/html; charset=iso-8859-2; encoding=quoted-printable"),
                QStringLiteral(
                    "text '<p>\u017dlu\u0165ou\u010dk\u00fd <img src=\"cid:photo.png@r\"></p>\\n'"),
                QStringLiteral("part 3 image/png; cid=<photo.png@r>; disposition=inline; "
                               "filename=photo.png; encoding=base64"),
                QStringLiteral("DATA photo.png"),
                QStringLiteral("part 1 application/pdf; disposition=attachment; filename=doc.pdf; "
                               "encoding=base64"),
                QStringLiteral("DATA doc.pdf"),
            } << QStringList {QStringLiteral("--account"), QStringLiteral("work place"), QStringLiteral("-i"), QStringLiteral("-t")};
}

void TestMailObject::handOver()
{
    QFETCH(bool, html);
    QFETCH(QString, body);
    QFETCH(QString, arguments);
    QFETCH(QStringList, files);
    QFETCH(QStringList, recipients);
    QFETCH(QStringList, facts);

    QHash<QString, QByteArray> contents;
    QStringList paths, pictures; // "pic:name" is a picture
    for (QString name : files) {
        const bool picture = name.startsWith(u"pic:");
        if (picture)
            name = name.mid(4);
        const QByteArray bytes
            = QByteArray("\x89PNG\r\n\x1a\n\0\xff", 10).repeated(100) + name.toUtf8();
        contents.insert(name, bytes);
        writeBytes(m_files->filePath(name), bytes);
        (picture ? pictures : paths).append(m_files->filePath(name));
    }
    for (QString &fact : facts) {
        if (fact.startsWith(u"DATA "))
            fact = dataFact(contents.value(fact.mid(5)));
    }

    MailObject mail({entry(QStringLiteral("Fake"),
        QLatin1Char('"') + fakeProgram() + QStringLiteral("\" ") + arguments)});
    QString error;
    QVERIFY(mail.prepareClient(0, &error));
    mail.setHtml(html);
    mail.setSubject(QStringLiteral("Pozv\u00e1nka"));
    mail.setBody(body);
    mail.setPictures(pictures, "r");
    mail.setAttachments(paths);
    addRecipients(&mail, recipients);
    QVERIFY2(mail.send(&error), qPrintable(error));

    QTEST(QString::fromUtf8(readBytes(recorded("args"))).split(u'\n', Qt::SkipEmptyParts),
        "expectedArguments");
    const QByteArray message = readBytes(recorded("stdin"));
    QCOMPARE(mailFacts(message,
                 {QStringLiteral("header Subject"), QStringLiteral("to "), QStringLiteral("bcc "),
                     QStringLiteral("part "), QStringLiteral("text "), QStringLiteral("data "),
                     QStringLiteral("defect ")}),
        facts);
    QVERIFY(!message.contains("\r\n")); // sendmail-compatible programs read LF lines
}

void TestMailObject::defaultClient()
{
    // Without a prepared client the first installed program takes the message.
    MailProgram missing
        = entry(QStringLiteral("Missing"), QStringLiteral("kolporta-no-such-mailer"));
    missing.installed = false;
    MailObject mail({missing, entry(QStringLiteral("Fake"), fakeProgram())});
    mail.setBody(QStringLiteral("b"));
    mail.addRecipient(QStringLiteral("jan@example.cz"), RecipientKind::To);
    QString error;
    QVERIFY2(mail.send(&error), qPrintable(error));
    QVERIFY(programRan());
}

void TestMailObject::setBody_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("stored");

    QTest::newRow("no line end") << QStringLiteral("a") << QStringLiteral("a\r\n");
    QTest::newRow("CR LF kept") << QStringLiteral("a\r\n") << QStringLiteral("a\r\n");
    QTest::newRow("empty") << QString() << QStringLiteral("\r\n");
    QTest::newRow("LF only is no CR LF") << QStringLiteral("a\n") << QStringLiteral("a\n\r\n");
}

void TestMailObject::setBody()
{
    QFETCH(QString, body);
    MailObject mail({});
    mail.setBody(body);
    QTEST(mail.body(), "stored");
}

QTEST_GUILESS_MAIN(TestMailObject)
#include "tst_MailObject.moc"
