#include "compose/Charsets.h"
#include "compose/HtmlBody.h"
#include "compose/MessageAssembly.h"
#include "compose/MimeMessage.h"
#include "project/TextFile.h"

#include "MailStructure.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

// GLib names a member "signals"; only GMime's parser is used below.
#undef signals
#include <gmime/gmime.h>

using namespace kolporta::compose;

namespace {

// A message parsed back with GMime's own parser, from the lines as they go on the wire.
struct Parsed
{
    GMimeMessage *message = nullptr;
    explicit Parsed(const QList<QByteArray> &lines)
    {
        const QByteArray wire = lines.join("\r\n") + "\r\n";
        GMimeStream *stream = g_mime_stream_mem_new_with_buffer(wire.constData(), wire.size());
        GMimeParser *parser = g_mime_parser_new_with_stream(stream);
        message = g_mime_parser_construct_message(parser, nullptr);
        g_object_unref(parser);
        g_object_unref(stream);
    }
    ~Parsed()
    {
        if (message)
            g_object_unref(message);
    }
    Parsed(const Parsed &) = delete;
    Parsed &operator=(const Parsed &) = delete;
    GMimeObject *root() const { return g_mime_message_get_mime_part(message); }
    QByteArray header(const char *name) const
    {
        return QByteArray(g_mime_object_get_header(GMIME_OBJECT(message), name));
    }
};

QByteArray typeOf(GMimeObject *object)
{
    GMimeContentType *type = g_mime_object_get_content_type(object);
    return QByteArray(g_mime_content_type_get_media_type(type)) + '/'
        + g_mime_content_type_get_media_subtype(type);
}

QString shapeOf(GMimeObject *object)
{
    if (GMIME_IS_MULTIPART(object)) {
        GMimeMultipart *multipart = GMIME_MULTIPART(object);
        QStringList children;
        for (int i = 0; i < g_mime_multipart_get_count(multipart); ++i)
            children << shapeOf(g_mime_multipart_get_part(multipart, i));
        return QString::fromLatin1(
                   g_mime_content_type_get_media_subtype(g_mime_object_get_content_type(object)))
            + u'(' + children.join(u',') + u')';
    }
    return QString::fromLatin1(typeOf(object));
}

void collectLeaves(GMimeObject *object, QList<GMimePart *> *leaves, QList<QByteArray> *boundaries)
{
    if (GMIME_IS_MULTIPART(object)) {
        GMimeMultipart *multipart = GMIME_MULTIPART(object);
        boundaries->append(g_mime_multipart_get_boundary(multipart));
        for (int i = 0; i < g_mime_multipart_get_count(multipart); ++i)
            collectLeaves(g_mime_multipart_get_part(multipart, i), leaves, boundaries);
    } else {
        leaves->append(GMIME_PART(object));
    }
}

QByteArray decodedContent(GMimePart *part)
{
    GMimeStream *stream = g_mime_stream_mem_new();
    g_mime_data_wrapper_write_to_stream(g_mime_part_get_content(part), stream);
    GByteArray *bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream));
    const QByteArray out(reinterpret_cast<const char *>(bytes->data), bytes->len);
    g_object_unref(stream);
    return out;
}

QByteArray param(GMimePart *part, const char *name)
{
    return QByteArray(g_mime_object_get_content_type_parameter(GMIME_OBJECT(part), name));
}

// The first header line that starts with the name.
QByteArray headerNamed(const QList<QByteArray> &lines, const QByteArray &name)
{
    for (const QByteArray &line : lines)
        if (line.startsWith(name + ": "))
            return line;
    return {};
}

QList<QByteArray> headerNames(const QList<QByteArray> &lines)
{
    QList<QByteArray> names;
    for (const QByteArray &line : lines) {
        if (line.isEmpty())
            break;
        if (line.front() != ' ' && line.front() != '\t')
            names << line.left(line.indexOf(':'));
    }
    return names;
}

GMimeMultipart *multipartOf(GMimeObject *object, const char *subtype)
{
    if (!GMIME_IS_MULTIPART(object))
        return nullptr;
    return qstrcmp(g_mime_content_type_get_media_subtype(g_mime_object_get_content_type(object)),
               subtype)
            == 0
        ? GMIME_MULTIPART(object)
        : nullptr;
}

