#include "project/TextFile.h"

#include "project/Windows1250.h"

#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>
#include <QVarLengthArray>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kolporta::project::TextFile {

namespace {

// A U+FEFF at the start of a file is a byte-order mark, never text: a save cannot write it
// as text (the next read takes it for the mark and drops it), so it is not read as text
// either, however many of them an editor put there.
QString withoutByteOrderMarks(QString text)
{
    qsizetype marks = 0;
    while (marks < text.size() && text.at(marks) == QChar::ByteOrderMark)
        ++marks;
    text.remove(0, marks);
    return text;
}

} // namespace

QString decode(QByteArray bytes, TextEncoding *encoding)
{
    // A file saved as "Unicode" by an editor is full of NUL bytes; cut at the first one it
    // would read as almost empty, and the next save would destroy it. Read it whole and
    // apply the NUL rule to its characters instead. It is written back as UTF-8.
    const bool utf16le = bytes.startsWith("\xFF\xFE");
    if (utf16le || bytes.startsWith("\xFE\xFF")) {
        QStringDecoder utf16(utf16le ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE,
            QStringDecoder::Flag::Stateless);
        QString text = utf16.decode(QByteArrayView(bytes).sliced(2));
        const qsizetype nulChar = text.indexOf(QChar(u'\0'));
        if (nulChar >= 0)
            text.truncate(nulChar);
        // A lone surrogate has no UTF-8 form, so a save would write "?" in its place: read
        // it as the replacement character, and the text read is the text saved.
        for (qsizetype i = 0; i < text.size(); ++i) {
            if (text.at(i).isHighSurrogate() && i + 1 < text.size()
                && text.at(i + 1).isLowSurrogate())
                ++i;
            else if (text.at(i).isSurrogate())
                text[i] = QChar::ReplacementCharacter;
        }
        if (encoding)
            *encoding = TextEncoding::Utf8;
        return withoutByteOrderMarks(std::move(text));
    }
    const qsizetype nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    QByteArrayView view(bytes);
    if (view.startsWith("\xEF\xBB\xBF"))
        view = view.sliced(3);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(view);
    if (!utf8.hasError()) {
        if (encoding)
            *encoding = TextEncoding::Utf8;
        return withoutByteOrderMarks(std::move(text));
    }
    if (encoding)
        *encoding = TextEncoding::Windows1250;
    return Windows1250::decode(bytes);
}

