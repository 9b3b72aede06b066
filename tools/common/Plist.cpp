#include "common/Plist.h"

#include "services/NestingDepth.h"
#include "services/PlistNulBytes.h"

#include <limits>

namespace tarn::tool {

Plist Plist::parse(const QByteArray& bytes) {
    if (bytes.isEmpty() || bytes.size() > std::numeric_limits<uint32_t>::max() ||
        plistNestsDeeperThan(bytes, maxDocumentDepth)) {
        return {};
    }
    plist_t root = nullptr;
    plist_from_memory(bytes.constData(), static_cast<uint32_t>(bytes.size()), &root);
    Plist plist(root);
    if (root && bytes.startsWith("bplist") && plistHoldsNulBytes(root)) {
        return {};
    }
    return plist;
}

QByteArray Plist::toXml() const {
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(node, &xml, &length);
    QByteArray bytes(xml, static_cast<qsizetype>(length));
    plist_to_xml_free(xml);
    return bytes;
}

std::optional<QString> stringEntry(plist_t dictionary, const char* key) {
    const plist_t item = plist_dict_get_item(dictionary, key);
    if (!item || plist_get_node_type(item) != PLIST_STRING) {
        return std::nullopt;
    }
    uint64_t length = 0;
    const char* text = plist_get_string_ptr(item, &length);
    return QString::fromUtf8(text, static_cast<qsizetype>(length));
}

std::optional<quint64> unsignedEntry(plist_t dictionary, const char* key) {
    const plist_t item = plist_dict_get_item(dictionary, key);
    if (!item || plist_get_node_type(item) != PLIST_UINT) {
        return std::nullopt;
    }
    uint64_t value = 0;
    plist_get_uint_val(item, &value);
    return value;
}

void setString(plist_t dictionary, const char* key, const QString& value) {
    plist_dict_set_item(dictionary, key, plist_new_string(value.toUtf8().constData()));
}

void setUnsigned(plist_t dictionary, const char* key, quint64 value) {
    plist_dict_set_item(dictionary, key, plist_new_uint(value));
}

} // namespace tarn::tool
