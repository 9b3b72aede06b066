#include "services/SSLValidator.h"

#include "services/Error.h"

#include <QFile>
#include <QSslSocket>

namespace tarn {

SSLValidator::SSLValidator(std::shared_ptr<LoggerProtocol> logger, QList<QSslCertificate> extraAuthorities)
    : logger(std::move(logger)), extraAuthorities(std::move(extraAuthorities)) {}

QList<QSslCertificate> SSLValidator::loadCertificateBundle(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw SystemError(QStringLiteral("The CA bundle '%1' cannot be read: %2").arg(path, file.errorString()));
    }
    const QList<QSslCertificate> certificates = QSslCertificate::fromData(file.readAll(), QSsl::Pem);
    if (certificates.isEmpty()) {
        throw SystemError(QStringLiteral("The CA bundle '%1' holds no PEM certificate").arg(path));
    }
    return certificates;
}

QSslConfiguration SSLValidator::tlsConfiguration() const {
    std::call_once(configurationBuilt, [this] {
        QSslConfiguration built = QSslConfiguration::defaultConfiguration();
        built.setPeerVerifyMode(QSslSocket::VerifyPeer);
        if (!extraAuthorities.isEmpty()) {
            // Naming any authority explicitly turns off the on-demand lookup in the system's certificate
            // folders, so the system's roots must be listed too: the extra ones add trust, never replace it.
            built.setCaCertificates(QSslConfiguration::systemCaCertificates() + extraAuthorities);
        }
        configuration = built;
    });
    return configuration;
}

} // namespace tarn
