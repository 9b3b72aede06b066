// The package tools' property-list reader (receipts, a package's PackageInfo and Distribution helpers).
#include "FuzzSupport.h"
#include "common/Plist.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const tarn::tool::Plist plist = tarn::tool::Plist::parse(tarn::fuzz::bytes(data, size));
    if (plist.isDictionary()) {
        (void)tarn::tool::stringEntry(plist.get(), "PackageIdentifier");
        (void)tarn::tool::unsignedEntry(plist.get(), "InstallDate");
        tarn::tool::forEachEntry(plist.get(), [](const QString& key, plist_t value) {
            (void)key;
            (void)plist_get_node_type(value);
        });
    }
    return 0;
}
