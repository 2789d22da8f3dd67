#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <iterator>

namespace kolporta::project {

// A list of text lines kept as UTF-8 with the end of each line, such as a project's address
// list: a million lines cost their text and 8 bytes each, where a list of strings costs
// some 100 bytes more per line in string objects. A line that UTF-8 cannot hold
// as it is (one with a lone surrogate) is kept aside unchanged, so at() always gives back
// exactly the line appended. It reads like a QStringList: copies share the buffer, and it
// converts to and from QStringList.
class LineList
{
public:
    LineList() = default;
    LineList(const QStringList &lines); // NOLINT: stands in for a QStringList
    LineList(std::initializer_list<QString> lines);

    qsizetype size() const { return m_ends.size(); }
    qsizetype count() const { return size(); }
    bool isEmpty() const { return m_ends.isEmpty(); }
    QString at(qsizetype i) const;
    // The line at i, or "" past the end.
    QString value(qsizetype i) const;
    QString operator[](qsizetype i) const { return at(i); }
    QString first() const { return at(0); }
    QString last() const { return at(size() - 1); }

    void append(const QString &line);
    // A line given as UTF-8 that is known to be valid.
    void appendUtf8(QByteArrayView line);
    LineList &operator<<(const QString &line)
    {
        append(line);
        return *this;
    }
    void clear();

    QString join(QStringView separator) const;
    QString join(QChar separator) const { return join(QStringView(&separator, 1)); }
    QStringList toStringList() const;
    explicit operator QStringList() const { return toStringList(); }
    operator QVariant() const { return QVariant(toStringList()); } // NOLINT

    bool operator==(const LineList &other) const;
    bool operator!=(const LineList &other) const { return !(*this == other); }
    bool operator==(const QStringList &other) const;
    bool operator!=(const QStringList &other) const { return !(*this == other); }
    friend bool operator==(const QStringList &a, const LineList &b) { return b == a; }
    friend bool operator!=(const QStringList &a, const LineList &b) { return !(b == a); }

    class const_iterator
    {
    public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = QString;
        using difference_type = qsizetype;
        using pointer = void;
        using reference = QString;

        const_iterator() = default;
        const_iterator(const LineList *list, qsizetype i)
            : m_list(list)
            , m_i(i)
        { }
        QString operator*() const { return m_list->at(m_i); }
        const_iterator &operator++()
        {
            ++m_i;
            return *this;
        }
        const_iterator operator++(int)
        {
            const_iterator was = *this;
            ++m_i;
            return was;
        }
        const_iterator &operator+=(qsizetype n)
        {
            m_i += n;
            return *this;
        }
        const_iterator operator+(qsizetype n) const { return const_iterator(m_list, m_i + n); }
        qsizetype operator-(const const_iterator &other) const { return m_i - other.m_i; }
        bool operator==(const const_iterator &other) const { return m_i == other.m_i; }
        bool operator!=(const const_iterator &other) const { return m_i != other.m_i; }

    private:
        const LineList *m_list = nullptr;
        qsizetype m_i = 0;
    };
    const_iterator begin() const { return const_iterator(this, 0); }
    const_iterator end() const { return const_iterator(this, size()); }

private:
    QByteArrayView bytesOf(qsizetype i) const;

    // The text in blocks of a fixed size that never grow, so the list never copies its text
    // nor keeps room it does not use; a line stands whole in one block. The end of line i
    // is its block's number in the upper 32 bits and the offset in the block in the lower.
    QList<QByteArray> m_blocks;
    QList<quint64> m_ends;
    QHash<qsizetype, QString> m_aside; // by index: lines UTF-8 cannot hold
};

} // namespace kolporta::project
