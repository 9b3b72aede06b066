#include "common/Xar.h"

#include "services/NestingDepth.h"

#include <QFile>
#include <QSet>
#include <QXmlStreamReader>
#include <QtEndian>

#include <array>
#include <bzlib.h>
#include <vector>
#include <zlib.h>

using namespace Qt::StringLiterals;

namespace tarn::tool {

namespace {

constexpr quint32 xarMagic = 0x78617221; // "xar!"
constexpr qsizetype headerSize = 28;
// A table of contents lists file names and checksums; anything near this size is an attack on memory.
constexpr quint64 maxTocSize = 64ULL * 1024 * 1024;
// Offsets and sizes beyond this cannot be real and would overflow sums.
constexpr quint64 maxHeapNumber = 1ULL << 62;
constexpr qint64 chunkSize = 64 * 1024;

std::optional<ChecksumAlgorithm> headerAlgorithm(quint32 value) {
    switch (value) {
    case 1:
        return ChecksumAlgorithm::sha1;
    case 3:
        return ChecksumAlgorithm::sha256;
    case 4:
        return ChecksumAlgorithm::sha512;
    default:
        return std::nullopt;
    }
}

QByteArray readExactly(QFile& file, quint64 position, quint64 size, const QString& what) {
    if (!file.seek(static_cast<qint64>(position))) {
        throw XarError(u"cannot seek to %1"_s.arg(what));
    }
    QByteArray bytes = file.read(static_cast<qint64>(size));
    if (static_cast<quint64>(bytes.size()) != size) {
        throw XarError(u"%1 is truncated"_s.arg(what));
    }
    return bytes;
}

// What the <file> elements describe, before their names are joined into paths.
struct FileNode {
    QString name;
    QString type;
    std::optional<XarData> data;
    std::vector<FileNode> children;
};

struct HeapRange {
    quint64 offset = 0;
    quint64 size = 0;
};

// Reads the XML table of contents strictly: a missing field or a malformed number is a damaged archive.
class TocParser {
public:
    explicit TocParser(const QByteArray& toc) : xml(toc) {}

    ChecksumAlgorithm checksumAlgorithm = ChecksumAlgorithm::sha1;
    std::optional<HeapRange> checksum;
    std::optional<XarSignature> signature;
    std::vector<FileNode> files;

    void parse() {
        if (!xml.readNextStartElement() || xml.name() != QLatin1String("xar")) {
            fail(u"no <xar> element"_s);
        }
        bool sawToc = false;
        while (xml.readNextStartElement()) {
            if (xml.name() == QLatin1String("toc") && !sawToc) {
                sawToc = true;
                parseToc();
            } else {
                xml.skipCurrentElement();
            }
        }
        finishReading();
        if (!sawToc) {
            fail(u"no <toc> element"_s);
        }
        if (!checksum) {
            fail(u"no <checksum> element"_s);
        }
    }

private:
    [[noreturn]] void fail(const QString& reason) const {
        throw XarError(u"the table of contents is damaged: %1"_s.arg(reason));
    }

    void finishReading() {
        if (xml.hasError()) {
            fail(xml.errorString());
        }
    }

    void parseToc() {
        while (xml.readNextStartElement()) {
            const auto name = xml.name();
            if (name == QLatin1String("checksum")) {
                if (checksum) {
                    fail(u"more than one <checksum>"_s);
                }
                const auto algorithm = checksumAlgorithmNamed(xml.attributes().value(QLatin1String("style")));
                if (!algorithm) {
                    fail(u"unsupported checksum style '%1'"_s.arg(xml.attributes().value(QLatin1String("style"))));
                }
                checksumAlgorithm = *algorithm;
                checksum = parseRange(u"checksum"_s);
            } else if (name == QLatin1String("signature")) {
                if (xml.attributes().value(QLatin1String("style")) != QLatin1String("RSA")) {
                    xml.skipCurrentElement();
                } else if (signature) {
                    fail(u"more than one RSA <signature>"_s);
                } else {
                    signature = parseSignature();
                }
            } else if (name == QLatin1String("file")) {
                files.push_back(parseFile());
            } else {
                xml.skipCurrentElement();
            }
        }
        finishReading();
    }

    quint64 number(const QString& field) {
        const QString text = xml.readElementText().trimmed();
        finishReading();
        bool ok = false;
        const quint64 value = text.toULongLong(&ok, 10);
        if (!ok || text.isEmpty() || !text.front().isDigit() || value > maxHeapNumber) {
            fail(u"<%1> is not a valid number"_s.arg(field));
        }
        return value;
    }

