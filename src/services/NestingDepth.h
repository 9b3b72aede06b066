#pragma once

// Cheap scans that tell, before a document is parsed, whether it nests deeper than a limit. The parsers
// that follow (libplist, the xar table-of-contents reader) recurse once per level and free their trees
// recursively, so a few megabytes of nesting would exhaust the stack. Header-only: the application and
// the stand-in tools share it.

#include <QByteArray>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace tarn {

// Far above any Info.plist, receipt or table of contents, far below a stack's end.
inline constexpr int maxDocumentDepth = 128;

// Whether the XML elements of `bytes` nest deeper than `limit`. Comments, processing instructions,
// declarations and character data are skipped; quoted attribute values may hold '>'. Bytes that are no
// well-formed XML are left for the parser to refuse.
inline bool xmlNestsDeeperThan(const QByteArray& bytes, int limit) {
    const char* cursor = bytes.constData();
    const char* const end = cursor + bytes.size();
    const auto skipPast = [&](const char* from, const QByteArray& terminator) {
        const qsizetype at = bytes.indexOf(terminator, from - bytes.constData());
        return at < 0 ? end : bytes.constData() + at + terminator.size();
    };
    int depth = 0;
    while (cursor < end) {
        if (*cursor != '<') {
            ++cursor;
            continue;
        }
        const char* next = cursor + 1;
        if (next < end && *next == '?') {
            cursor = skipPast(next, QByteArrayLiteral("?>"));
        } else if (end - next >= 3 && next[0] == '!' && next[1] == '-' && next[2] == '-') {
            cursor = skipPast(next, QByteArrayLiteral("-->"));
        } else if (end - next >= 8 && QByteArray::fromRawData(next, 8) == QByteArrayLiteral("![CDATA[")) {
            cursor = skipPast(next, QByteArrayLiteral("]]>"));
        } else if (next < end && *next == '!') {
            // A declaration; an internal DTD subset ends with "]>".
            const char* close = next;
            bool inSubset = false;
            while (close < end && (inSubset || *close != '>')) {
                inSubset = (*close == '[') || (inSubset && *close != ']');
                ++close;
            }
            cursor = close < end ? close + 1 : end;
        } else if (next < end && *next == '/') {
            --depth;
            cursor = skipPast(next, QByteArrayLiteral(">"));
        } else {
            char quote = 0;
            const char* close = next;
            for (; close < end; ++close) {
                if (quote != 0) {
                    quote = *close == quote ? 0 : quote;
                } else if (*close == '"' || *close == '\'') {
                    quote = *close;
                } else if (*close == '>') {
                    break;
                }
            }
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

// Whether a binary property list ("bplist00") nests its arrays, sets and dictionaries deeper than
// `limit`, or refers back to an object that contains the reference (which no parser can finish). Each
// object is visited once, so shared objects cost nothing twice. Other damage is left to the parser.
inline bool binaryPlistNestsDeeperThan(const QByteArray& bytes, int limit) {
    constexpr qsizetype trailerSize = 32;
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
    const auto size = static_cast<uint64_t>(bytes.size());
    if (size < 8 + trailerSize || !bytes.startsWith("bplist")) {
        return false;
    }
    const auto number = [&](uint64_t at, unsigned width) {
        uint64_t value = 0;
        for (unsigned index = 0; index < width; ++index) {
            value = (value << 8) | data[at + index];
        }
        return value;
    };
    const unsigned char* trailer = data + size - trailerSize;
    const unsigned offsetSize = trailer[6];
    const unsigned referenceSize = trailer[7];
    const uint64_t objectCount = number(size - trailerSize + 8, 8);
    const uint64_t topObject = number(size - trailerSize + 16, 8);
    const uint64_t tableOffset = number(size - trailerSize + 24, 8);
    const uint64_t contentEnd = size - trailerSize;
    if (offsetSize < 1 || offsetSize > 8 || referenceSize < 1 || referenceSize > 8 || objectCount == 0 ||
        objectCount > contentEnd || topObject >= objectCount || tableOffset > contentEnd ||
        objectCount > (contentEnd - tableOffset) / offsetSize) {
        return false;
    }

    // The references an object holds: [first, first + count * referenceSize); none for scalars.
    struct Container {
        uint64_t first = 0;
        uint64_t count = 0;
        bool nests = false; // an array, set or dictionary: a level, even when empty
    };
    const auto containerAt = [&](uint64_t object) -> Container {
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
    };

    // Depth-first, iteratively; `height` is how deep an object nests once it has been left.
    enum : int { unvisited = -1, open = -2 };
    std::vector<int> height(static_cast<size_t>(objectCount), unvisited);
    struct Frame {
        uint64_t object;
        Container container;
        uint64_t next = 0;
        int deepest = 0;
    };
    std::vector<Frame> stack;
    stack.push_back({topObject, containerAt(topObject)});
    height[topObject] = open;
    if (limit < 1 && stack.back().container.nests) {
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
        const uint64_t child = number(frame.container.first + frame.next * referenceSize, referenceSize);
        ++frame.next;
        if (child >= objectCount) {
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
        height[child] = open;
        stack.push_back({child, containerAt(child)});
        if (stack.back().container.nests && static_cast<qsizetype>(stack.size()) > limit) {
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
