// The address-list editor on 100,000 lines: quick-search time per keystroke (the first one
// after a change of the list builds the search index, which the window otherwise builds when
// the search field takes the focus) and the sorts and lower-casing through the editor, with
// the caret and the colouring of starred lines. Goals: < 50 ms a keystroke, < 300 ms a sort.
// Each figure is the best of three runs, wall-clock and CPU time of the thread (the steadier
// figure on a machine shared with other work).
#include "ui/AddressListEditor.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QRandomGenerator>

#include <Qsci/qsciscintilla.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>

using kolporta::ui::AddressListEditor;

namespace {

const char16_t *const kFirst[] = {
    u"Jan", u"Petr", u"Žofie", u"Eva", u"Tomáš", u"Šárka", u"Lukáš", u"Kateřina", u"Jiří", u"Anna"};
const char16_t *const kLast[] = {u"Novák", u"Svoboda", u"Dvořáková", u"Černý", u"Procházka",
    u"Kučera", u"Veselý", u"Horáková", u"Němec", u"Marek"};
const char *const kDomains[] = {"seznam.cz", "email.cz", "gmail.com", "centrum.cz", "post.cz",
    "Firma.CZ", "example.org", "volny.cz"};

// Names and addresses in random order, one line in twenty starred.
QString addressText(int count)
{
    QRandomGenerator rng(2024);
    QStringList lines;
    lines.reserve(count);
    for (int i = 0; i < count; ++i) {
        const QString first = QString::fromUtf16(kFirst[rng.bounded(10)]);
        const QString last = QString::fromUtf16(kLast[rng.bounded(10)]);
        const QString domain = rng.bounded(10) < 6
            ? QString::fromLatin1(kDomains[rng.bounded(8)])
            : QStringLiteral("firma%1.cz").arg(rng.bounded(20000));
        lines.append(QStringLiteral("%1%2 %3 <%4.%5%6@%7>")
                         .arg(rng.bounded(20) == 0 ? QStringLiteral("*") : QString())
                         .arg(first, last, first.toLower(), last.toLower())
                         .arg(i)
                         .arg(domain));
    }
    return lines.join(u'\n');
}

double cpuNow()
{
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

struct Figure
{
    double wall = 1e9;
    double cpu = 1e9;
};

// The best of three runs of step, each after setup (not timed).
Figure measure(const std::function<void()> &setup, const std::function<void()> &step)
{
    Figure best;
    for (int run = 0; run < 3; ++run) {
        setup();
        QElapsedTimer wall;
        wall.start();
        const double cpu = cpuNow();
        step();
        best.cpu = std::min(best.cpu, cpuNow() - cpu);
        best.wall = std::min(best.wall, double(wall.nsecsElapsed()) / 1e6);
    }
    return best;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int count = 100000;
    const QString text = addressText(count);
    QsciScintilla list;
    QLineEdit search;
    AddressListEditor editor(&list, &search);
    QObject::connect(&search, &QLineEdit::textChanged, &editor, &AddressListEditor::search);
    list.resize(400, 600);
    list.show();

    const Figure load = measure([] {}, [&] { list.setText(text); });
    std::printf("load %d lines into the list: %.1f ms (cpu %.1f ms)\n", count, load.wall, load.cpu);

    // Typed letter by letter: a term found only on the last line, then one found nowhere.
    for (const QString &term : {QStringLiteral("%1@").arg(count - 1), QStringLiteral("zzzz")}) {
        Figure first, later {0, 0};
        bool found = false;
        for (qsizetype i = 1; i <= term.size(); ++i) {
            const Figure f = measure(
                [&] {
                    if (i == 1) {
                        list.insertAt(QStringLiteral(" "), 0, 0); // a change: index rebuilt
                        search.clear();
                    } else {
                        search.setText(term.left(i - 1));
                    }
                },
                [&] { search.setText(term.left(i)); });
            if (i == 1)
                first = f;
            else
                later = {std::max(later.wall, f.wall), std::max(later.cpu, f.cpu)};
            found = list.hasSelectedText();
        }
        std::printf("quick search \"%s\" (%s): first keystroke %.1f ms (cpu %.1f ms), "
                    "later keystrokes at most %.1f ms (cpu %.1f ms)\n",
            qPrintable(term), found ? "found" : "not found", first.wall, first.cpu, later.wall,
            later.cpu);
    }

    const struct
    {
        const char *name;
        void (AddressListEditor::*tool)();
    } tools[] = {
        {"sort alphabetically", &AddressListEditor::sortAlphabetically},
        {"sort by domain", &AddressListEditor::sortByDomain},
        {"lower case", &AddressListEditor::toLowerCase},
    };
    for (const auto &tool : tools) {
        const Figure f = measure(
            [&] {
                list.setText(text);
                list.setCursorPosition(count / 2, 5);
            },
            [&] { (editor.*tool.tool)(); });
        std::printf(
            "%-20s %6.1f ms (cpu %6.1f ms)  %d lines\n", tool.name, f.wall, f.cpu, list.lines());
    }
    return 0;
}
