#pragma once

#include <QByteArray>
#include <QString>
#include <plist/plist.h>

#include <cstdlib>
#include <optional>
#include <utility>

namespace tarn::tool {

// Owns a libplist node tree.
class Plist {
public:
    Plist() = default;
    explicit Plist(plist_t node) : node(node) {}
    ~Plist() { plist_free(node); }
    Plist(Plist&& other) noexcept : node(std::exchange(other.node, nullptr)) {}
    Plist& operator=(Plist&& other) noexcept {
        std::swap(node, other.node);
        return *this;
    }
    Plist(const Plist&) = delete;
    Plist& operator=(const Plist&) = delete;

    static Plist dictionary() { return Plist(plist_new_dict()); }
    // XML or binary; an empty handle when the bytes are no property list, or a binary one with a NUL byte
    // in a key or a text (which libplist cannot hand out safely).
    static Plist parse(const QByteArray& bytes);

    plist_t get() const { return node; }
    explicit operator bool() const { return node != nullptr; }
    bool isDictionary() const { return node && plist_get_node_type(node) == PLIST_DICT; }
    QByteArray toXml() const;

private:
    plist_t node = nullptr;
};

// Typed access to the entries of a dictionary node; absent when missing or of another type.
std::optional<QString> stringEntry(plist_t dictionary, const char* key);
std::optional<quint64> unsignedEntry(plist_t dictionary, const char* key);
void setString(plist_t dictionary, const char* key, const QString& value);
void setUnsigned(plist_t dictionary, const char* key, quint64 value);

// Visits the entries of a dictionary node in their stored order.
template <typename Visit>
void forEachEntry(plist_t dictionary, Visit&& visit) {
    plist_dict_iter iterator = nullptr;
    plist_dict_new_iter(dictionary, &iterator);
    for (;;) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(dictionary, iterator, &key, &value);
        if (!value) {
            free(key);
            break;
        }
        const QString name = QString::fromUtf8(key);
        free(key);
        visit(name, value);
    }
    free(iterator);
}

} // namespace tarn::tool
