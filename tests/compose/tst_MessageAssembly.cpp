#include "compose/Charsets.h"
#include "compose/MessageAssembly.h"

#include "TestSupport.h"

#include <QTest>

using namespace kolporta::compose;

class TestMessageAssembly : public QObject
{
    Q_OBJECT

private slots:
    void addressOfLine_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("address");
        QTest::newRow("name and address")
            << QStringLiteral("Jan Novák <jan@firma.cz>") << QStringLiteral("jan@firma.cz");
        QTest::newRow("bare") << QStringLiteral("  jan@firma.cz\t")
                              << QStringLiteral("jan@firma.cz");
        QTest::newRow("no closing bracket")
            << QStringLiteral("Jan < jan@firma.cz ") << QStringLiteral("jan@firma.cz");
        QTest::newRow("closing bracket only")
            << QStringLiteral("jan@firma.cz> x") << QStringLiteral("jan@firma.cz");
        QTest::newRow("first bracket wins")
            << QStringLiteral("<a@b.cz> <c@d.cz>") << QStringLiteral("a@b.cz");
        QTest::newRow("empty brackets") << QStringLiteral("Jan <>") << QString();
        QTest::newRow("starred line kept as text")
            << QStringLiteral("*Jan <a@b.cz>") << QStringLiteral("a@b.cz");
        QTest::newRow("line end inside cannot start a command")
            << QStringLiteral("a@b.cz\r\nDATA") << QStringLiteral("a@b.cz  DATA");
    }
    void addressOfLine()
    {
        QFETCH(QString, line);
        QFETCH(QString, address);
        QCOMPARE(AddressOfLine(line), address);
    }

    void isBlankLine_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("blank");
        QTest::newRow("empty") << QString() << true;
        QTest::newRow("controls and blanks") << QStringLiteral(" \t\x01\x1F ") << true;
        QTest::newRow("no-break space is not blank") << QStringLiteral(u"\u00A0") << false;
        QTest::newRow("star") << QStringLiteral("  *") << false;
    }
    void isBlankLine()
    {
        QFETCH(QString, line);
        QFETCH(bool, blank);
        QCOMPARE(IsBlankLine(line), blank);
    }

    void applyMacros_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("toText");
        QTest::addColumn<QString>("expected");
        const QString from = QStringLiteral("Petr <p@x.cz>");
        const QString subject = QStringLiteral("Sleva %SUBJECT%");
        QTest::newRow("all three")
            << QStringLiteral("%TO%|%FROM%|%SUBJECT%") << QStringLiteral(" Jan <j@x.cz> ")
            << QStringLiteral(" Jan <j@x.cz> |Petr <p@x.cz>|Sleva %SUBJECT%");
        QTest::newRow("batch mode drops %TO%")
            << QStringLiteral("a%TO%b") << QString() << QStringLiteral("ab");
        QTest::newRow("lower case is no macro")
            << QStringLiteral("%to% %From% %subject%") << QStringLiteral("x")
            << QStringLiteral("%to% %From% %subject%");
        QTest::newRow("later macro fills earlier value") << QStringLiteral(
            "%TO%") << QStringLiteral("od %FROM%") << QStringLiteral("od Petr <p@x.cz>");
        QTest::newRow("no html escaping")
            << QStringLiteral("<p>%TO%</p>") << QStringLiteral("<a&b>")
            << QStringLiteral("<p><a&b></p>");
        QTest::newRow("every occurrence")
            << QStringLiteral("%TO%%TO%") << QStringLiteral("x") << QStringLiteral("xx");
    }
    void applyMacros()
    {
        QFETCH(QString, body);
        QFETCH(QString, toText);
        QFETCH(QString, expected);
        QCOMPARE(ApplyMacros(body, toText, QStringLiteral("Petr <p@x.cz>"),
                     QStringLiteral("Sleva %SUBJECT%")),
            expected);
    }

    void pictureReferences_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("expected");
        QTest::newRow("folder dropped") << QStringLiteral("<img src=\"img/photo.gif\">")
                                        << QStringLiteral("<img src=\"cid:photo.gif\">");
        QTest::newRow("windows path") << QStringLiteral("<img src=\"C:\\Obr\\a-1_%20.jpeg\">")
                                      << QStringLiteral("<img src=\"cid:a-1_%20.jpeg\">");
        QTest::newRow("referenced twice")
            << QStringLiteral("<img src='a/x.png'><img src='b/x.png'>")
            << QStringLiteral("<img src='cid:x.png'><img src='cid:x.png'>");
        QTest::newRow("every extension")
            << QStringLiteral("'a.gif' 'b.png' 'c.bmp' 'd.jpg' 'e.jpeg'")
            << QStringLiteral("'cid:a.gif' 'cid:b.png' 'cid:c.bmp' 'cid:d.jpg' 'cid:e.jpeg'");
        QTest::newRow("capital extension not recognised")
            << QStringLiteral("<img src=\"a/B.GIF\">") << QStringLiteral("<img src=\"a/B.GIF\">");
        QTest::newRow("http first stops everything")
            << QStringLiteral("<img src=\"http://x.cz/a.gif\"><img src=\"b.gif\">")
            << QStringLiteral("<img src=\"http://x.cz/a.gif\"><img src=\"b.gif\">");
        QTest::newRow("HTTP in capitals stops too")
            << QStringLiteral(
                   "<img src=\"a.gif\"><img src=\"HTTPS://x.cz/b.gif\"><img src=\"c.gif\">")
            << QStringLiteral(
                   "<img src=\"cid:a.gif\"><img src=\"HTTPS://x.cz/b.gif\"><img src=\"c.gif\">");
        // The reference starts after the last non-ASCII letter; the name is its first match.
        QTest::newRow("non-ASCII letter in path")
            << QStringLiteral(u"<img src=\"C:\\Obrázky\\foto.jpg\">")
            << QStringLiteral(u"<img src=\"C:\\Obrácid:foto.jpg\">");
        QTest::newRow("white space is part of a reference") << QStringLiteral(
            "<img src=\"my photo.gif\">") << QStringLiteral("<img src=\"cid:my photo.gif\">");
        QTest::newRow("white space set is exact") << QStringLiteral(
            u"<img src=\"a\u00A0b.gif\">") << QStringLiteral(u"<img src=\"a\u00A0cid:b.gif\">");
        QTest::newRow("name pattern without a match")
            << QStringLiteral("<img src=\"/.gif\">") << QStringLiteral("<img src=\"/.gif\">");
        QTest::newRow("extension is not a word end")
            << QStringLiteral("x/a.gifts") << QStringLiteral("cid:a.gifts");
        QTest::newRow("no reference")
            << QStringLiteral("<p>Ahoj</p>") << QStringLiteral("<p>Ahoj</p>");
        QTest::newRow("empty") << QString() << QString();
    }
    void pictureReferences()
    {
        QFETCH(QString, body);
        QFETCH(QString, expected);
        QCOMPARE(PrepareHtmlBody(body, false), expected);
    }

    // On the mail-program route the text, written in ISO-8859-2, must give the bytes the
    // Windows program produced: its Windows-1250 bytes after the conversion table.
    void mailProgramRoute_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QByteArray>("charset");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("declaration and letters")
            << QStringLiteral(u"<meta content=\"text/html; CHARSET=Windows-1250\">šťžŠŤŽ")
            << QByteArray("iso-8859-2")
            << QByteArray(
                   "<meta content=\"text/html; charset=iso-8859-2\">\xB9\xBB\xBE\xA9\xAB\xAE");
        QTest::newRow("spaced declaration stays")
            << QStringLiteral("charset = windows-1250|charset= windows-1250")
            << QByteArray("iso-8859-2")
            << QByteArray("charset = windows-1250|charset= windows-1250");
        QTest::newRow("no-break space becomes a space")
            << QStringLiteral(u"a\u00A0bč") << QByteArray("iso-8859-2") << QByteArray("a b\xE8");
        // The table keeps these bytes, which mean control codes or other letters in
        // ISO-8859-2: "„" would arrive as U+0084 and "©" as "Š".
        QTest::newRow("typographic punctuation: Unicode, declared utf-8")
            << QStringLiteral(u"<meta charset=windows-1250>a\u00A0„č“–©") << QByteArray("utf-8")
            << QByteArray("<meta charset=utf-8>a\xC2\xA0\xE2\x80\x9E\xC4\x8D\xE2\x80\x9C"
                          "\xE2\x80\x93\xC2\xA9");
        QTest::newRow("outside Windows-1250: Unicode, declared utf-8")
            << QStringLiteral(u"<meta charset=windows-1250>Ωř") << QByteArray("utf-8")
            << QByteArray("<meta charset=utf-8>\xCE\xA9\xC5\x99");
        QTest::newRow("pictures still rewritten")
            << QStringLiteral(u"<img src=\"č/a.gif\">") << QByteArray("iso-8859-2")
            << QByteArray("<img src=\"\xE8"
                          "cid:a.gif\">");
    }
    void mailProgramRoute()
    {
        QFETCH(QString, body);
        QFETCH(QByteArray, charset);
        QFETCH(QByteArray, bytes);
        QCOMPARE(EncodeInCharset(PrepareHtmlBody(body, true), charset), bytes);
    }

    void smtpRouteKeepsText()
    {
        const QString body = QStringLiteral(u"<meta charset=WINDOWS-1250>š€");
        QCOMPARE(PrepareHtmlBody(body, false), body);
    }

    void mailboxParts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("address");
        QTest::newRow("name before bracket")
            << QStringLiteral(" Jan Novák <j@x.cz>") << QStringLiteral(u"Jan Novák")
            << QStringLiteral("j@x.cz");
        QTest::newRow("quoted name") << QStringLiteral("\"Novák, Jan\" <j@x.cz>")
                                     << QStringLiteral(u"Novák, Jan") << QStringLiteral("j@x.cz");
        QTest::newRow("parenthesised name")
            << QStringLiteral("j@x.cz (Jan)") << QStringLiteral("Jan") << QStringLiteral("j@x.cz");
        QTest::newRow("bare") << QStringLiteral("j@x.cz") << QString() << QStringLiteral("j@x.cz");
        QTest::newRow("brackets only")
            << QStringLiteral("<j@x.cz>") << QString() << QStringLiteral("j@x.cz");
    }
    void mailboxParts()
    {
        QFETCH(QString, text);
        QFETCH(QString, name);
        QFETCH(QString, address);
        QCOMPARE(DisplayNameOfLine(text), name);
        QCOMPARE(MailboxAddressOfLine(text), address);
    }
};

QTEST_GUILESS_MAIN(TestMessageAssembly)
#include "tst_MessageAssembly.moc"