    HeapRange parseRange(const QString& element) {
        std::optional<quint64> offset;
        std::optional<quint64> size;
        while (xml.readNextStartElement()) {
            if (xml.name() == QLatin1String("offset")) {
                offset = number(u"offset"_s);
            } else if (xml.name() == QLatin1String("size")) {
                size = number(u"size"_s);
            } else {
                parseExtra();
            }
        }
        finishReading();
        if (!offset || !size) {
            fail(u"<%1> lacks its offset or size"_s.arg(element));
        }
        return {*offset, *size};
    }

    // Elements a signature may carry besides its range (the certificates) are collected here.
    void parseExtra() {
        if (xml.name() == QLatin1String("X509Certificate") && collectingCertificates) {
            const QByteArray base64 = xml.readElementText().toLatin1();
            finishReading();
            const auto decoded = QByteArray::fromBase64Encoding(base64.simplified().replace(' ', QByteArray()),
                                                                QByteArray::AbortOnBase64DecodingErrors);
            if (!decoded || decoded.decoded.isEmpty()) {
                fail(u"an <X509Certificate> is not valid base64"_s);
            }
            signatureCertificates.append(decoded.decoded);
            return;
        }
        if (xml.name() == QLatin1String("KeyInfo") || xml.name() == QLatin1String("X509Data")) {
            while (xml.readNextStartElement()) {
                parseExtra();
            }
            finishReading();
            return;
        }
        xml.skipCurrentElement();
    }

    XarSignature parseSignature() {
        collectingCertificates = true;
        signatureCertificates.clear();
        const HeapRange range = parseRange(u"signature"_s);
        collectingCertificates = false;
        if (signatureCertificates.isEmpty()) {
            fail(u"the signature carries no certificate"_s);
        }
        return {range.offset, range.size, signatureCertificates};
    }

    XarChecksum parseChecksum(const QString& element) {
        const auto style = xml.attributes().value(QLatin1String("style")).toString();
        const auto algorithm = checksumAlgorithmNamed(style);
        const QString text = xml.readElementText().trimmed();
        finishReading();
        if (!algorithm) {
            fail(u"unsupported <%1> style '%2'"_s.arg(element, style));
        }
        const bool isHex = !text.isEmpty() && text.size() % 2 == 0 &&
                           std::all_of(text.begin(), text.end(),
                                       [](QChar c) { return c.unicode() < 128 && isxdigit(c.unicode()) != 0; });
        const QByteArray digest = QByteArray::fromHex(text.toLatin1());
        if (!isHex || digest.size() != digestLength(*algorithm)) {
            fail(u"<%1> is not a %2 digest"_s.arg(element, style));
        }
        return {*algorithm, digest};
    }

    XarData parseData() {
        XarData data;
        std::optional<quint64> offset, length, size;
        std::optional<XarChecksum> archived, extracted;
        while (xml.readNextStartElement()) {
            const auto name = xml.name();
            if (name == QLatin1String("offset")) {
                offset = number(u"offset"_s);
            } else if (name == QLatin1String("length")) {
                length = number(u"length"_s);
            } else if (name == QLatin1String("size")) {
                size = number(u"size"_s);
            } else if (name == QLatin1String("encoding")) {
                data.encoding = encoding(xml.attributes().value(QLatin1String("style")).toString());
                xml.skipCurrentElement();
            } else if (name == QLatin1String("archived-checksum")) {
                archived = parseChecksum(u"archived-checksum"_s);
            } else if (name == QLatin1String("extracted-checksum")) {
                extracted = parseChecksum(u"extracted-checksum"_s);
            } else {
                xml.skipCurrentElement();
            }
        }
        finishReading();
        if (!offset || !length || !size) {
            fail(u"a <data> element lacks its offset, length or size"_s);
        }
        if (!archived || !extracted) {
            fail(u"a <data> element lacks its archived or extracted checksum"_s);
        }
        data.offset = *offset;
        data.length = *length;
        data.size = *size;
        data.archivedChecksum = *archived;
        data.extractedChecksum = *extracted;
        if (data.encoding == XarEncoding::none && data.length != data.size) {
            fail(u"an unencoded entry has different stored and decoded sizes"_s);
        }
        return data;
    }

