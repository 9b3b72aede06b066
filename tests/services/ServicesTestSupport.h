#pragma once

#include "base/Error.h"
#include "services/InstallationError.h"
#include "services/PropertyList.h"
#include "support/TestSupport.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTranslator>
#include <gtest/gtest.h>

#include <exception>
#include <optional>

namespace tarn {

using namespace Qt::StringLiterals;

inline void PrintTo(const InstallationError& error, std::ostream* out) {
    *out << error.debugDescription().toStdString();
}

} // namespace tarn

namespace tarn::test {

// The error a task fails with, if it is an E; success or any other error fails the test.
template <typename E, typename T>
std::optional<E> failureOf(QCoro::Task<T>&& task) {
    try {
        test::waitFor(std::move(task));
        ADD_FAILURE() << "the operation succeeded";
    } catch (const E& error) {
        return error;
    } catch (const std::exception& other) {
        ADD_FAILURE() << "unexpected error: " << tarn::debugDescription(other).toStdString();
    }
    return std::nullopt;
}

// The error inside an exception_ptr, if it is an E.
template <typename E>
std::optional<E> errorAs(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const E& typed) {
        return typed;
    } catch (...) {
        return std::nullopt;
    }
}

// The description every InstallationError of case `number` shows the user.
inline QString genericDescription(int number) {
    return u"The operation could not be completed. (InstallationError error %1.)"_s.arg(number);
}

inline bool writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

inline QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

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
