#include "compose/MailProgramMessage.h"

#include "MailStructure.h"
#include "TestSupport.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using kolporta::compose::MailProgramMessage;
using namespace kolporta::test;

namespace {

QByteArray build(const MailProgramMessage &message)
{
    QByteArray bytes;
    QString error;
    if (message.build(&bytes, &error) != MailProgramMessage::Error::None)
        qFatal("build failed: %s", qUtf8Printable(error));
    return bytes;
}

QByteArray binaryBytes()
{
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes.append(char(i));
    return bytes.repeated(40);
}

const QStringList headerNames
    = {QStringLiteral("Subject"), QStringLiteral("Date"), QStringLiteral("Message-Id"),
        QStringLiteral("To"), QStringLiteral("Bcc"), QStringLiteral("MIME-Version"),
        QStringLiteral("Content-Type"), QStringLiteral("Content-Transfer-Encoding")};

} // namespace

class TestMailProgramMessage : public QObject
{
    Q_OBJECT

private slots:
    void mailbox_data();
    void mailbox();
    void headers_data();
    void headers();
    void body_data();
    void body();
    void files_data();
    void files();
    void failures_data();
    void failures();
};

void TestMailProgramMessage::mailbox_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("address");

    QTest::newRow("bare address") << QStringLiteral("jan@example.cz") << QString()
                                  << QStringLiteral("jan@example.cz");
    QTest::newRow("name and address, blanks around")
        << QStringLiteral(" \tJan Nov\u00e1k <jan@example.cz>  ")
        << QStringLiteral("Jan Nov\u00e1k") << QStringLiteral("jan@example.cz");
    QTest::newRow("quoted name with comma")
        << QStringLiteral("\"Nov\u00e1k, Jan\" <jan@example.cz>")
        << QStringLiteral("Nov\u00e1k, Jan") << QStringLiteral("jan@example.cz");
    QTest::newRow("unquoted comma stays one mailbox")
        << QStringLiteral("Nov\u00e1k, Jan <jan@example.cz>") << QStringLiteral("Nov\u00e1k, Jan")
        << QStringLiteral("jan@example.cz");
    QTest::newRow("name in a comment")
        << QStringLiteral("jan@example.cz (Jan Nov\u00e1k)") << QStringLiteral("Jan Nov\u00e1k")
        << QStringLiteral("jan@example.cz");
    QTest::newRow("angle brackets only")
        << QStringLiteral("<jan@example.cz>") << QString() << QStringLiteral("jan@example.cz");
    QTest::newRow("no closing bracket")
        << QStringLiteral("Jan <jan@example.cz") << QStringLiteral("Jan")
        << QStringLiteral("jan@example.cz");
    QTest::newRow("empty brackets")
        << QStringLiteral("Jan <>") << QStringLiteral("Jan") << QString();
}

void TestMailProgramMessage::mailbox()
{
    QFETCH(QString, text);
    QString name;
    QString address;
    kolporta::compose::MailProgramMailbox(text, &name, &address);
    QTEST(name, "name");
    QTEST(address, "address");
}

