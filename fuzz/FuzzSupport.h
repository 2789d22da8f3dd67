#pragma once

#include <QByteArray>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

// What every fuzz target shares: a check that stops the run with a message, so a broken
// invariant is a finding just like a sanitizer report, both under libFuzzer and under the
// corpus driver that CTest runs.
namespace kolporta::fuzz {

[[noreturn]] inline void fail(const char *what, const char *file, int line, const QString &detail)
{
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
    if (!detail.isEmpty())
        std::fprintf(stderr, "%s\n", detail.toLocal8Bit().constData());
    std::fflush(stderr);
    std::abort();
}

// Every surrogate in its pair, so the text can be written as UTF-8 and read back unchanged.
inline bool validUnicode(const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        else if (text.at(i).isSurrogate())
            return false;
    }
    return true;
}

// How a value looks in a failure message: strings quoted with their escapes visible.
inline QString show(const QString &text)
{
    QString out;
    QDebug(&out) << text;
    return out;
}

inline QString show(const QStringList &list)
{
    QString out;
    QDebug(&out) << list;
    return out;
}

inline QString show(const QByteArray &bytes)
{
    QString out;
    QDebug(&out) << bytes;
    return out;
}

// A scratch folder for targets that go through real files, removed at exit. It lies in
// shared memory where there is some, so a million writes do not wear a disk.
inline QString scratchFolder()
{
    static QTemporaryDir dir([] {
        const QString shm = QStringLiteral("/dev/shm");
        return (QFileInfo(shm).isWritable() ? shm : QDir::tempPath())
            + QStringLiteral("/kolporta-fuzz-XXXXXX");
    }());
    if (!dir.isValid())
        fail("scratch folder", __FILE__, __LINE__, dir.errorString());
    return dir.path();
}

inline void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        fail("write input file", __FILE__, __LINE__, file.errorString());
}

} // namespace kolporta::fuzz

#define FUZZ_CHECK(condition)                                                                      \
    ((condition) ? void(0) : ::kolporta::fuzz::fail(#condition, __FILE__, __LINE__, QString()))

// Compares two values and shows both when they differ.
#define FUZZ_CHECK_EQUAL(a, b)                                                                     \
    (((a) == (b)) ? void(0)                                                                        \
                  : ::kolporta::fuzz::fail(#a " == " #b, __FILE__, __LINE__,                       \
                      QStringLiteral("  %1\n  %2")                                                 \
                          .arg(::kolporta::fuzz::show(a), ::kolporta::fuzz::show(b))))
