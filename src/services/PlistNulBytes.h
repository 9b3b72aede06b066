#pragma once

// Header-only: the application and the stand-in tools share it.

#include <plist/plist.h>

#include <cstring>

namespace tarn {

// libplist aborts on an assertion when asked for a dictionary key that holds a NUL byte, which only the
// binary format can carry. Its XML writer copies such bytes unchanged, so the XML form shows them all.
inline bool plistHoldsNulBytes(plist_t root) {
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(root, &xml, &length);
    const bool found = xml == nullptr || std::memchr(xml, '\0', length) != nullptr;
    plist_to_xml_free(xml);
    return found;
}

} // namespace tarn
