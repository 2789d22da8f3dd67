#pragma once

#include "delivery/SmtpSession.h"

#include <QString>
#include <QStringList>

namespace kolporta::cli {

// An SMTP session that contacts no server: every message that would go over the wire is
// written as NNNNN.eml (its lines with CR LF, before dot-stuffing, which belongs to the wire)
// with its envelope recipients in NNNNN.rcpt, one a line, numbered from 00001 in the folder.
// Every command is accepted. A file that cannot be written fails the data stage with an
// error text, which the run logs with the line and counts as failed.
class ExportSession : public delivery::SmtpSession
{
public:
    explicit ExportSession(QString folder)
        : m_folder(std::move(folder))
    { }

    // Whether the folder already holds exported messages, which a new export would mix with.
    static bool holdsExport(const QString &folder);

    bool open() override { return true; }
    bool mailFrom(const QString &address, qint64 size) override;
    bool rcptTo(const QString &address) override;
    bool sendDataLines(const QList<QByteArray> &lines, QString *error) override;
    bool sendEndOfData(QString *error) override;
    void close() override { }
    int lastReplyCode() const override { return 250; }

private:
    QString m_folder;
    QStringList m_recipients;
    QList<QByteArray> m_lines; // the message between DATA and its "."
    int m_count = 0; // messages handed over so far; a failed one keeps its number
};

} // namespace kolporta::cli
