#include "delivery/SmtpReplyReader.h"

namespace kolporta::delivery {

bool SmtpReplyReader::hasCode(QByteArrayView line)
{
    const auto digit = [&](qsizetype i) { return line.at(i) >= '0' && line.at(i) <= '9'; };
    return line.size() >= 3 && digit(0) && digit(1) && digit(2);
}

namespace {

int codeOf(const QList<QByteArray> &lines)
{
    if (lines.isEmpty() || !SmtpReplyReader::hasCode(lines.constFirst()))
        return 0;
    const QByteArray &first = lines.constFirst();
    return (first.at(0) - '0') * 100 + (first.at(1) - '0') * 10 + (first.at(2) - '0');
}

} // namespace

SmtpReplyReader::SmtpReplyReader(qsizetype maxLineLength, int maxReplyLines)
    : m_maxLineLength(maxLineLength)
    , m_maxReplyLines(maxReplyLines)
{ }

void SmtpReplyReader::feed(QByteArrayView bytes)
{
    // Taken bytes go only now, so a long run of replies in one piece is not moved per line.
    if (m_start > 0) {
        m_buffer.remove(0, m_start);
        m_start = 0;
    }
    m_buffer.append(bytes);
}

SmtpReplyReader::Result SmtpReplyReader::next(Reply *reply)
{
    for (;;) {
        const qsizetype end = m_buffer.indexOf('\n', m_start);
        if (end < 0) {
            // An unfinished line may still lose one CR to its LF, but no more.
            const QByteArrayView rest = pending();
            const qsizetype room = rest.endsWith('\r') ? m_maxLineLength + 1 : m_maxLineLength;
            if (rest.size() > room)
                return fail(Result::LineTooLong, reply);
            return Result::Incomplete;
        }
        qsizetype length = end - m_start;
        if (length > 0 && m_buffer.at(end - 1) == '\r')
            --length;
        if (length > m_maxLineLength)
            return fail(Result::LineTooLong, reply);
        const QByteArray line = m_buffer.sliced(m_start, length);
        m_start = end + 1;
        if (m_lines.size() >= m_maxReplyLines)
            return fail(Result::TooManyLines, reply);
        m_lines.append(line);
        if (line.size() >= 4 && line.at(3) == '-')
            continue;
        reply->lines = std::exchange(m_lines, {});
        reply->code = codeOf(reply->lines);
        return hasCode(reply->lines.constFirst()) ? Result::Reply : Result::NoCode;
    }
}

SmtpReplyReader::Result SmtpReplyReader::fail(Result result, Reply *reply)
{
    reply->lines = std::exchange(m_lines, {});
    reply->code = codeOf(reply->lines);
    return result;
}

qsizetype SmtpReplyReader::room() const
{
    return qMax<qsizetype>(1, m_maxLineLength + 2 - pending().size());
}

void SmtpReplyReader::clear()
{
    m_buffer.clear();
    m_start = 0;
    m_lines.clear();
}

} // namespace kolporta::delivery