// The alternative part of an HTML message: a generated plain-text part that holds the body's
// words and link targets, then the HTML, alone or first in a related part of type text/html
// in which every cid: reference of the HTML finds its picture.
void verifyAlternative(GMimeObject *root)
{
    GMimeMultipart *mixed = multipartOf(root, "mixed");
    GMimeMultipart *alternative
        = multipartOf(mixed ? g_mime_multipart_get_part(mixed, 0) : root, "alternative");
    QVERIFY(alternative);
    QCOMPARE(g_mime_multipart_get_count(alternative), 2);
    GMimePart *plain = GMIME_PART(g_mime_multipart_get_part(alternative, 0));
    const QString text = DecodeFromCharset(decodedContent(plain), param(plain, "charset"));
    for (const char *word : {"Dobrý den", "řádek 2 akce <https://x.cz/akce>"})
        QVERIFY2(text.contains(QString::fromUtf8(word)), qPrintable(text));
    GMimeObject *second = g_mime_multipart_get_part(alternative, 1);
    GMimeMultipart *related = multipartOf(second, "related");
    GMimePart *htmlPart = GMIME_PART(related ? g_mime_multipart_get_part(related, 0) : second);
    QCOMPARE(typeOf(GMIME_OBJECT(htmlPart)), QByteArray("text/html"));
    if (!related)
        return;
    QCOMPARE(QByteArray(g_mime_object_get_content_type_parameter(GMIME_OBJECT(related), "type")),
        QByteArray("text/html"));
    QSet<QByteArray> ids;
    for (int i = 1; i < g_mime_multipart_get_count(related); ++i)
        ids.insert(g_mime_object_get_content_id(g_mime_multipart_get_part(related, i)));
    static const QRegularExpression cid(QStringLiteral("cid:([^\"' )>]*)"));
    const QString html = QString::fromUtf8(decodedContent(htmlPart));
    int references = 0;
    for (const QRegularExpressionMatch &m : cid.globalMatch(html)) {
        QVERIFY2(ids.contains(m.captured(1).toLatin1()), qPrintable(m.captured(1)));
        ++references;
    }
    QCOMPARE(references, 1);
}

MessageEnvironment fixedEnvironment()
{
    auto counter = std::make_shared<int>(0);
    return {[] { return QDateTime(QDate(2026, 3, 14), QTime(9, 26, 53), Qt::OffsetFromUTC, 3600); },
        [counter] { return "=_kolporta_" + QByteArray::number(++*counter); },
        [] { return QByteArrayLiteral("20260314092653.1"); },
        [] { return QByteArrayLiteral("run.test"); }};
}

QByteArray randomBytes(int size, int seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 x = quint32(seed) * 2654435761u + 1;
    for (char &c : bytes) {
        x = x * 1103515245u + 12345u;
        c = char(x >> 24);
    }
    return bytes;
}

} // namespace

