#pragma once

#include "base/Error.h"
#include "services/InstallationError.h"
#include "support/TestSupport.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
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

} // namespace tarn::test
