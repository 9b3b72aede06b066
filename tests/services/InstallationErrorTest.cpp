#include "services/InstallationError.h"

#include "ServicesTestSupport.h"
#include "base/Error.h"

#include <gtest/gtest.h>

namespace tarn {
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
    EXPECT_EQ(localizedDescription(std::make_exception_ptr(std::runtime_error("plain"))), QStringLiteral("plain"));
}

TEST(InstallationError, DebugTextEscapesQuotesBackslashesAndLineBreaks) {
    EXPECT_EQ(InstallationError::pkgNotFound(QStringLiteral("No PKG found in DMG '/Volumes/\"X\"'")).debugDescription(),
              QStringLiteral("pkgNotFound(\"No PKG found in DMG '/Volumes/\\\"X\\\"'\")"));
    EXPECT_EQ(
            debugDescription(std::make_exception_ptr(InstallationError::installationFailed(QStringLiteral("a\\b\nc")))),
            QStringLiteral("installationFailed(\"a\\\\b\\nc\")"));
    EXPECT_EQ(InstallationError::invalidUrl(QString()).debugDescription(), QStringLiteral("invalidUrl(\"\")"));
}

} // namespace
} // namespace tarn
