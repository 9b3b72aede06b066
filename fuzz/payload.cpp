// The installer's payload reader: pbzx unwrapping, then cpio (plain or compressed) through libarchive,
// with every entry's path and link checked. Only inspected, never extracted: a run writes nothing.
#include "Payload.h"

#include "FuzzSupport.h"
#include "PayloadStream.h"
#include "common/ToolError.h"

#include <algorithm>
#include <cstring>

namespace {

class MemorySource final : public tarn::tool::ByteSource {
public:
    MemorySource(const uint8_t* data, size_t size) : data(data), remaining(size) {}

    qint64 read(char* buffer, qint64 maxSize) override {
        const size_t count = std::min(remaining, static_cast<size_t>(maxSize));
        std::memcpy(buffer, data, count);
        data += count;
        remaining -= count;
        return static_cast<qint64>(count);
    }

private:
    const uint8_t* data;
    size_t remaining;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        (void)tarn::tool::inspectPayload(tarn::tool::payloadStream(std::make_unique<MemorySource>(data, size)));
    } catch (const tarn::tool::ToolError&) {
    }
    return 0;
}