class TestMimeMessage : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString file(const QString &name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        kolporta::test::writeBytes(file(QStringLiteral("a.gif")), randomBytes(3000, 1));
        kolporta::test::writeBytes(file(QStringLiteral("b.png")), randomBytes(57, 2));
        kolporta::test::writeBytes(file(QStringLiteral("c.pdf")), randomBytes(1000, 3));
        kolporta::test::writeBytes(
            file(QStringLiteral(u"žluťoučký kůň.txt")), "k\xC5\xAF\xC5\x88\n");
        kolporta::test::writeBytes(file(QStringLiteral("data.unknownext")), randomBytes(10, 4));
        QDir(m_dir.path()).mkdir(QStringLiteral("other"));
        kolporta::test::writeBytes(file(QStringLiteral("other/a.gif")), randomBytes(5, 5));
    }
    void cleanup() { SetMessageEnvironment({}); }

    // The six trees, parsed back: shape, encodings, dispositions, names, Content-IDs and
    // the file bytes themselves.
    void trees_data()
    {
        QTest::addColumn<bool>("html");
        QTest::addColumn<QStringList>("pictures");
        QTest::addColumn<QStringList>("attachments");
        QTest::addColumn<QString>("shape");
        const QStringList pics = {QStringLiteral("a.gif"), QStringLiteral("b.png")};
        const QStringList files = {QStringLiteral("c.pdf"), QStringLiteral(u"žluťoučký kůň.txt"),
            QStringLiteral("data.unknownext")};
        QTest::newRow("plain") << false << QStringList() << QStringList()
                               << QStringLiteral("text/plain");
        QTest::newRow("plain, pictures ignored")
            << false << pics << QStringList() << QStringLiteral("text/plain");
        QTest::newRow("plain, attachments")
            << false << QStringList() << files
            << QStringLiteral(
                   "mixed(text/plain,application/pdf,text/plain,application/octet-stream)");
        QTest::newRow("html") << true << QStringList() << QStringList()
                              << QStringLiteral("alternative(text/plain,text/html)");
        QTest::newRow("html, pictures")
            << true << pics << QStringList()
            << QStringLiteral("alternative(text/plain,related(text/html,image/gif,image/png))");
        QTest::newRow("html, attachments")
            << true << QStringList() << files.mid(0, 1)
            << QStringLiteral("mixed(alternative(text/plain,text/html),application/pdf)");
        QTest::newRow("html, pictures, attachments")
            << true << pics << files
            << QStringLiteral(
                   "mixed(alternative(text/plain,related(text/html,image/gif,image/png)),"
                   "application/pdf,text/plain,application/octet-stream)");
        QTest::newRow("same name in two folders")
            << true << QStringList {QStringLiteral("a.gif"), QStringLiteral("other/a.gif")}
            << QStringList()
            << QStringLiteral("alternative(text/plain,related(text/html,image/gif,image/gif))");
    }
    void trees()
    {
        QFETCH(bool, html);
        QFETCH(QStringList, pictures);
        QFETCH(QStringList, attachments);
        QFETCH(QString, shape);
        MessageContent content;
        content.html = html;
        for (const QString &name : pictures)
            content.pictures << file(name);
        for (const QString &name : attachments)
            content.attachments << file(name);
        content.contentIdDomain = "run.test";
        const QString body = QStringLiteral(u"<p>Dobrý den</p>\r\nřádek 2 <a href=\"https://x.cz/"
                                            u"akce\">akce</a><img src=\"x\\a.gif\">");
        content.body = html ? PrepareHtmlBody(body, false, content.pictures, "run.test") : body;

        QString error;
        auto message = BuildMessage(content, nullptr, &error);
        QVERIFY2(message, qPrintable(error));
        message->setFrom(QStringLiteral("Petr <petr@firma.cz>"));
        message->setTo({QStringLiteral("jan@x.cz")});
        message->setSubject(QStringLiteral("Pokus"));
        const QList<QByteArray> lines = message->encode();

        qint64 size = 0;
        for (const QByteArray &line : lines) {
            QVERIFY(line.size() <= 998);
            QVERIFY(!line.contains('\r') && !line.contains('\n'));
            size += line.size() + 2;
        }
        QCOMPARE(message->size(), size);
        QCOMPARE(message->lines(), lines);

        Parsed parsed(lines);
        QVERIFY(parsed.message);
        QCOMPARE(shapeOf(parsed.root()), shape);
        if (html)
            verifyAlternative(parsed.root());

        QList<GMimePart *> leaves;
        QList<QByteArray> boundaries;
        collectLeaves(parsed.root(), &leaves, &boundaries);
        QCOMPARE(QSet<QByteArray>(boundaries.begin(), boundaries.end()).size(), boundaries.size());

        const QStringList expectedFiles = (html ? pictures : QStringList()) + attachments;
        int fileIndex = 0;
        for (GMimePart *part : leaves) {
            GMimeObject *object = GMIME_OBJECT(part);
            const QByteArray disposition(g_mime_object_get_disposition(object));
            if (typeOf(object).startsWith("text/") && !g_mime_part_get_filename(part)) {
                QCOMPARE(
                    g_mime_part_get_content_encoding(part), GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE);
                QCOMPARE(disposition, QByteArray("inline"));
                continue;
            }
            const QString name = expectedFiles.at(fileIndex);
            const bool picture = html && fileIndex < pictures.size();
            ++fileIndex;
            QCOMPARE(g_mime_part_get_content_encoding(part), GMIME_CONTENT_ENCODING_BASE64);
            QCOMPARE(disposition, picture ? QByteArray("inline") : QByteArray("attachment"));
            const QString bareName = name.section(u'/', -1);
            QCOMPARE(QString::fromUtf8(g_mime_part_get_filename(part)), bareName);
            QCOMPARE(QByteArray(g_mime_object_get_content_id(object)),
                picture ? ContentIds(content.pictures, "run.test").ofPicture(bareName)
                        : QByteArray());
            QCOMPARE(decodedContent(part), kolporta::test::readBytes(file(name)));
        }
        QCOMPARE(fileIndex, expectedFiles.size());
    }

    // A message filled in from the run's template is the one the full builder makes of the
    // filled body, byte for byte but for the boundaries: for every tree, with macro values
    // that change the plain-text part's charset, the line breaks and the dot-stuffing, and
    // for the messages after the first, also once the sender, the subject or a file has
    // changed.
    void templateMatchesBuilder_data()
    {
        QTest::addColumn<int>("tree");
        QTest::addColumn<QString>("to");
        const QList<std::pair<const char *, QString>> values {
            {"ascii", QStringLiteral("Jan Novak <jan@example.cz>")},
            {"czech", QStringLiteral(u"  Jan Nováček <jan@example.cz>  ")},
            {"beyond latin", QStringLiteral(u"Ωμέγα 日本 <omega@example.cz>")},
            {"empty", QString()},
            {"long", QStringLiteral(u"Dlouhé jméno ").repeated(400) + QStringLiteral("<x@y.cz>")},
            {"awkward", QStringLiteral("%FROM% = &amp; <b>x</b>\r\n.dot  \t%\r\n.\r\nend=\r\n")},
        };
        const char *trees[] = {"plain", "plain, attachments", "html", "html, pictures",
            "html, attachments", "html, pictures, attachments", "html, macro in a link"};
        for (int tree = 0; tree < int(std::size(trees)); ++tree)
            for (const auto &[name, to] : values)
                QTest::addRow("%s, %s", trees[tree], name) << tree << to;
    }
    void templateMatchesBuilder()
    {
        QFETCH(int, tree);
        QFETCH(QString, to);
        const bool html = tree >= 2;
        MessageContent content;
        content.html = html;
        content.contentIdDomain = "run.test";
        const QString attachment = file(QStringLiteral("template.pdf"));
        kolporta::test::writeBytes(attachment, randomBytes(200, 9));
        if (tree == 1 || tree == 4 || tree == 5)
            content.attachments << attachment << file(QStringLiteral(u"žluťoučký kůň.txt"));
        if (tree == 3 || tree == 5)
            content.pictures << file(QStringLiteral("a.gif")) << file(QStringLiteral("b.png"));
        const QString plainBody
            = QStringLiteral(u"Dobrý den, %TO%,\r\n.tečka\r\n%FROM% %SUBJECT%\r\n")
            + QString(90, u'x') + QStringLiteral("\r\n%TO%");
        const QString htmlBody
            = QStringLiteral(u"<p>Dobrý den, %TO%,</p>\r\n.<p>%FROM% píše: %SUBJECT% %TO%</p><img "
                             u"src=\"a.gif\"><p>")
            + QStringLiteral(u"Dlouhý řádek ").repeated(12)
            + (tree == 6 ? QStringLiteral("<a href=\"mailto:%TO%\">%TO%</a></p>")
                         : QStringLiteral("</p>"));
        content.body
            = html ? PrepareHtmlBody(htmlBody, false, content.pictures, "run.test") : plainBody;
        content.textTemplate = std::make_shared<PlainTextTemplate>(content.body);
        auto environment = fixedEnvironment();
        environment.boundary = nullptr; // the run's own boundaries, as a run has them
        SetMessageEnvironment(environment);

        // The sender and subject are read afresh for every message, and may change.
        const QString senders[] = {QStringLiteral(u"Petr Svoboda <petr@example.cz>"),
            QStringLiteral(u"Žofie <z@example.cz>")};
        const QString subjects[] = {QStringLiteral(u"Nabídka %TO%"), QString()};
        // The boundaries in order of appearance, each replaced by its number.
        const auto wire = [&](MimeMessage &message, int turn, const QString &toText) {
            message.setFrom(senders[turn % 2]);
            message.setTo({AddressOfLine(toText), QStringLiteral("k@x.cz")});
            message.setSubject(subjects[turn % 2]);
            QByteArray bytes = message.encode().join("\r\n") + "\r\n";
            qint64 size = 0;
            for (const QByteArray &line : message.lines())
                size += line.size() + 2;
            if (message.size() != size)
                return QByteArray("size differs");
            static const QRegularExpression boundary(QStringLiteral("boundary=\"([^\"]+)\""));
            int n = 0;
            for (const QRegularExpressionMatch &m :
                boundary.globalMatch(QString::fromLatin1(bytes)))
                bytes.replace(m.captured(1).toLatin1(), "B" + QByteArray::number(++n));
            return bytes;
        };
        MessageTemplate once(content, nullptr);
        const QString values[] = {to, QStringLiteral("Eva <eva@example.cz>"), to};
        for (int turn = 0; turn < 3; ++turn) {
            const QString &value = values[turn];
            const QString &from = senders[turn % 2];
            const QString &subject = subjects[turn % 2];
            if (turn == 1 && tree == 1) {
                // A changed file is read again, and so is the template.
                kolporta::test::writeBytes(attachment, randomBytes(300, 10));
            }
            QString error;
            auto filled = once.message(value, from, subject, &error);
            QVERIFY2(filled, qPrintable(error));
            MessageContent full = content;
            full.body = ApplyMacros(content.body, value, from, subject, html);
            full.macroTo = value;
            full.macroFrom = from;
            full.macroSubject = subject;
            auto built = BuildMessage(full, nullptr, &error);
            QVERIFY2(built, qPrintable(error));
            QCOMPARE(wire(*filled, turn, value), wire(*built, turn, value));
        }
    }

    void textParts_data()
    {
        QTest::addColumn<bool>("html");
        QTest::addColumn<QString>("body");
        QTest::addColumn<QByteArray>("charset");
        QTest::newRow("ascii plain")
            << false << QStringLiteral("Hello\r\nworld") << QByteArray("iso-8859-1");
        QTest::newRow("czech plain")
            << false << QStringLiteral(u"Příliš žluťoučký kůň\r\n") << QByteArray("iso-8859-2");
        QTest::newRow("greek and czech plain")
            << false << QStringLiteral(u"Ω ř") << QByteArray("utf-8");
        QTest::newRow("trailing blanks and long line")
            << false << QStringLiteral("x ").repeated(600) + QStringLiteral("\t\r\n.")
            << QByteArray("iso-8859-1");
        QTest::newRow("ascii html still has a BOM")
            << true << QStringLiteral("<p>Hi</p>") << QByteArray("utf-8");
        QTest::newRow("czech html")
            << true << QStringLiteral(u"<meta charset=windows-1250>ř") << QByteArray("utf-8");
    }
    void textParts()
    {
        QFETCH(bool, html);
        QFETCH(QString, body);
        QFETCH(QByteArray, charset);
        MessageContent content;
        content.html = html;
        content.body = body;
        QString error;
        auto message = BuildMessage(content, nullptr, &error);
        QVERIFY(message);
        message->setFrom(QStringLiteral("p@x.cz"));
        Parsed parsed(message->encode());
        QList<GMimePart *> leaves;
        QList<QByteArray> boundaries;
        collectLeaves(parsed.root(), &leaves, &boundaries);
        GMimePart *part = leaves.last();
        QCOMPARE(
            typeOf(GMIME_OBJECT(part)), html ? QByteArray("text/html") : QByteArray("text/plain"));
        QCOMPARE(param(part, "charset"), charset);
        QByteArray decoded = decodedContent(part);
        const QByteArray bom = "\xEF\xBB\xBF";
        QCOMPARE(decoded.startsWith(bom), html);
        if (html) {
            decoded = decoded.mid(3);
            // The plain-text part beside the HTML one follows the plain-text rule too.
            const QString text = PlainTextOfHtml(body);
            QCOMPARE(param(leaves.first(), "charset"), PlainTextCharset(text));
            QCOMPARE(DecodeFromCharset(decodedContent(leaves.first()), PlainTextCharset(text))
                         .replace(QStringLiteral("\r\n"), QStringLiteral("\n")),
                text);
        }
        // The wire's last line end may belong to the part or to what follows it.
        auto withoutLastLineEnd = [](QString text) {
            if (text.endsWith(QLatin1String("\r\n")))
                text.chop(2);
            return text;
        };
        QCOMPARE(withoutLastLineEnd(DecodeFromCharset(decoded, charset)), withoutLastLineEnd(body));
    }

    void headerBlock_data()
    {
        QTest::addColumn<QStringList>("to");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<bool>("attachment");
        QTest::addColumn<QByteArrayList>("names");
        const QByteArrayList head
            = {"From", "To", "Subject", "Date", "Message-Id", "MIME-Version", "X-mailer"};
        QTest::newRow("plain root: its content headers follow")
            << QStringList {QStringLiteral("a@b.cz")} << QStringLiteral("S") << false
            << head
                + QByteArrayList {
                    "Content-Type", "Content-Transfer-Encoding", "Content-Disposition"};
        QTest::newRow("multipart root")
            << QStringList {QStringLiteral("a@b.cz")} << QStringLiteral("S") << true
            << head + QByteArrayList {"Content-Type"};
        QTest::newRow("no To, no Subject") << QStringList() << QString() << true
                                           << QByteArrayList {"From", "Date", "Message-Id",
                                                  "MIME-Version", "X-mailer", "Content-Type"};
    }
    void headerBlock()
    {
        QFETCH(QStringList, to);
        QFETCH(QString, subject);
        QFETCH(bool, attachment);
        QFETCH(QByteArrayList, names);
        MessageContent content;
        content.body = QStringLiteral("x");
        if (attachment)
            content.attachments << file(QStringLiteral("c.pdf"));
        auto message = BuildMessage(content, nullptr, nullptr);
        QVERIFY(message);
        message->setFrom(QStringLiteral("Petr <petr@firma.cz>"));
        message->setTo(to);
        message->setSubject(subject);
        const QList<QByteArray> lines = message->encode();
        QCOMPARE(headerNames(lines), names);
        QVERIFY(lines.contains(QByteArray("MIME-Version: 1.0")));
        QVERIFY(lines.contains("X-mailer: " + XMailerText()));
        QVERIFY(XMailerText().startsWith("Kolporta - "));

        // Encoding again writes the block afresh, with the new Date and no duplicates.
        SetMessageEnvironment(fixedEnvironment());
        const QList<QByteArray> again = message->encode();
        QCOMPARE(headerNames(again), names);
        QVERIFY(again.contains(QByteArray("Date: Sat, 14 Mar 2026 09:26:53 +0100")));
    }

    void mailboxes_data()
    {
        QTest::addColumn<QString>("sender");
        QTest::addColumn<QByteArray>("fromLine");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("address");
        QTest::newRow("name and address")
            << QStringLiteral("Petr Svoboda <petr@firma.cz>")
            << QByteArray("From: \"Petr Svoboda\" <petr@firma.cz>")
            << QStringLiteral("Petr Svoboda") << QStringLiteral("petr@firma.cz");
        QTest::newRow("bare address")
            << QStringLiteral(" petr@firma.cz ") << QByteArray("From: petr@firma.cz") << QString()
            << QStringLiteral("petr@firma.cz");
        QTest::newRow("quote and backslash escaped")
            << QStringLiteral("\"a\\b\" <p@x.cz>") << QByteArray("From: \"a\\\\b\" <p@x.cz>")
            << QStringLiteral("a\\b") << QStringLiteral("p@x.cz");
        QTest::newRow("comma in quoted name")
            << QStringLiteral("\"Svoboda, Petr\" <p@x.cz>")
            << QByteArray("From: \"Svoboda, Petr\" <p@x.cz>") << QStringLiteral("Svoboda, Petr")
            << QStringLiteral("p@x.cz");
        QTest::newRow("parenthesised name")
            << QStringLiteral("p@x.cz (Petr)") << QByteArray("From: \"Petr\" <p@x.cz>")
            << QStringLiteral("Petr") << QStringLiteral("p@x.cz");
        QTest::newRow("non-ASCII name")
            << QStringLiteral(u"Jiří Nováček, ml. <j@x.cz>") << QByteArray()
            << QStringLiteral(u"Jiří Nováček, ml.") << QStringLiteral("j@x.cz");
        QTest::newRow("name beyond Latin")
            << QStringLiteral(u"Ωμέγα Ř <o@x.gr>") << QByteArray() << QStringLiteral(u"Ωμέγα Ř")
            << QStringLiteral("o@x.gr");
        // Folding must not leave a header line of blanks only, which ends the header block
        // for some readers.
        const QString blanks = QStringLiteral("a") + QString(200, u' ') + QStringLiteral("b");
        QTest::newRow("long run of blanks in a name")
            << (u'"' + blanks + QStringLiteral("\" <p@x.cz>")) << QByteArray() << blanks
            << QStringLiteral("p@x.cz");
        // A name longer than a line, with a run of blanks where the first line ends: the
        // blanks stay with the word before them, and no line passes 998 characters.
        const QString full = QStringLiteral("x ").repeated(480) + QString(40, u' ')
            + QStringLiteral("y ").repeated(20) + u'z';
        QTest::newRow("a full line with blanks in a name")
            << (full + QStringLiteral(" <p@x.cz>")) << QByteArray() << full
            << QStringLiteral("p@x.cz");
        // Up to 60 characters of plain and non-ASCII words: wholly encoded words, on one line.
        QTest::newRow("60 characters, plain and non-ASCII words mixed")
            << QStringLiteral(u"Ing. Jiří Nováček, ml. (obchod) - Příliš žluťoučký kůň <j@x.cz>")
            << QByteArray()
            << QStringLiteral(u"Ing. Jiří Nováček, ml. (obchod) - Příliš žluťoučký kůň")
            << QStringLiteral("j@x.cz");
        QTest::newRow("addr (Name) with a non-ASCII domain: IDNA")
            << QStringLiteral(u"marie@příklad.cz (Marie Dvořáková)")
            << QByteArray("From: =?iso-8859-2?Q?Marie_Dvo=F8=E1kov=E1?= "
                          "<marie@xn--pklad-zsa96e.cz>")
            << QStringLiteral(u"Marie Dvořáková") << QStringLiteral("marie@xn--pklad-zsa96e.cz");
    }
    void mailboxes()
    {
        QFETCH(QString, sender);
        QFETCH(QByteArray, fromLine);
        QFETCH(QString, name);
        QFETCH(QString, address);
        MessageContent content;
        auto message = BuildMessage(content, nullptr, nullptr);
        message->setFrom(sender);
        message->setTo({sender});
        const QList<QByteArray> lines = message->encode();
        if (!fromLine.isEmpty())
            QCOMPARE(lines.first(), fromLine);
        for (const QByteArray &line : lines.mid(0, lines.indexOf(QByteArray()))) {
            QVERIFY2(line.size() <= 998, line.constData());
            for (char c : line)
                QVERIFY2(uchar(c) < 0x80, line.constData());
            QVERIFY2(!line.trimmed().isEmpty(), "a header line of blanks only");
        }
        Parsed parsed(lines);
        for (InternetAddressList *list : {g_mime_message_get_from(parsed.message),
                 g_mime_message_get_addresses(parsed.message, GMIME_ADDRESS_TYPE_TO)}) {
            QCOMPARE(internet_address_list_length(list), 1);
            InternetAddress *mailbox = internet_address_list_get_address(list, 0);
            // Unfolded as RFC 5322 says (GMime keeps the line break of a folded quoted name).
            QCOMPARE(QString::fromUtf8(internet_address_get_name(mailbox))
                         .remove(QStringLiteral("\r\n")),
                name);
            QCOMPARE(QString::fromUtf8(
                         internet_address_mailbox_get_idn_addr(INTERNET_ADDRESS_MAILBOX(mailbox))),
                address);
        }
        // Python's reader sees the same name.
        QCOMPARE(kolporta::test::mailFacts(lines.join("\r\n") + "\r\n", {QStringLiteral("to ")}),
            QStringList {QStringLiteral("to ") + name + u'|' + address});
    }

    // The Subject header: printable ASCII is never encoded, only folded at its blanks; other
    // text goes as encoded words of at most 75 characters; both readers get the text back.
    void subjects_data()
    {
        QTest::addColumn<QString>("subject");
        QTest::addColumn<bool>("encoded");
        QTest::newRow("long ASCII with a URL") << QStringLiteral(
            "Spring offer: https://www.example.com/offers/spring-2026/catalogue/"
            "index.html?utm_source=newsletter&utm_medium=email and more text "
            "that goes on past one line") << false;
        QTest::newRow("long ASCII word") << QStringLiteral("x").repeated(300) << false;
        QTest::newRow("non-ASCII, long")
            << QStringLiteral(u"Příliš žluťoučký kůň úpěl ďábelské ódy, ").repeated(4).trimmed()
            << true;
        QTest::newRow("non-ASCII word without blanks")
            << QStringLiteral(u"Přípla").repeated(20) + QStringLiteral(" konec") << true;
        QTest::newRow("blanks kept between encoded words")
            << QStringLiteral(u"Ř  ž   ý a  b") << true;
        QTest::newRow("text that reads like an encoded word")
            << QStringLiteral("=?utf-8?q?x?= plain") << true;
    }
    void subjects()
    {
        QFETCH(QString, subject);
        QFETCH(bool, encoded);
        auto message = BuildMessage(MessageContent(), nullptr, nullptr);
        message->setFrom(QStringLiteral("p@x.cz"));
        message->setSubject(subject);
        const QList<QByteArray> lines = message->encode();
        const qsizetype start = lines.indexOf(headerNamed(lines, "Subject"));
        QVERIFY(start >= 0);
        QByteArray raw;
        static const QRegularExpression word(QStringLiteral("=\\?[^?]*\\?[QB]\\?[^?]*\\?="));
        for (qsizetype i = start; i < lines.size() && (i == start || lines[i].startsWith(' '));
             ++i) {
            // Longer only where there is no blank to fold at.
            QVERIFY2(lines[i].size() <= 78 || !lines[i].mid(i == start ? 9 : 1).contains(' '),
                lines[i].constData());
            for (const QRegularExpressionMatch &m : word.globalMatch(QString::fromLatin1(lines[i])))
                QVERIFY2(m.capturedLength() <= 75, qPrintable(m.captured()));
            raw += lines[i];
        }
        QCOMPARE(raw.contains("=?"), encoded);
        if (!encoded) // unfolded, the header holds the text itself
            QCOMPARE(raw, "Subject: " + subject.toLatin1());
        QCOMPARE(QString::fromUtf8(g_mime_message_get_subject(Parsed(lines).message)), subject);
        QCOMPARE(kolporta::test::mailFacts(
                     lines.join("\r\n") + "\r\n", {QStringLiteral("header Subject: ")}),
            QStringList {QStringLiteral("header Subject: ") + subject});
    }

    // A line end in any header text must not open a header line of its own.
    void headerInjection_data()
    {
        QTest::addColumn<QString>("sender");
        QTest::addColumn<QString>("to");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("attachmentName");
        const QString ok = QStringLiteral("Petr <p@x.cz>");
        QTest::newRow("sender") << QStringLiteral("Petr\r\nBcc: evil@x.cz <p@x.cz>") << ok
                                << QStringLiteral("S") << QStringLiteral("c.pdf");
        QTest::newRow("to") << ok << QStringLiteral("j@x.cz\nBcc: evil@x.cz") << QStringLiteral("S")
                            << QStringLiteral("c.pdf");
        QTest::newRow("subject") << ok << ok << QStringLiteral("Ahoj\rBcc: evil@x.cz\r\n\r\nbody")
                                 << QStringLiteral("c.pdf");
        QTest::newRow("file name")
            << ok << ok << QStringLiteral("S") << QStringLiteral("x\r\nBcc: evil@x.cz\n\nbody.pdf");
    }
    void headerInjection()
    {
        QFETCH(QString, sender);
        QFETCH(QString, to);
        QFETCH(QString, subject);
        QFETCH(QString, attachmentName);
        const QString path = file(attachmentName);
        kolporta::test::writeBytes(path, "pdf");
        MessageContent content;
        content.body = QStringLiteral("text");
        content.attachments << path;
        QString error;
        auto message = BuildMessage(content, nullptr, &error);
        QVERIFY2(message, qPrintable(error));
        message->setFrom(sender);
        message->setTo({to});
        message->setSubject(subject);
        const QList<QByteArray> lines = message->encode();
        for (const QByteArray &line : lines)
            QVERIFY2(!line.startsWith("Bcc:") && !line.startsWith("body"), line.constData());
        Parsed parsed(lines);
        QCOMPARE(parsed.header("Bcc"), QByteArray());
        QVERIFY(!QByteArray(g_mime_message_get_subject(parsed.message)).contains('\n'));
        QCOMPARE(internet_address_list_length(g_mime_message_get_from(parsed.message)), 1);
        QList<GMimePart *> leaves;
        QList<QByteArray> boundaries;
        collectLeaves(parsed.root(), &leaves, &boundaries);
        QCOMPARE(leaves.size(), 2);
        QCOMPARE(decodedContent(leaves.last()), QByteArray("pdf"));
        const QByteArray name(g_mime_part_get_filename(leaves.last()));
        QVERIFY(!name.contains('\n') && !name.contains('\r'));
    }

    void unreadableFiles_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("asPicture");
        QTest::addColumn<bool>("html");
        QTest::newRow("missing attachment") << QStringLiteral("missing.pdf") << false << false;
        QTest::newRow("missing picture") << QStringLiteral("missing.gif") << true << true;
        QTest::newRow("folder as attachment") << QStringLiteral("other") << false << true;
    }
    void unreadableFiles()
    {
        QFETCH(QString, path);
        QFETCH(bool, asPicture);
        QFETCH(bool, html);
        MessageContent content;
        content.html = html;
        content.pictures << file(QStringLiteral("a.gif"));
        content.attachments << file(QStringLiteral("c.pdf"));
        (asPicture ? content.pictures : content.attachments) << file(path);
        QString error;
        QVERIFY(!BuildMessage(content, nullptr, &error));
        QVERIFY2(error.startsWith(QStringLiteral("Cannot open file \"%1\". ").arg(file(path))),
            qPrintable(error));
        QVERIFY(error.size() > file(path).size() + 20); // the reason follows
    }

    void unreadablePictureIgnoredWithoutHtml()
    {
        MessageContent content;
        content.pictures << file(QStringLiteral("missing.gif"));
        QString error;
        QVERIFY(BuildMessage(content, nullptr, &error));
        QVERIFY(error.isEmpty());
    }

    // Files are encoded once per run: the lines of two messages share their bytes, until
    // the file changes.
    void partCache()
    {
        const QString path = file(QStringLiteral("cached.gif"));
        kolporta::test::writeBytes(path, randomBytes(400, 7));
        PartCache cache;
        MessageContent content;
        content.html = true;
        content.pictures << path;
        auto pictureLine = [&](std::unique_ptr<MimeMessage> message) {
            const QList<QByteArray> lines = message->encode();
            Parsed parsed(lines);
            QList<GMimePart *> leaves;
            QList<QByteArray> boundaries;
            collectLeaves(parsed.root(), &leaves, &boundaries);
            const QByteArray encoded = decodedContent(leaves.last()).toBase64().left(76);
            return lines.at(lines.indexOf(encoded));
        };
        const QByteArray first = pictureLine(BuildMessage(content, &cache, nullptr));
        const QByteArray second = pictureLine(BuildMessage(content, &cache, nullptr));
        QCOMPARE(first, second);
        QCOMPARE(first.constData(), second.constData());

        // Same size, new content and modification time.
        kolporta::test::writeBytes(path, randomBytes(400, 8));
        QFile touched(path);
        QVERIFY(touched.open(QIODevice::ReadWrite));
        QVERIFY(touched.setFileTime(
            QDateTime::currentDateTime().addSecs(10), QFileDevice::FileModificationTime));
        touched.close();
        const QByteArray third = pictureLine(BuildMessage(content, &cache, nullptr));
        QCOMPARE(third, randomBytes(400, 8).toBase64().left(76));

        // A file gone since the last message fails the build, cache or not.
        QVERIFY(QFile::remove(path));
        QString error;
        QVERIFY(!BuildMessage(content, &cache, &error));
        QVERIFY(error.contains(path));
    }

    void messageId_data()
    {
        QTest::addColumn<QString>("sender");
        QTest::addColumn<QByteArray>("domain");
        QTest::newRow("sender's domain")
            << QStringLiteral("Petr <petr@Firma.cz>") << QByteArray("Firma.cz");
        QTest::newRow("no domain") << QStringLiteral("petr") << QByteArray();
        QTest::newRow("broken domain") << QStringLiteral("petr@a b") << QByteArray();
    }
    void messageId()
    {
        QFETCH(QString, sender);
        QFETCH(QByteArray, domain);
        if (domain.isEmpty()) {
            const QString host = QSysInfo::machineHostName();
            domain = host.isEmpty() ? QByteArrayLiteral("localhost") : host.toLatin1();
        }
        SetMessageEnvironment(fixedEnvironment());
        auto message = BuildMessage(MessageContent(), nullptr, nullptr);
        message->setFrom(sender);
        const QList<QByteArray> lines = message->encode();
        QVERIFY(lines.contains("Message-Id: <20260314092653.1@" + domain + '>'));

        // The real generator gives every message its own identifier.
        SetMessageEnvironment({});
        const QByteArray one = Parsed(message->encode()).header("Message-Id");
        const QByteArray two = Parsed(message->encode()).header("Message-Id");
        QVERIFY(one.endsWith('@' + domain + '>'));
        QVERIFY(one != two);
    }

    void longHeaders()
    {
        MessageContent content;
        content.body = QStringLiteral("y").repeated(5000);
        auto message = BuildMessage(content, nullptr, nullptr);
        const QString name = QStringLiteral(u"Jméno ").repeated(60);
        message->setFrom(name + QStringLiteral("<p@x.cz>"));
        message->setTo({QStringLiteral("Jan ").repeated(100) + QStringLiteral("<j@x.cz>"),
            QStringLiteral("k@x.cz")});
        const QString subject = QStringLiteral("s").repeated(3000);
        message->setSubject(subject);
        const QList<QByteArray> lines = message->encode();
        for (const QByteArray &line : lines)
            QVERIFY(line.size() <= 998);
        Parsed parsed(lines);
        QCOMPARE(QString::fromUtf8(g_mime_message_get_subject(parsed.message)), subject);
        QCOMPARE(internet_address_list_length(
                     g_mime_message_get_addresses(parsed.message, GMIME_ADDRESS_TYPE_TO)),
            2);
        InternetAddress *from
            = internet_address_list_get_address(g_mime_message_get_from(parsed.message), 0);
        QCOMPARE(QString::fromUtf8(internet_address_get_name(from)), name.trimmed());
    }

    // One whole message, byte for byte, with the clock, the boundaries and the Message-ID
    // fixed.
    void wholeMessage()
    {
        SetMessageEnvironment(fixedEnvironment());
        MessageContent content;
        content.html = true;
        content.pictures << kolporta::test::dataPath(QStringLiteral("compose-dot.gif"));
        content.contentIdDomain = "run.test";
        content.body
            = PrepareHtmlBody(QStringLiteral(u"<html><head><meta charset=windows-1250></head>\r\n"
                                             "<body><p>Dobrý den, %TO%,</p><img alt=\"tečka\" "
                                             "src=\"obrazky\\compose-dot.gif\"></body></html>"),
                false, content.pictures, content.contentIdDomain);
        content.body = ApplyMacros(content.body, QStringLiteral(u"Jan Nováček <jan@example.cz>"),
            QString(), QString(), true);
        content.attachments << kolporta::test::dataPath(QStringLiteral("compose-note.txt"));
        QString error;
        auto message = BuildMessage(content, nullptr, &error);
        QVERIFY2(message, qPrintable(error));
        message->setFrom(QStringLiteral(u"Petr Svoboda <petr@example.cz>"));
        message->setTo({QStringLiteral("jan@example.cz")});
        message->setSubject(QStringLiteral(u"Nabídka %SUBJECT%"));
        const QByteArray wire = message->encode().join("\r\n") + "\r\n";
        const QString expectedPath
            = kolporta::test::dataPath(QStringLiteral("compose-whole-message.eml"));
        if (qEnvironmentVariableIsSet("KOLPORTA_WRITE_EXPECTED"))
            kolporta::test::writeBytes(expectedPath, wire);
        QCOMPARE(wire, kolporta::test::readBytes(expectedPath));
        QCOMPARE(message->size(), wire.size());
    }
};

QTEST_GUILESS_MAIN(TestMimeMessage)
#include "tst_MimeMessage.moc"
