#include "services/PropertyList.h"

#include "services/NestingDepth.h"
#include "services/PlistNulBytes.h"

#include <plist/plist.h>

#include <cstdlib>
#include <limits>
#include <stdexcept>

namespace tarn {

using namespace Qt::StringLiterals;

QString PropertyListError::debugDescription() const {
    return u"PropertyListError(%1)"_s.arg(quotedForDebug(message));
}

bool PropertyListNode::isDictionary() const {
    return node != nullptr && plist_get_node_type(node) == PLIST_DICT;
}

bool PropertyListNode::isArray() const {
    return node != nullptr && plist_get_node_type(node) == PLIST_ARRAY;
}

bool PropertyListNode::isString() const {
    return node != nullptr && plist_get_node_type(node) == PLIST_STRING;
}

std::optional<QString> PropertyListNode::string() const {
    if (!isString()) {
        return std::nullopt;
    }
    uint64_t length = 0;
    const char* text = plist_get_string_ptr(node, &length);
    return QString::fromUtf8(text, static_cast<qsizetype>(length));
}

PropertyListNode PropertyListNode::value(const QString& key) const {
    if (!isDictionary()) {
        return {};
    }
    return PropertyListNode(plist_dict_get_item(node, key.toUtf8().constData()));
}

QList<std::pair<QString, PropertyListNode>> PropertyListNode::entries() const {
    QList<std::pair<QString, PropertyListNode>> result;
    if (!isDictionary()) {
        return result;
    }
    plist_dict_iter iterator = nullptr;
    plist_dict_new_iter(node, &iterator);
    if (iterator == nullptr) {
        return result;
    }
    for (;;) {
        char* key = nullptr;
        plist_t item = nullptr;
        plist_dict_next_item(node, iterator, &key, &item);
        if (item == nullptr) {
            std::free(key);
            break;
        }
        result.append({QString::fromUtf8(key), PropertyListNode(item)});
        std::free(key);
    }
    std::free(iterator);
    return result;
}

QList<PropertyListNode> PropertyListNode::elements() const {
    QList<PropertyListNode> result;
    if (!isArray()) {
        return result;
    }
    const uint32_t count = plist_array_get_size(node);
    result.reserve(count);
    for (uint32_t index = 0; index < count; ++index) {
        result.append(PropertyListNode(plist_array_get_item(node, index)));
    }
    return result;
}

void PropertyList::Free::operator()(void* node) const {
    plist_free(node);
}

PropertyList PropertyList::parse(const QByteArray& bytes) {
    // The library takes a 32-bit length; a longer buffer would be read truncated.
    if (bytes.isEmpty() || bytes.size() > std::numeric_limits<uint32_t>::max()) {
        throw PropertyListError(u"The data is not a property list in XML or binary format."_s);
    }
    if (plistNestsDeeperThan(bytes, maxDocumentDepth)) {
        throw PropertyListError(u"The property list nests deeper than %1 levels."_s.arg(maxDocumentDepth));
    }
    plist_t parsed = nullptr;
    plist_from_memory(bytes.constData(), static_cast<uint32_t>(bytes.size()), &parsed);
    if (parsed == nullptr) {
        throw PropertyListError(u"The data is not a property list in XML or binary format."_s);
    }
    PropertyList list(parsed);
    if (bytes.startsWith("bplist") && plistHoldsNulBytes(parsed)) {
        throw PropertyListError(u"The property list holds a NUL character in a key or a text."_s);
    }
    return list;
}

PropertyList PropertyList::dictionary() {
    return PropertyList(plist_new_dict());
}

PropertyList PropertyList::array() {
    return PropertyList(plist_new_array());
}

PropertyList PropertyList::string(const QString& text) {
    return PropertyList(plist_new_string(text.toUtf8().constData()));
}

PropertyList PropertyList::integer(quint64 value) {
    return PropertyList(plist_new_uint(value));
}

PropertyList PropertyList::boolean(bool value) {
    return PropertyList(plist_new_bool(value ? 1 : 0));
}

PropertyList& PropertyList::insert(const QString& key, PropertyList value) {
    if (!root().isDictionary()) {
        throw std::logic_error("PropertyList::insert needs a dictionary");
    }
    plist_dict_set_item(node.get(), key.toUtf8().constData(), value.node.release());
    return *this;
}

PropertyList& PropertyList::append(PropertyList value) {
    if (!root().isArray()) {
        throw std::logic_error("PropertyList::append needs an array");
    }
    plist_array_append_item(node.get(), value.node.release());
    return *this;
}

namespace {

// Runs one of libplist's writers and copies out what it wrote before handing its buffer back.
QByteArray written(plist_t node, void (*write)(plist_t, char**, uint32_t*), void (*release)(char*)) {
    char* bytes = nullptr;
    uint32_t length = 0;
    write(node, &bytes, &length);
    QByteArray result(bytes, static_cast<qsizetype>(length));
    release(bytes);
    return result;
}

} // namespace

QByteArray PropertyList::toXml() const {
    return written(node.get(), plist_to_xml, plist_to_xml_free);
}

QByteArray PropertyList::toBinary() const {
    return written(node.get(), plist_to_bin, plist_to_bin_free);
}

} // namespace tarn
