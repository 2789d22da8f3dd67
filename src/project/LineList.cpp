#include "project/LineList.h"

#include <QStringDecoder>

namespace kolporta::project {

namespace {

// Whether UTF-8 holds the text as it is: no surrogate stands without its other half.
bool fitsUtf8(const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (!c.isSurrogate())
            continue;
        if (!c.isHighSurrogate() || i + 1 == text.size() || !text.at(i + 1).isLowSurrogate())
            return false;
        ++i;
    }
    return true;
}

// The text of UTF-8 bytes, a U+FEFF at the start included: QString::fromUtf8() would take
// it for a byte-order mark and drop it.
QString decodeLine(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8,
        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    return decoder.decode(bytes);
}

} // namespace

LineList::LineList(const QStringList &lines)
{
    qsizetype bytes = 0;
    for (const QString &line : lines)
        bytes += line.size();
    reserve(lines.size(), bytes);
    for (const QString &line : lines)
        append(line);
}

LineList::LineList(std::initializer_list<QString> lines)
{
    for (const QString &line : lines)
        append(line);
}

QString LineList::at(qsizetype i) const
{
    Q_ASSERT(i >= 0 && i < size());
    if (!m_aside.isEmpty()) {
        const auto it = m_aside.constFind(i);
        if (it != m_aside.constEnd())
            return *it;
    }
    const qsizetype start = i == 0 ? 0 : m_ends.at(i - 1);
    return decodeLine(QByteArrayView(m_text).sliced(start, m_ends.at(i) - start));
}

QString LineList::value(qsizetype i) const
{
    return i >= 0 && i < size() ? at(i) : QString();
}

void LineList::append(const QString &line)
{
    if (fitsUtf8(line)) {
        appendUtf8(line.toUtf8());
        return;
    }
    m_aside.insert(m_ends.size(), line);
    m_ends.append(m_text.size());
}

void LineList::appendUtf8(QByteArrayView line)
{
    m_text.append(line);
    m_ends.append(m_text.size());
}

void LineList::clear()
{
    m_text.clear();
    m_ends.clear();
    m_aside.clear();
}

void LineList::reserve(qsizetype lines, qsizetype bytes)
{
    m_ends.reserve(lines);
    m_text.reserve(bytes);
}

QString LineList::join(QStringView separator) const
{
    QString out;
    for (qsizetype i = 0; i < size(); ++i) {
        if (i > 0)
            out += separator;
        out += at(i);
    }
    return out;
}

QStringList LineList::toStringList() const
{
    QStringList out;
    out.reserve(size());
    for (qsizetype i = 0; i < size(); ++i)
        out.append(at(i));
    return out;
}

bool LineList::operator==(const LineList &other) const
{
    return m_text == other.m_text && m_ends == other.m_ends && m_aside == other.m_aside;
}

bool LineList::operator==(const QStringList &other) const
{
    if (other.size() != size())
        return false;
    for (qsizetype i = 0; i < size(); ++i)
        if (at(i) != other.at(i))
            return false;
    return true;
}

} // namespace kolporta::project