    XarEncoding encoding(const QString& style) {
        if (style == QLatin1String("application/octet-stream")) {
            return XarEncoding::none;
        }
        if (style == QLatin1String("application/x-gzip") || style == QLatin1String("application/zlib")) {
            return XarEncoding::zlib;
        }
        if (style == QLatin1String("application/x-bzip2")) {
            return XarEncoding::bzip2;
        }
        fail(u"unsupported encoding '%1'"_s.arg(style));
    }

    FileNode parseFile() {
        FileNode node;
        bool sawName = false;
        while (xml.readNextStartElement()) {
            const auto name = xml.name();
            if (name == QLatin1String("name")) {
                node.name = xml.readElementText();
                sawName = true;
                finishReading();
            } else if (name == QLatin1String("type")) {
                node.type = xml.readElementText().trimmed();
                finishReading();
            } else if (name == QLatin1String("data")) {
                node.data = parseData();
            } else if (name == QLatin1String("file")) {
                node.children.push_back(parseFile());
            } else {
                xml.skipCurrentElement();
            }
        }
        finishReading();
        if (!sawName || node.name.isEmpty() || node.name.contains(u'/') || node.name == QLatin1String(".") ||
            node.name == QLatin1String("..")) {
            fail(u"a <file> has a missing or unsafe name '%1'"_s.arg(node.name));
        }
        return node;
    }

    QXmlStreamReader xml;
    bool collectingCertificates = false;
    QList<QByteArray> signatureCertificates;
};

XarEntryType entryType(const QString& type) {
    if (type == QLatin1String("file")) {
        return XarEntryType::file;
    }
    if (type == QLatin1String("directory")) {
        return XarEntryType::directory;
    }
    if (type == QLatin1String("symlink")) {
        return XarEntryType::symlink;
    }
    if (type == QLatin1String("hardlink")) {
        return XarEntryType::hardlink;
    }
    return XarEntryType::other;
}

bool fitsInHeap(quint64 offset, quint64 size, quint64 heapSize) {
    return offset <= heapSize && size <= heapSize - offset;
}

// Each entry keeps its whole path, so nested folders with long names would cost the square of the TOC's
// size; `pathBudget` (characters) keeps the paths in proportion to it.
void flatten(const std::vector<FileNode>& nodes, const QString& prefix, quint64 heapSize, QList<XarEntry>& entries,
             QSet<QString>& seen, qint64& pathBudget) {
    for (const auto& node : nodes) {
        pathBudget -= prefix.size() + 1 + node.name.size();
        if (pathBudget < 0) {
            throw XarError(u"the table of contents is damaged: its paths are too long in total"_s);
        }
        const QString path = prefix.isEmpty() ? node.name : prefix + u'/' + node.name;
        if (seen.contains(path)) {
            throw XarError(u"the table of contents is damaged: '%1' appears twice"_s.arg(path));
        }
        seen.insert(path);
        if (node.data && !fitsInHeap(node.data->offset, node.data->length, heapSize)) {
            throw XarError(u"the table of contents is damaged: '%1' lies outside the heap"_s.arg(path));
        }
        entries.append({path, entryType(node.type), node.data});
        flatten(node.children, path, heapSize, entries, seen, pathBudget);
    }
}

// Turns stored bytes into decoded bytes; `finished` once the encoded stream has ended, `corrupt` when
// the stored bytes are no valid stream.
class Decoder {
public:
    virtual ~Decoder() = default;
    // Decodes as much of [input, input + inputSize) into [output, output + outputSize) as fits and
    // answers how many bytes were consumed and produced.
    virtual std::pair<qint64, qint64> decode(const char* input, qint64 inputSize, char* output, qint64 outputSize) = 0;
    bool finished = false;
    bool corrupt = false;
};

class ZlibDecoder final : public Decoder {
public:
    explicit ZlibDecoder(const QString& entryPath) : entryPath(entryPath) {
        // 15 + 32: a zlib or a gzip header, whichever the stream starts with.
        if (inflateInit2(&stream, 15 + 32) != Z_OK) {
            throw XarError(u"cannot start decoding '%1'"_s.arg(entryPath));
        }
    }
    ~ZlibDecoder() override { inflateEnd(&stream); }

    std::pair<qint64, qint64> decode(const char* input, qint64 inputSize, char* output, qint64 outputSize) override {
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input));
        stream.avail_in = static_cast<uInt>(inputSize);
        stream.next_out = reinterpret_cast<Bytef*>(output);
        stream.avail_out = static_cast<uInt>(outputSize);
        const int status = inflate(&stream, Z_NO_FLUSH);
        finished = status == Z_STREAM_END;
        corrupt = status != Z_STREAM_END && status != Z_OK && status != Z_BUF_ERROR;
        return {inputSize - stream.avail_in, outputSize - stream.avail_out};
    }

private:
    QString entryPath;
    z_stream stream{};
};

