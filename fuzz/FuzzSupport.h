#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <sys/mman.h>
#include <unistd.h>

// What every fuzz target shares. A parser's documented failure is a caught exception; anything else
// escaping (another exception, a crash, a sanitizer report, a leak) is a finding.

namespace tarn::fuzz {

// The input without copying; valid for the duration of one LLVMFuzzerTestOneInput call.
inline QByteArray bytes(const uint8_t* data, size_t size) {
    return QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

// The input as a file for readers that take a path. It lives in memory only, so a run writes nothing to
// disk, and it closes when this object goes.
class MemoryFile {
public:
    MemoryFile(const uint8_t* data, size_t size) : descriptor(memfd_create("fuzz-input", MFD_CLOEXEC)) {
        if (descriptor < 0) {
            throw std::runtime_error("memfd_create failed");
        }
        size_t written = 0;
        while (written < size) {
            const ssize_t count = ::write(descriptor, data + written, size - written);
            if (count <= 0) {
                throw std::runtime_error("writing the input to memory failed");
            }
            written += static_cast<size_t>(count);
        }
    }
    ~MemoryFile() { ::close(descriptor); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    QString path() const { return QStringLiteral("/proc/self/fd/%1").arg(descriptor); }

private:
    int descriptor;
};

} // namespace tarn::fuzz
