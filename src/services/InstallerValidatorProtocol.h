#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <qcoro/qcorotask.h>

namespace tarn {

// Decides whether downloaded content may be trusted: its SHA-512 digest must equal the announced one
// (compared without regard to case), and a package must be signed by one of the trusted identities.
// Every operation succeeds by returning and fails by throwing.
class InstallerValidatorProtocol {
public:
    virtual ~InstallerValidatorProtocol() = default;

    virtual QCoro::Task<> validateHash(QByteArray content, QString expectedHash, QString label) = 0;
    virtual QCoro::Task<> validateHash(QUrl fileURL, QString expectedHash) = 0;
    virtual QCoro::Task<> validateHash(QString filePath, QString expectedHash) = 0;
    virtual QCoro::Task<> validateSignature(QUrl fileURL, QStringList trustedSigners) = 0;
    virtual QCoro::Task<> validateSignature(QString filePath, QStringList trustedSigners) = 0;
};

} // namespace tarn
