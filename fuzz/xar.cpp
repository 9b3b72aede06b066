// The xar reader behind pkgutil and installer: header, compressed table of contents, heap ranges and
// the checksums of every entry, read as a package file would be.
#include "common/Xar.h"

#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const tarn::fuzz::MemoryFile file(data, size);
    try {
        const tarn::tool::XarArchive archive = tarn::tool::XarArchive::open(file.path());
        (void)archive.tocChecksumMatches();
        for (const tarn::tool::XarEntry& entry : archive.entries()) {
            (void)archive.entry(entry.path);
            if (!entry.data) {
                continue;
            }
            try {
                (void)archive.contents(entry, 1 << 20);
            } catch (const tarn::tool::ToolError&) {
            }
            // The streamed path the installer takes for payloads, read up to a bound.
            try {
                const std::unique_ptr<tarn::tool::ByteSource> stream = archive.openStream(entry);
                char buffer[16384];
                qint64 total = 0;
                qint64 count = 0;
                while (total < (4 << 20) && (count = stream->read(buffer, sizeof buffer)) > 0) {
                    total += count;
                }
            } catch (const tarn::tool::ToolError&) {
            }
        }
        archive.requireIntactToc();
        archive.verifyArchivedChecksums();
    } catch (const tarn::tool::ToolError&) {
    }
    return 0;
}
