#include "compose/Charsets.h"
#include "compose/Konvert.h"
#include "project/Windows1250.h"

#include "TestSupport.h"

#include <QFile>
#include <QMap>
#include <QTest>

using namespace kolporta::compose;
namespace Windows1250 = kolporta::project::Windows1250;

namespace {

// The typed tables of tests/data/konvert-win1250.txt: per column of the Windows-1250
// default the changed bytes, per other default the whole Windows-1250 column.
struct TypedTables
{
    QMap<QString, QMap<int, int>> changes;
    QMap<QString, QList<int>> defaults;
};

TypedTables readTables()
{
    TypedTables t;
    QFile file(kolporta::test::dataPath(QStringLiteral("konvert-win1250.txt")));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("konvert-win1250.txt missing");
    QString section, name;
    while (!file.atEnd()) {
        const QString line = QString::fromLatin1(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        const QStringList words = line.split(u' ', Qt::SkipEmptyParts);
        if (words.at(0) == QLatin1String("column") || words.at(0) == QLatin1String("default")) {
            section = words.at(0);
            name = words.at(1);
            continue;
        }
        if (section == QLatin1String("column"))
            t.changes[name].insert(words.at(0).toInt(nullptr, 16), words.at(1).toInt(nullptr, 16));
        else
            for (const QString &w : words)
                t.defaults[name].append(w.toInt(nullptr, 16));
    }
    return t;
}

const TypedTables &typed()
{
    static const TypedTables t = readTables();
    return t;
}

TCodePage codePageNamed(const QString &name)
{
    static const QMap<QString, TCodePage> names = {{QStringLiteral("cpDOS852"), cpDOS852},
        {QStringLiteral("cpKamenicky"), cpKamenicky}, {QStringLiteral("cpASCII"), cpASCII},
        {QStringLiteral("cpWin1250"), cpWin1250}, {QStringLiteral("cpISO88592"), cpISO88592}};
    return names.value(name, 0xFF);
}

QByteArray allHighBytes()
{
    QByteArray bytes;
    for (int b = 0x80; b < 0x100; ++b)
        bytes.append(char(b));
    return bytes;
}

QByteArray cp1250(const QString &text)
{
    return Windows1250::encode(text);
}

} // namespace

class TestKonvert : public QObject
{
    Q_OBJECT

private slots:
    void init() { KonvertInit(cpWin1250); }
    void cleanup()
    {
        SetKonvertNotifier({});
        KonvertInit(cpWin1250);
    }

    void win1250DefaultColumns_data()
    {
        QTest::addColumn<QString>("column");
        QTest::addColumn<int>("changeCount");
        QTest::newRow("cpISO88592") << QStringLiteral("cpISO88592") << 15;
        QTest::newRow("cpASCII") << QStringLiteral("cpASCII") << 80;
        QTest::newRow("cpWin1250") << QStringLiteral("cpWin1250") << 1;
        QTest::newRow("cpDOS852") << QStringLiteral("cpDOS852") << 90;
        QTest::newRow("cpKamenicky") << QStringLiteral("cpKamenicky") << 58;
    }
    void win1250DefaultColumns()
    {
        QFETCH(QString, column);
        QFETCH(int, changeCount);
        const QMap<int, int> changes = typed().changes.value(column);
        QCOMPARE(changes.size(), changeCount);
        const TCodePage target = codePageNamed(column);
        const QByteArray out = KonvertString(allHighBytes(), target);
        QCOMPARE(out.size(), 128);
        for (int b = 0x80; b < 0x100; ++b) {
            const int want = changes.value(b, b);
            if (uchar(out.at(b - 0x80)) != want)
                QFAIL(qPrintable(QStringLiteral("%1: byte %2 gives %3, want %4")
                                     .arg(column)
                                     .arg(b, 2, 16)
                                     .arg(uchar(out.at(b - 0x80)), 2, 16)
                                     .arg(want, 2, 16)));
            char c = char(b);
            KonvertChar(c, target);
            QCOMPARE(uchar(c), uchar(want));
        }
    }