class Bzip2Decoder final : public Decoder {
public:
    explicit Bzip2Decoder(const QString& entryPath) : entryPath(entryPath) {
        if (BZ2_bzDecompressInit(&stream, 0, 0) != BZ_OK) {
            throw XarError(u"cannot start decoding '%1'"_s.arg(entryPath));
        }
    }
    ~Bzip2Decoder() override { BZ2_bzDecompressEnd(&stream); }

    std::pair<qint64, qint64> decode(const char* input, qint64 inputSize, char* output, qint64 outputSize) override {
        stream.next_in = const_cast<char*>(input);
        stream.avail_in = static_cast<unsigned int>(inputSize);
        stream.next_out = output;
        stream.avail_out = static_cast<unsigned int>(outputSize);
        const int status = BZ2_bzDecompress(&stream);
        finished = status == BZ_STREAM_END;
        corrupt = status != BZ_STREAM_END && status != BZ_OK;
        return {inputSize - stream.avail_in, outputSize - stream.avail_out};
    }

private:
    QString entryPath;
    bz_stream stream{};
};

void requireDigest(const XarChecksum& expected, const QByteArray& actual, const QString& entryPath, const char* which) {
    if (expected.digest != actual) {
        throw XarError(u"'%1' is damaged: its %2 checksum did not verify"_s.arg(entryPath, QLatin1String(which)));
    }
}

// Reads one heap entry: the stored bytes feed the archived checksum, the decoded bytes the extracted one,
// and the end of the stream is where both, and the decoded size, must come out right.
class XarEntryStream final : public ByteSource {
public:
    XarEntryStream(const QString& archivePath, QString entryPath, quint64 heapStart, const XarData& data)
        : file(archivePath), entryPath(std::move(entryPath)), data(data), remaining(data.length),
          archivedHasher(data.archivedChecksum.algorithm), extractedHasher(data.extractedChecksum.algorithm) {
        if (!file.open(QIODevice::ReadOnly) || !file.seek(static_cast<qint64>(heapStart + data.offset))) {
            throw XarError(u"cannot read '%1' from the archive"_s.arg(this->entryPath));
        }
        if (data.encoding == XarEncoding::zlib) {
            decoder = std::make_unique<ZlibDecoder>(this->entryPath);
        } else if (data.encoding == XarEncoding::bzip2) {
            decoder = std::make_unique<Bzip2Decoder>(this->entryPath);
        }
    }

    qint64 read(char* buffer, qint64 maxSize) override {
        if (ended || maxSize <= 0) {
            return 0;
        }
        const qint64 produced = decoder ? decodeInto(buffer, maxSize) : copyInto(buffer, maxSize);
        if (produced == 0) {
            finish();
            return 0;
        }
        extractedHasher.update(buffer, produced);
        extracted += static_cast<quint64>(produced);
        if (extracted > data.size) {
            throw XarError(u"'%1' is damaged: it decodes to more than its declared size"_s.arg(entryPath));
        }
        return produced;
    }

private:
    qint64 copyInto(char* buffer, qint64 maxSize) {
        if (remaining == 0) {
            return 0;
        }
        const qint64 wanted = static_cast<qint64>(std::min<quint64>(remaining, static_cast<quint64>(maxSize)));
        const qint64 got = file.read(buffer, wanted);
        if (got <= 0) {
            throw XarError(u"'%1' is truncated"_s.arg(entryPath));
        }
        archivedHasher.update(buffer, got);
        remaining -= static_cast<quint64>(got);
        return got;
    }

    qint64 decodeInto(char* buffer, qint64 maxSize) {
        while (!decoder->finished) {
            if (inputPosition == input.size()) {
                if (remaining == 0) {
                    damaged(u"its compressed data ends early"_s);
                }
                refill();
            }
            const auto [consumed, produced] =
                    decoder->decode(input.constData() + inputPosition, input.size() - inputPosition, buffer, maxSize);
            inputPosition += consumed;
            if (decoder->corrupt || (consumed == 0 && produced == 0 && !decoder->finished)) {
                damaged(u"its compressed data is corrupt"_s);
            }
            if (produced > 0) {
                return produced;
            }
        }
        if (inputPosition != input.size() || remaining != 0) {
            damaged(u"data follows its compressed stream"_s);
        }
        return 0;
    }

