// The package tools' property-list reader, used the way the receipt database reads a receipt.
#include "FuzzSupport.h"
#include "common/Plist.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const tarn::tool::Plist plist = tarn::tool::Plist::parse(tarn::fuzz::bytes(data, size));
    if (!plist.isDictionary()) {
        return 0;
    }
    (void)tarn::tool::stringEntry(plist.get(), "pkgid");
    (void)tarn::tool::unsignedEntry(plist.get(), "install-time");
    const plist_t paths = plist_dict_get_item(plist.get(), "paths");
    for (const plist_t dictionary : {plist.get(), paths}) {
        if (!dictionary || plist_get_node_type(dictionary) != PLIST_DICT) {
            continue;
        }
        tarn::tool::forEachEntry(dictionary, [](const QString& key, plist_t value) {
            (void)key;
            if (plist_get_node_type(value) == PLIST_DICT) {
                (void)tarn::tool::unsignedEntry(value, "mode");
                (void)tarn::tool::stringEntry(value, "name");
            }
        });
    }
    return 0;
}
