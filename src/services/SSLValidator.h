#pragma once

#include "services/LoggerProtocol.h"

#include <QList>
#include <QSslCertificate>
#include <QString>
#include <openssl/types.h>

#include <memory>

namespace tarn {

// Decides whom the HTTPS session trusts: the system's trust roots, plus any authorities the user named
// explicitly (--ca-bundle), with the standard chain and host-name check. It answers no TLS error
// itself and pins nothing, so a server that fails the check fails its request. Logs nothing.
class SSLValidator final {
public:
    explicit SSLValidator(std::shared_ptr<LoggerProtocol> logger, QList<QSslCertificate> extraAuthorities = {});

    // The certificates of a PEM bundle. Throws SystemError when the file cannot be read or holds no
    // certificate, so a mistyped option is reported instead of silently trusting nothing more.
    static QList<QSslCertificate> loadCertificateBundle(const QString& path);

    // Adds the extra authorities to the trust store of one TLS connection, which already holds the
    // system's roots: they add trust, never replace it. False when one cannot be added. Thread-safe.
    bool addExtraAuthorities(X509_STORE* store) const;

    const QList<QSslCertificate>& extraTrustedAuthorities() const { return extraAuthorities; }

private:
    std::shared_ptr<LoggerProtocol> logger;
    QList<QSslCertificate> extraAuthorities;
};

} // namespace tarn
