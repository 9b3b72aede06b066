#pragma once

#include "fixtures/Certificates.h"
#include "services/Error.h"
#include "support/TestSupport.h"

#include <QByteArray>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <exception>
#include <optional>

namespace tarn::test {

// The certificates of the HTTPS tests, made once per run: RSA keys are slow to generate.
struct TestPki {
    fixtures::Credential authority;   // trusted through the extra-CA path
    fixtures::Credential server;      // for 127.0.0.1, issued by the authority
    fixtures::Credential selfSigned;  // 127.0.0.1, issued by nobody we trust
    fixtures::Credential expired;     // issued by the authority, no longer valid
    fixtures::Credential foreignHost; // issued by the authority for another host name
};
const TestPki& testPki();

// What a task threw, if it was an E; any other outcome fails the test.
template <typename E, typename T>
std::optional<E> thrownBy(QCoro::Task<T>&& task) {
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

// Points the temporary folder (TMPDIR) at a fresh folder for the life of the object, so a test can
// see every file a download leaves behind.
class ScopedTemporaryFolder {
public:
    ScopedTemporaryFolder();
    ~ScopedTemporaryFolder();

    QString path() const { return folder.path(); }
    // Names of the files in the folder, hidden ones included.
    QStringList entries() const;

private:
    QTemporaryDir folder;
    QByteArray previous;
    bool hadPrevious;
};

} // namespace tarn::test
