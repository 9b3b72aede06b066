#pragma once

#include "base/Error.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>
#include <optional>
#include <utility>

namespace tarn {

// Bytes that are neither an XML nor a binary property list.
class PropertyListError final : public Error {
public:
    explicit PropertyListError(QString message) : message(std::move(message)) {}

    QString localizedDescription() const override { return message; }
    QString debugDescription() const override;

private:
    QString message;
};

// A read-only view of one value inside a PropertyList; valid as long as that list lives. A null view
// (a missing entry) answers every question with "no", so lookups chain without checks in between.
class PropertyListNode {
public:
    PropertyListNode() = default;
    explicit PropertyListNode(void* node) : node(node) {}

    bool isDictionary() const;
    bool isArray() const;
    bool isString() const;

    // The text of a string value; absent for every other kind of value.
    std::optional<QString> string() const;
    // A dictionary's entry; null when this is no dictionary or has no such key.
    PropertyListNode value(const QString& key) const;
    // A dictionary's entries in the order the list holds them.
    QList<std::pair<QString, PropertyListNode>> entries() const;
    // An array's elements in order; empty for every other kind of value.
    QList<PropertyListNode> elements() const;

private:
    void* node = nullptr;
};

// Owns a property-list tree, read from or written to the XML and binary formats.
class PropertyList {
public:
    // Either format, told apart by the bytes themselves. Throws PropertyListError, also for a binary list
    // with a NUL byte in a key or a text.
    static PropertyList parse(const QByteArray& bytes);

    static PropertyList dictionary();
    static PropertyList array();
    static PropertyList string(const QString& text);
    static PropertyList integer(quint64 value);
    static PropertyList boolean(bool value);

    // Builders for a dictionary and an array (std::logic_error on any other root); the value moves in.
    PropertyList& insert(const QString& key, PropertyList value);
    PropertyList& append(PropertyList value);

    PropertyListNode root() const { return PropertyListNode(node.get()); }
    QByteArray toXml() const;
    QByteArray toBinary() const;

private:
    struct Free {
        void operator()(void* node) const;
    };
    explicit PropertyList(void* node) : node(node) {}

    std::unique_ptr<void, Free> node;
};

} // namespace tarn
