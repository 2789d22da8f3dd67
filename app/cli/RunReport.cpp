#include "RunReport.h"

#include "Commands.h"

#include <QDir>
#include <QFileInfo>

#include <cstdio>

namespace kolporta::cli {

namespace {

void errorLine(const QString &text)
{
    const QByteArray bytes = text.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

bool hidden(const QString &absolutePath)
{
    const QStringList parts = absolutePath.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        if (part.startsWith(QLatin1Char('.')))
            return true;
    }
    return false;
}

bool under(const QString &path, const QString &folder)
{
    if (folder.isEmpty())
        return false;
    return path.startsWith(folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/'));
}

// The folder itself, its links resolved where it exists.
QString canonicalFolder(const QString &folder)
{
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(QDir(folder).absolutePath()) : canonical;
}

void listFile(const QString &kind, const QString &path, const QStringList &safeFolders)
{
    const QFileInfo info(path);
    const QString absolute = QDir::cleanPath(info.absoluteFilePath());
    const QString canonical = info.canonicalFilePath(); // empty when it does not exist
    const QString shown = canonical.isEmpty() ? absolute : canonical;
    QString what;
    if (canonical.isEmpty())
        what = QStringLiteral("missing");
    else if (!info.isFile())
        what = QStringLiteral("not a regular file");
    else
        what = QStringLiteral("%1 bytes").arg(info.size());
    errorLine(QStringLiteral("kolporta-cli: %1 %2 (%3)").arg(kind, shown, what));

    // The name as written and the file a link leads to both count.
    if (hidden(absolute) || hidden(canonical))
        errorLine(QStringLiteral("kolporta-cli: warning: %1 is hidden or lies in a hidden folder")
                      .arg(shown));
    bool inside = false;
    for (const QString &folder : safeFolders)
        inside = inside || under(shown, folder);
    if (!inside)
        errorLine(QStringLiteral("kolporta-cli: warning: %1 lies outside the project's folder "
                                 "and the home folder")
                      .arg(shown));
}

} // namespace

void listFilesToSend(const project::Project &project, const QString &projectPath)
{
    const QStringList safeFolders {
        canonicalFolder(QFileInfo(projectPath).absolutePath()),
        qEnvironmentVariableIsEmpty("HOME") ? QString()
                                            : canonicalFolder(qEnvironmentVariable("HOME")),
    };
    for (const QString &path : project.attachments)
        listFile(QStringLiteral("picture"), path, safeFolders);
    for (const QString &path : project.files)
        listFile(QStringLiteral("attachment"), path, safeFolders);
}

void printSummary(const delivery::SendRunResult &result)
{
    if (result.status == delivery::SendRunResult::Status::NoRoute
        || result.status == delivery::SendRunResult::Status::Busy)
        return;
    const delivery::LineCounts &c = result.counts;
    QString line = QStringLiteral("kolporta-cli: %1 sent, %2 failed, %3 uncertain, %4 skipped")
                       .arg(c.sent)
                       .arg(c.refused + c.failed)
                       .arg(c.uncertain)
                       .arg(c.skipped);
    if (c.total() < result.lines)
        line += QStringLiteral(", %1 not tried").arg(result.lines - c.total());
    if (result.passedOver > 0)
        line += QStringLiteral(", %1 settled by the journal").arg(result.passedOver);
    errorLine(line);
}

int exitStatus(const delivery::SendRunResult &result)
{
    // The window shows nothing for a run without a route; here silence would look like a
    // hang or a success, so say why nothing happened.
    if (result.status == delivery::SendRunResult::Status::NoRoute)
        usageError(QStringLiteral("kolporta-cli: the project selects no delivery route on this "
                                  "machine; nothing was sent"));
    if (!result.everyLineTried())
        return 1;
    const delivery::LineCounts &c = result.counts;
    return c.refused + c.failed + c.uncertain > 0 ? 3 : 0;
}

} // namespace kolporta::cli