void TestMailProgramMessage::headers_data()
{
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QStringList>("to");
    QTest::addColumn<QStringList>("bcc");
    QTest::addColumn<QStringList>("facts");

    const QString longSubject
        = QStringLiteral("P\u0159\u00edli\u0161 \u017elu\u0165ou\u010dk\u00fd k\u016f\u0148 ")
              .repeated(12)
              .trimmed();

    QTest::newRow("non-ASCII names and subject")
        << QStringLiteral("P\u0159\u00edli\u0161 \u017elu\u0165ou\u010dk\u00fd k\u016f\u0148")
        << QStringList {QStringLiteral("Jan Nov\u00e1k <jan@example.cz>")}
        << QStringList {QStringLiteral("Nov\u00e1k, Petr <petr@example.cz>"),
               QStringLiteral("  x@example.cz ")}
        << QStringList {
               QStringLiteral("header Subject: P\u0159\u00edli\u0161 \u017elu\u0165ou\u010dk\u00fd "
                              "k\u016f\u0148"),
               QStringLiteral("header To: Jan Nov\u00e1k <jan@example.cz>"),
               QStringLiteral("to Jan Nov\u00e1k|jan@example.cz"),
               QStringLiteral("bcc Nov\u00e1k, Petr|petr@example.cz"),
               QStringLiteral("bcc |x@example.cz"),
           };
    QTest::newRow("line breaks in the subject")
        << QStringLiteral("Hi\r\nBcc: evil@example.net\nX-Evil: 1\r")
        << QStringList {QStringLiteral("jan@example.cz")} << QStringList()
        << QStringList {QStringLiteral("header Subject: Hi Bcc: evil@example.net X-Evil: 1"),
               QStringLiteral("header To: jan@example.cz"), QStringLiteral("to |jan@example.cz")};
    QTest::newRow("line break in a recipient")
        << QStringLiteral("s")
        << QStringList {QStringLiteral("Jan\r\nBcc: evil@example.net <jan@example.cz>")}
        << QStringList {QStringLiteral("x@example.cz\nTo: evil@example.net")}
        << QStringList {QStringLiteral("header Subject: s"),
               QStringLiteral("header To: \"Jan Bcc: evil@example.net\" <jan@example.cz>"),
               QStringLiteral("to Jan Bcc: evil@example.net|jan@example.cz"),
               QStringLiteral("bcc |x@example.cz")};
    QTest::newRow("long subject is folded, not cut")
        << longSubject << QStringList {QStringLiteral("jan@example.cz")} << QStringList()
        << QStringList {QStringLiteral("header Subject: ") + longSubject,
               QStringLiteral("header To: jan@example.cz"), QStringLiteral("to |jan@example.cz")};
    // A message without To is scored as broken; blind copies only name an empty group.
    QTest::newRow("only blind copies")
        << QString() << QStringList()
        << QStringList {QStringLiteral("a@example.cz"), QStringLiteral("B <b@example.cz>")}
        << QStringList {QStringLiteral("header To: undisclosed-recipients:;"),
               QStringLiteral("bcc |a@example.cz"), QStringLiteral("bcc B|b@example.cz")};
    QTest::newRow("non-ASCII domain in IDNA form")
        << QStringLiteral("s") << QStringList {QStringLiteral(u"Jan <jan@příklad.cz>")}
        << QStringList()
        << QStringList {QStringLiteral("header Subject: s"),
               QStringLiteral("header To: Jan <jan@xn--pklad-zsa96e.cz>"),
               QStringLiteral("to Jan|jan@xn--pklad-zsa96e.cz")};
}

void TestMailProgramMessage::headers()
{
    QFETCH(QString, subject);
    QFETCH(QStringList, to);
    QFETCH(QStringList, bcc);
    QFETCH(QStringList, facts);

    MailProgramMessage message;
    message.subject = subject;
    message.body = QStringLiteral("x\r\n");
    for (const QString &text : to)
        message.recipients.append({text, false});
    for (const QString &text : bcc)
        message.recipients.append({text, true});
    const QByteArray bytes = build(message);

    const QStringList structure = mailStructure(bytes);
    QStringList seen;
    for (const QString &line : structure) {
        if (line.startsWith(u"to ") || line.startsWith(u"bcc ") || line.startsWith(u"header To:")
            || (line.startsWith(u"header Subject:") && !subject.isEmpty()))
            seen.append(line);
        QVERIFY2(!line.startsWith(u"defect"), qPrintable(line));
        if (line.startsWith(u"header ")) {
            const QString name = line.mid(7, line.indexOf(u':') - 7);
            QVERIFY2(headerNames.contains(name), qPrintable(line));
        }
    }
    QCOMPARE(seen, facts);

    // The program adds the sender itself; the header block must be plain ASCII, since an
    // 8-bit header would need the SMTPUTF8 extension on the way.
    for (const QByteArray &line : rawHeaderLines(bytes)) {
        QVERIFY2(!line.toLower().startsWith("from:"), line.constData());
        for (char c : line)
            QVERIFY2((uchar(c) >= 32 && uchar(c) < 127) || c == '\t', line.constData());
    }
}

