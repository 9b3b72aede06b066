#include "models/CatalogueDecoding.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

#include <algorithm>
#include <iterator>
#include <utility>

namespace tarn {

using namespace Qt::StringLiterals;

namespace {

QString typeName(const QJsonValue& value) {
    static constexpr std::pair<QJsonValue::Type, QStringView> names[] = {
            {QJsonValue::Null, u"null"},       {QJsonValue::Bool, u"a boolean"}, {QJsonValue::Double, u"a number"},
            {QJsonValue::String, u"a string"}, {QJsonValue::Array, u"an array"}, {QJsonValue::Object, u"an object"}};
    const auto* name = std::find_if(std::begin(names), std::end(names),
                                    [&value](const auto& entry) { return entry.first == value.type(); });
    return name != std::end(names) ? name->second.toString() : u"nothing"_s;
}

// QJsonDocument holds only arrays and objects; a scalar root is read as the single element of a
// wrapping array so that "null" and friends are reported for what they are.
QJsonValue parseRoot(const QByteArray& json) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error == QJsonParseError::NoError) {
        return document.isArray() ? QJsonValue(document.array()) : QJsonValue(document.object());
    }
    QJsonParseError wrappedError{};
    const QJsonDocument wrapped = QJsonDocument::fromJson('[' + json + ']', &wrappedError);
    if (wrappedError.error == QJsonParseError::NoError && wrapped.array().size() == 1) {
        return wrapped.array().first();
    }
    throw DecodingError(DecodingError::Kind::dataCorrupted, QString(),
                        u"the text is not valid JSON (%1 at offset %2)"_s.arg(error.errorString()).arg(error.offset));
}

QString keyPath(const QString& parent, const QString& key) {
    return parent.isEmpty() ? key : parent + u'.' + key;
}

QString indexPath(const QString& parent, qsizetype index) {
    return parent + u'[' + QString::number(index) + u']';
}

[[noreturn]] void throwMismatch(const QString& path, const QString& expected, const QJsonValue& found) {
    throw DecodingError(DecodingError::Kind::typeMismatch, path,
                        u"expected %1 but found %2"_s.arg(expected, typeName(found)));
}

// Reads the keys of one JSON object in the order the caller asks for them, so that the first failing
// key is the one reported.
class ObjectReader {
public:
    ObjectReader(const QJsonValue& value, QString path) : path(std::move(path)) {
        if (value.isNull()) {
            throw DecodingError(DecodingError::Kind::valueNotFound, this->path, u"expected an object but found null"_s);
        }
        if (!value.isObject()) {
            throwMismatch(this->path, u"an object"_s, value);
        }
        object = value.toObject();
    }

    QString text(const QString& key) const {
        const QJsonValue value = required(key);
        if (!value.isString()) {
            throwMismatch(keyPath(path, key), u"a string"_s, value);
        }
        return value.toString();
    }

    bool boolean(const QString& key) const {
        const QJsonValue value = required(key);
        if (!value.isBool()) {
            throwMismatch(keyPath(path, key), u"a boolean"_s, value);
        }
        return value.toBool();
    }

    QJsonArray array(const QString& key) const {
        const QJsonValue value = required(key);
        if (!value.isArray()) {
            throwMismatch(keyPath(path, key), u"an array"_s, value);
        }
        return value.toArray();
    }

    // Absent or null gives an empty map; otherwise an object whose values are all strings.
    QMap<QString, QString> optionalTextMap(const QString& key) const {
        QMap<QString, QString> map;
        const QJsonValue value = object.value(key);
        if (value.isUndefined() || value.isNull()) {
            return map;
        }
        const QString mapPath = keyPath(path, key);
        if (!value.isObject()) {
            throwMismatch(mapPath, u"an object"_s, value);
        }
        const QJsonObject entries = value.toObject();
        for (auto it = entries.begin(); it != entries.end(); ++it) {
            if (!it.value().isString()) {
                throwMismatch(keyPath(mapPath, it.key()), u"a string"_s, it.value());
            }
            map.insert(it.key(), it.value().toString());
        }
        return map;
    }

    QString childPath(const QString& key) const { return keyPath(path, key); }

private:
    QJsonValue required(const QString& key) const {
        const auto it = object.constFind(key);
        if (it == object.constEnd()) {
            throw DecodingError(DecodingError::Kind::keyNotFound, keyPath(path, key),
                                u"the required key '%1' is missing"_s.arg(key));
        }
        if (it.value().isNull()) {
            throw DecodingError(DecodingError::Kind::valueNotFound, keyPath(path, key),
                                u"the required key '%1' is null"_s.arg(key));
        }
        return it.value();
    }

    QString path;
    QJsonObject object;
};

TARNDeviceModel decodeDevice(const QJsonValue& value, const QString& path) {
    const ObjectReader reader(value, path);
    TARNDeviceModel device;
    device.name = reader.text(u"name"_s);
    device.vid = reader.text(u"vid"_s);
    device.pid = reader.text(u"pid"_s);
    device.configLink = reader.text(u"configLink"_s);
    device.hash = reader.text(u"hash"_s);
    return device;
}

TARNDeviceAppConfigurationModel decodeApp(const QJsonValue& value, const QString& path) {
    const ObjectReader reader(value, path);
    TARNDeviceAppConfigurationModel app;
    app.id = QUuid::createUuid(); // never read from the document
    app.name = reader.text(u"name"_s);
    app.version = reader.text(u"version"_s);
    app.mandatory = reader.boolean(u"mandatory"_s);
    app.installer = reader.text(u"installer"_s);
    app.hash = reader.text(u"hash"_s);
    app.pkgId = reader.text(u"pkgId"_s);
    app.licenseType = licenseTypeFromEntryText(reader.text(u"licenseType"_s));
    app.descriptionLocalized = reader.optionalTextMap(u"descriptionLocalized"_s);
    return app;
}

} // namespace

std::optional<QList<TARNDeviceModel>> decodeDeviceCatalogue(const QByteArray& json) {
    const QJsonValue root = parseRoot(json);
    if (root.isNull()) {
        return std::nullopt;
    }
    if (!root.isArray()) {
        throwMismatch(QString(), u"an array"_s, root);
    }
    const QJsonArray elements = root.toArray();
    QList<TARNDeviceModel> devices;
    devices.reserve(elements.size());
    for (qsizetype index = 0; index < elements.size(); ++index) {
        devices.append(decodeDevice(elements.at(index), indexPath(QString(), index)));
    }
    return devices;
}

TARNDeviceAppsConfigurationModel decodeAppsConfiguration(const QByteArray& json) {
    const ObjectReader reader(parseRoot(json), QString());
    TARNDeviceAppsConfigurationModel configuration;
    configuration.name = reader.text(u"name"_s);
    configuration.vid = reader.text(u"vid"_s);
    configuration.pid = reader.text(u"pid"_s);
    configuration.successUrl = reader.text(u"successUrl"_s);
    const QJsonArray apps = reader.array(u"apps"_s);
    const QString appsPath = reader.childPath(u"apps"_s);
    configuration.apps.reserve(apps.size());
    for (qsizetype index = 0; index < apps.size(); ++index) {
        configuration.apps.append(decodeApp(apps.at(index), indexPath(appsPath, index)));
    }
    return configuration;
}

} // namespace tarn
