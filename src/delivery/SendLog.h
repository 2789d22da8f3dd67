#pragma once

#include "project/LineList.h"

#include <QDateTime>
#include <QFile>
#include <QString>
#include <QStringList>

namespace kolporta::delivery {

// The send log of one run: its lines in memory and the dated log file that mirrors them.
// Each line is appended to the file and flushed at once, so at any moment the file holds
// every line written so far, also when the process is killed; rewriting the whole file
// after each line would cost O(n^2) on long lists. The file is UTF-8 with CR LF. A write
// that fails costs only the file: the line stays in memory and the next line rewrites the
// file in full, so a hole never stays in it.
class SendLog
{
public:
    SendLog() = default;
    ~SendLog();
    SendLog(const SendLog &) = delete;
    SendLog &operator=(const SendLog &) = delete;

    // "Kolporta yyyy-mm-dd hh-nn-ss.txt" in `folder`, from the local time `start`.
    static QString pathFor(const QString &folder, const QDateTime &start);

    // Empties the log and fixes the file of the new run. The file is not touched until the
    // first line, so a run that writes no line writes no file; the first line replaces
    // whatever the file held. An empty path keeps the log in memory only.
    void start(const QString &path);

    // Appends a line (without its line end) and mirrors it to the file.
    void append(const QString &line);

    // Closes the file; the lines stay until the next start().
    void finish();

    QStringList lines() const { return m_lines.toStringList(); }
    const QString &path() const { return m_path; }

private:
    bool writeToFile(const QString &line);
    bool fileStillInPlace() const;

    project::LineList m_lines; // compact: a run may log a million lines
    QString m_path;
    QFile m_file;
    // Until a write succeeded in full, the next write replaces the file with every line.
    bool m_rewrite = true;
};

} // namespace kolporta::delivery
