// The application's property-list reader (an installed bundle's Info.plist, XML or binary).
#include "FuzzSupport.h"
#include "services/PropertyList.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        const tarn::PropertyList list = tarn::PropertyList::parse(tarn::fuzz::bytes(data, size));
        // Every node visited through the accessors, without recursion of our own.
        std::vector<tarn::PropertyListNode> pending{list.root()};
        while (!pending.empty()) {
            const tarn::PropertyListNode node = pending.back();
            pending.pop_back();
            (void)node.string();
            (void)node.value(QStringLiteral("CFBundleShortVersionString")).string();
            for (const auto& [key, value] : node.entries()) {
                pending.push_back(value);
            }
            for (const tarn::PropertyListNode& element : node.elements()) {
                pending.push_back(element);
            }
        }
    } catch (const tarn::PropertyListError&) {
    }
    return 0;
}
