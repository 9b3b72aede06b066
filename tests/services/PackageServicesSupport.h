#pragma once

#include "ServicesTestSupport.h"
#include "services/PropertyList.h"

#include <QCoreApplication>
#include <QTranslator>

#include <optional>

namespace tarn::test {

using namespace Qt::StringLiterals;

// What `hdiutil attach -plist` prints: one entity per partition, the volume's with a mount point.
inline PropertyList attachReport(const QList<std::optional<QString>>& mountPoints) {
    PropertyList entities = PropertyList::array();
    for (const auto& mountPoint : mountPoints) {
        PropertyList entity = PropertyList::dictionary();
        if (mountPoint) {
            entity.insert(u"mount-point"_s, PropertyList::string(*mountPoint));
        }
        entities.append(std::move(entity));
    }
    PropertyList root = PropertyList::dictionary();
    root.insert(u"system-entities"_s, std::move(entities));
    return root;
}

// What `pkgutil --export-plist` prints for an installed package.
inline PropertyList receipt(const QString& installLocation, const QStringList& paths) {
    PropertyList pathEntries = PropertyList::dictionary();
    for (const QString& path : paths) {
        pathEntries.insert(path, PropertyList::dictionary());
    }
    PropertyList root = PropertyList::dictionary();
    root.insert(u"install-location"_s, PropertyList::string(installLocation));
    root.insert(u"paths"_s, std::move(pathEntries));
    root.insert(u"pkg-version"_s, PropertyList::string(u"1.0.0"_s));
    return root;
}

inline PropertyList infoPlist(const std::optional<QString>& shortVersion, const std::optional<QString>& version) {
    PropertyList root = PropertyList::dictionary();
    if (shortVersion) {
        root.insert(u"CFBundleShortVersionString"_s, PropertyList::string(*shortVersion));
    }
    if (version) {
        root.insert(u"CFBundleVersion"_s, PropertyList::string(*version));
    }
    return root;
}

// The translation the application ships for the installer's administrator prompt, installed for its lifetime.
class DisclaimerTranslator final : public QTranslator {
public:
    static constexpr const char* format = "Administrator rights are needed to install %1.";

    DisclaimerTranslator() { QCoreApplication::installTranslator(this); }
    ~DisclaimerTranslator() override { QCoreApplication::removeTranslator(this); }

    QString translate(const char*, const char* sourceText, const char*, int) const override {
        return qstrcmp(sourceText, "installer.disclaimer") == 0 ? QString::fromLatin1(format) : QString();
    }
    bool isEmpty() const override { return false; }
};

} // namespace tarn::test
