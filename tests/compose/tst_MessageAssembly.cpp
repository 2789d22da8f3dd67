#include "compose/Charsets.h"
#include "compose/HtmlBody.h"
#include "compose/MessageAssembly.h"

#include "TestSupport.h"

#include <QRegularExpression>
#include <QTest>

using namespace kolporta::compose;

class TestMessageAssembly : public QObject
{
    Q_OBJECT

private slots:
    // The address of a line, and the form it travels in without SMTPUTF8.
    void addressOfLine_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("transport"); // "" when it needs SMTPUTF8
        QTest::newRow("name and address")
            << QStringLiteral("Jan Novák <jan@firma.cz>") << QStringLiteral("jan@firma.cz")
            << QStringLiteral("jan@firma.cz");
        QTest::newRow("bare") << QStringLiteral("  jan@firma.cz\t")
                              << QStringLiteral("jan@firma.cz") << QStringLiteral("jan@firma.cz");
        QTest::newRow("no closing bracket")
            << QStringLiteral("Jan < jan@firma.cz ") << QStringLiteral("jan@firma.cz")
            << QStringLiteral("jan@firma.cz");
        QTest::newRow("closing bracket only")
            << QStringLiteral("jan@firma.cz> x") << QStringLiteral("jan@firma.cz")
            << QStringLiteral("jan@firma.cz");
        QTest::newRow("first bracket wins") << QStringLiteral("<a@b.cz> <c@d.cz>")
                                            << QStringLiteral("a@b.cz") << QStringLiteral("a@b.cz");
        QTest::newRow("empty brackets") << QStringLiteral("Jan <>") << QString() << QString();
        QTest::newRow("starred line kept as text")
            << QStringLiteral("*Jan <a@b.cz>") << QStringLiteral("a@b.cz")
            << QStringLiteral("a@b.cz");
        QTest::newRow("line end inside cannot start a command") << QStringLiteral(
            "a@b.cz\r\nDATA\r") << QStringLiteral("a@b.cz DATA") << QStringLiteral("a@b.cz DATA");
        QTest::newRow("trailing comment is the name")
            << QStringLiteral(u"marie@example.cz (Marie Dvořáková) ")
            << QStringLiteral("marie@example.cz") << QStringLiteral("marie@example.cz");
        QTest::newRow("leading and nested comments")
            << QStringLiteral("(M) m@x.cz (a (b))") << QStringLiteral("m@x.cz")
            << QStringLiteral("m@x.cz");
        QTest::newRow("unclosed comment") << QStringLiteral("m@x.cz (Marie")
                                          << QStringLiteral("m@x.cz") << QStringLiteral("m@x.cz");
        QTest::newRow("comment inside brackets stays")
            << QStringLiteral("M <m@x.cz (a)>") << QStringLiteral("m@x.cz (a)")
            << QStringLiteral("m@x.cz (a)");
        QTest::newRow("nothing but a comment stays")
            << QStringLiteral("(poznámka)") << QStringLiteral(u"(poznámka)") << QString();
        QTest::newRow("non-ASCII domain: IDNA")
            << QStringLiteral(u"Jan <jan@příklad.cz>") << QStringLiteral(u"jan@příklad.cz")
            << QStringLiteral("jan@xn--pklad-zsa96e.cz");
        QTest::newRow("non-ASCII local part: SMTPUTF8 only")
            << QStringLiteral(u"jiří@example.cz") << QStringLiteral(u"jiří@example.cz")
            << QString();
    }
    void addressOfLine()
    {
        QFETCH(QString, line);
        QFETCH(QString, address);
        QFETCH(QString, transport);
        QCOMPARE(AddressOfLine(line), address);
        QCOMPARE(NeedsSmtpUtf8(address), transport.isEmpty() && !address.isEmpty());
        if (!transport.isEmpty())
            QCOMPARE(TransportAddress(address, false), transport);
        QCOMPARE(TransportAddress(address, true), address);
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
        QTest::addColumn<bool>("html");
        QTest::addColumn<QString>("expected");
        QTest::newRow("all three")
            << QStringLiteral("%TO%|%FROM%|%SUBJECT%") << QStringLiteral(" Jan <j@x.cz> ") << false
            << QStringLiteral(" Jan <j@x.cz> |Petr <p@x.cz>|Sleva %SUBJECT%");
        QTest::newRow("batch mode drops %TO%")
            << QStringLiteral("a%TO%b") << QString() << false << QStringLiteral("ab");
        QTest::newRow("lower case is no macro")
            << QStringLiteral("%to% %From% %subject%") << QStringLiteral("x") << false
            << QStringLiteral("%to% %From% %subject%");
        QTest::newRow("later macro fills earlier value")
            << QStringLiteral("%TO%") << QStringLiteral("od %FROM%") << false
            << QStringLiteral("od Petr <p@x.cz>");
        QTest::newRow("plain text: no escaping")
            << QStringLiteral("<p>%TO%</p>") << QStringLiteral("<a&b>") << false
            << QStringLiteral("<p><a&b></p>");
        QTest::newRow("HTML: every value escaped")
            << QStringLiteral("<p title=\"%TO%\">%TO% %FROM% %SUBJECT%</p>")
            << QStringLiteral(u"Jana Nováková \"J\" <jana@example.cz> & co") << true
            << QStringLiteral(u"<p title=\"Jana Nováková &quot;J&quot; &lt;jana@example.cz&gt; "
                              u"&amp; co\">Jana Nováková &quot;J&quot; &lt;jana@example.cz&gt; "
                              u"&amp; co Petr &lt;p@x.cz&gt; Sleva %SUBJECT%</p>");
        QTest::newRow("every occurrence")
            << QStringLiteral("%TO%%TO%") << QStringLiteral("x") << false << QStringLiteral("xx");
    }
    void applyMacros()
    {
        QFETCH(QString, body);
        QFETCH(QString, toText);
        QFETCH(bool, html);
        QFETCH(QString, expected);
        QCOMPARE(ApplyMacros(body, toText, QStringLiteral("Petr <p@x.cz>"),
                     QStringLiteral("Sleva %SUBJECT%"), html),
            expected);
    }

    // PrepareHtmlBody on the SMTP route: only references change, each to a Content-ID that
    // needs no escaping; the listed pictures are "logo.png", "obrázek.jpg", "my banner.png".
    void pictureReferences_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("expected");
        QTest::newRow("folder dropped") << QStringLiteral("<img src=\"img/logo.png\">")
                                        << QStringLiteral("<img src=\"cid:logo.png@run.test\">");
        QTest::newRow("windows path, capital extension, listed in another case") << QStringLiteral(
            "<IMG SRC='C:\\Obr\\LOGO.PNG'>") << QStringLiteral("<IMG SRC='cid:logo.png@run.test'>");
        QTest::newRow("non-ASCII name recognised whole")
            << QStringLiteral(u"<img src=\"C:\\Obrázky\\obrázek.jpg\">")
            << QStringLiteral("<img src=\"cid:obrazek-1.jpg@run.test\">");
        QTest::newRow("blank in the name, as written and as a URL")
            << QStringLiteral("<img src=\"my banner.png\"><img src=my%20banner.png>")
            << QStringLiteral("<img src=\"cid:my_banner-2.png@run.test\">"
                              "<img src=cid:my_banner-2.png@run.test>");
        QTest::newRow("entity in the value")
            << QStringLiteral(u"<img src=\"obr&aacute;zek.jpg\">")
            << QStringLiteral("<img src=\"cid:obrazek-1.jpg@run.test\">");
        QTest::newRow("unlisted name gets an ID of its own")
            << QStringLiteral("<img src=\"x/Foto 1.GIF\">")
            << QStringLiteral("<img src=\"cid:Foto_1-3.GIF@run.test\">");
        QTest::newRow("every URL scheme stays, local ones after it change")
            << QStringLiteral("<img src=\"http://x.cz/a.gif\"><img src=\"HTTPS://x.cz/b.gif\">"
                              "<img src=\"data:image/png;base64,AA.png\"><img src=\"cid:c.png\">"
                              "<img src=\"//cdn.x.cz/d.png\"><img src=\"logo.png\">")
            << QStringLiteral("<img src=\"http://x.cz/a.gif\"><img src=\"HTTPS://x.cz/b.gif\">"
                              "<img src=\"data:image/png;base64,AA.png\"><img src=\"cid:c.png\">"
                              "<img src=\"//cdn.x.cz/d.png\"><img src=\"cid:logo.png@run.test\">");
        QTest::newRow("file URL is local") << QStringLiteral("<img src=\"file:///C:/a/logo.png\">")
                                           << QStringLiteral("<img src=\"cid:logo.png@run.test\">");
        QTest::newRow("prose, alt, title, links and comments stay")
            << QStringLiteral("<p title=\"logo.png\">Download the brochure.pdf and see chart.png "
                              "for details.</p><img alt=\"logo.png\" src=\"logo.png\">"
                              "<a href=\"logo.png\">x</a><!-- <img src=\"logo.png\"> -->")
            << QStringLiteral("<p title=\"logo.png\">Download the brochure.pdf and see chart.png "
                              "for details.</p><img alt=\"logo.png\" src=\"cid:logo.png@run.test\">"
                              "<a href=\"logo.png\">x</a><!-- <img src=\"logo.png\"> -->");
        QTest::newRow("background attribute, style attribute and style block")
            << QStringLiteral("<style>body{background:url( 'a/logo.png' )} p{x:url(b.css)}</style>"
                              "<td background=logo.png style=\"background-image: url(logo.png)\">")
            << QStringLiteral(
                   "<style>body{background:url( 'cid:logo.png@run.test' )} p{x:url(b.css)}</style>"
                   "<td background=cid:logo.png@run.test "
                   "style=\"background-image: url(cid:logo.png@run.test)\">");
        QTest::newRow("script text is no markup")
            << QStringLiteral("<script>var s = '<img src=\"logo.png\">';</script>")
            << QStringLiteral("<script>var s = '<img src=\"logo.png\">';</script>");
        QTest::newRow("not a picture") << QStringLiteral("<img src=\"x.gifts\"><img src=\".png\">")
                                       << QStringLiteral("<img src=\"x.gifts\"><img src=\".png\">");
        QTest::newRow("meta declarations say utf-8")
            << QStringLiteral("<meta http-equiv=\"Content-Type\" content=\"text/html; "
                              "charset=windows-1250\"><META CHARSET=Windows-1250>"
                              "<p>charset=windows-1250</p>")
            << QStringLiteral("<meta http-equiv=\"Content-Type\" content=\"text/html; "
                              "charset=utf-8\"><META CHARSET=utf-8><p>charset=windows-1250</p>");
        QTest::newRow("empty") << QString() << QString();
    }
    void pictureReferences()
    {
        QFETCH(QString, body);
        QFETCH(QString, expected);
        const QStringList pictures {QStringLiteral("/p/logo.png"),
            QStringLiteral(u"/p/obrázek.jpg"), QStringLiteral("/q/my banner.png")};
        const QString prepared = PrepareHtmlBody(body, false, pictures, "run.test");
        QCOMPARE(prepared, expected);
        // RFC 2392 msg-id syntax, of characters that need no escaping anywhere.
        static const QRegularExpression cid(QStringLiteral("cid:([^\"' )>]*)"));
        static const QRegularExpression safe(
            QStringLiteral("^[A-Za-z0-9_-]+(\\.[A-Za-z0-9_-]+)*@run\\.test$"));
        for (const QRegularExpressionMatch &m : cid.globalMatch(prepared))
            QVERIFY2(
                m.captured(1) == QLatin1String("c.png") || safe.match(m.captured(1)).hasMatch(),
                qPrintable(m.captured(1)));
        // The parts carry the same IDs.
        ContentIds ids(pictures, "run.test");
        QCOMPARE(
            ids.ofPicture(QStringLiteral(u"obrázek.jpg")), QByteArray("obrazek-1.jpg@run.test"));
        QCOMPARE(
            ids.ofPicture(QStringLiteral("my banner.png")), QByteArray("my_banner-2.png@run.test"));
    }

    // The plain-text alternative of an HTML body.
    void plainText_data()
    {
        QTest::addColumn<QString>("html");
        QTest::addColumn<QString>("text");
        QTest::newRow("paragraphs, headings, breaks, entities")
            << QStringLiteral(
                   "<html><head><title>T</title><style>p{}</style></head><body>"
                   "<h1>Nadpis</h1><p>Dobr&yacute; den,<br>\r\n  jak   se\r\nm&aacute;te?"
                   "</p><script>x()</script><p>A&nbsp;&amp;&lt;B&gt;</p></body></html>")
            << QStringLiteral(u"Nadpis\n\nDobrý den,\njak se máte?\n\nA &<B>\n");
        QTest::newRow("links and pictures")
            << QStringLiteral("<p><a href=\"https://x.cz/a\">Nabídka</a>, "
                              "<a href=\"https://x.cz/b\">https://x.cz/b</a>, "
                              "<a href=\"mailto:i@x.cz\">i@x.cz</a>, <a href=\"#top\">nahoru</a>, "
                              "<a href=\"https://x.cz/c\"><img src=\"cid:l@r\" alt=\"Logo\"></a>"
                              "<img src=\"cid:s@r\" alt=\"\"></p>")
            << QStringLiteral(u"Nabídka <https://x.cz/a>, https://x.cz/b, i@x.cz, nahoru, [Logo]\n"
                              u"<https://x.cz/c>\n");
        QTest::newRow("lists and tables")
            << QStringLiteral(
                   "<p>Seznam:</p><ul><li>jedna<li>dva<ol><li>a</li><li>b</li></ol>"
                   "</ul><table><tr><td>x</td><td>y</td></tr><tr><th>z</th></tr></table>")
            << QStringLiteral("Seznam:\n\n- jedna\n- dva\n  1. a\n  2. b\n\nx y\nz\n");
        QTest::newRow("wrapped at 76 columns, long words whole")
            << (QStringLiteral("<p>") + QStringLiteral("slovo ").repeated(20)
                   + QStringLiteral("https://example.com/") + QString(80, u'x')
                   + QStringLiteral("</p>") + QStringLiteral("<ul><li>")
                   + QStringLiteral("položka ").repeated(10) + QStringLiteral("</ul>"))
            << (QStringLiteral("slovo ").repeated(12).trimmed() + u'\n'
                   + QStringLiteral("slovo ").repeated(8).trimmed() + u'\n'
                   + QStringLiteral("https://example.com/") + QString(80, u'x')
                   + QStringLiteral("\n\n- ") + QStringLiteral(u"položka ").repeated(9).trimmed()
                   + QStringLiteral(u"\n  položka\n"));
        QTest::newRow("pre keeps its blanks") << QStringLiteral("<p>a</p><pre>  x  y\n\nz</pre>b")
                                              << QStringLiteral("a\n\n  x  y\n\nz\n\nb\n");
        QTest::newRow("not HTML at all")
            << QStringLiteral("jen text < 5 & > 3") << QStringLiteral("jen text < 5 & > 3\n");
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("macros everywhere")
            << QStringLiteral("<p>Dobrý den, %TO%,</p><ul><li>")
                + QStringLiteral("slovo ").repeated(9)
                + QStringLiteral("%TO% konec</ul><pre>  %FROM%  </pre><a href=\"mailto:%TO%\">"
                                 "%TO%</a><img alt=\"%FROM%\" src=\"x\">%SUBJECT%%TO%")
            << QStringLiteral(u"Dobrý den, %TO%,\n\n- ") + QStringLiteral("slovo ").repeated(9)
                + QStringLiteral("%TO% konec\n\n  %FROM%  \n\n%TO% [%FROM%]%SUBJECT%%TO%\n");
        QTest::newRow("a macro the markup takes in")
            << QStringLiteral("<p>a<%TO%>b &%FROM% <a href=\"%SUBJECT%\">%TO%</a></p>")
            << QStringLiteral("a<%TO%>b &%FROM% %TO% <%SUBJECT%>\n");
    }
    void plainText()
    {
        QFETCH(QString, html);
        QFETCH(QString, text);
        QCOMPARE(PlainTextOfHtml(html), text);
        // Read once with its macros and filled in per message, the text is the one read from
        // the filled body, whatever the values: plain ones, and ones the reader would change.
        const PlainTextTemplate once(html);
        for (const QStringList &v : {QStringList {QStringLiteral(u"Jana Nováková <jana@x.cz>"),
                                         QStringLiteral("Firma & syn"), QStringLiteral("Nabídka")},
                 QStringList {QString(), QStringLiteral(" a  b"), QStringLiteral("50 %TO%")}})
            QCOMPARE(once.text(v[0], v[1], v[2]),
                PlainTextOfHtml(ApplyMacros(html, v[0], v[1], v[2], true)));
    }

    // On the mail-program route the text, written in ISO-8859-2, must give its Windows-1250
    // bytes after the conversion table.
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
        QTest::newRow("pictures rewritten, declaration left to the conversion")
            << QStringLiteral(u"<meta charset=windows-1250><img src=\"č/a.gif\">")
            << QByteArray("iso-8859-2")
            << QByteArray("<meta charset=iso-8859-2><img src=\"cid:a.gif@run.test\">");
    }
    void mailProgramRoute()
    {
        QFETCH(QString, body);
        QFETCH(QByteArray, charset);
        QFETCH(QByteArray, bytes);
        QCOMPARE(EncodeInCharset(PrepareHtmlBody(body, true, {}, "run.test"), charset), bytes);
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
        QCOMPARE(AddressOfLine(text), address);
    }
};

QTEST_GUILESS_MAIN(TestMessageAssembly)
#include "tst_MessageAssembly.moc"
