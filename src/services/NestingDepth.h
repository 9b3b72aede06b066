#pragma once

// Cheap scans that tell, before a document is parsed, whether it nests deeper than a limit. The parsers
// that follow (libplist, the xar table-of-contents reader) recurse once per level and free their trees
// recursively, so a few megabytes of nesting would exhaust the stack. Header-only: the application and
// the stand-in tools share it.

#include <QByteArray>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

namespace tarn {

// Far above any Info.plist, receipt or table of contents, far below a stack's end.
inline constexpr int maxDocumentDepth = 128;

namespace nesting {

// Just past the first `terminator` at or after `from`, or `end` when there is none.
inline const char* skipPast(const QByteArray& bytes, const char* from, const char* end, const QByteArray& terminator) {
    const qsizetype at = bytes.indexOf(terminator, from - bytes.constData());
    return at < 0 ? end : bytes.constData() + at + terminator.size();
}

// Just past a declaration that starts at `from` ("!..."); an internal DTD subset ends with "]>".
inline const char* skipDeclaration(const char* from, const char* end) {
    const char* close = from;
    bool inSubset = false;
    while (close < end && (inSubset || *close != '>')) {
        inSubset = (*close == '[') || (inSubset && *close != ']');
        ++close;
    }
    return close < end ? close + 1 : end;
}

// The '>' that closes a tag whose name starts at `from`; quoted attribute values may hold '>'. `end` when
// the tag never closes.
inline const char* tagClose(const char* from, const char* end) {
    char quote = 0;
    for (const char* close = from; close < end; ++close) {
        if (quote != 0) {
            quote = *close == quote ? 0 : quote;
        } else if (*close == '"' || *close == '\'') {
            quote = *close;
        } else if (*close == '>') {
            return close;
        }
    }
    return end;
}

} // namespace nesting

// Whether the XML elements of `bytes` nest deeper than `limit`. Comments, processing instructions,
// declarations and character data are skipped; quoted attribute values may hold '>'. Bytes that are no
// well-formed XML are left for the parser to refuse.
inline bool xmlNestsDeeperThan(const QByteArray& bytes, int limit) {
    using nesting::skipPast;
    const char* cursor = bytes.constData();
    const char* const end = cursor + bytes.size();
    int depth = 0;
    while (cursor < end) {
        if (*cursor != '<') {
            ++cursor;
            continue;
        }
        const char* next = cursor + 1;
        if (next < end && *next == '?') {
            cursor = skipPast(bytes, next, end, QByteArrayLiteral("?>"));
        } else if (end - next >= 3 && next[0] == '!' && next[1] == '-' && next[2] == '-') {
            cursor = skipPast(bytes, next, end, QByteArrayLiteral("-->"));
        } else if (end - next >= 8 && QByteArray::fromRawData(next, 8) == QByteArrayLiteral("![CDATA[")) {
            cursor = skipPast(bytes, next, end, QByteArrayLiteral("]]>"));
        } else if (next < end && *next == '!') {
            cursor = nesting::skipDeclaration(next, end);
        } else if (next < end && *next == '/') {
            --depth;
            cursor = skipPast(bytes, next, end, QByteArrayLiteral(">"));
        } else {
            const char* close = nesting::tagClose(next, end);
            if (close >= end) {
                return false;
            }
            if (close[-1] != '/' && ++depth > limit) {
                return true;
            }
            cursor = close + 1;
        }
    }
    return false;
}

namespace nesting {

// The references an object holds: [first, first + count * referenceSize); none for scalars.
struct Container {
    uint64_t first = 0;
    uint64_t count = 0;
    bool nests = false; // an array, set or dictionary: a level, even when empty
};

// The object table of a binary property list, read from its trailer; every offset it hands out lies
// inside the content.
class BinaryPlistObjects {
public:
    static std::optional<BinaryPlistObjects> read(const QByteArray& bytes) {
        constexpr qsizetype trailerSize = 32;
        const auto size = static_cast<uint64_t>(bytes.size());
        if (size < 8 + trailerSize || !bytes.startsWith("bplist")) {
            return std::nullopt;
        }
        BinaryPlistObjects objects;
        objects.data = reinterpret_cast<const unsigned char*>(bytes.constData());
        objects.contentEnd = size - trailerSize;
        const unsigned char* trailer = objects.data + objects.contentEnd;
        objects.offsetSize = trailer[6];
        objects.referenceSize = trailer[7];
        objects.objectCount = objects.number(objects.contentEnd + 8, 8);
        objects.topObject = objects.number(objects.contentEnd + 16, 8);
        objects.tableOffset = objects.number(objects.contentEnd + 24, 8);
        if (objects.offsetSize < 1 || objects.offsetSize > 8 || objects.referenceSize < 1 ||
            objects.referenceSize > 8 || objects.objectCount == 0 || objects.objectCount > objects.contentEnd ||
            objects.topObject >= objects.objectCount || objects.tableOffset > objects.contentEnd ||
            objects.objectCount > (objects.contentEnd - objects.tableOffset) / objects.offsetSize) {
            return std::nullopt;
        }
        return objects;
    }