void TestMailProgramMessage::body_data()
{
    QTest::addColumn<bool>("html");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("part");
    QTest::addColumn<QString>("text");

    const QString czech
        = QStringLiteral("P\u0159\u00edli\u0161 \u017elu\u0165ou\u010dk\u00fd k\u016f\u0148");
    const QString longLine = QStringLiteral("abc ").repeated(500);

    QTest::newRow("plain ASCII, CR LF lines")
        << false << QStringLiteral("Hello\r\nWorld\r\n")
        << QStringLiteral("part 0 text/plain; charset=iso-8859-1; encoding=7bit")
        << QStringLiteral("Hello\nWorld\n");
    QTest::newRow("plain Czech")
        << false << czech + QStringLiteral("\r\n")
        << QStringLiteral("part 0 text/plain; charset=iso-8859-2; encoding=quoted-printable")
        << czech + u'\n';
    QTest::newRow("plain German")
        << false << QStringLiteral("Gr\u00fc\u00dfe\r\n")
        << QStringLiteral("part 0 text/plain; charset=iso-8859-1; encoding=quoted-printable")
        << QStringLiteral("Gr\u00fc\u00dfe\n");
    QTest::newRow("plain Czech and Cyrillic")
        << false << czech + QStringLiteral(" \u041f\u0440\u0438\u0432\u0435\u0442\r\n")
        << QStringLiteral("part 0 text/plain; charset=utf-8; encoding=quoted-printable")
        << czech + QStringLiteral(" \u041f\u0440\u0438\u0432\u0435\u0442\n");
    QTest::newRow("plain lone CR and a long line")
        << false << QStringLiteral("a\rb\r\n") + longLine + QStringLiteral("\r\n")
        << QStringLiteral("part 0 text/plain; charset=iso-8859-1; encoding=quoted-printable")
        << QStringLiteral("a\nb\n") + longLine + u'\n';
    QTest::newRow("plain dot line and From line")
        << false << QStringLiteral("a\r\n.\r\nFrom here\r\n")
        << QStringLiteral("part 0 text/plain; charset=iso-8859-1; encoding=7bit")
        << QStringLiteral("a\n.\nFrom here\n");
    QTest::newRow("HTML in ISO-8859-2")
        << true << QStringLiteral("<p>") + czech + QStringLiteral("</p>\r\n")
        << QStringLiteral("part 1 text/html; charset=iso-8859-2; encoding=quoted-printable")
        << QStringLiteral("<p>") + czech + QStringLiteral("</p>\n");
    QTest::newRow("HTML outside ISO-8859-2 goes as UTF-8")
        << true << QStringLiteral("<p>\u201e") + czech + QStringLiteral("\u201c \u20ac</p>\r\n")
        << QStringLiteral("part 1 text/html; charset=utf-8; encoding=quoted-printable")
        << QStringLiteral("<p>\u201e") + czech + QStringLiteral("\u201c \u20ac</p>\n");
    QTest::newRow("HTML as UTF-8 declares UTF-8")
        << true
        << QStringLiteral("<meta content=\"text/html; CHARSET=ISO-8859-2\">\u201eA\u201c\r\n")
        << QStringLiteral("part 1 text/html; charset=utf-8; encoding=quoted-printable")
        << QStringLiteral("<meta content=\"text/html; charset=utf-8\">\u201eA\u201c\n");
    QTest::newRow("HTML in ISO-8859-2 keeps its declaration")
        << true << QStringLiteral("<meta content=\"text/html; charset=iso-8859-2\">\u010c\r\n")
        << QStringLiteral("part 1 text/html; charset=iso-8859-2; encoding=quoted-printable")
        << QStringLiteral("<meta content=\"text/html; charset=iso-8859-2\">\u010c\n");
    // The preparation keeps a caron (which the byte table would turn into "Ą") as Unicode and
    // declares UTF-8; the bytes must agree although the caron also exists in ISO-8859-2.
    QTest::newRow("HTML declared UTF-8 stays UTF-8")
        << true << QStringLiteral("<meta content=\"text/html; charset=utf-8\">\u02c7\r\n")
        << QStringLiteral("part 1 text/html; charset=utf-8; encoding=quoted-printable")
        << QStringLiteral("<meta content=\"text/html; charset=utf-8\">\u02c7\n");
    QTest::newRow("HTML in ASCII")
        << true << QStringLiteral("<p>Hi</p>\r\n")
        << QStringLiteral("part 1 text/html; charset=iso-8859-2; encoding=7bit")
        << QStringLiteral("<p>Hi</p>\n");
}

void TestMailProgramMessage::body()
{
    QFETCH(bool, html);
    QFETCH(QString, body);

    MailProgramMessage message;
    message.subject = QStringLiteral("s");
    message.body = body;
    message.html = html;
    message.recipients = {{QStringLiteral("jan@example.cz"), false}};
    QStringList facts
        = mailFacts(build(message), {QStringLiteral("part "), QStringLiteral("text ")});
    if (html) { // the HTML after the plain text generated from it
        QCOMPARE(facts.value(0), QStringLiteral("part 0 multipart/alternative"));
        QVERIFY(facts.value(1).startsWith(QStringLiteral("part 1 text/plain; ")));
        facts = facts.mid(3);
    }
    QCOMPARE(facts.size(), 2);
    QTEST(facts.at(0), "part");
    // Python's repr of the decoded text, with the quotes it chose.
    QString text = facts.at(1).mid(5);
    QVERIFY(text.size() >= 2);
    text = text.mid(1, text.size() - 2).replace(QStringLiteral("\\n"), QStringLiteral("\n"));
    QTEST(text, "text");
}

