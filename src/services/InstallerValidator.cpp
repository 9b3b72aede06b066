#include "services/InstallerValidator.h"

#include "base/Error.h"
#include "services/FileReference.h"
#include "services/InstallationError.h"

#include <QFile>
#include <QtConcurrent/QtConcurrentRun>
#include <openssl/evp.h>
#include <qcoro/qcorofuture.h>

#include <optional>
#include <variant>
#include <vector>

namespace tarn {

using namespace Qt::StringLiterals;

namespace {

// One SHA-512 computation; OpenSSL picks the fastest implementation the processor supports.
class Sha512 {
public:
    Sha512() : context(EVP_MD_CTX_new()) {
        if (context == nullptr || EVP_DigestInit_ex(context, EVP_sha512(), nullptr) != 1) {
            EVP_MD_CTX_free(context);
            throw SystemError(u"SHA-512 is not available."_s);
        }
    }
    ~Sha512() { EVP_MD_CTX_free(context); }
    Sha512(const Sha512&) = delete;
    Sha512& operator=(const Sha512&) = delete;

    void update(const char* bytes, qint64 count) {
        if (EVP_DigestUpdate(context, bytes, static_cast<size_t>(count)) != 1) {
            throw SystemError(u"SHA-512 computation failed."_s);
        }
    }

    QString hexDigest() {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        if (EVP_DigestFinal_ex(context, digest, &length) != 1) {
            throw SystemError(u"SHA-512 computation failed."_s);
        }
        return QString::fromLatin1(
                QByteArray::fromRawData(reinterpret_cast<const char*>(digest), static_cast<qsizetype>(length)).toHex());
    }

private:
    EVP_MD_CTX* context;
};

// Blocks the calling thread while it reads; throws SystemError when the file cannot be read.
QString sha512HashOfFile(const QString& localPath) {
    QFile file(localPath);
    // Unbuffered: every read goes straight to the system into our one chunk, nothing is copied twice.
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        throw SystemError(u"Could not open '%1' for reading: %2"_s.arg(localPath, file.errorString()));
    }
    Sha512 digest;
    std::vector<char> chunk(static_cast<size_t>(InstallerValidator::chunkSize));
    for (;;) {
        const qint64 count = file.read(chunk.data(), InstallerValidator::chunkSize);
        if (count < 0) {
            throw SystemError(u"Could not read '%1': %2"_s.arg(localPath, file.errorString()));
        }
        if (count == 0) {
            break;
        }
        digest.update(chunk.data(), count);
    }
    return digest.hexDigest();
}

// What the worker thread hands back: exceptions do not cross a QFuture unless they are QExceptions.
using DigestOutcome = std::variant<QString, SystemError>;

DigestOutcome digestOfFile(const QString& localPath) {
    try {
        return sha512HashOfFile(localPath);
    } catch (const SystemError& error) {
        return error;
    }
}

bool matches(const QString& digest, const QString& expectedHash) {
    return digest == expectedHash.toLower();
}

// The signing certificate as the report's chain prints it: entry "1." right below the last "Certificate
// Chain:" heading. Nothing else in the report counts: the package's name leads the report and is chosen by
// whoever built the disk image, and the other certificates are the authorities that issued the signer's.
std::optional<QString> signingCertificate(const QString& report) {
    const QStringList lines = report.split(u'\n');
    for (qsizetype index = lines.size() - 2; index >= 0; --index) {
        if (lines[index].trimmed() == QLatin1String("Certificate Chain:")) {
            const QString first = lines[index + 1].trimmed();
            if (!first.startsWith(QLatin1String("1. "))) {
                return std::nullopt;
            }
            return first.mid(3);
        }
    }
    return std::nullopt;
}

// "Developer ID Installer: TARN (Q7XK2M9P4D)" names the identity "TARN (Q7XK2M9P4D)"; so does the
// identity alone.
bool certificateNames(const QString& certificate, const QString& identity) {
    return certificate == identity || certificate.endsWith(u": "_s + identity);
}

} // namespace

InstallerValidator::InstallerValidator(std::shared_ptr<LoggerProtocol> logger,
                                       std::shared_ptr<ProcessRunnerProtocol> processRunner, QString pkgutilPath)
    : logger(std::move(logger)), processRunner(std::move(processRunner)), pkgutilPath(std::move(pkgutilPath)) {}