    uint64_t objectCount = 0;
    uint64_t topObject = 0;

    // The `index`th reference `container` holds.
    uint64_t reference(const Container& container, uint64_t index) const {
        return number(container.first + index * referenceSize, referenceSize);
    }

    Container containerAt(uint64_t object) const {
        const uint64_t offset = number(tableOffset + object * offsetSize, offsetSize);
        if (offset >= contentEnd) {
            return {};
        }
        const unsigned kind = data[offset] >> 4;
        if (kind != 0xA && kind != 0xC && kind != 0xD) {
            return {};
        }
        uint64_t count = data[offset] & 0x0F;
        uint64_t first = offset + 1;
        if (count == 0x0F) {
            if (first >= contentEnd || (data[first] >> 4) != 0x1) {
                return {};
            }
            const unsigned width = 1U << (data[first] & 0x0F);
            if (width > 8 || first + 1 + width > contentEnd) {
                return {};
            }
            count = number(first + 1, width);
            first += 1 + width;
        }
        const uint64_t available = (contentEnd - first) / referenceSize;
        if (kind == 0xD) {
            count = count > available / 2 ? 0 : count * 2;
        }
        return count > available ? Container{} : Container{first, count, true};
    }

private:
    uint64_t number(uint64_t at, unsigned width) const {
        uint64_t value = 0;
        for (unsigned index = 0; index < width; ++index) {
            value = (value << 8) | data[at + index];
        }
        return value;
    }

    const unsigned char* data = nullptr;
    uint64_t contentEnd = 0;
    uint64_t tableOffset = 0;
    unsigned offsetSize = 0;
    unsigned referenceSize = 0;
};

} // namespace nesting

// Whether a binary property list ("bplist00") nests its arrays, sets and dictionaries deeper than
// `limit`, or refers back to an object that contains the reference (which no parser can finish). Each
// object is visited once, so shared objects cost nothing twice. Other damage is left to the parser.
inline bool binaryPlistNestsDeeperThan(const QByteArray& bytes, int limit) {
    const std::optional<nesting::BinaryPlistObjects> objects = nesting::BinaryPlistObjects::read(bytes);
    if (!objects) {
        return false;
    }
    // Depth-first, iteratively; `height` is how deep an object nests once it has been left.
    enum : int { unvisited = -1, open = -2 };
    std::vector<int> height(static_cast<size_t>(objects->objectCount), unvisited);
    struct Frame {
        uint64_t object;
        nesting::Container container;
        uint64_t next = 0;
        int deepest = 0;
    };
    std::vector<Frame> stack;
    const auto enter = [&](uint64_t object) {
        height[object] = open;
        stack.push_back({object, objects->containerAt(object)});
        return stack.back().container.nests && static_cast<qsizetype>(stack.size()) > limit;
    };
    if (enter(objects->topObject)) {
        return true;
    }
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next == frame.container.count) {
            const int own = frame.deepest + (frame.container.nests ? 1 : 0);
            height[frame.object] = own;
            stack.pop_back();
            if (!stack.empty()) {
                stack.back().deepest = std::max(stack.back().deepest, own);
            }
            continue;
        }
        const uint64_t child = objects->reference(frame.container, frame.next++);
        if (child >= objects->objectCount) {
            continue;
        }
        if (height[child] == open) {
            return true;
        }
        if (height[child] != unvisited) {
            frame.deepest = std::max(frame.deepest, height[child]);
            if (static_cast<qsizetype>(stack.size()) + frame.deepest > limit) {
                return true;
            }
            continue;
        }
        if (enter(child)) {
            return true;
        }
    }
    return false;
}

// Either format of property list.
inline bool plistNestsDeeperThan(const QByteArray& bytes, int limit) {
    return bytes.startsWith("bplist") ? binaryPlistNestsDeeperThan(bytes, limit) : xmlNestsDeeperThan(bytes, limit);
}

} // namespace tarn
