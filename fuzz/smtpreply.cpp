// The SMTP reply reader: however the bytes of a server are cut into pieces, the same replies
// come out; every byte is either in a reply line, in its line end, or still pending; and no
// line, reply or buffer outgrows its limit. Small limits, taken from the first two bytes,
// let the fuzzer reach them.

#include "FuzzSupport.h"

#include "delivery/SmtpReplyReader.h"

using kolporta::delivery::SmtpReplyReader;
using Result = SmtpReplyReader::Result;

namespace {

struct Event
{
    Result result;
    SmtpReplyReader::Reply reply;
    bool operator==(const Event &other) const
    {
        return result == other.result && reply.code == other.reply.code
            && reply.lines == other.reply.lines;
    }
};

QString show(const QList<Event> &events)
{
    QString out;
    for (const Event &e : events)
        out += QStringLiteral("%1 %2 %3\n")
                   .arg(int(e.result))
                   .arg(e.reply.code)
                   .arg(kolporta::fuzz::show(QStringList([&] {
                       QStringList lines;
                       for (const QByteArray &line : e.reply.lines)
                           lines.append(QString::fromLatin1(line));
                       return lines;
                   }())));
    return out;
}

// Takes out every reply the bytes fed so far hold; true when the stream is still in step.
bool drain(SmtpReplyReader &reader, QList<Event> *events, qsizetype maxLineLength)
{
    for (;;) {
        Event event {Result::Incomplete, {}};
        event.result = reader.next(&event.reply);
        if (event.result == Result::Incomplete) {
            FUZZ_CHECK(event.reply.lines.isEmpty());
            FUZZ_CHECK(reader.pending().size() <= maxLineLength + 1);
            FUZZ_CHECK(reader.room() >= 1);
            return true;
        }
        events->append(event);
        if (event.result != Result::Reply && event.result != Result::NoCode)
            return false;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    const qsizetype maxLineLength = 1 + data[0] % 64;
    const int maxReplyLines = 1 + data[1] % 8;
    quint32 seed = data[2];
    const QByteArray bytes(reinterpret_cast<const char *>(data) + 3, qsizetype(size) - 3);

    SmtpReplyReader whole(maxLineLength, maxReplyLines);
    whole.feed(bytes);
    QList<Event> expected;
    const bool inStep = drain(whole, &expected, maxLineLength);

    SmtpReplyReader pieces(maxLineLength, maxReplyLines);
    QList<Event> got;
    for (qsizetype at = 0; at < bytes.size();) {
        seed = seed * 1103515245u + 12345u;
        const qsizetype piece = qMin<qsizetype>(1 + (seed >> 16) % 16, bytes.size() - at);
        pieces.feed(QByteArrayView(bytes).sliced(at, piece));
        at += piece;
        if (!drain(pieces, &got, maxLineLength))
            break;
    }
    if (!(got == expected))
        kolporta::fuzz::fail("the same replies from pieces", __FILE__, __LINE__,
            show(expected) + QStringLiteral("--\n") + show(got));

    // Every reply line stands in the bytes in order, followed by its line end; what follows
    // the last reply is pending or in the lines of the reply under way.
    qsizetype at = 0;
    for (const Event &event : std::as_const(expected)) {
        const QList<QByteArray> &lines = event.reply.lines;
        FUZZ_CHECK(lines.size() <= maxReplyLines);
        for (const QByteArray &line : lines)
            FUZZ_CHECK(line.size() <= maxLineLength && !line.contains('\n'));
        if (event.result != Result::Reply && event.result != Result::NoCode)
            break;
        FUZZ_CHECK(!lines.isEmpty());
        FUZZ_CHECK((event.result == Result::Reply) == SmtpReplyReader::hasCode(lines.first()));
        FUZZ_CHECK(event.reply.code
            == (event.result == Result::NoCode ? 0 : lines.first().left(3).toInt()));
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const bool continued = lines.at(i).size() >= 4 && lines.at(i).at(3) == '-';
            FUZZ_CHECK(continued == (i + 1 < lines.size()));
            FUZZ_CHECK(QByteArrayView(bytes).sliced(at).startsWith(lines.at(i)));
            at += lines.at(i).size();
            if (bytes.mid(at, 2) == "\r\n")
                at += 2;
            else
                FUZZ_CHECK(bytes.mid(at++, 1) == "\n");
        }
    }
    if (inStep) {
        // Lines of a reply under way are taken already; only an unfinished line is pending.
        const QByteArrayView rest = QByteArrayView(bytes).sliced(at);
        FUZZ_CHECK(
            whole.linesRead() > 0 ? rest.endsWith(whole.pending()) : rest == whole.pending());
        FUZZ_CHECK(!whole.pending().contains('\n'));
        FUZZ_CHECK(pieces.pending() == whole.pending());
        FUZZ_CHECK(pieces.linesRead() == whole.linesRead());
    }
    return 0;
}
