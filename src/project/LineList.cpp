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

constexpr qsizetype BlockSize = 1024 * 1024;

} // namespace

LineList::LineList(const QStringList &lines)
{
    m_ends.reserve(lines.size());
    for (const QString &line : lines)
        append(line);
}

LineList::LineList(std::initializer_list<QString> lines)
{
    for (const QString &line : lines)
        append(line);
}

QByteArrayView LineList::bytesOf(qsizetype i) const
{
    const quint64 end = m_ends.at(i);
    const qsizetype block = qsizetype(end >> 32);
    const qsizetype stop = qsizetype(end & 0xFFFFFFFFu);
    qsizetype start = 0;
    if (i > 0 && (m_ends.at(i - 1) >> 32) == quint64(block))
        start = qsizetype(m_ends.at(i - 1) & 0xFFFFFFFFu);
    return QByteArrayView(m_blocks.at(block)).sliced(start, stop - start);
}

QString LineList::at(qsizetype i) const
{
    Q_ASSERT(i >= 0 && i < size());
    if (!m_aside.isEmpty()) {
        const auto it = m_aside.constFind(i);
        if (it != m_aside.constEnd())
            return *it;
    }
    return decodeLine(bytesOf(i));
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
    // Stands aside; its end is that of the line before, so it takes no text.
    m_aside.insert(m_ends.size(), line);
    m_ends.append(m_ends.isEmpty() ? 0 : m_ends.constLast());
}

void LineList::appendUtf8(QByteArrayView line)
{
    if (m_blocks.isEmpty() || m_blocks.constLast().size() + line.size() > BlockSize) {
        if (!line.isEmpty() || m_blocks.isEmpty()) {
            m_blocks.append(QByteArray());
            m_blocks.last().reserve(qMax(BlockSize, line.size()));
        }
    }
    QByteArray &block = m_blocks.last();
    block.append(line);
    m_ends.append((quint64(m_blocks.size() - 1) << 32) | quint64(block.size()));
}

void LineList::clear()
{
    m_blocks.clear();
    m_ends.clear();
    m_aside.clear();
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
    if (size() != other.size() || m_aside != other.m_aside)
        return false;
    for (qsizetype i = 0; i < size(); ++i)
        if (!m_aside.contains(i) && bytesOf(i) != other.bytesOf(i))
            return false;
    return true;
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