    // Altered stored bytes are the likelier cause of a broken stream, so they are named first.
    [[noreturn]] void damaged(const QString& reason) {
        while (remaining > 0) {
            refill();
        }
        requireDigest(data.archivedChecksum, archivedHasher.finish(), entryPath, "archived");
        throw XarError(u"'%1' is damaged: %2"_s.arg(entryPath, reason));
    }

    void refill() {
        input.resize(static_cast<qsizetype>(std::min<quint64>(remaining, chunkSize)));
        const qint64 got = file.read(input.data(), input.size());
        if (got != input.size()) {
            throw XarError(u"'%1' is truncated"_s.arg(entryPath));
        }
        archivedHasher.update(input.constData(), got);
        remaining -= static_cast<quint64>(got);
        inputPosition = 0;
    }

    void finish() {
        ended = true;
        requireDigest(data.archivedChecksum, archivedHasher.finish(), entryPath, "archived");
        if (extracted != data.size) {
            throw XarError(u"'%1' is damaged: it decodes to %2 bytes instead of %3"_s.arg(entryPath).arg(extracted).arg(
                    data.size));
        }
        requireDigest(data.extractedChecksum, extractedHasher.finish(), entryPath, "extracted");
    }

    QFile file;
    QString entryPath;
    XarData data;
    quint64 remaining;
    quint64 extracted = 0;
    Hasher archivedHasher;
    Hasher extractedHasher;
    std::unique_ptr<Decoder> decoder;
    QByteArray input;
    qsizetype inputPosition = 0;
    bool ended = false;
};

// The empty stream of an entry without data; a file without <data> is empty.
class EmptyStream final : public ByteSource {
public:
    qint64 read(char*, qint64) override { return 0; }
};

struct XarHeader {
    quint16 size = 0;
    quint64 tocCompressed = 0;
    quint64 tocUncompressed = 0;
    ChecksumAlgorithm algorithm = ChecksumAlgorithm::sha1;
};

XarHeader readHeader(QFile& file) {
    const auto fileSize = static_cast<quint64>(file.size());
    const QByteArray header = file.read(headerSize);
    if (header.size() != headerSize || qFromBigEndian<quint32>(header.constData()) != xarMagic) {
        throw XarError(u"not a xar archive"_s);
    }
    XarHeader read;
    read.size = qFromBigEndian<quint16>(header.constData() + 4);
    const quint16 version = qFromBigEndian<quint16>(header.constData() + 6);
    read.tocCompressed = qFromBigEndian<quint64>(header.constData() + 8);
    read.tocUncompressed = qFromBigEndian<quint64>(header.constData() + 16);
    const quint32 algorithmCode = qFromBigEndian<quint32>(header.constData() + 24);
    if (read.size < headerSize || version != 1) {
        throw XarError(u"unsupported xar header (size %1, version %2)"_s.arg(read.size).arg(version));
    }
    const auto algorithm = headerAlgorithm(algorithmCode);
    if (!algorithm) {
        throw XarError(algorithmCode == 0
                               ? u"the table of contents has no checksum"_s
                               : u"unsupported table-of-contents checksum algorithm %1"_s.arg(algorithmCode));
    }
    read.algorithm = *algorithm;
    if (read.tocCompressed == 0 || read.tocUncompressed == 0 || read.tocCompressed > maxTocSize ||
        read.tocUncompressed > maxTocSize || read.size + read.tocCompressed > fileSize) {
        throw XarError(u"the table of contents has an impossible size"_s);
    }
    return read;
}

QByteArray inflateToc(const QByteArray& compressedToc, quint64 tocUncompressed) {
    QByteArray toc(static_cast<qsizetype>(tocUncompressed), Qt::Uninitialized);
    uLongf tocLength = static_cast<uLongf>(tocUncompressed);
    if (uncompress(reinterpret_cast<Bytef*>(toc.data()), &tocLength,
                   reinterpret_cast<const Bytef*>(compressedToc.constData()),
                   static_cast<uLong>(compressedToc.size())) != Z_OK ||
        tocLength != tocUncompressed) {
        throw XarError(u"the table of contents does not decompress to its declared size"_s);
    }
    return toc;
}

} // namespace