QCoro::Task<> InstallerValidator::validateHash(QByteArray content, QString expectedHash, QString label) {
    logger->info(u"Validating SHA512 hash for %1"_s.arg(label));
    if (!matches(sha512Hash(content), expectedHash)) {
        const QString message = u"Could not validate SHA512 for %1."_s.arg(label);
        logger->critical(message);
        throw InstallationError::mismatchHash(message);
    }
    logger->info(u"SHA512 matches for provided %1"_s.arg(label));
    co_return;
}

QCoro::Task<> InstallerValidator::validateHash(QUrl fileURL, QString expectedHash) {
    const QString location = locationText(fileURL);
    logger->info(u"Validating SHA512 hash for %1"_s.arg(location));
    const QString digest = co_await sha512Hash(fileURL);
    if (!matches(digest, expectedHash)) {
        const QString message = u"Could not validate SHA512 for %1."_s.arg(location);
        logger->critical(message);
        throw InstallationError::mismatchHash(message);
    }
    logger->info(u"SHA512 matches for %1"_s.arg(location));
}

QCoro::Task<> InstallerValidator::validateHash(QString filePath, QString expectedHash) {
    const std::optional<QUrl> fileURL = fileReference(filePath);
    if (!fileURL) {
        throw InstallationError::invalidPath(filePath);
    }
    co_await validateHash(*fileURL, std::move(expectedHash));
}

QCoro::Task<> InstallerValidator::validateSignature(QUrl fileURL, QStringList trustedSigners) {
    const QString location = locationText(fileURL);
    logger->info(u"Validating code signature for %1"_s.arg(location));
    std::exception_ptr failure;
    try {
        co_await requireTrustedSigner(fileURL, std::move(trustedSigners));
        logger->info(u"Code signature is valid for %1"_s.arg(location));
        co_return;
    } catch (const std::exception&) {
        failure = std::current_exception();
    }
    // Whatever went wrong, the caller learns one thing: this package is not to be trusted.
    const QString message =
            u"Error during code signature validation for %1. %2"_s.arg(location, localizedDescription(failure));
    logger->critical(message);
    throw InstallationError::mismatchSignature(message);
}

QCoro::Task<> InstallerValidator::validateSignature(QString filePath, QStringList trustedSigners) {
    const std::optional<QUrl> fileURL = fileReference(filePath);
    if (!fileURL) {
        throw InstallationError::invalidPath(filePath);
    }
    co_await validateSignature(*fileURL, std::move(trustedSigners));
}

QString InstallerValidator::sha512Hash(const QByteArray& content) {
    Sha512 digest;
    digest.update(content.constData(), content.size());
    return digest.hexDigest();
}

QCoro::Task<QString> InstallerValidator::sha512Hash(QUrl fileURL) const {
    const std::optional<QString> localPath = localFilePath(fileURL);
    if (!localPath) {
        throw SystemError(u"'%1' is not a file on this machine."_s.arg(locationText(fileURL)));
    }
    // Named first [gcc12-await-temporaries].
    QFuture<DigestOutcome> digest = QtConcurrent::run(digestOfFile, *localPath);
    const DigestOutcome outcome = co_await digest;
    if (const auto* error = std::get_if<SystemError>(&outcome)) {
        throw *error;
    }
    co_return std::get<QString>(outcome);
}

QCoro::Task<> InstallerValidator::requireTrustedSigner(QUrl fileURL, QStringList trustedSigners) const {
    const std::optional<QString> localPath = localFilePath(fileURL);
    if (!localPath) {
        throw SystemError(u"'%1' is not a file on this machine."_s.arg(locationText(fileURL)));
    }
    const QStringList arguments{u"--check-signature"_s, *localPath};
    const std::optional<QByteArray> output = co_await processRunner->runProcess(pkgutilPath, arguments);
    if (!output) {
        throw InstallationError::noProcessOutput(u"No output data from pkgutil"_s);
    }
    // An empty identity would match every certificate, so it trusts nothing.
    const std::optional<QString> report = decodedUtf8(*output);
    if (const std::optional<QString> certificate = report ? signingCertificate(*report) : std::nullopt) {
        for (const QString& signer : trustedSigners) {
            if (!signer.isEmpty() && certificateNames(*certificate, signer)) {
                co_return;
            }
        }
    }
    throw InstallationError::mismatchSignature(u"No valid code signature found."_s);
}

} // namespace tarn
