#include "project/AddressTools.h"

#include <QTest>

#include <algorithm>

using namespace kolporta::project;
using namespace kolporta::project::AddressTools;

namespace {

QString s(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

template <typename... T> QStringList L(const T *...utf8)
{
    return QStringList {QString::fromUtf8(utf8)...};
}

const QLocale kCzech(QLocale::Czech, QLocale::Czechia);
const QLocale kTurkish(QLocale::Turkish, QLocale::Turkey);

} // namespace

class TestAddressTools : public QObject
{
    Q_OBJECT

private slots:
    // `groups` lists the expected order; lines joined by "\n" in one group compare equal
    // and may come in either order, as the sort is not stable.
    void sorts_data()
    {
        QTest::addColumn<bool>("byDomain");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QStringList>("groups");

        QTest::newRow("empty list") << false << QStringList() << QStringList();
        QTest::newRow("case ignored")
            << false << L("b@x.cz", "A@x.cz", "c@x.cz") << L("A@x.cz", "b@x.cz", "c@x.cz");
        QTest::newRow("empty lines go, blank lines stay")
            << false << L("b", "", "  ", "a", "") << L("  ", "a", "b");
        QTest::newRow("czech: ch after h")
            << false << L("chata", "ihned", "hora") << L("hora", "chata", "ihned");
        QTest::newRow("czech: č after every c")
            << false << L("čapek", "dan", "cyril") << L("cyril", "čapek", "dan");
        QTest::newRow("duplicates stay") << false << L("a", "b", "a") << L("a", "a", "b");
        QTest::newRow("same address in two cases tie")
            << false << L("x@a.cz", "B", "X@a.cz") << L("B", "x@a.cz\nX@a.cz");
        QTest::newRow("whole line, name included")
            << false << L("Zed <a@a.cz>", "Adam <z@z.cz>") << L("Adam <z@z.cz>", "Zed <a@a.cz>");

        QTest::newRow("domain: groups, case ignored")
            << true << L("Jan <jan@zeta.cz>", "Eva <eva@alfa.cz>", "Bob <bob@Alfa.cz>")
            << L("Eva <eva@alfa.cz>\nBob <bob@Alfa.cz>", "Jan <jan@zeta.cz>");
        QTest::newRow("domain: equal keys of different case interleaved")
            << true << L("a@B.cz", "b@c.cz", "c@b.cz", "d@A.cz", "e@b.CZ")
            << L("d@A.cz", "a@B.cz\nc@b.cz\ne@b.CZ", "b@c.cz");
        QTest::newRow("domain: no @ sorts by whole line")
            << true << L("zzz", "a@mmm", "b@aaa") << L("b@aaa", "a@mmm", "zzz");
        QTest::newRow("domain: first @ counts")
            << true << L("x@b@a", "y@a@z") << L("y@a@z", "x@b@a");
        QTest::newRow("domain: empty lines go")
            << true << L("", "a@b", "", "   ") << L("   ", "a@b");
    }
    void sorts()
    {
        QFETCH(bool, byDomain);
        QFETCH(QStringList, lines);
        QFETCH(QStringList, groups);
        const QCollator collator = sortCollator(kCzech);
        const QStringList sorted
            = byDomain ? sortByDomain(lines, collator) : sortAlphabetically(lines, collator);
        qsizetype at = 0;
        for (const QString &group : groups) {
            QStringList expected = group.split(u'\n');
            QStringList actual = sorted.mid(at, expected.size());
            at += expected.size();
            std::sort(expected.begin(), expected.end());
            std::sort(actual.begin(), actual.end());
            QCOMPARE(actual, expected);
        }
        QCOMPARE(sorted.size(), at);
    }

    void sortInUserLocaleIgnoresCase()
    {
        // Whatever locale the machine has, the default comparison ignores case.
        const QStringList sorted = sortAlphabetically(L("b", "A", "C", "a"));
        QCOMPARE(sorted.mid(2), L("b", "C"));
    }

    void domainKey_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("key");
        QTest::newRow("angle brackets keep >") << s("Jan <jan@seznam.cz>") << s("seznam.cz>");
        QTest::newRow("no @") << s("Jan Novák") << s("Jan Novák");
        QTest::newRow("@ at end") << s("jan@") << QString();
        QTest::newRow("first @") << s("a@b@c") << s("b@c");
    }
    void domainKey()
    {
        QFETCH(QString, line);
        QFETCH(QString, key);
        QCOMPARE(AddressTools::domainKey(line).toString(), key);
    }

