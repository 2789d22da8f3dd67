#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

namespace kolporta::project {

enum class TextEncoding { Utf8, Windows1250 };

// How the program's own text files are read and written: UTF-8 when the bytes are valid
// UTF-8 (a BOM is skipped), Windows-1250 otherwise, so older files written in that code page
// open correctly. A file goes back in the encoding it came in while every character fits and
// while its bytes read back as the same text.
namespace TextFile {

// The largest text file read: far beyond any real project or settings file, yet small
// enough that a wrong file (a disk image, a video) is refused rather than read into memory.
constexpr qint64 MaxTextFileSize = 64 * 1024 * 1024;

// A NUL byte ends the text; the encoding found goes to *encoding.
QString decode(QByteArray bytes, TextEncoding *encoding = nullptr);

// CR LF, a lone CR and a lone LF each end a line; a last line without an end is a line.
QStringList splitLines(QStringView text);

// Every line followed by CR LF. Windows-1250 falls back to UTF-8 when a character does
// not fit, or when its bytes would read back as different text (bytes that happen to be
// valid UTF-8 are read as UTF-8); *used gets the encoding actually written.
QByteArray encodeLines(const QStringList &lines, TextEncoding wanted, TextEncoding *used = nullptr);

// Reads a whole file. Only a regular file (after following links) is read: a FIFO, a
// device or a folder could block for ever or never end, so it is refused before it is
// opened. A file larger than `maxSize` (when >= 0) is refused unread. On failure *error is
// "Cannot open file "path". reason".
bool readBytes(const QString &path, QByteArray *bytes, QString *error, qint64 maxSize = -1);

// Reads and splits a whole text file of at most MaxTextFileSize bytes, as readBytes().
bool read(const QString &path, QStringList *lines, TextEncoding *encoding, QString *error);

// One line of a file as readLines() hands it out: its UTF-8 bytes when the file is UTF-8
// (valid, and read as text the way decode() reads it), otherwise its text.
struct Line
{
    QByteArrayView utf8;
    QStringView text;
    bool isUtf8() const { return text.isNull(); }
    QString toString() const;
};

// The lines read() gives, one at a time: a UTF-8 file (the usual kind) is never held as
// text in full, which for a long address list is twice its size.
bool readLines(const QString &path, const std::function<void(const Line &)> &each,
    TextEncoding *encoding, QString *error);

// Writes atomically: a temporary file in the same folder renamed into place, so a failed
// save leaves the old file byte for byte. On failure *error is
// "Cannot create file "path". reason".
bool write(const QString &path, const QStringList &lines, TextEncoding wanted, QString *error,
    TextEncoding *used = nullptr);

// Writes raw bytes the same atomic way; the error text is the same as for write().
bool writeBytes(const QString &path, const QByteArray &bytes, QString *error);

QString openErrorText(const QString &path, const QString &reason);
QString createErrorText(const QString &path, const QString &reason);

} // namespace TextFile
} // namespace kolporta::project
