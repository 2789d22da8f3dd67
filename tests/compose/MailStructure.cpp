#include "MailStructure.h"

#include "TestSupport.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QTemporaryFile>
#include <QTest>

namespace kolporta::test {

QStringList mailStructure(const QByteArray &message)
{
    QTemporaryFile file;
    if (!file.open())
        qFatal("cannot create a temporary file");
    file.write(message);
    file.flush();
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
        {dataPath(QStringLiteral("mail-structure.py")), file.fileName()});
    if (!python.waitForFinished(60000) || python.exitCode() != 0)
        qFatal("mail-structure.py failed: %s", python.readAllStandardError().constData());
    QStringList lines = QString::fromUtf8(python.readAllStandardOutput()).split(u'\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QStringList mailFacts(const QByteArray &message, const QStringList &prefixes)
{
    QStringList facts;
    for (const QString &line : mailStructure(message)) {
        for (const QString &prefix : prefixes) {
            if (line.startsWith(prefix)) {
                facts.append(line);
                break;
            }
        }
    }
    return facts;
}

QList<QByteArray> rawHeaderLines(const QByteArray &message)
{
    const qsizetype end = message.indexOf("\n\n");
    return message.left(end < 0 ? message.size() : end).split('\n');
}

QString dataFact(const QByteArray &bytes)
{
    return QStringLiteral("data %1 %2")
        .arg(bytes.size())
        .arg(QString::fromLatin1(
            QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex()));
}

} // namespace kolporta::test
