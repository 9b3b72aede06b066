#pragma once

#include "common/ByteSource.h"

#include <memory>

namespace tarn::tool {

// The Payload's bytes as libarchive should read them. pbzx, which libarchive does not know, is unwrapped
// here (its chunks are xz streams or stored bytes); gzip, bzip2, xz and plain cpio pass through unchanged
// for libarchive's own filters.
std::unique_ptr<ByteSource> payloadStream(std::unique_ptr<ByteSource> stored);

} // namespace tarn::tool
