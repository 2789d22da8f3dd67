#include "delivery/MailObject.h"

#include "../compose/MailStructure.h"
#include "AiosmtpdServer.h"
#include "TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using kolporta::delivery::MailObject;
using kolporta::delivery::RecipientKind;
using namespace kolporta::test;

// The mail-program route with a real program: msmtp, configured by a file written here,
// delivering to a real aiosmtpd on a loopback port.
class TestMailProgramMsmtp : public QObject
{
    Q_OBJECT

private slots:
    void delivery_data();
    void delivery();
};

void TestMailProgramMsmtp::delivery_data()
{
    QTest::addColumn<bool>("listening");
    QTest::addColumn<bool>("blindOnly"); // every recipient a blind copy, as in BCC mode
    QTest::addColumn<QString>("error");

    QTest::newRow("delivered") << true << false << QString();
    QTest::newRow("blind copies only") << true << true << QString();
    QTest::newRow("nobody listening")
        << false << false << QStringLiteral("MAPI Error: (23) \"Network failure\"");
}

void TestMailProgramMsmtp::delivery()
{
    QFETCH(bool, listening);
    QFETCH(bool, blindOnly);
    QFETCH(QString, error);

    AiosmtpdServer server;
    QString text;
    QVERIFY2(server.start(&text), qPrintable(text));
    const quint16 port = listening ? server.port() : freeLoopbackPort();

    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("msmtprc"));
    writeBytes(config,
        QStringLiteral("account default\nhost 127.0.0.1\nport %1\n"
                       "from sender@example.org\nauth off\ntls off\n"
                       "logfile\nsyslog off\n")
            .arg(port)
            .toUtf8());
    QFile::setPermissions(config, QFile::ReadOwner | QFile::WriteOwner);
    const QString picture = dir.filePath(QStringLiteral("logo.png"));
    const QByteArray pictureBytes = QByteArray("\x89PNG\r\n\x1a\n", 8).repeated(500);
    writeBytes(picture, pictureBytes);
    const QString attachment = dir.filePath(QStringLiteral(u"ceník.pdf"));
    const QByteArray attachmentBytes = QByteArray("%PDF-1.4\n\0\xff", 12).repeated(300);
    writeBytes(attachment, attachmentBytes);

    MailObject mail(
        {{QStringLiteral("msmtp"), QStringLiteral("msmtp -C \"%1\"").arg(config), true}});
    mail.setTimeout(20000);
    QVERIFY2(mail.prepareClient(0, &text), qPrintable(text));
    mail.setHtml(true);
    mail.setSubject(QStringLiteral("Pozv\u00e1nka na \u010daj"));
    mail.setBody(QStringLiteral("<p>Dobr\u00fd den <img src=\"cid:logo.png@r\"></p>"));
    mail.setPictures({picture}, "r");
    mail.setAttachments({attachment});
    mail.addRecipient(QStringLiteral(" Jan Nov\u00e1k <jan@example.cz> "),
        blindOnly ? RecipientKind::Bcc : RecipientKind::To);
    mail.addRecipient(QStringLiteral("Nov\u00e1k, Petr <petr@example.cz>"), RecipientKind::Bcc);
    mail.addRecipient(QStringLiteral("eva@example.cz"), RecipientKind::Bcc);

    QCOMPARE(mail.send(&text), error.isEmpty());
    QCOMPARE(text, error);
    if (!listening) {
        QVERIFY2(mail.programOutput().contains(QStringLiteral("127.0.0.1")),
            qPrintable(mail.programOutput()));
        QVERIFY(server.messages().isEmpty());
        return;
    }

    QVERIFY2(server.waitForMessages(1), qPrintable(server.log()));
    const QList<AiosmtpdServer::Message> messages = server.messages();
    QCOMPARE(messages.size(), 1);
    const AiosmtpdServer::Message &message = messages.first();
    QCOMPARE(message.mailFrom, QStringLiteral("sender@example.org"));
    QStringList envelope = message.rcptTo;
    envelope.sort();
    QCOMPARE(envelope,
        (QStringList {QStringLiteral("eva@example.cz"), QStringLiteral("jan@example.cz"),
            QStringLiteral("petr@example.cz")}));

    // The blind copies are in the envelope only.
    for (const QByteArray &line : rawHeaderLines(message.data)) {
        QVERIFY2(!line.toLower().startsWith("bcc:"), line.constData());
        QVERIFY2(!line.contains("petr@") && !line.contains("eva@"), line.constData());
    }
    // The pictures and the attachments arrive, in the tree of the SMTP route.
    const QStringList facts = mailFacts(message.data,
        {QStringLiteral("header Subject"), QStringLiteral("header To"), QStringLiteral("to "),
            QStringLiteral("bcc "), QStringLiteral("part "), QStringLiteral("text "),
            QStringLiteral("data "), QStringLiteral("defect ")});
    QCOMPARE(facts,
        (QStringList {
             QStringLiteral("header Subject: Pozv\u00e1nka na \u010daj"),
             blindOnly ? QStringLiteral("header To: undisclosed-recipients:;")
                       : QStringLiteral("header To: Jan Nov\u00e1k <jan@example.cz>"),
         }
            + (blindOnly ? QStringList()
                         : QStringList {QStringLiteral("to Jan Nov\u00e1k|jan@example.cz")})
            + QStringList {
                QStringLiteral("part 0 multipart/mixed"),
                QStringLiteral("part 1 multipart/alternative"),
                QStringLiteral("part 2 text/plain; charset=iso-8859-1; encoding=quoted-printable"),
                QStringLiteral("text 'Dobr\u00fd den\\n'"),
                QStringLiteral("part 2 multipart/related; type=text/html"),
                QStringLiteral("part 3 text/html; charset=iso-8859-2; encoding=quoted-printable"),
                QStringLiteral("text '<p>Dobr\u00fd den <img src=\"cid:logo.png@r\"></p>\\n'"),
                QStringLiteral("part 3 image/png; cid=<logo.png@r>; disposition=inline; "
                               "filename=logo.png; encoding=base64"),
                dataFact(pictureBytes),
                QStringLiteral("part 1 application/pdf; disposition=attachment; "
                               "filename=cen\u00edk.pdf; encoding=base64"),
                dataFact(attachmentBytes),
            }));
}

QTEST_GUILESS_MAIN(TestMailProgramMsmtp)
#include "tst_MailProgramMsmtp.moc"