    // Re-initialising for another default changes only the Windows-1250 column.
    void otherDefaults_data()
    {
        QTest::addColumn<QString>("defaultName");
        QTest::newRow("cpDOS852") << QStringLiteral("cpDOS852");
        QTest::newRow("cpKamenicky") << QStringLiteral("cpKamenicky");
        QTest::newRow("cpISO88592") << QStringLiteral("cpISO88592");
    }
    void otherDefaults()
    {
        QFETCH(QString, defaultName);
        const QList<int> want = typed().defaults.value(defaultName);
        QCOMPARE(want.size(), 128);
        QList<QByteArray> before;
        for (TCodePage cp = 0; cp <= cpISO88592; ++cp)
            before.append(KonvertString(allHighBytes(), cp));

        KonvertInit(codePageNamed(defaultName));

        const QByteArray column = KonvertString(allHighBytes(), cpWin1250);
        for (int i = 0; i < 128; ++i)
            QCOMPARE(uchar(column.at(i)), uchar(want.at(i)));
        for (TCodePage cp = 0; cp <= cpISO88592; ++cp)
            if (cp != cpWin1250)
                QCOMPARE(KonvertString(allHighBytes(), cp), before.at(cp));
        QCOMPARE(KonvertString(cp1250(QStringLiteral(u"Příliš")), cpASCII), QByteArray("Prilis"));
    }

    void lowBytesPassUnchanged_data()
    {
        QTest::addColumn<int>("target");
        for (TCodePage cp = 0; cp <= cpISO88592; ++cp)
            QTest::newRow(qPrintable(QString::number(cp))) << int(cp);
    }
    void lowBytesPassUnchanged()
    {
        QFETCH(int, target);
        QByteArray low;
        for (int b = 0; b < 0x80; ++b)
            low.append(char(b));
        QCOMPARE(KonvertString(low, TCodePage(target)), low);
        QCOMPARE(KonvertString(QByteArray("\xA0"), TCodePage(target)), QByteArray(" "));
    }

    void sampleTexts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("target");
        QTest::addColumn<QByteArray>("expected");
        const QString sample = QStringLiteral(u"Příliš žluťoučký kůň");
        QTest::newRow("sample ascii")
            << sample << int(cpASCII) << QByteArray("Prilis zlutoucky kun");
        // Only š, ž and ť sit elsewhere in ISO-8859-2.
        QTest::newRow("sample iso")
            << sample << int(cpISO88592)
            << QByteArray("P\xF8\xEDli\xB9 \xBElu\xBBou\xE8k\xFD k\xF9\xF2");
        QTest::newRow("l stroke and sharp s stay")
            << QStringLiteral(u"łß") << int(cpASCII) << QByteArray("\xB3\xDF");
        QTest::newRow("capital L stroke")
            << QStringLiteral(u"Ł") << int(cpASCII) << QByteArray("L");
        QTest::newRow("no-break space in win1250")
            << QStringLiteral(u"a\u00A0b") << int(cpWin1250) << QByteArray("a b");
    }
    void sampleTexts()
    {
        QFETCH(QString, text);
        QFETCH(int, target);
        QFETCH(QByteArray, expected);
        QCOMPARE(KonvertString(cp1250(text), TCodePage(target)), expected);
    }

    void asciiDefaultOnlyInforms()
    {
        int beeps = 0;
        QStringList boxes;
        SetKonvertNotifier({[&] { ++beeps; },
            [&](const QString &caption, const QString &text) { boxes << caption << text; }});
        const QByteArray before = KonvertString(allHighBytes(), cpWin1250);
        KonvertInit(cpDOS852);
        const QByteArray dos = KonvertString(allHighBytes(), cpWin1250);
        KonvertInit(cpASCII);
        QCOMPARE(beeps, 1);
        QCOMPARE(boxes,
            QStringList({QStringLiteral("Information"),
                QStringLiteral(
                    u"Inicializace konverze řetězce - výchozí kódová stránka nemůže být ASCII")}));
        QCOMPARE(KonvertString(allHighBytes(), cpWin1250), dos);
        KonvertInit(7); // not a code page: nothing happens
        QCOMPARE(KonvertString(allHighBytes(), cpWin1250), dos);
        KonvertInit(cpWin1250);
        QCOMPARE(KonvertString(allHighBytes(), cpWin1250), before);
    }

