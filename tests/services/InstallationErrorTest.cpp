#include "services/InstallationError.h"

#include "ServicesTestSupport.h"
#include "base/Error.h"

#include <gtest/gtest.h>

namespace tarn {

using namespace Qt::StringLiterals;
namespace {

TEST(InstallationError, GenericDescriptionNamesTheCaseNumberWhereverItIsSeen) {
    const std::pair<InstallationError, int> cases[] = {
            {InstallationError::unableToMountDMG({}), 0},
            {InstallationError::pkgNotFound({}), 1},
            {InstallationError::installationFailed({}), 2},
            {InstallationError::unmountFailed({}), 3},
            {InstallationError::unsupportedFileExtension({}), 4},
            {InstallationError::mismatchHash({}), 5},
            {InstallationError::mismatchSignature({}), 6},
            {InstallationError(InstallationError::Case::invalidInput, {}), 7},
            {InstallationError::invalidPath({}), 8},
            {InstallationError::invalidUrl({}), 9},
            {InstallationError::noProcessOutput({}), 10}};
    for (const auto& [error, number] : cases) {
        const QString expected = test::genericDescription(number);
        EXPECT_EQ(error.localizedDescription(), expected);
        // Also through code that only knows exceptions.
        EXPECT_EQ(localizedDescription(std::make_exception_ptr(error)), expected);
        EXPECT_EQ(QString::fromUtf8(error.what()), expected);
    }
    EXPECT_EQ(localizedDescription(std::make_exception_ptr(std::runtime_error("plain"))), u"plain"_s);
}

TEST(InstallationError, DebugTextEscapesQuotesBackslashesAndLineBreaks) {
    EXPECT_EQ(InstallationError::pkgNotFound(u"No PKG found in DMG '/Volumes/\"X\"'"_s).debugDescription(),
              u"pkgNotFound(\"No PKG found in DMG '/Volumes/\\\"X\\\"'\")"_s);
    EXPECT_EQ(debugDescription(std::make_exception_ptr(InstallationError::installationFailed(u"a\\b\nc"_s))),
              u"installationFailed(\"a\\\\b\\nc\")"_s);
    EXPECT_EQ(InstallationError::invalidUrl(QString()).debugDescription(), u"invalidUrl(\"\")"_s);
}

} // namespace
} // namespace tarn
