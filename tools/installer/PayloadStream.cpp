#include "PayloadStream.h"

#include "common/ToolError.h"

#include <QByteArray>
#include <QtEndian>

#include <lzma.h>

using namespace Qt::StringLiterals;

namespace tarn::tool {

namespace {

constexpr qint64 chunkSize = 64 * 1024;
constexpr uint64_t decoderMemoryLimit = 512ULL * 1024 * 1024;

// Reads until `size` bytes arrived or the source ended; answers how many arrived.
qint64 readUpTo(ByteSource& source, char* buffer, qint64 size) {
    qint64 total = 0;
    while (total < size) {
        const qint64 got = source.read(buffer + total, size - total);
        if (got == 0) {
            break;
        }
        total += got;
    }
    return total;
}

[[noreturn]] void damaged(const char* reason) {
    throw ToolError(u"the Payload is damaged: %1"_s.arg(QLatin1String(reason)));
}

// Hands out bytes read ahead to look at the stream's magic, then the rest of the stream.
class PrefixedSource final : public ByteSource {
public:
    PrefixedSource(QByteArray prefix, std::unique_ptr<ByteSource> rest)
        : prefix(std::move(prefix)), rest(std::move(rest)) {}

    qint64 read(char* buffer, qint64 maxSize) override {
        if (position < prefix.size()) {
            const qint64 count = std::min<qint64>(maxSize, prefix.size() - position);
            std::copy_n(prefix.constData() + position, count, buffer);
            position += count;
            return count;
        }
        return rest->read(buffer, maxSize);
    }

private:
    QByteArray prefix;
    qsizetype position = 0;
    std::unique_ptr<ByteSource> rest;
};

// "pbzx", a big-endian 64-bit block size, then chunks until the stream ends: a 64-bit decoded size, a
// 64-bit stored size and the stored bytes, an xz stream unless both sizes are equal.
class PbzxSource final : public ByteSource {
public:
    explicit PbzxSource(std::unique_ptr<ByteSource> stored) : stored(std::move(stored)) {
        char blockSize[8];
        if (readUpTo(*this->stored, blockSize, 8) != 8) {
            damaged("its pbzx header is truncated");
        }
    }
    ~PbzxSource() override { lzma_end(&decoder); }

    qint64 read(char* buffer, qint64 maxSize) override {
        while (true) {
            if (!inChunk && !startChunk()) {
                return 0;
            }
            const qint64 produced = isStored ? copyStored(buffer, maxSize) : decodeXz(buffer, maxSize);
            if (produced > 0) {
                return produced;
            }
        }
    }

private:
    bool startChunk() {
        char header[16];
        const qint64 got = readUpTo(*stored, header, 16);
        if (got == 0) {
            return false;
        }
        if (got != 16) {
            damaged("a pbzx chunk header is truncated");
        }
        decodedRemaining = qFromBigEndian<quint64>(header);
        storedRemaining = qFromBigEndian<quint64>(header + 8);
        isStored = decodedRemaining == storedRemaining;
        inChunk = true;
        if (!isStored) {
            lzma_end(&decoder);
            decoder = LZMA_STREAM_INIT;
            if (lzma_stream_decoder(&decoder, decoderMemoryLimit, 0) != LZMA_OK) {
                damaged("cannot start decoding a pbzx chunk");
            }
            input.clear();
        }
        return true;
    }

    qint64 copyStored(char* buffer, qint64 maxSize) {
        if (storedRemaining == 0) {
            inChunk = false;
            return 0;
        }
        const qint64 wanted = static_cast<qint64>(std::min<quint64>(storedRemaining, static_cast<quint64>(maxSize)));
        const qint64 got = stored->read(buffer, wanted);
        if (got == 0) {
            damaged("a pbzx chunk is truncated");
        }
        storedRemaining -= static_cast<quint64>(got);
        decodedRemaining -= static_cast<quint64>(got);
        return got;
    }

    qint64 decodeXz(char* buffer, qint64 maxSize) {
        if (decoder.avail_in == 0 && storedRemaining > 0) {
            input.resize(static_cast<qsizetype>(std::min<quint64>(storedRemaining, chunkSize)));
            const qint64 got = readUpTo(*stored, input.data(), input.size());
            if (got != input.size()) {
                damaged("a pbzx chunk is truncated");
            }
            storedRemaining -= static_cast<quint64>(got);
            decoder.next_in = reinterpret_cast<const uint8_t*>(input.constData());
            decoder.avail_in = static_cast<size_t>(got);
        }
        decoder.next_out = reinterpret_cast<uint8_t*>(buffer);
        decoder.avail_out = static_cast<size_t>(maxSize);
        const size_t availableBefore = decoder.avail_in;
        const lzma_ret status = lzma_code(&decoder, LZMA_RUN);
        const auto produced = static_cast<quint64>(maxSize) - decoder.avail_out;
        if (produced > decodedRemaining) {
            damaged("a pbzx chunk decodes to more than its declared size");
        }
        decodedRemaining -= produced;
        if (status == LZMA_STREAM_END) {
            if (decodedRemaining != 0 || storedRemaining != 0 || decoder.avail_in != 0) {
                damaged("a pbzx chunk does not match its declared sizes");
            }
            inChunk = false;
        } else if (status != LZMA_OK) {
            damaged("a pbzx chunk is not a valid xz stream");
        } else if (produced == 0 && decoder.avail_in == availableBefore && storedRemaining == 0) {
            damaged("a pbzx chunk ends early");
        }
        return static_cast<qint64>(produced);
    }

    std::unique_ptr<ByteSource> stored;
    lzma_stream decoder = LZMA_STREAM_INIT;
    QByteArray input;
    bool inChunk = false;
    bool isStored = false;
    quint64 decodedRemaining = 0;
    quint64 storedRemaining = 0;
};

} // namespace

std::unique_ptr<ByteSource> payloadStream(std::unique_ptr<ByteSource> stored) {
    QByteArray magic(4, Qt::Uninitialized);
    magic.resize(readUpTo(*stored, magic.data(), 4));
    if (magic == "pbzx") {
        return std::make_unique<PbzxSource>(std::move(stored));
    }
    return std::make_unique<PrefixedSource>(std::move(magic), std::move(stored));
}

} // namespace tarn::tool
