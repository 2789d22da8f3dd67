#include "TestCertificates.h"

#include <QDir>
#include <QFile>
#include <QProcess>

namespace kolporta::test {

namespace {

bool runOpenssl(const QStringList &args, QString *error)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("openssl"), args);
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        if (error)
            *error = QStringLiteral("openssl %1 failed: %2")
                         .arg(args.join(QLatin1Char(' ')), QString::fromUtf8(p.readAll()));
        return false;
    }
    return true;
}

} // namespace

bool TestCertificates::make(const QString &folder, const QStringList &dnsNames,
    const QStringList &ipAddresses, TestCertificates *out, QString *error)
{
    QDir().mkpath(folder);
    const QString caKey = folder + QStringLiteral("/ca.key");
    const QString csr = folder + QStringLiteral("/server.csr");
    const QString ext = folder + QStringLiteral("/server.ext");
    out->caFile = folder + QStringLiteral("/ca.pem");
    out->certFile = folder + QStringLiteral("/server.pem");
    out->keyFile = folder + QStringLiteral("/server.key");

    QStringList san;
    for (const QString &name : dnsNames)
        san << QStringLiteral("DNS:") + name;
    for (const QString &ip : ipAddresses)
        san << QStringLiteral("IP:") + ip;
    QFile extFile(ext);
    if (!extFile.open(QIODevice::WriteOnly)) {
        if (error)
            *error = QStringLiteral("cannot write ") + ext;
        return false;
    }
    extFile.write("basicConstraints=CA:FALSE\nkeyUsage=digitalSignature,keyEncipherment\n"
                  "extendedKeyUsage=serverAuth\nsubjectAltName=");
    extFile.write(san.join(QLatin1Char(',')).toUtf8());
    extFile.write("\n");
    extFile.close();

    const QString ec = QStringLiteral("ec:") + folder + QStringLiteral("/ec.param");
    return runOpenssl(
               {QStringLiteral("ecparam"), QStringLiteral("-name"), QStringLiteral("prime256v1"),
                   QStringLiteral("-out"), folder + QStringLiteral("/ec.param")},
               error)
        && runOpenssl(
            {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), ec,
                QStringLiteral("-nodes"), QStringLiteral("-keyout"), caKey, QStringLiteral("-out"),
                out->caFile, QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                QStringLiteral("/CN=Kolporta Test CA"), QStringLiteral("-addext"),
                QStringLiteral("basicConstraints=critical,CA:TRUE"), QStringLiteral("-addext"),
                QStringLiteral("keyUsage=critical,keyCertSign,cRLSign")},
            error)
        && runOpenssl({QStringLiteral("req"), QStringLiteral("-newkey"), ec,
                          QStringLiteral("-nodes"), QStringLiteral("-keyout"), out->keyFile,
                          QStringLiteral("-out"), csr, QStringLiteral("-subj"),
                          QStringLiteral("/CN=") + dnsNames.value(0, QStringLiteral("server"))},
            error)
        && runOpenssl(
            {QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"), csr,
                QStringLiteral("-CA"), out->caFile, QStringLiteral("-CAkey"), caKey,
                QStringLiteral("-CAcreateserial"), QStringLiteral("-out"), out->certFile,
                QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-extfile"), ext},
            error);
}

} // namespace kolporta::test
