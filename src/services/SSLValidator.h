#pragma once

#include "services/LoggerProtocol.h"

#include <QList>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QString>

#include <memory>
#include <mutex>

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

    // What every request of the session carries. With extra authorities, the first call reads the
    // system's trust store, so the session calls it on its own thread. Thread-safe.
    QSslConfiguration tlsConfiguration() const;

    const QList<QSslCertificate>& extraTrustedAuthorities() const { return extraAuthorities; }

private:
    std::shared_ptr<LoggerProtocol> logger;
    QList<QSslCertificate> extraAuthorities;
    mutable std::once_flag configurationBuilt;
    mutable QSslConfiguration configuration;
};

} // namespace tarn