    void toLowerCase_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QStringList>("lower");
        QTest::newRow("names and accented capitals")
            << kCzech << L("ŽLUŤOUČKÝ Kůň <KUN@Example.CZ>") << L("žluťoučký kůň <kun@example.cz>");
        QTest::newRow("empty lines go, blank stay")
            << kCzech << L("", "A", "  ", "") << L("a", "  ");
        QTest::newRow("turkish locale: dotted capital I")
            << kTurkish << L("İSTANBUL") << L("istanbul");
        QTest::newRow("turkish locale: I is dotless") << kTurkish << L("I") << L("ı");
        QTest::newRow("czech locale: I") << kCzech << L("I") << L("i");
    }
    void toLowerCase()
    {
        QFETCH(QLocale, locale);
        QFETCH(QStringList, lines);
        QFETCH(QStringList, lower);
        QCOMPARE(AddressTools::toLowerCase(lines, locale), lower);
    }

    void reformatPaste_data()
    {
        QTest::addColumn<QString>("clipboard");
        QTest::addColumn<QString>("pasted");
        QTest::newRow("comma in name splits")
            << s("Novák, Jan <jan@x.cz>") << s("Novák\r\nJan <jan@x.cz>\r\n");
        QTest::newRow("apostrophe removed")
            << s("O'Brien <o'brien@x.ie>") << s("OBrien <obrien@x.ie>\r\n");
        QTest::newRow("semicolon and blank") << s("a@x.cz; b@y.cz") << s("a@x.cz\r\nb@y.cz\r\n");
        QTest::newRow("empty stays empty") << QString() << QString();
        QTest::newRow("mixed line ends, empty lines stay")
            << s("a\n\nb\rc\r\n") << s("a\r\n\r\nb\r\nc\r\n");
        QTest::newRow("controls and blanks trimmed") << s("\t a@x.cz \x01") << s("a@x.cz\r\n");
        QTest::newRow("inner blanks kept") << s(" Jan  Novák ") << s("Jan  Novák\r\n");
        QTest::newRow("two separators make an empty line") << s("a;,b") << s("a\r\n\r\nb\r\n");
        QTest::newRow("trailing separator adds no line") << s("a;") << s("a\r\n");
        QTest::newRow("blanks only") << s("   ") << s("\r\n");
        QTest::newRow("non-breaking space is not trimmed") << s("\u00A0a") << s("\u00A0a\r\n");
    }
    void reformatPaste()
    {
        QFETCH(QString, clipboard);
        QFETCH(QString, pasted);
        QCOMPARE(AddressTools::reformatPaste(clipboard), pasted);
    }

    void quickSearch_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("search");
        QTest::addColumn<int>("line");
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("length");
        const QStringList list = L("x@y.cz", "Petr <PETR@x.cz>", "petr@y.cz");
        QTest::newRow("first line in list order") << kCzech << list << s("petr") << 1 << 0 << 4;
        QTest::newRow("capitals typed find capitals")
            << kCzech << list << s("PETR@") << 1 << 6 << 5;
        QTest::newRow("empty finds nothing") << kCzech << list << QString() << -1 << -1 << 0;
        QTest::newRow("not found") << kCzech << list << s("pavel") << -1 << -1 << 0;
        QTest::newRow("accented capitals")
            << kCzech << L("a", "ŠŤASTNÝ") << s("šťast") << 1 << 0 << 5;
        QTest::newRow("first occurrence in the line")
            << kCzech << L("abab") << s("b") << 0 << 1 << 1;
        QTest::newRow("blank line can match blanks")
            << kCzech << L("a", "  ") << s(" ") << 1 << 0 << 1;
        QTest::newRow("longer lower case maps back") << kCzech << L("AİB") << s("b") << 0 << 2 << 1;
        QTest::newRow("longer lower case, match inside it")
            << kCzech << L("AİB") << s("i̇b") << 0 << 1 << 2;
        QTest::newRow("turkish: İ is i") << kTurkish << L("AİB") << s("i") << 0 << 1 << 1;
    }
    void quickSearch()
    {
        QFETCH(QLocale, locale);
        QFETCH(QStringList, lines);
        QFETCH(QString, search);
        QFETCH(int, line);
        QFETCH(int, column);
        QFETCH(int, length);
        const SearchHit hit = AddressTools::quickSearch(lines, search, locale);
        QCOMPARE(hit.line, line);
        QCOMPARE(hit.column, column);
        QCOMPARE(hit.length, length);
    }

    void starredLine_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("starred");
        QTest::newRow("star first") << s("*a@b.cz") << true;
        QTest::newRow("blanks then star") << s("   *a@b.cz") << true;
        QTest::newRow("tab and control then star") << s("\t\x01*a") << true;
        QTest::newRow("star later") << s("a* <a@b.cz>") << false;
        QTest::newRow("blank then letter then star") << s(" a *") << false;
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("blanks only") << s("   ") << false;
        QTest::newRow("star alone") << s("*") << true;
        QTest::newRow("non-breaking space first") << s("\u00A0*a") << false;
    }
    void starredLine()
    {
        QFETCH(QString, line);
        QFETCH(bool, starred);
        QCOMPARE(isStarredLine(line), starred);
    }

    void clampCaret_data()
    {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("line");
        QTest::addColumn<int>("columnAfter");
        QTest::addColumn<int>("lineAfter");
        const QStringList three = L("abc", "de", "fghij");
        QTest::newRow("inside stays") << three << 1 << 1 << 1 << 1;
        QTest::newRow("column past line end") << three << 9 << 1 << 2 << 1;
        QTest::newRow("line past the end") << three << 4 << 7 << 4 << 2;
        QTest::newRow("line and column past the end") << L("ab") << 9 << 9 << 2 << 0;
        QTest::newRow("empty text") << QStringList() << 3 << 3 << 0 << 0;
        QTest::newRow("negative") << three << -1 << -1 << 0 << 0;
    }
    void clampCaret()
    {
        QFETCH(QStringList, lines);
        QFETCH(int, column);
        QFETCH(int, line);
        QFETCH(int, columnAfter);
        QFETCH(int, lineAfter);
        const Caret c = AddressTools::clampCaret({column, line}, lines);
        QCOMPARE(c.column, columnAfter);
        QCOMPARE(c.line, lineAfter);
    }
};

QTEST_GUILESS_MAIN(TestAddressTools)
#include "tst_AddressTools.moc"
