#pragma once

#include <QString>
#include <QStringList>

namespace kolporta::test {

// Throwaway certificates made by the openssl command-line tool: a CA and a server
// certificate signed by it, for TLS tests against loopback servers.
struct TestCertificates
{
    QString caFile; // the CA certificate (PEM), to trust through "CAFile"
    QString certFile; // the server certificate (PEM)
    QString keyFile; // the server's private key (PEM)

    // Makes them in `folder` (created when missing). The server certificate names
    // `dnsNames` and `ipAddresses` as subject alternative names. EC keys keep it fast.
    static bool make(const QString &folder, const QStringList &dnsNames,
        const QStringList &ipAddresses, TestCertificates *out, QString *error = nullptr);
};

} // namespace kolporta::test
