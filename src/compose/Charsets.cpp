#include "compose/Charsets.h"

#include <QHash>

#include <array>
#include <iconv.h>

namespace kolporta::compose {

namespace {

// ISO-8859-12 was never published.
constexpr std::array<int, 15> kParts = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 14, 15, 16};
constexpr char16_t kUndefined = 0xFFFD;

// The upper halves (0xA0..0xFF) of every ISO-8859 part, read once from the C library's
// iconv, which knows all fifteen (ICU lacks part 16). 0x00..0x9F are the same code points
// in every part.
// Characters below this have their entries in flat arrays as well: the Latin letters of
// Central and Western European text are looked up for every character of every message.
constexpr char16_t kFlatEnd = 0x180;

struct Tables
{
    std::array<std::array<char16_t, 96>, kParts.size()> high {};
    QHash<char16_t, quint16> holders; // character -> bit i set when part kParts[i] holds it
    std::array<QHash<char16_t, char>, kParts.size()> reverse;
    std::array<quint16, kFlatEnd> flatHolders {};
    std::array<std::array<char, kFlatEnd>, kParts.size()> flatReverse {};

    quint16 holdersOf(char16_t u) const
    {
        return u < kFlatEnd ? flatHolders[u] : holders.value(u, 0);
    }
    char byteOf(size_t part, char16_t u) const
    {
        return u < kFlatEnd ? flatReverse[part][u] : reverse[part].value(u, '?');
    }

    Tables()
    {
        for (size_t i = 0; i < kParts.size(); ++i) {
            const QByteArray name = "ISO-8859-" + QByteArray::number(kParts[i]);
            iconv_t cd = iconv_open("UTF-16LE", name.constData());
            for (int b = 0xA0; b < 0x100; ++b) {
                char16_t unit = kUndefined;
                if (cd != iconv_t(-1)) {
                    char in = char(b);
                    char out[4] = {};
                    char *inp = &in;
                    char *outp = out;
                    size_t inLeft = 1, outLeft = sizeof out;
                    iconv(cd, nullptr, nullptr, nullptr, nullptr);
                    if (iconv(cd, &inp, &inLeft, &outp, &outLeft) != size_t(-1) && outLeft == 2)
                        unit = char16_t(uchar(out[0]) | (uchar(out[1]) << 8));
                }
                high[i][b - 0xA0] = unit;
                if (unit != kUndefined) {
                    holders[unit] |= quint16(1u << i);
                    reverse[i].insert(unit, char(b));
                }
            }
            if (cd != iconv_t(-1))
                iconv_close(cd);
        }
        for (char16_t u = 0xA0; u < kFlatEnd; ++u) {
            flatHolders[u] = holders.value(u, 0);
            for (size_t i = 0; i < kParts.size(); ++i)
                flatReverse[i][u] = reverse[i].value(u, '?');
        }
    }
};

const Tables &tables()
{
    static const Tables t;
    return t;
}

// Index into kParts for "iso-8859-N", or -1.
int partIndex(const QByteArray &charset)
{
    const QByteArray lower = charset.trimmed().toLower();
    if (!lower.startsWith("iso-8859-"))
        return -1;
    bool ok = false;
    const int n = lower.mid(9).toInt(&ok);
    if (!ok)
        return -1;
    for (size_t i = 0; i < kParts.size(); ++i)
        if (kParts[i] == n)
            return int(i);
    return -1;
}

} // namespace

QByteArray PlainTextCharset(const QString &text)
{
    const Tables &t = tables();
    quint16 mask = quint16((1u << kParts.size()) - 1);
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0xA0)
            continue;
        mask &= t.holdersOf(u);
        if (!mask)
            return QByteArrayLiteral("utf-8");
    }
    for (size_t i = 0; i < kParts.size(); ++i)
        if (mask & (1u << i))
            return "iso-8859-" + QByteArray::number(kParts[i]);
    return QByteArrayLiteral("utf-8");
}

QByteArray EncodeInCharset(const QString &text, const QByteArray &charset)
{
    const int i = partIndex(charset);
    if (i < 0)
        return text.toUtf8();
    const Tables &t = tables();
    QByteArray out(text.size(), Qt::Uninitialized);
    char *dst = out.data();
    for (QChar c : text) {
        const char16_t u = c.unicode();
        *dst++ = u < 0xA0 ? char(u) : t.byteOf(size_t(i), u);
    }
    return out;
}

QString DecodeFromCharset(const QByteArray &bytes, const QByteArray &charset)
{
    const int i = partIndex(charset);
    if (i < 0)
        return QString::fromUtf8(bytes);
    const auto &high = tables().high[i];
    QString out(bytes.size(), Qt::Uninitialized);
    QChar *dst = out.data();
    for (char c : bytes) {
        const auto b = uchar(c);
        *dst++ = QChar(b < 0xA0 ? char16_t(b) : high[b - 0xA0]);
    }
    return out;
}

} // namespace kolporta::compose
