#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

namespace kolporta::delivery {

// Reads SMTP replies (RFC 5321, 4.2) out of the bytes a server sends, and does nothing else:
// no socket, no clock. The client feeds it what arrives and takes out complete replies, so
// every way of cutting the same bytes into pieces gives the same replies. A line ends at LF,
// with one CR before it dropped; "xyz-" continues a reply and any other line ends it. Memory
// stays bounded: a line over the length limit, or a reply over the line limit, is an error
// as soon as it is certain, and after an error the stream cannot be read in step any more.
class SmtpReplyReader
{
public:
    static constexpr qsizetype DefaultMaxLineLength = 64 * 1024;
    static constexpr int DefaultMaxReplyLines = 1000;

    explicit SmtpReplyReader(
        qsizetype maxLineLength = DefaultMaxLineLength, int maxReplyLines = DefaultMaxReplyLines);

    enum class Result {
        Incomplete, // more bytes are needed; the lines read so far are kept
        Reply, // a complete reply whose first line starts with a three-digit code
        LineTooLong, // a line over the length limit
        TooManyLines, // a reply over the line limit
        NoCode, // a complete reply whose first line has no code
    };

    struct Reply
    {
        int code = 0; // 0 when the first line has no code
        QList<QByteArray> lines; // without line ends
    };

    // Appends bytes as they came from the server.
    void feed(QByteArrayView bytes);

    // Takes the next reply out of the bytes fed. On an error *reply holds the lines read
    // before it, at most the line limit, with the code of the first one when it has one.
    Result next(Reply *reply);

    // How many more bytes an unfinished line may take before it is certainly too long; the
    // socket code reads no more than this, so the buffer stays within one line.
    qsizetype room() const;

    // Lines of the reply under way that are complete (the client bounds its wait per line).
    int linesRead() const { return int(m_lines.size()); }

    // The bytes fed but not yet taken as lines.
    QByteArrayView pending() const { return QByteArrayView(m_buffer).sliced(m_start); }

    void clear();

    // Whether a reply line starts with a three-digit code.
    static bool hasCode(QByteArrayView line);

private:
    Result fail(Result result, Reply *reply);

    qsizetype m_maxLineLength;
    int m_maxReplyLines;
    QByteArray m_buffer;
    qsizetype m_start = 0;
    QList<QByteArray> m_lines;
};

} // namespace kolporta::delivery
