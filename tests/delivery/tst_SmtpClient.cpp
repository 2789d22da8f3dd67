#include "delivery/SmtpClient.h"

#include "AiosmtpdServer.h"
#include "FakeSmtpServer.h"
#include "TestSupport.h"

#include <QSignalSpy>
#include <QTest>

using namespace kolporta::delivery;
using kolporta::settings::SmtpProfile;
using kolporta::test::AiosmtpdServer;
using kolporta::test::FakeSmtpServer;

namespace {

QString q(const char *text)
{
    return QString::fromUtf8(text);
}

SmtpProfile profileFor(const QString &host, const QString &port, const QString &user = {},
    const QString &password = {})
{
    SmtpProfile p;
    p.server = host;
    p.port = port;
    p.user = user;
    p.password = password;
    p.timeoutSeconds = 1; // the fake answers at once or never; no test waits a minute
    p.pipelining = true; // used only where the server offers it
    return p;
}

// "VERB=reply" items: queued one-shot replies of the fake server, in order.
void script(FakeSmtpServer &server, const QByteArrayList &replies)
{
    for (const QByteArray &item : replies) {
        const qsizetype eq = item.indexOf('=');
        server.queueReply(item.left(eq), item.mid(eq + 1));
    }
}

// Runs "open", "mail:<address>:<size>", "rcpt:<address>", "data", "close",
// "txn:<sender>:<size>:<address>,<address>..." (startTransaction; "txn8" with SMTPUTF8) and
// "body" (the message
// after it) in order and returns each operation's result as "1" or "0"; "txn" adds its reply
// codes, "[mail rcpt... data]".
QByteArray run(SmtpClient &client, const QByteArrayList &steps,
    const QList<QByteArray> &lines = {QByteArrayLiteral("Subject: t"), {}, "body"})
{
    QByteArray results;
    for (const QByteArray &step : steps) {
        const QByteArrayList parts = step.split(':');
        bool ok = true;
        if (parts[0] == "open")
            ok = client.open();
        else if (parts[0] == "mail")
            ok = client.mailFrom(QString::fromUtf8(parts[1]), parts[2].toLongLong());
        else if (parts[0] == "rcpt")
            ok = client.rcptTo(QString::fromUtf8(parts[1]));
        else if (parts[0] == "data") {
            QString error;
            ok = client.sendData(lines, &error);
            if (!error.isEmpty())
                qWarning("sendData raised: %s", qPrintable(error));
        } else if (parts[0] == "txn" || parts[0] == "txn8") {
            QStringList recipients;
            for (const QByteArray &r : parts[3].split(','))
                recipients.append(QString::fromUtf8(r));
            TransactionReplies replies;
            ok = client.startTransaction(QString::fromUtf8(parts[1]), parts[2].toLongLong(),
                recipients, &replies, parts[0] == "txn8");
            QByteArrayList codes {QByteArray::number(replies.mail)};
            for (const int code : std::as_const(replies.rcpt))
                codes.append(QByteArray::number(code));
            codes.append(QByteArray::number(replies.data));
            results += (ok ? '1' : '0') + ('[' + codes.join(' ') + ']');
            continue;
        } else if (parts[0] == "body") {
            QString error;
            ok = client.sendMessageLines(lines, &error) && client.sendEndOfData(&error);
        } else if (parts[0] == "close")
            client.close();
        results += ok ? '1' : '0';
    }
    return results;
}

} // namespace

