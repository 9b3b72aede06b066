#include "services/InstallationError.h"

#include "ServicesTestSupport.h"
#include "base/Error.h"

#include <gtest/gtest.h>

namespace tarn {

using namespace Qt::StringLiterals;
namespace {

// The case number is what the user sees, wherever the error is described; debug text escapes its detail.
TEST(InstallationError, DescriptionsNameTheCaseNumberAndDebugTextEscapesTheDetail) {
    using enum InstallationError::Case;
    const InstallationError::Case cases[] = {
            unableToMountDMG,  pkgNotFound,  installationFailed, unmountFailed, unsupportedFileExtension, mismatchHash,
            mismatchSignature, invalidInput, invalidPath,        invalidUrl,    noProcessOutput};
    for (int number = 0; number < std::ssize(cases); ++number) {
        const InstallationError error(cases[number], {});
        const QString expected = test::genericDescription(number);
        EXPECT_EQ(error.localizedDescription(), expected);
        EXPECT_EQ(localizedDescription(std::make_exception_ptr(error)), expected);
        EXPECT_EQ(QString::fromUtf8(error.what()), expected);
    }
    EXPECT_EQ(localizedDescription(std::make_exception_ptr(std::runtime_error("plain"))), u"plain"_s);
    EXPECT_EQ(InstallationError::pkgNotFound(u"No PKG in '/V/\"X\"'"_s).debugDescription(),
              u"pkgNotFound(\"No PKG in '/V/\\\"X\\\"'\")"_s);
    EXPECT_EQ(debugDescription(std::make_exception_ptr(InstallationError::installationFailed(u"a\\b\nc"_s))),
              u"installationFailed(\"a\\\\b\\nc\")"_s);
}

} // namespace
} // namespace tarn
