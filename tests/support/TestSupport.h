#pragma once

#include <QByteArray>
#include <QString>

// Small helpers shared by the test executables.
namespace kolporta::test {

// A file under tests/data.
QString dataPath(const QString &name);

// The home folder the test runs with ($KOLPORTA_HOME, set by CTest to a fresh folder).
QString homePath();

QByteArray readBytes(const QString &path);
void writeBytes(const QString &path, const QByteArray &bytes);

// A TCP port on 127.0.0.1 that was free a moment ago.
quint16 freeLoopbackPort();

} // namespace kolporta::test
