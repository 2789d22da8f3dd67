#include "delivery/SendLog.h"

#include <sys/stat.h>

namespace kolporta::delivery {

namespace {
QByteArray encodedLine(const QString &line)
{
    QByteArray bytes = line.toUtf8();
    bytes.append("\r\n", 2);
    return bytes;
}
} // namespace

SendLog::~SendLog()
{
    finish();
}

QString SendLog::pathFor(const QString &folder, const QDateTime &start)
{
    return folder + QStringLiteral("/Kolporta ")
        + start.toString(QStringLiteral("yyyy-MM-dd hh-mm-ss")) + QStringLiteral(".txt");
}

void SendLog::start(const QString &path)
{
    finish();
    m_lines.clear();
    m_path = path;
    m_rewrite = true;
}

void SendLog::append(const QString &line)
{
    m_lines.append(line);
    if (m_path.isEmpty())
        return;
    if (!writeToFile(line)) {
        // Ignored, as the log costs nothing but its file; the next line tries again
        // from a fresh handle.
        m_file.close();
        m_rewrite = true;
    }
}

void SendLog::finish()
{
    if (m_file.isOpen())
        m_file.close();
}

// Whether the open file still has a name. A file removed (or replaced by another) under an
// open handle takes every write without complaint, and the lines would be lost unseen.
bool SendLog::fileStillInPlace() const
{
    struct stat st;
    return ::fstat(m_file.handle(), &st) == 0 && st.st_nlink > 0;
}

bool SendLog::writeToFile(const QString &line)
{
    if (m_rewrite) {
        m_file.close();
        m_file.setFileName(m_path);
        // Appending, not writing at our own offset: another program started in the same
        // second may replace the file, and our later lines must follow its content rather
        // than overwrite it and leave a hole.
        if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Append))
            return false;
        QByteArray all;
        for (const QString &l : std::as_const(m_lines))
            all += encodedLine(l);
        if (m_file.write(all) != all.size() || !m_file.flush() || !fileStillInPlace())
            return false;
        m_rewrite = false;
        return true;
    }
    if (!m_file.isOpen()) {
        m_file.setFileName(m_path);
        if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append))
            return false;
    }
    const QByteArray bytes = encodedLine(line);
    return m_file.write(bytes) == bytes.size() && m_file.flush() && fileStillInPlace();
}

} // namespace kolporta::delivery
