#include "ExportSession.h"

#include "project/TextFile.h"

#include <QDir>
#include <QRegularExpression>

namespace kolporta::cli {

bool ExportSession::holdsExport(const QString &folder)
{
    static const QRegularExpression name(QStringLiteral("^[0-9]{5,}\\.(eml|rcpt)$"));
    const QStringList files = QDir(folder).entryList(QDir::Files);
    for (const QString &f : files) {
        if (name.match(f).hasMatch())
            return true;
    }
    return false;
}

bool ExportSession::mailFrom(const QString &, qint64)
{
    m_recipients.clear();
    return true;
}

bool ExportSession::rcptTo(const QString &address)
{
    m_recipients.append(address);
    return true;
}

bool ExportSession::sendDataLines(const QList<QByteArray> &lines, QString *error)
{
    error->clear();
    m_lines = lines;
    return true;
}

bool ExportSession::sendEndOfData(QString *error)
{
    const QString base = m_folder + QLatin1Char('/')
        + QStringLiteral("%1").arg(++m_count, 5, 10, QLatin1Char('0'));
    qsizetype size = 0;
    for (const QByteArray &l : std::as_const(m_lines))
        size += l.size() + 2;
    QByteArray eml;
    eml.reserve(size);
    for (const QByteArray &l : std::as_const(m_lines)) {
        eml += l;
        eml += "\r\n";
    }
    m_lines.clear();
    QByteArray rcpt;
    for (const QString &r : std::as_const(m_recipients)) {
        rcpt += r.toUtf8();
        rcpt += "\r\n";
    }
    if (!project::TextFile::writeBytes(base + QStringLiteral(".eml"), eml, error)
        || !project::TextFile::writeBytes(base + QStringLiteral(".rcpt"), rcpt, error))
        return false;
    m_recipients.clear();
    return true;
}

} // namespace kolporta::cli