// The same MIME tree as the SMTP route.
void TestMailProgramMessage::files_data()
{
    QTest::addColumn<bool>("html");
    QTest::addColumn<QStringList>("files"); // "pic:name" is a picture, any other an attachment
    QTest::addColumn<QStringList>("parts"); // "DATA name" stands for the data fact of a file

    const QString plain = QStringLiteral("part %1 text/plain; charset=iso-8859-1; encoding=7bit");
    const QString html = QStringLiteral("part %1 text/html; charset=iso-8859-2; encoding=7bit");
    const QString alternative = QStringLiteral("part %1 multipart/alternative");
    const QString related = QStringLiteral("part %1 multipart/related; type=text/html");
    const QString mixed = QStringLiteral("part 0 multipart/mixed");
    const QString pdf = QStringLiteral(
        "part 1 application/pdf; disposition=attachment; filename=doc.pdf; encoding=base64");
    const QString photo = QStringLiteral("part %1 image/png; cid=<photo.png@run.test>; "
                                         "disposition=inline; filename=photo.png; encoding=base64");

    QTest::newRow("plain, no files") << false << QStringList() << QStringList {plain.arg(0)};
    QTest::newRow("plain: pictures are attachments too")
        << false << QStringList {QStringLiteral("pic:photo.png"), QStringLiteral("doc.pdf")}
        << QStringList {
               mixed,
               plain.arg(1),
               QStringLiteral(
                   "part 1 image/png; disposition=attachment; filename=photo.png; encoding=base64"),
               QStringLiteral("DATA photo.png"),
               pdf,
               QStringLiteral("DATA doc.pdf"),
           };
    QTest::newRow("HTML, no files")
        << true << QStringList() << QStringList {alternative.arg(0), plain.arg(1), html.arg(1)};
    QTest::newRow("HTML with pictures")
        << true << QStringList {QStringLiteral("pic:photo.png"), QStringLiteral("pic:scan.jpg")}
        << QStringList {
               alternative.arg(0),
               plain.arg(1),
               related.arg(1),
               html.arg(2),
               photo.arg(2),
               QStringLiteral("DATA photo.png"),
               QStringLiteral("part 2 image/jpeg; cid=<scan.jpg@run.test>; disposition=inline; "
                              "filename=scan.jpg; encoding=base64"),
               QStringLiteral("DATA scan.jpg"),
           };
    // An image among the attachments stays an attachment.
    QTest::newRow("HTML with pictures and attachments")
        << true
        << QStringList {QStringLiteral("doc.pdf"), QStringLiteral("pic:photo.png"),
               QStringLiteral("data.kolporta-unknown"), QStringLiteral("scan.jpg")}
        << QStringList {
               mixed,
               alternative.arg(1),
               plain.arg(2),
               related.arg(2),
               html.arg(3),
               photo.arg(3),
               QStringLiteral("DATA photo.png"),
               pdf,
               QStringLiteral("DATA doc.pdf"),
               QStringLiteral("part 1 application/octet-stream; disposition=attachment; "
                              "filename=data.kolporta-unknown; encoding=base64"),
               QStringLiteral("DATA data.kolporta-unknown"),
               QStringLiteral("part 1 image/jpeg; disposition=attachment; filename=scan.jpg; "
                              "encoding=base64"),
               QStringLiteral("DATA scan.jpg"),
           };
    QTest::newRow("HTML with an attachment only")
        << true << QStringList {QStringLiteral("doc.pdf")}
        << QStringList {mixed, alternative.arg(1), plain.arg(2), html.arg(2), pdf,
               QStringLiteral("DATA doc.pdf")};
    QTest::newRow("non-ASCII file names")
        << true
        << QStringList {QStringLiteral("p\u0159\u00edloha.pdf"),
               QStringLiteral("pic:obr\u00e1zek.png")}
        << QStringList {
               mixed,
               alternative.arg(1),
               plain.arg(2),
               related.arg(2),
               html.arg(3),
               // The Content-ID needs no escaping: a safe form of the name.
               QStringLiteral("part 3 image/png; cid=<obrazek-1.png@run.test>; disposition=inline; "
                              "filename=obr\u00e1zek.png; encoding=base64"),
               QStringLiteral("DATA obr\u00e1zek.png"),
               QStringLiteral("part 1 application/pdf; disposition=attachment; "
                              "filename=p\u0159\u00edloha.pdf; encoding=base64"),
               QStringLiteral("DATA p\u0159\u00edloha.pdf"),
           };
    QTest::newRow("line break in a file name cannot start a header line")
        << true << QStringList {QStringLiteral("pic:a\nBcc: evil@example.cz.png")}
        << QStringList {
               alternative.arg(0),
               plain.arg(1),
               related.arg(1),
               html.arg(2),
               QStringLiteral("part 2 image/png; cid=<a_Bcc__evil_example_cz-1.png@run.test>; "
                              "disposition=inline; filename=a Bcc: evil@example.cz.png; "
                              "encoding=base64"),
               QStringLiteral("DATA a\nBcc: evil@example.cz.png"),
           };
    QTest::newRow("line break in an attachment's name")
        << false << QStringList {QStringLiteral("x\r\nContent-Disposition: inline.pdf")}
        << QStringList {
               mixed,
               plain.arg(1),
               QStringLiteral("part 1 application/pdf; disposition=attachment; "
                              "filename=x Content-Disposition: inline.pdf; encoding=base64"),
               QStringLiteral("DATA x\r\nContent-Disposition: inline.pdf"),
           };
}

