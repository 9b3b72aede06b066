#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

struct evp_md_st;
struct evp_md_ctx_st;

namespace tarn::tool {

// The digests xar archives name for their table of contents and their heap entries. MD5 is left out on
// purpose: it proves nothing about a package any more.
enum class ChecksumAlgorithm { sha1, sha256, sha512 };

// "sha1", "sha256", "sha512" as xar writes them in a style attribute (case-insensitive).
std::optional<ChecksumAlgorithm> checksumAlgorithmNamed(QStringView style);
QString checksumName(ChecksumAlgorithm algorithm);
int digestLength(ChecksumAlgorithm algorithm);
const evp_md_st* evpDigest(ChecksumAlgorithm algorithm);

// An incremental digest; `finish` may be called once.
class Hasher {
public:
    explicit Hasher(ChecksumAlgorithm algorithm);
    ~Hasher();
    Hasher(const Hasher&) = delete;
    Hasher& operator=(const Hasher&) = delete;

    void update(const char* data, qsizetype size);
    QByteArray finish();

private:
    evp_md_ctx_st* context;
};

QByteArray digestOf(ChecksumAlgorithm algorithm, QByteArrayView data);

} // namespace tarn::tool
