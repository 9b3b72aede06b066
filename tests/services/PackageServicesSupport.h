#pragma once

#include "ServicesTestSupport.h"
#include "services/PropertyList.h"

#include <QCoreApplication>
#include <QTranslator>

#include <optional>

namespace tarn::test {

using namespace Qt::StringLiterals;

// Property lists as the tools print them, written as XML; toBinary gives the same list in binary form.
inline QByteArray plistXml(const QByteArray& root) {
    return "<?xml version=\"1.0\"?><plist version=\"1.0\">" + root + "</plist>";
}
inline QByteArray toBinary(const QByteArray& xml) {
    return PropertyList::parse(xml).toBinary();
}
inline QByteArray entry(const char* key, const QString& text) {
    return "<key>" + QByteArray(key) + "</key><string>" + text.toUtf8() + "</string>";
}

// What `hdiutil attach -plist` prints, around the given entities (one per partition).
inline QByteArray attachReport(const QByteArray& entities) {
    return plistXml("<dict><key>system-entities</key><array>" + entities + "</array></dict>");
}
inline QByteArray mountedAt(const QString& mountPoint) {
    return "<dict>" + entry("mount-point", mountPoint) + "</dict>";
}

// What `pkgutil --export-plist` prints for an installed package.
inline QByteArray receipt(const QString& installLocation, const QStringList& paths) {
    QByteArray pathKeys;
    for (const QString& path : paths) {
        pathKeys += "<key>" + path.toUtf8() + "</key><dict/>";
    }
    return plistXml("<dict>" + entry("install-location", installLocation) + "<key>paths</key><dict>" + pathKeys +
                    "</dict>" + entry("pkg-version", u"1.0.0"_s) + "</dict>");
}

inline QByteArray infoPlist(const std::optional<QString>& shortVersion, const std::optional<QString>& version) {
    return plistXml("<dict>" + (shortVersion ? entry("CFBundleShortVersionString", *shortVersion) : QByteArray()) +
                    (version ? entry("CFBundleVersion", *version) : QByteArray()) + "</dict>");
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
