#include "common/Digest.h"

#include "common/ToolError.h"

#include <openssl/evp.h>

using namespace Qt::StringLiterals;

namespace tarn::tool {

std::optional<ChecksumAlgorithm> checksumAlgorithmNamed(QStringView style) {
    const QString name = style.toString().toLower();
    if (name == QLatin1String("sha1")) {
        return ChecksumAlgorithm::sha1;
    }
    if (name == QLatin1String("sha256")) {
        return ChecksumAlgorithm::sha256;
    }
    if (name == QLatin1String("sha512")) {
        return ChecksumAlgorithm::sha512;
    }
    return std::nullopt;
}

QString checksumName(ChecksumAlgorithm algorithm) {
    switch (algorithm) {
    case ChecksumAlgorithm::sha1:
        return u"sha1"_s;
    case ChecksumAlgorithm::sha256:
        return u"sha256"_s;
    case ChecksumAlgorithm::sha512:
        return u"sha512"_s;
    }
    return {};
}

const EVP_MD* evpDigest(ChecksumAlgorithm algorithm) {
    switch (algorithm) {
    case ChecksumAlgorithm::sha1:
        return EVP_sha1();
    case ChecksumAlgorithm::sha256:
        return EVP_sha256();
    case ChecksumAlgorithm::sha512:
        return EVP_sha512();
    }
    return nullptr;
}

int digestLength(ChecksumAlgorithm algorithm) {
    return EVP_MD_get_size(evpDigest(algorithm));
}

Hasher::Hasher(ChecksumAlgorithm algorithm) : context(EVP_MD_CTX_new()) {
    if (!context || EVP_DigestInit_ex(context, evpDigest(algorithm), nullptr) != 1) {
        EVP_MD_CTX_free(context);
        throw ToolError(u"the digest %1 is not available"_s.arg(checksumName(algorithm)));
    }
}

Hasher::~Hasher() {
    EVP_MD_CTX_free(context);
}

void Hasher::update(const char* data, qsizetype size) {
    EVP_DigestUpdate(context, data, static_cast<size_t>(size));
}

QByteArray Hasher::finish() {
    QByteArray digest(EVP_MAX_MD_SIZE, Qt::Uninitialized);
    unsigned int length = 0;
    EVP_DigestFinal_ex(context, reinterpret_cast<unsigned char*>(digest.data()), &length);
    digest.truncate(static_cast<qsizetype>(length));
    return digest;
}

QByteArray digestOf(ChecksumAlgorithm algorithm, QByteArrayView data) {
    Hasher hasher(algorithm);
    hasher.update(data.data(), data.size());
    return hasher.finish();
}

} // namespace tarn::tool
