#pragma once

#include "common/ByteSource.h"
#include "common/Digest.h"
#include "common/ToolError.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>
#include <optional>

namespace tarn::tool {

// A xar archive that is not what it claims to be: not xar, truncated, malformed or failing a checksum.
class XarError : public ToolError {
public:
    using ToolError::ToolError;
};

struct XarChecksum {
    ChecksumAlgorithm algorithm = ChecksumAlgorithm::sha1;
    QByteArray digest;
};

// How a heap entry is stored. `zlib` covers gzip streams too: "application/x-gzip" is written as either,
// depending on the tool that made the archive.
enum class XarEncoding { none, zlib, bzip2 };

struct XarData {
    quint64 offset = 0; // from the start of the heap
    quint64 length = 0; // bytes stored in the heap
    quint64 size = 0;   // bytes once decoded
    XarEncoding encoding = XarEncoding::none;
    XarChecksum archivedChecksum;  // over the stored bytes
    XarChecksum extractedChecksum; // over the decoded bytes
};

enum class XarEntryType { file, directory, symlink, hardlink, other };

struct XarEntry {
    QString path; // the names of the enclosing <file> elements joined by "/", e.g. "Scan.pkg/Payload"
    XarEntryType type = XarEntryType::file;
    std::optional<XarData> data; // absent for directories and empty files
};

// The RSA signature of the table of contents: where its bytes lie in the heap and the certificates
// that come with it (DER, the signer first).
struct XarSignature {
    quint64 offset = 0;
    quint64 size = 0;
    QList<QByteArray> certificates;
};

// Reads flat packages and other xar archives: a 28-byte big-endian header, a zlib-compressed XML table
// of contents, then the heap. Opening checks the structure and keeps the table of contents; heap entries
// are read on demand and every byte read is checked against both checksums the TOC gives for it.
class XarArchive {
public:
    // Throws XarError for anything that is not a well-formed xar archive. A TOC checksum that does not
    // match is not thrown here, so that a report can still name the signer: see tocChecksumMatches().
    static XarArchive open(const QString& path);

    const QString& path() const { return filePath; }

    ChecksumAlgorithm tocChecksumAlgorithm() const { return tocAlgorithm; }
    // The digest of the compressed TOC bytes: what the signature covers.
    const QByteArray& tocDigest() const { return computedTocDigest; }
    // Whether the checksum stored in the heap equals tocDigest().
    bool tocChecksumMatches() const { return storedTocDigest == computedTocDigest; }
    // Throws XarError unless tocChecksumMatches().
    void requireIntactToc() const;

    const std::optional<XarSignature>& signature() const { return rsaSignature; }
    // The signature's bytes from the heap; empty when the archive is unsigned.
    const QByteArray& signatureValue() const { return signatureBytes; }

    const QList<XarEntry>& entries() const { return fileEntries; }
    const XarEntry* entry(const QString& path) const;

    // The decoded, verified bytes of a file entry no larger than `maxSize` once decoded.
    QByteArray contents(const XarEntry& entry, qint64 maxSize) const;
    // The decoded bytes of a file entry as a stream, checked on the way and at its end.
    std::unique_ptr<ByteSource> openStream(const XarEntry& entry) const;
    // Checks the stored bytes of every entry against its archived checksum, without decoding them.
    void verifyArchivedChecksums() const;

private:
    XarArchive() = default;

    QString filePath;
    quint64 heapStart = 0;
    quint64 heapSize = 0;
    ChecksumAlgorithm tocAlgorithm = ChecksumAlgorithm::sha1;
    QByteArray computedTocDigest;
    QByteArray storedTocDigest;
    std::optional<XarSignature> rsaSignature;
    QByteArray signatureBytes;
    QList<XarEntry> fileEntries;
};

} // namespace tarn::tool