XarArchive XarArchive::open(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw XarError(u"cannot open '%1': %2"_s.arg(path, file.errorString()));
    }
    const XarHeader header = readHeader(file);
    const auto fileSize = static_cast<quint64>(file.size());

    XarArchive archive;
    archive.filePath = path;
    archive.tocAlgorithm = header.algorithm;
    archive.heapStart = header.size + header.tocCompressed;
    archive.heapSize = fileSize - archive.heapStart;

    const QByteArray compressedToc = readExactly(file, header.size, header.tocCompressed, u"the table of contents"_s);
    archive.computedTocDigest = digestOf(header.algorithm, compressedToc);
    const QByteArray toc = inflateToc(compressedToc, header.tocUncompressed);

    // The reader descends once per nested element.
    if (xmlNestsDeeperThan(toc, maxDocumentDepth)) {
        throw XarError(u"the table of contents nests deeper than %1 levels"_s.arg(maxDocumentDepth));
    }
    TocParser parser(toc);
    parser.parse();
    if (parser.checksumAlgorithm != header.algorithm) {
        throw XarError(u"the table of contents names another checksum than the header"_s);
    }
    if (parser.checksum->size != static_cast<quint64>(digestLength(header.algorithm)) ||
        !fitsInHeap(parser.checksum->offset, parser.checksum->size, archive.heapSize)) {
        throw XarError(u"the table-of-contents checksum lies outside the heap or has the wrong size"_s);
    }
    archive.storedTocDigest = readExactly(file, archive.heapStart + parser.checksum->offset, parser.checksum->size,
                                          u"the table-of-contents checksum"_s);
    if (parser.signature) {
        if (parser.signature->size == 0 || parser.signature->size > 64 * 1024 ||
            !fitsInHeap(parser.signature->offset, parser.signature->size, archive.heapSize)) {
            throw XarError(u"the signature lies outside the heap or has an impossible size"_s);
        }
        archive.signatureBytes = readExactly(file, archive.heapStart + parser.signature->offset, parser.signature->size,
                                             u"the signature"_s);
        archive.rsaSignature = parser.signature;
    }
    QSet<QString> seen;
    qint64 pathBudget = 4 * static_cast<qint64>(header.tocUncompressed) + 64 * 1024;
    flatten(parser.files, QString(), archive.heapSize, archive.fileEntries, seen, pathBudget);
    return archive;
}

void XarArchive::requireIntactToc() const {
    if (!tocChecksumMatches()) {
        throw XarError(u"the table-of-contents checksum did not verify"_s);
    }
}

const XarEntry* XarArchive::entry(const QString& path) const {
    for (const auto& candidate : fileEntries) {
        if (candidate.path == path) {
            return &candidate;
        }
    }
    return nullptr;
}

QByteArray XarArchive::contents(const XarEntry& entry, qint64 maxSize) const {
    if (entry.data && entry.data->size > static_cast<quint64>(maxSize)) {
        throw XarError(u"'%1' is larger than expected (%2 bytes)"_s.arg(entry.path).arg(entry.data->size));
    }
    const auto stream = openStream(entry);
    QByteArray bytes;
    std::array<char, chunkSize> buffer;
    while (const qint64 got = stream->read(buffer.data(), buffer.size())) {
        bytes.append(buffer.data(), got);
    }
    return bytes;
}

std::unique_ptr<ByteSource> XarArchive::openStream(const XarEntry& entry) const {
    if (entry.type != XarEntryType::file) {
        throw XarError(u"'%1' is not a file"_s.arg(entry.path));
    }
    if (!entry.data) {
        return std::make_unique<EmptyStream>();
    }
    return std::make_unique<XarEntryStream>(filePath, entry.path, heapStart, *entry.data);
}

void XarArchive::verifyArchivedChecksums() const {
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly)) {
        throw XarError(u"cannot open '%1': %2"_s.arg(filePath, file.errorString()));
    }
    std::vector<char> buffer(chunkSize);
    for (const auto& entry : fileEntries) {
        if (!entry.data) {
            continue;
        }
        if (!file.seek(static_cast<qint64>(heapStart + entry.data->offset))) {
            throw XarError(u"cannot read '%1' from the archive"_s.arg(entry.path));
        }
        Hasher hasher(entry.data->archivedChecksum.algorithm);
        quint64 remaining = entry.data->length;
        while (remaining > 0) {
            const qint64 wanted = static_cast<qint64>(std::min<quint64>(remaining, chunkSize));
            const qint64 got = file.read(buffer.data(), wanted);
            if (got != wanted) {
                throw XarError(u"'%1' is truncated"_s.arg(entry.path));
            }
            hasher.update(buffer.data(), got);
            remaining -= static_cast<quint64>(got);
        }
        requireDigest(entry.data->archivedChecksum, hasher.finish(), entry.path, "archived");
    }
}

} // namespace tarn::tool
