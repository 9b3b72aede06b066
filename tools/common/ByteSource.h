#pragma once

#include <QtGlobal>

namespace tarn::tool {

// A stream of bytes read in order, such as a heap entry being decoded and checked on the way.
class ByteSource {
public:
    virtual ~ByteSource() = default;

    // Up to `maxSize` bytes into `buffer`; 0 only at the end. Throws ToolError when the bytes turn out
    // to be damaged, at the latest when the end is reached.
    virtual qint64 read(char* buffer, qint64 maxSize) = 0;
};

} // namespace tarn::tool