class TestSmtpClient : public QObject
{
    Q_OBJECT

private slots:
    // The conversation on the wire, against scripted replies.
    void conversation_data()
    {
        QTest::addColumn<QByteArrayList>("replies");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QByteArrayList>("steps");
        QTest::addColumn<QByteArray>("results");
        QTest::addColumn<QByteArrayList>("commands"); // %H: the EHLO/HELO name; " | " joins
                                                      // the commands that came in one write

        const QByteArrayList mailRcpt {"open", "mail:a@b.cz:1234", "rcpt:c@d.cz"};

        QTest::newRow("EHLO refused: HELO, no SIZE, no AUTH")
            << QByteArrayList {"EHLO=502 no", "HELO=250 ok"} << q("u") << q("p") << mailRcpt
            << QByteArray("111")
            << QByteArrayList {"EHLO %H", "HELO %H", "MAIL FROM:<a@b.cz>", "RCPT TO:<c@d.cz>"};
        QTest::newRow("EHLO and HELO refused: opening fails")
            << QByteArrayList {"EHLO=502 no", "HELO=501 no"} << q("") << q("")
            << QByteArrayList {"open"} << QByteArray("0") << QByteArrayList {"EHLO %H", "HELO %H"};
        QTest::newRow("greeting not 220")
            << QByteArrayList {"GREETING=554 go away"} << q("") << q("") << QByteArrayList {"open"}
            << QByteArray("0") << QByteArrayList {};
        QTest::newRow("multi-line greeting and EHLO, SIZE announced")
            << QByteArrayList {"GREETING=220-one\r\n220-two\r\n220 three",
                   "EHLO=250-fake\r\n250-PIPELINING\r\n250 SIZE 1000000"}
            << q("") << q("") << mailRcpt << QByteArray("111")
            << QByteArrayList {"EHLO %H", "MAIL FROM:<a@b.cz> SIZE=1234", "RCPT TO:<c@d.cz>"};
        QTest::newRow("no SIZE for size 0")
            << QByteArrayList {"EHLO=250-fake\r\n250 SIZE"} << q("") << q("")
            << QByteArrayList {"open", "mail:a@b.cz:0"} << QByteArray("11")
            << QByteArrayList {"EHLO %H", "MAIL FROM:<a@b.cz>"};
        QTest::newRow("no AUTH with empty credentials")
            << QByteArrayList {"EHLO=250-fake\r\n250 AUTH LOGIN CRAM-MD5"} << q("") << q("")
            << QByteArrayList {"open"} << QByteArray("1") << QByteArrayList {"EHLO %H"};
        QTest::newRow("PLAIN only: no AUTH on a plain connection, opening succeeds")
            << QByteArrayList {"EHLO=250-fake\r\n250 AUTH PLAIN"} << q("u") << q("p")
            << QByteArrayList {"open"} << QByteArray("1") << QByteArrayList {"EHLO %H"};
        // RFC 2195's own example exchange.
        QTest::newRow("CRAM-MD5") << QByteArrayList {"EHLO=250-fake\r\n250 AUTH LOGIN CRAM-MD5",
            "AUTH=334 PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+", "AUTH-DATA=235 ok"}
                                  << q("tim") << q("tanstaaftanstaaf") << QByteArrayList {"open"}
                                  << QByteArray("1")
                                  << QByteArrayList {"EHLO %H", "AUTH CRAM-MD5",
                                         "dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw"};
        QTest::newRow("LOGIN") << QByteArrayList {"EHLO=250-fake\r\n250 AUTH LOGIN PLAIN",
            "AUTH=334 VXNlcm5hbWU6", "AUTH-DATA=334 UGFzc3dvcmQ6", "AUTH-DATA=235 ok"}
                               << q("jan") << q("heslo ž") << QByteArrayList {"open"}
                               << QByteArray("1")
                               << QByteArrayList {"EHLO %H", "AUTH LOGIN", "amFu", "aGVzbG8gxb4="};
        QTest::newRow("AUTH= form, first AUTH line wins")
            << QByteArrayList {"EHLO=250-fake\r\n250-AUTH=LOGIN\r\n250 auth cram-md5",
                   "AUTH=334 PDE+", "AUTH-DATA=235 ok"}
            << q("tim") << q("x") << QByteArrayList {"open"} << QByteArray("1")
            << QByteArrayList {
                   "EHLO %H", "AUTH CRAM-MD5", "dGltIDhkYmRkMTM5YWY2ZTA3ZjBkYjJkMjU2ZGIwMDYwOTM3"};
        QTest::newRow("CRAM-MD5 refused, then LOGIN")
            << QByteArrayList {"EHLO=250-fake\r\n250 AUTH CRAM-MD5 LOGIN", "AUTH=334 PDE+",
                   "AUTH-DATA=535 no", "AUTH=334 VXNlcm5hbWU6", "AUTH-DATA=334 UGFzc3dvcmQ6",
                   "AUTH-DATA=235 ok"}
            << q("tim") << q("x") << QByteArrayList {"open"} << QByteArray("1")
            << QByteArrayList {"EHLO %H", "AUTH CRAM-MD5",
                   "dGltIDhkYmRkMTM5YWY2ZTA3ZjBkYjJkMjU2ZGIwMDYwOTM3", "AUTH LOGIN", "dGlt",
                   "eA=="};
        QTest::newRow("refused log-in fails the opening")
            << QByteArrayList {"EHLO=250-fake\r\n250 AUTH LOGIN", "AUTH=535 no"} << q("u") << q("")
            << QByteArrayList {"open", "mail:a@b.cz:5"} << QByteArray("00")
            << QByteArrayList {"EHLO %H", "AUTH LOGIN"};
        QTest::newRow("RCPT 251 is a refusal")
            << QByteArrayList {"RCPT=251 will forward"} << q("") << q("") << mailRcpt
            << QByteArray("110")
            << QByteArrayList {"EHLO %H", "MAIL FROM:<a@b.cz>", "RCPT TO:<c@d.cz>"};
        QTest::newRow("MAIL refused")
            << QByteArrayList {"MAIL=550 no"} << q("") << q("")
            << QByteArrayList {"open", "mail:a@b.cz:5"} << QByteArray("10")
            << QByteArrayList {"EHLO %H", "MAIL FROM:<a@b.cz>"};
        QTest::newRow("DATA refused: no lines sent")
            << QByteArrayList {"DATA=554 no"} << q("") << q("")
            << QByteArrayList {"open", "mail:a@b.cz:5", "rcpt:c@d.cz", "data", "close"}
            << QByteArray("11101")
            << QByteArrayList {"EHLO %H", "MAIL FROM:<a@b.cz>", "RCPT TO:<c@d.cz>", "DATA", "QUIT"};
        QTest::newRow("data end refused")
            << QByteArrayList {".=552 too big"} << q("") << q("")
            << QByteArrayList {"open", "mail:a@b.cz:5", "data"} << QByteArray("110")
            << QByteArrayList {"EHLO %H", "MAIL FROM:<a@b.cz>", "DATA"};
        QTest::newRow("QUIT reply other than 221 still closes")
            << QByteArrayList {"QUIT=500 what"} << q("") << q("")
            << QByteArrayList {"open", "close"} << QByteArray("11")
            << QByteArrayList {"EHLO %H", "QUIT"};
        QTest::newRow("refused address with CR LF sends nothing")
            << QByteArrayList {} << q("") << q("")
            << QByteArrayList {"open", "mail:a@b.cz\r\nRSET:1", "mail:a\nb:0", "rcpt:x\ry",
                   QByteArray("rcpt:x\0y", 8), "rcpt:ok@b.cz"}
            << QByteArray("100001") << QByteArrayList {"EHLO %H", "RCPT TO:<ok@b.cz>"};

        // RFC 2920: MAIL, the RCPTs and DATA in one write, every reply matched in order.
        const QByteArray pipe = "EHLO=250-fake\r\n250-SIZE\r\n250 PIPELINING";
        const QByteArray group = "MAIL FROM:<a@b.cz> SIZE=99 | RCPT TO:<c@d.cz> | "
                                 "RCPT TO:<e@f.cz> | DATA";
        QTest::newRow("pipelined: one write; a refused address and an unsafe one left out")
            << QByteArrayList {pipe, "RCPT=550 no"} << q("") << q("")
            << QByteArrayList {"open", "txn:a@b.cz:99:c@d.cz,x\ry,e@f.cz", "body", "close"}
            << QByteArray("11[250 550 0 250 354]11") << QByteArrayList {"EHLO %H", group, "QUIT"};
        QTest::newRow("pipelined: sender refused, the session goes on")
            << QByteArrayList {pipe, "MAIL=550 no", "RCPT=503 first MAIL", "RCPT=503 first MAIL",
                   "DATA=503 no valid recipients"}
            << q("") << q("")
            << QByteArrayList {"open", "txn:a@b.cz:99:c@d.cz,e@f.cz", "mail:a@b.cz:0"}
            << QByteArray("10[550 503 503 503]1")
            << QByteArrayList {"EHLO %H", group, "MAIL FROM:<a@b.cz>"};
        QTest::newRow("pipelined: every address refused")
            << QByteArrayList {pipe, "RCPT=550 no", "RCPT=551 no", "DATA=554 no valid recipients"}
            << q("") << q("") << QByteArrayList {"open", "txn:a@b.cz:99:c@d.cz,e@f.cz"}
            << QByteArray("10[250 550 551 554]") << QByteArrayList {"EHLO %H", group};
        // The server should have refused DATA; a lone "." ends it, no message goes, and the
        // next command is read as one.
        QTest::newRow("pipelined: DATA 354 with every address refused")
            << QByteArrayList {pipe, "RCPT=550 no", "RCPT=550 no", ".=554 no recipients"} << q("")
            << q("") << QByteArrayList {"open", "txn:a@b.cz:99:c@d.cz,e@f.cz", "mail:a@b.cz:0"}
            << QByteArray("10[250 550 550 354]1")
            << QByteArrayList {"EHLO %H", group, "MAIL FROM:<a@b.cz>"};
        QTest::newRow("pipelined: DATA refused")
            << QByteArrayList {pipe, "DATA=451 try later"} << q("") << q("")
            << QByteArrayList {"open", "txn:a@b.cz:99:c@d.cz,e@f.cz"}
            << QByteArray("10[250 250 250 451]") << QByteArrayList {"EHLO %H", group};
        QTest::newRow("pipelined: data end refused")
            << QByteArrayList {pipe, ".=552 too big"} << q("") << q("")
            << QByteArrayList {"open", "txn:a@b.cz:99:c@d.cz,e@f.cz", "body"}
            << QByteArray("11[250 250 250 354]0") << QByteArrayList {"EHLO %H", group};
        QTest::newRow("pipelined with SMTPUTF8; nothing sent where it is not offered")
            << QByteArrayList {"EHLO=250-fake\r\n250-SMTPUTF8\r\n250 PIPELINING",
                   "EHLO=250-fake\r\n250 PIPELINING"}
            << q("") << q("")
            << QByteArrayList {"open", "txn8:ž@b.cz:0:c@d.cz", "body", "close", "open",
                   "txn8:ž@b.cz:0:c@d.cz"}
            << QByteArray("11[250 250 354]1110[0 0 0]")
            << QByteArrayList {"EHLO %H", "MAIL FROM:<ž@b.cz> SMTPUTF8 | RCPT TO:<c@d.cz> | DATA",
                   "QUIT", "EHLO %H"};
        QTest::newRow("no PIPELINING offered: one command at a time")
            << QByteArrayList {"RCPT=550 no"} << q("") << q("")
            << QByteArrayList {"open", "txn:a@b.cz:99:c@d.cz,e@f.cz", "body"}
            << QByteArray("11[250 550 250 354]1")
            << QByteArrayList {
                   "EHLO %H", "MAIL FROM:<a@b.cz>", "RCPT TO:<c@d.cz>", "RCPT TO:<e@f.cz>", "DATA"};
    }
    void conversation()
    {
        QFETCH(QByteArrayList, replies);
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QByteArrayList, steps);
        QFETCH(QByteArray, results);
        QFETCH(QByteArrayList, commands);

