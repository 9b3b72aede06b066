#include "models/CatalogueDecoding.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

namespace tarn {

namespace {

QString typeName(const QJsonValue& value) {
    switch (value.type()) {
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Bool:
        return QStringLiteral("a boolean");
    case QJsonValue::Double:
        return QStringLiteral("a number");
    case QJsonValue::String:
        return QStringLiteral("a string");
    case QJsonValue::Array:
        return QStringLiteral("an array");
    case QJsonValue::Object:
        return QStringLiteral("an object");
    case QJsonValue::Undefined:
        break;
    }
    return QStringLiteral("nothing");
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
    throw DecodingError(
            DecodingError::Kind::dataCorrupted, QString(),
            QStringLiteral("the text is not valid JSON (%1 at offset %2)").arg(error.errorString()).arg(error.offset));
}

QString keyPath(const QString& parent, const QString& key) {
    return parent.isEmpty() ? key : parent + u'.' + key;
}

QString indexPath(const QString& parent, qsizetype index) {
    return parent + u'[' + QString::number(index) + u']';
}

[[noreturn]] void throwMismatch(const QString& path, const QString& expected, const QJsonValue& found) {
    throw DecodingError(DecodingError::Kind::typeMismatch, path,
                        QStringLiteral("expected %1 but found %2").arg(expected, typeName(found)));
}

// Reads the keys of one JSON object in the order the caller asks for them, so that the first failing
// key is the one reported.
class ObjectReader {
public:
    ObjectReader(const QJsonValue& value, QString path) : path(std::move(path)) {
        if (value.isNull()) {
            throw DecodingError(DecodingError::Kind::valueNotFound, this->path,
                                QStringLiteral("expected an object but found null"));
        }
        if (!value.isObject()) {
            throwMismatch(this->path, QStringLiteral("an object"), value);
        }
        object = value.toObject();
    }

    QString text(const QString& key) const {
        const QJsonValue value = required(key);
        if (!value.isString()) {
            throwMismatch(keyPath(path, key), QStringLiteral("a string"), value);
        }
        return value.toString();
    }

    bool boolean(const QString& key) const {
        const QJsonValue value = required(key);
        if (!value.isBool()) {
            throwMismatch(keyPath(path, key), QStringLiteral("a boolean"), value);
        }
        return value.toBool();
    }

    QJsonArray array(const QString& key) const {
        const QJsonValue value = required(key);
        if (!value.isArray()) {
            throwMismatch(keyPath(path, key), QStringLiteral("an array"), value);
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
            throwMismatch(mapPath, QStringLiteral("an object"), value);
        }
        const QJsonObject entries = value.toObject();
        for (auto it = entries.begin(); it != entries.end(); ++it) {
            if (!it.value().isString()) {
                throwMismatch(keyPath(mapPath, it.key()), QStringLiteral("a string"), it.value());
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
                                QStringLiteral("the required key '%1' is missing").arg(key));
        }
        if (it.value().isNull()) {
            throw DecodingError(DecodingError::Kind::valueNotFound, keyPath(path, key),
                                QStringLiteral("the required key '%1' is null").arg(key));
        }
        return it.value();
    }

    QString path;
    QJsonObject object;
};

TARNDeviceModel decodeDevice(const QJsonValue& value, const QString& path) {
    const ObjectReader reader(value, path);
    TARNDeviceModel device;
    device.name = reader.text(QStringLiteral("name"));
    device.vid = reader.text(QStringLiteral("vid"));
    device.pid = reader.text(QStringLiteral("pid"));
    device.configLink = reader.text(QStringLiteral("configLink"));
    device.hash = reader.text(QStringLiteral("hash"));
    return device;
}

TARNDeviceAppConfigurationModel decodeApp(const QJsonValue& value, const QString& path) {
    const ObjectReader reader(value, path);
    TARNDeviceAppConfigurationModel app;
    app.id = QUuid::createUuid(); // never read from the document
    app.name = reader.text(QStringLiteral("name"));
    app.version = reader.text(QStringLiteral("version"));
    app.mandatory = reader.boolean(QStringLiteral("mandatory"));
    app.installer = reader.text(QStringLiteral("installer"));
    app.hash = reader.text(QStringLiteral("hash"));
    app.pkgId = reader.text(QStringLiteral("pkgId"));
    app.licenseType = licenseTypeFromEntryText(reader.text(QStringLiteral("licenseType")));
    app.descriptionLocalized = reader.optionalTextMap(QStringLiteral("descriptionLocalized"));
    return app;
}

} // namespace

std::optional<QList<TARNDeviceModel>> decodeDeviceCatalogue(const QByteArray& json) {
    const QJsonValue root = parseRoot(json);
    if (root.isNull()) {
        return std::nullopt;
    }
    if (!root.isArray()) {
        throwMismatch(QString(), QStringLiteral("an array"), root);
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
    configuration.name = reader.text(QStringLiteral("name"));
    configuration.vid = reader.text(QStringLiteral("vid"));
    configuration.pid = reader.text(QStringLiteral("pid"));
    configuration.successUrl = reader.text(QStringLiteral("successUrl"));
    const QJsonArray apps = reader.array(QStringLiteral("apps"));
    const QString appsPath = reader.childPath(QStringLiteral("apps"));
    configuration.apps.reserve(apps.size());
    for (qsizetype index = 0; index < apps.size(); ++index) {
        configuration.apps.append(decodeApp(apps.at(index), indexPath(appsPath, index)));
    }
    return configuration;
}

} // namespace tarn
