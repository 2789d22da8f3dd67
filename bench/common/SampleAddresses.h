#pragma once

#include <QRandomGenerator>
#include <QString>
#include <QStringList>

namespace kolporta::bench {

// A repeatable address list of Czech names: most addresses at a few big providers, the rest
// spread over thousands of domains. With starEvery > 0, about one line in that many is
// starred.
inline QStringList SampleAddressLines(int count, int starEvery = 0)
{
    static const char16_t *const first[] = {u"Jan", u"Petr", u"Žofie", u"Eva", u"Tomáš", u"Šárka",
        u"Lukáš", u"Kateřina", u"Jiří", u"Anna"};
    static const char16_t *const last[] = {u"Novák", u"Svoboda", u"Dvořáková", u"Černý",
        u"Procházka", u"Kučera", u"Veselý", u"Horáková", u"Němec", u"Marek"};
    static const char *const domains[] = {"seznam.cz", "email.cz", "gmail.com", "centrum.cz",
        "post.cz", "Firma.CZ", "example.org", "volny.cz"};
    QRandomGenerator rng(2024);
    QStringList lines;
    lines.reserve(count);
    for (int i = 0; i < count; ++i) {
        const QString f = QString::fromUtf16(first[rng.bounded(10)]);
        const QString l = QString::fromUtf16(last[rng.bounded(10)]);
        const QString domain = rng.bounded(10) < 6
            ? QString::fromLatin1(domains[rng.bounded(8)])
            : QStringLiteral("firma%1.cz").arg(rng.bounded(20000));
        const bool starred = starEvery > 0 && rng.bounded(starEvery) == 0;
        lines.append(QStringLiteral("%1%2 %3 <%4.%5%6@%7>")
                         .arg(starred ? QStringLiteral("*") : QString())
                         .arg(f, l, f.toLower(), l.toLower())
                         .arg(i)
                         .arg(domain));
    }
    return lines;
}

} // namespace kolporta::bench
