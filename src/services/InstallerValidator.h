#pragma once

#include "services/InstallerValidatorProtocol.h"
#include "services/LoggerProtocol.h"
#include "services/ProcessRunnerProtocol.h"

#include <memory>

namespace tarn {

// Decides whether downloaded content may be trusted: its SHA-512 digest must equal the one the catalogue
// announced, and a package must be reported by the package tool as signed by a trusted identity.
// A file is digested on a worker thread, 64 KiB at a time, so neither the window nor memory suffers
// from a large installer.
class InstallerValidator final : public InstallerValidatorProtocol {
public:
    InstallerValidator(std::shared_ptr<LoggerProtocol> logger, std::shared_ptr<ProcessRunnerProtocol> processRunner,
                       QString pkgutilPath);

    QCoro::Task<> validateHash(QByteArray content, QString expectedHash, QString label) override;
    QCoro::Task<> validateHash(QUrl fileURL, QString expectedHash) override;
    QCoro::Task<> validateHash(QString filePath, QString expectedHash) override;
    QCoro::Task<> validateSignature(QUrl fileURL, QStringList trustedSigners) override;
    QCoro::Task<> validateSignature(QString filePath, QStringList trustedSigners) override;

    static constexpr qint64 chunkSize = 64 * 1024;

    // 128 lower-case hexadecimal digits.
    static QString sha512Hash(const QByteArray& content);

private:
    QCoro::Task<QString> sha512Hash(QUrl fileURL) const;
    QCoro::Task<> requireTrustedSigner(QUrl fileURL, QStringList trustedSigners) const;

    std::shared_ptr<LoggerProtocol> logger;
    std::shared_ptr<ProcessRunnerProtocol> processRunner;
    QString pkgutilPath;
};

} // namespace tarn
