#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QTest>

namespace kolporta::test {

QString dataPath(const QString &name)
{
    return QStringLiteral(KOLPORTA_TEST_DATA_DIR "/") + name;
}

QString homePath()
{
    const QString home = qEnvironmentVariable("KOLPORTA_HOME");
    if (home.isEmpty())
        qFatal("KOLPORTA_HOME is not set; run the tests through ctest");
    return home;
}

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    file.write(bytes);
}

quint16 freeLoopbackPort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        qFatal("no free loopback port");
    return server.serverPort();
}

} // namespace kolporta::test