QStringList splitLines(QStringView text)
{
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (c != u'\r' && c != u'\n')
            continue;
        lines.append(text.sliced(start, i - start).toString());
        if (c == u'\r' && i + 1 < n && text[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < n)
        lines.append(text.sliced(start).toString());
    return lines;
}

namespace {
bool readsBackAs(const QByteArray &bytes, const QStringList &lines)
{
    const QString text = decode(bytes);
    const QStringView rest(text);
    qsizetype at = 0;
    for (const QString &line : lines) {
        if (rest.size() - at < line.size() + 2 || rest.sliced(at, line.size()) != line
            || rest.sliced(at + line.size(), 2) != u"\r\n")
            return false;
        at += line.size() + 2;
    }
    return at == rest.size();
}
} // namespace

QByteArray encodeLines(const QStringList &lines, TextEncoding wanted, TextEncoding *used)
{
    if (wanted == TextEncoding::Windows1250) {
        bool ok = true;
        QByteArray out;
        for (const QString &line : lines) {
            bool lineOk = true;
            out += Windows1250::encode(line, &lineOk);
            out += "\r\n";
            if (!lineOk) {
                ok = false;
                break;
            }
        }
        // Bytes that happen to be valid UTF-8 would be read back as UTF-8, and the text would
        // change under the user's hands (C8 9A is "Čš" in Windows-1250 but one UTF-8 letter).
        if (ok && readsBackAs(out, lines)) {
            if (used)
                *used = TextEncoding::Windows1250;
            return out;
        }
    }
    qsizetype size = 0;
    for (const QString &line : lines)
        size += line.size() + 2;
    QByteArray out;
    out.reserve(size + size / 4);
    for (const QString &line : lines) {
        out += line.toUtf8();
        out += "\r\n";
    }
    if (used)
        *used = TextEncoding::Utf8;
    return out;
}

QString openErrorText(const QString &path, const QString &reason)
{
    return QStringLiteral("Cannot open file \"%1\". %2").arg(path, reason);
}

QString createErrorText(const QString &path, const QString &reason)
{
    return QStringLiteral("Cannot create file \"%1\". %2").arg(path, reason);
}

bool readBytes(const QString &path, QByteArray *bytes, QString *error, qint64 maxSize)
{
    const auto refuse = [&](const QString &reason) {
        if (error)
            *error = openErrorText(path, reason);
        return false;
    };
    const auto systemReason = [] { return QString::fromLocal8Bit(std::strerror(errno)); };
    const auto notRegular = [] { return QStringLiteral("Není obyčejný soubor"); };
    const auto tooLarge = [maxSize] {
        return QStringLiteral("Soubor je větší než %1 MiB").arg(double(maxSize) / (1024 * 1024));
    };

    const QByteArray name = QFile::encodeName(path);
    struct stat st;
    if (name.isEmpty() || ::stat(name.constData(), &st) != 0)
        return refuse(systemReason());
    if (!S_ISREG(st.st_mode))
        return refuse(notRegular());
    if (maxSize >= 0 && st.st_size > maxSize)
        return refuse(tooLarge());
    // Should the name have been given to a FIFO since the check, O_NONBLOCK keeps open() from
    // waiting for a writer, and the check of the open file below refuses it.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return refuse(systemReason());
    struct Closer
    {
        int fd;
        ~Closer() { ::close(fd); }
    } closer {fd};
    if (::fstat(fd, &st) != 0)
        return refuse(systemReason());
    if (!S_ISREG(st.st_mode))
        return refuse(notRegular());

    // The size is only a hint: a file that grows while it is read (or one of /proc, which
    // claims 0 bytes) is read to its end, within the limit.
    QByteArray data(qMax<qint64>(st.st_size, 0), Qt::Uninitialized);
    qint64 got = 0;
    for (;;) {
        if (got == data.size()) {
            if (maxSize >= 0 && got > maxSize)
                return refuse(tooLarge());
            data.resize(got + 64 * 1024);
        }
        const ssize_t n = ::read(fd, data.data() + got, size_t(data.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return refuse(systemReason());
        if (n == 0)
            break;
        got += n;
    }
    if (maxSize >= 0 && got > maxSize)
        return refuse(tooLarge());
    data.truncate(got);
    *bytes = std::move(data);
    return true;
}

bool read(const QString &path, QStringList *lines, TextEncoding *encoding, QString *error)
{
    QByteArray bytes;
    if (!readBytes(path, &bytes, error, MaxTextFileSize))
        return false;
    *lines = splitLines(decode(std::move(bytes), encoding));
    return true;
}

namespace {

char16_t unit(char c)
{
    return uchar(c);
}
char16_t unit(QChar c)
{
    return c.unicode();
}

// Calls `each` for every line of the text, split as splitLines() splits it.
template <typename View, typename Each> void forEachLine(View text, const Each &each)
{
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = unit(text[i]);
        if (c != u'\r' && c != u'\n')
            continue;
        each(text.sliced(start, i - start));
        if (c == u'\r' && i + 1 < n && unit(text[i + 1]) == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < n)
        each(text.sliced(start));
}

// Whether decode() reads the bytes as UTF-8. They are checked a piece at a time, cut after
// a line feed, which no UTF-8 sequence holds.
bool validUtf8(QByteArrayView bytes)
{
    constexpr qsizetype Piece = 64 * 1024;
    QVarLengthArray<QChar> out;
    for (qsizetype at = 0; at < bytes.size();) {
        qsizetype end = qMin(at + Piece, bytes.size());
        if (end < bytes.size()) {
            const qsizetype lf = bytes.sliced(end).indexOf('\n');
            end = lf < 0 ? bytes.size() : end + lf + 1;
        }
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        out.resize(utf8.requiredSpace(end - at));
        utf8.appendToBuffer(out.data(), bytes.sliced(at, end - at));
        if (utf8.hasError())
            return false;
        at = end;
    }
    return true;
}

} // namespace

QString Line::toString() const
{
    if (!isUtf8())
        return text.toString();
    // Only the file's first U+FEFF is a byte-order mark; one that starts a later line is text.
    QStringDecoder decoder(QStringDecoder::Utf8,
        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    return decoder.decode(utf8);
}

bool readLines(const QString &path, const std::function<void(const Line &)> &each,
    TextEncoding *encoding, QString *error)
{
    QByteArray bytes;
    if (!readBytes(path, &bytes, error, MaxTextFileSize))
        return false;
    if (!bytes.startsWith("\xFF\xFE") && !bytes.startsWith("\xFE\xFF")) {
        // As decode(): cut at a NUL, and every byte-order mark at the start goes.
        QByteArrayView view(bytes);
        const qsizetype nul = view.indexOf('\0');
        if (nul >= 0)
            view.truncate(nul);
        while (view.startsWith("\xEF\xBB\xBF"))
            view = view.sliced(3);
        if (validUtf8(view)) {
            if (encoding)
                *encoding = TextEncoding::Utf8;
            forEachLine(view, [&](QByteArrayView line) { each(Line {line, QStringView()}); });
            return true;
        }
    }
    const QString text = decode(std::move(bytes), encoding);
    forEachLine(QStringView(text), [&](QStringView line) {
        // A line of no characters is still text, not UTF-8.
        each(Line {QByteArrayView(), line.isNull() ? QStringView(u"") : line});
    });
    return true;
}

bool writeBytes(const QString &path, const QByteArray &bytes, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        if (error)
            *error = createErrorText(path, file.errorString());
        return false;
    }
    return true;
}

bool write(const QString &path, const QStringList &lines, TextEncoding wanted, QString *error,
    TextEncoding *used)
{
    TextEncoding actual = wanted;
    const QByteArray bytes = encodeLines(lines, wanted, &actual);
    if (!writeBytes(path, bytes, error))
        return false;
    if (used)
        *used = actual;
    return true;
}

} // namespace kolporta::project::TextFile