void TestMailProgramMessage::files()
{
    QFETCH(bool, html);
    QFETCH(QStringList, files);
    QFETCH(QStringList, parts);

    QTemporaryDir dir;
    MailProgramMessage message;
    message.subject = QStringLiteral("s");
    message.body = html ? QStringLiteral("<p>Hi</p>") : QStringLiteral("Hi");
    message.html = html;
    message.contentIdDomain = "run.test";
    message.recipients = {{QStringLiteral("jan@example.cz"), false}};
    QHash<QString, QByteArray> contents;
    int n = 0;
    for (QString name : files) {
        const bool picture = name.startsWith(u"pic:");
        if (picture)
            name = name.mid(4);
        // Distinct binary contents, so a part carrying the wrong file shows.
        const QByteArray bytes = binaryBytes() + QByteArray::number(++n);
        contents.insert(name, bytes);
        writeBytes(dir.filePath(name), bytes);
        (picture ? message.pictures : message.files).append(dir.filePath(name));
    }
    for (QString &line : parts) {
        if (line.startsWith(u"DATA "))
            line = dataFact(contents.value(line.mid(5)));
    }
    const QStringList facts = mailFacts(build(message),
        {QStringLiteral("part "), QStringLiteral("data "), QStringLiteral("defect ")});
    QCOMPARE(facts, parts);
}

void TestMailProgramMessage::failures_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("recipient");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("error"); // "FILE name" stands for the path of a file

    const int unreadable = int(MailProgramMessage::Error::UnreadableFile);
    const int invalidAddress = int(MailProgramMessage::Error::InvalidAddress);
    QTest::newRow("missing file") << QStringList {QStringLiteral("ok.pdf"),
        QStringLiteral("missing.pdf")}
                                  << QStringLiteral("jan@example.cz") << unreadable
                                  << QStringLiteral("FILE missing.pdf");
    QTest::newRow("folder") << QStringList {QStringLiteral("folder")}
                            << QStringLiteral("jan@example.cz") << unreadable
                            << QStringLiteral("FILE folder");
    QTest::newRow("empty address")
        << QStringList() << QStringLiteral("Jan <>") << invalidAddress << QStringLiteral("Jan <>");
    QTest::newRow("blank recipient")
        << QStringList() << QStringLiteral(" \t") << invalidAddress << QStringLiteral(" \t");
}

void TestMailProgramMessage::failures()
{
    QFETCH(QStringList, files);
    QFETCH(QString, recipient);
    QFETCH(QString, error);

    QTemporaryDir dir;
    writeBytes(dir.filePath(QStringLiteral("ok.pdf")), "%PDF");
    QDir(dir.path()).mkdir(QStringLiteral("folder"));
    MailProgramMessage message;
    message.body = QStringLiteral("x");
    message.recipients = {{recipient, true}};
    for (const QString &name : files)
        message.files.append(dir.filePath(name));
    if (error.startsWith(u"FILE "))
        error = dir.filePath(error.mid(5));

    QByteArray bytes = "stale";
    QString text;
    QTEST(int(message.build(&bytes, &text)), "kind");
    QCOMPARE(text, error);
    QVERIFY(bytes.isEmpty());
}

QTEST_GUILESS_MAIN(TestMailProgramMessage)
#include "tst_MailProgramMessage.moc"