        for (bool byteByByte : {false, true}) {
            FakeSmtpServer server;
            server.setByteByByte(byteByByte);
            script(server, replies);
            SmtpClient client(profileFor(server.host(), server.portText(), user, password));
            QCOMPARE(run(client, steps), results);
            for (QByteArray &c : commands)
                c.replace("%H", client.heloName());
            QByteArrayList groups;
            for (const QByteArrayList &g : server.commandGroups())
                groups.append(g.join(" | "));
            QCOMPARE(groups, commands);
        }
    }

    void capabilitiesAndCodes()
    {
        FakeSmtpServer server;
        script(server,
            {"EHLO=250-fake.test greets\r\n250-8BITMIME\r\n250 size 100",
                "RCPT=550-first\r\n550 second"});
        SmtpClient client(profileFor(server.host(), server.portText()));
        QVERIFY(client.open());
        QVERIFY(client.isExtended());
        QVERIFY(client.sizeAnnounced());
        QCOMPARE(client.capabilities(), (QByteArrayList {"8BITMIME", "size 100"}));
        QVERIFY(!client.rcptTo(q("x@y.cz")));
        QCOMPARE(client.lastReplyCode(), 550);
        QCOMPARE(client.lastReply(), (QByteArrayList {"550-first", "550 second"}));
    }

    // What the DATA stage puts on the wire for given message lines.
    void dotStuffing_data()
    {
        QTest::addColumn<QByteArrayList>("lines");
        QTest::addColumn<QByteArray>("wire");

        QTest::newRow("plain") << QByteArrayList {"a", "", "b"} << QByteArray("a\r\n\r\nb\r\n");
        QTest::newRow("leading dot doubled")
            << QByteArrayList {".x", "..y", "a.b"} << QByteArray("..x\r\n...y\r\na.b\r\n");
        QTest::newRow("single dot line goes as two dots")
            << QByteArrayList {"a", ".", "b"} << QByteArray("a\r\n..\r\nb\r\n");
        QTest::newRow("no lines") << QByteArrayList {} << QByteArray("");
        QTest::newRow("embedded line ends cannot end DATA early")
            << QByteArrayList {"a\r\n.\r\nMAIL FROM:<x@y>", "b\n.c", "d\r.e"}
            << QByteArray("a\r\n..\r\nMAIL FROM:<x@y>\r\nb\r\n..c\r\nd\r\n..e\r\n");
        QTest::newRow("8-bit bytes pass")
            << QByteArrayList {"\xC5\xBE\x9A\xFF"} << QByteArray("\xC5\xBE\x9A\xFF\r\n");
    }
    void dotStuffing()
    {
        QFETCH(QByteArrayList, lines);
        QFETCH(QByteArray, wire);
        FakeSmtpServer server;
        SmtpClient client(profileFor(server.host(), server.portText()));
        QCOMPARE(run(client, {"open", "mail:a@b.cz:1", "rcpt:c@d.cz", "data"}, lines),
            QByteArray("1111"));
        QCOMPARE(server.messages(), QByteArrayList {wire});
    }

    // A server that misbehaves at some step: the operation fails with an "Error: " line and
    // reply code 0, and nothing hangs.
    void badServer_data()
    {
        QTest::addColumn<QByteArray>("verb");
        QTest::addColumn<int>("fault");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QByteArrayList>("steps");
        QTest::addColumn<QByteArray>("results");
        QTest::addColumn<QString>("error");

        using F = FakeSmtpServer::Fault;
        const QByteArrayList all {"open", "mail:a@b.cz:1", "rcpt:c@d.cz", "data"};
        QTest::newRow("silent greeting")
            << QByteArray("GREETING") << int(F::Silent) << QByteArray() << QByteArrayList {"open"}
            << QByteArray("0") << q("Error: 110,");
        QTest::newRow("dropped at EHLO")
            << QByteArray("EHLO") << int(F::Drop) << QByteArray() << QByteArrayList {"open"}
            << QByteArray("0") << q("Error: 104,");
        QTest::newRow("closed mid-reply")
            << QByteArray("EHLO") << int(F::ReplyThenDrop) << QByteArray("250-fake\r\n250-SIZE")
            << QByteArrayList {"open"} << QByteArray("0") << q("Error: 104,");
        QTest::newRow("reply line over 64 KiB")
            << QByteArray("GREETING") << int(F::None)
            << QByteArray("220 " + QByteArray(200 * 1024, 'x')) << QByteArrayList {"open"}
            << QByteArray("0") << q("Error: 90,");
        QTest::newRow("endless multi-line reply")
            << QByteArray("EHLO") << int(F::None) << QByteArray("250-x\r\n").repeated(5000)
            << QByteArrayList {"open"} << QByteArray("0") << q("Error: 90,");
        QTest::newRow("garbage instead of a code")
            << QByteArray("GREETING") << int(F::None) << QByteArray("hello there")
            << QByteArrayList {"open"} << QByteArray("0") << q("Error: 71,");
        QTest::newRow("silent after the data") << QByteArray(".") << int(F::Silent) << QByteArray()
                                               << all << QByteArray("1110") << q("Error: 110,");
        QTest::newRow("dropped at RCPT") << QByteArray("RCPT") << int(F::Drop) << QByteArray()
                                         << all << QByteArray("1100") << q("Error: 104,");
        const QByteArrayList pipelined {"open", "txn:a@b.cz:1:c@d.cz,e@f.cz"};
        QTest::newRow("pipelined, dropped at the first RCPT")
            << QByteArray("RCPT") << int(F::Drop) << QByteArray() << pipelined
            << QByteArray("10[250 0 0 0]") << q("Error: 104,");
        QTest::newRow("pipelined, 421 to MAIL")
            << QByteArray("MAIL") << int(F::Closing) << QByteArray() << pipelined
            << QByteArray("10[421 0 0 0]") << q("Error: 104,");
    }
    void badServer()
    {
        QFETCH(QByteArray, verb);
        QFETCH(int, fault);
        QFETCH(QByteArray, reply);
        QFETCH(QByteArrayList, steps);
        QFETCH(QByteArray, results);
        QFETCH(QString, error);

        FakeSmtpServer server;
        server.setReply("EHLO", "250-fake\r\n250 PIPELINING");
        server.setFault(verb, FakeSmtpServer::Fault(fault));
        if (!reply.isEmpty())
            server.queueReply(verb, reply);
        SmtpClient client(profileFor(server.host(), server.portText()));
        QSignalSpy status(&client, &SmtpClient::statusLine);
        QCOMPARE(run(client, steps), results);
        QCOMPARE(client.lastReplyCode(), 0);
        QStringList lines;
        for (const QList<QVariant> &args : std::as_const(status))
            lines.append(args.at(0).toString());
        QVERIFY2(lines.filter(QStringLiteral("Error: ")).value(0).startsWith(error),
            qPrintable(lines.join(QLatin1Char('|'))));
        // The broken connection is not reused: the next command fails without waiting.
        QVERIFY(!client.rcptTo(q("x@y.cz")));
    }

    // The server has taken the message once it answered the "." with 250, however long the
    // rest of its reply; only the connection goes, as that rest cannot be read in step.
    void longFinalReply_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("too many lines")
            << QByteArray("250-queued\r\n" + QByteArray("250-x\r\n").repeated(1100) + "250 ok");
        QTest::newRow("a line too long")
            << QByteArray("250-queued\r\n250-" + QByteArray(100 * 1024, 'x') + "\r\n250 ok");
    }
    void longFinalReply()
    {
        QFETCH(QByteArray, reply);
        FakeSmtpServer server;
        server.queueReply(".", reply);
        SmtpClient client(profileFor(server.host(), server.portText()));
        QCOMPARE(run(client, {"open", "mail:a@b.cz:1", "rcpt:c@d.cz", "data"}), QByteArray("1111"));
        QCOMPARE(client.lastReplyCode(), 250);
        QVERIFY(!client.isOpen());
    }

    // The exact status lines of whole openings.
    void statusLines_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("port"); // %P: a closed port
        QTest::addColumn<QStringList>("lines");

        QTest::newRow("closed port")
            << q("127.0.0.1") << q("%P")
            << QStringList {q("Socked close: "), q("Resolving begin: 127.0.0.1:%P"),
                   q("Resolving end: 127.0.0.1:%P"), q("Socked create: IPv4"),
                   q("Error: 111,Connection refused"), q("Connect: 127.0.0.1:%P"),
                   q("Socked close: ")};
        QTest::newRow("unknown service name")
            << q("127.0.0.1") << q("no-such-service")
            << QStringList {q("Socked close: "), q("Resolving begin: 127.0.0.1:no-such-service"),
                   q("Resolving end: 127.0.0.1:no-such-service"),
                   q("Error: 22,Invalid port \"no-such-service\""),
                   q("Connect: 127.0.0.1:no-such-service"), q("Socked close: ")};
        QTest::newRow("empty server")
            << q("") << q("25")
            << QStringList {q("Socked close: "), q("Resolving begin: :25"), q("Resolving end: :25"),
                   q("Error: 1002,*"), q("Connect: :25"), q("Socked close: ")};
    }
    void statusLines()
    {
        QFETCH(QString, host);
        QFETCH(QString, port);
        QFETCH(QStringList, lines);
        const QString closed = QString::number(kolporta::test::freeLoopbackPort());
        port.replace(q("%P"), closed);
        for (QString &line : lines)
            line.replace(q("%P"), closed);

        SmtpClient client(profileFor(host, port));
        QSignalSpy status(&client, &SmtpClient::statusLine);
        QVERIFY(!client.open());
        QCOMPARE(client.lastReplyCode(), 0);
        client.close();
        QStringList got;
        for (const QList<QVariant> &args : std::as_const(status))
            got.append(args.at(0).toString());
        QCOMPARE(got.size(), lines.size());
        for (int i = 0; i < lines.size(); ++i) {
            if (lines[i].endsWith(QLatin1Char('*')))
                QVERIFY2(got[i].startsWith(lines[i].chopped(1)), qPrintable(got[i]));
            else
                QCOMPARE(got[i], lines[i]);
        }
    }

    void sessionStatusLinesAndReopen()
    {
        FakeSmtpServer server;
        SmtpClient client(profileFor(server.host(), server.portText()));
        QSignalSpy status(&client, &SmtpClient::statusLine);
        QVERIFY(client.open());
        QVERIFY(client.mailFrom(q("a@b.cz"), 10));
        // Reopening is Close and Open on the same client.
        client.close();
        QVERIFY(client.open());
        QVERIFY(client.mailFrom(q("a@b.cz"), 10));
        client.close();
        QCOMPARE(server.connectionCount(), 2);
        const QString ep = server.host() + QLatin1Char(':') + server.portText();
        const QStringList once {q("Socked close: "), q("Resolving begin: ") + ep,
            q("Resolving end: ") + ep, q("Socked create: IPv4"), q("Connect: ") + ep};
        QStringList got;
        for (const QList<QVariant> &args : std::as_const(status))
            got.append(args.at(0).toString());
        QCOMPARE(got,
            once + QStringList {q("Socked close: ")} + once + QStringList {q("Socked close: ")});
    }

    // A real server with AUTH LOGIN required.
    void aiosmtpdWithLogin_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("delivered");
        QTest::newRow("right password") << q("tajné heslo") << true;
        QTest::newRow("wrong password: the opening fails") << q("nope") << false;
    }
    void aiosmtpdWithLogin()
    {
        QFETCH(QString, password);
        QFETCH(bool, delivered);
        AiosmtpdServer::Options options;
        options.user = q("jan");
        options.password = q("tajné heslo");
        options.mechanisms = QStringList {q("LOGIN")};
        AiosmtpdServer server(options);
        QString error;
        QVERIFY2(server.start(&error), qPrintable(error));

        SmtpProfile profile = profileFor(server.host(), server.portText(), q("jan"), password);
        // The server, in Python, takes many seconds for the big message on a busy machine.
        profile.timeoutSeconds = 60;
        SmtpClient client(profile);
        QCOMPARE(client.open(), delivered);
        if (!delivered) {
            QVERIFY(client.loginFailed());
            QCOMPARE(client.lastError(), q("535 5.7.8 Authentication credentials invalid"));
            return;
        }
        QVERIFY(client.isAuthenticated());

        // Two messages in one session, the second one big enough to need many writes.
        const QByteArrayList small {"Subject: one", "", ".leading dot", ".", "end"};
        QByteArrayList big {"Subject: two", ""};
        for (int i = 0; i < 60000; ++i)
            big.append(QByteArray::number(i).repeated(20));
        for (const QByteArrayList *lines : {&small, const_cast<const QByteArrayList *>(&big)}) {
            QVERIFY(client.mailFrom(q("from@test.cz"), 100));
            QVERIFY(client.rcptTo(q("a@test.cz")));
            QVERIFY(client.rcptTo(q("b@test.cz")));
            QString raised;
            QVERIFY2(client.sendData(*lines, &raised), qPrintable(client.lastError()));
            QVERIFY(raised.isEmpty());
        }
        client.close();
        QVERIFY(server.waitForMessages(2));
        const QList<AiosmtpdServer::Message> got = server.messages();
        QCOMPARE(got.size(), 2);
        QCOMPARE(got[0].mailFrom, q("from@test.cz"));
        QCOMPARE(got[0].mailOptions, QStringList {q("SIZE=100")});
        QCOMPARE(got[0].rcptTo, (QStringList {q("a@test.cz"), q("b@test.cz")}));
        QCOMPARE(got[0].authUser, q("jan"));
        QCOMPARE(got[0].data, small.join("\r\n") + "\r\n");
        QCOMPARE(got[1].data, big.join("\r\n") + "\r\n");
    }
};

QTEST_GUILESS_MAIN(TestSmtpClient)
#include "tst_SmtpClient.moc"