    void removeDiacritics_data()
    {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("sample") << QStringList {QStringLiteral(u"Příliš žluťoučký"),
            QStringLiteral(
                u"kůň")} << QStringList {QStringLiteral("Prilis zlutoucky"), QStringLiteral("kun")};
        QTest::newRow("last empty line dropped") << QStringList {QStringLiteral(u"Ahoj"), QString()}
                                                 << QStringList {QStringLiteral("Ahoj")};
        QTest::newRow("inner empty lines kept")
            << QStringList {QStringLiteral("a"), QString(), QStringLiteral("b")}
            << QStringList {QStringLiteral("a"), QString(), QStringLiteral("b")};
        QTest::newRow("outside win1250 kept")
            << QStringList {QStringLiteral(u"Ωřő€ł")} << QStringList {QStringLiteral(u"Ωro€ł")};
        QTest::newRow("no-break space")
            << QStringList {QStringLiteral(u"a\u00A0b")} << QStringList {QStringLiteral("a b")};
        QTest::newRow("empty body") << QStringList {} << QStringList {};
    }
    void removeDiacritics()
    {
        QFETCH(QStringList, lines);
        QFETCH(QStringList, expected);
        QCOMPARE(RemoveDiacritics(lines), expected);
    }

    void plainTextCharset_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("charset");
        QTest::newRow("empty") << QString() << QByteArray("iso-8859-1");
        QTest::newRow("ascii") << QStringLiteral("Hello\r\n") << QByteArray("iso-8859-1");
        QTest::newRow("german") << QStringLiteral(u"Grüße") << QByteArray("iso-8859-1");
        QTest::newRow("czech") << QStringLiteral(u"Příliš žluťoučký kůň ß")
                               << QByteArray("iso-8859-2");
        QTest::newRow("turkish g breve") << QStringLiteral(u"Ğ") << QByteArray("iso-8859-3");
        QTest::newRow("greek") << QStringLiteral(u"Ωmega") << QByteArray("iso-8859-7");
        QTest::newRow("latin-10 only") << QStringLiteral(u"Ș") << QByteArray("iso-8859-16");
        QTest::newRow("czech and greek") << QStringLiteral(u"řΩ") << QByteArray("utf-8");
        QTest::newRow("cjk") << QStringLiteral(u"日本") << QByteArray("utf-8");
        QTest::newRow("surrogates") << QStringLiteral(u"😀") << QByteArray("utf-8");
    }
    void plainTextCharset()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, charset);
        QCOMPARE(PlainTextCharset(text), charset);
        const QByteArray bytes = EncodeInCharset(text, charset);
        QCOMPARE(DecodeFromCharset(bytes, charset), text);
    }

    void encodeInCharset_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("charset");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("iso-8859-2") << QStringLiteral(u"Příliš") << QByteArray("iso-8859-2")
                                    << QByteArray("P\xF8\xEDli\xB9");
        QTest::newRow("upper-case name")
            << QStringLiteral(u"é") << QByteArray("ISO-8859-1") << QByteArray("\xE9");
        QTest::newRow("lacking becomes ?")
            << QStringLiteral(u"aΩb") << QByteArray("iso-8859-2") << QByteArray("a?b");
        QTest::newRow("utf-8") << QStringLiteral(u"ř") << QByteArray("utf-8")
                               << QByteArray("\xC5\x99");
        QTest::newRow("unknown set is utf-8")
            << QStringLiteral(u"ř") << QByteArray("koi8-r") << QByteArray("\xC5\x99");
    }
    void encodeInCharset()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, charset);
        QFETCH(QByteArray, bytes);
        QCOMPARE(EncodeInCharset(text, charset), bytes);
    }
};

QTEST_GUILESS_MAIN(TestKonvert)
#include "tst_Konvert.moc"
