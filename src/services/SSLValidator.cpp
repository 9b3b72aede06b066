#include "services/SSLValidator.h"

#include "base/Error.h"

#include <QFile>
#include <openssl/err.h>
#include <openssl/x509.h>

namespace tarn {

using namespace Qt::StringLiterals;

SSLValidator::SSLValidator(std::shared_ptr<LoggerProtocol> logger, QList<QSslCertificate> extraAuthorities)
    : logger(std::move(logger)), extraAuthorities(std::move(extraAuthorities)) {}

QList<QSslCertificate> SSLValidator::loadCertificateBundle(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw SystemError(u"The CA bundle '%1' cannot be read: %2"_s.arg(path, file.errorString()));
    }
    const QList<QSslCertificate> certificates = QSslCertificate::fromData(file.readAll(), QSsl::Pem);
    if (certificates.isEmpty()) {
        throw SystemError(u"The CA bundle '%1' holds no PEM certificate"_s.arg(path));
    }
    return certificates;
}

bool SSLValidator::addExtraAuthorities(X509_STORE* store) const {
    for (const QSslCertificate& authority : extraAuthorities) {
        const QByteArray der = authority.toDer();
        const auto* bytes = reinterpret_cast<const unsigned char*>(der.constData());
        X509* certificate = d2i_X509(nullptr, &bytes, der.size());
        // A store that holds the certificate already answers success.
        const bool added = certificate && X509_STORE_add_cert(store, certificate) == 1;
        X509_free(certificate);
        if (!added) {
            ERR_clear_error();
            return false;
        }
    }
    return true;
}

} // namespace tarn
