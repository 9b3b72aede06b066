#include "services/InstallationError.h"

#include "services/Error.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

namespace tarn {
namespace {

TEST(InstallationError, CasesCarryTheirNumbersInDeclarationOrder) {
    const std::pair<InstallationError, int> cases[] = {{InstallationError::unableToMountDMG({}), 0},
                                                       {InstallationError::pkgNotFound({}), 1},
                                                       {InstallationError::installationFailed({}), 2},
                                                       {InstallationError::unmountFailed({}), 3},
                                                       {InstallationError::unsupportedFileExtension({}), 4},
                                                       {InstallationError::mismatchHash({}), 5},
                                                       {InstallationError::mismatchSignature({}), 6},
                                                       {InstallationError::invalidInput({}), 7},
                                                       {InstallationError::invalidPath({}), 8},
                                                       {InstallationError::invalidUrl({}), 9},
                                                       {InstallationError::noProcessOutput({}), 10}};
    for (const auto& [error, number] : cases) {
        EXPECT_EQ(error.caseNumber(), number);
        EXPECT_EQ(error.localizedDescription(),
                  QStringLiteral("The operation could not be completed. (InstallationError error %1.)").arg(number));
    }
}

TEST(InstallationError, DebugTextEscapesQuotesBackslashesAndLineBreaks) {
    const auto error = InstallationError::pkgNotFound(QStringLiteral("No PKG found in DMG '/Volumes/\"X\"'"));
    EXPECT_EQ(error.debugDescription(), QStringLiteral("pkgNotFound(\"No PKG found in DMG '/Volumes/\\\"X\\\"'\")"));
    EXPECT_EQ(InstallationError::installationFailed(QStringLiteral("a\\b\nc")).debugDescription(),
              QStringLiteral("installationFailed(\"a\\\\b\\nc\")"));
    EXPECT_EQ(InstallationError::invalidUrl(QString()).debugDescription(), QStringLiteral("invalidUrl(\"\")"));
}

TEST(InstallationError, ValuesDifferByCaseFirstAndKeepIndependentTexts) {
    const auto first = InstallationError::mismatchHash(QStringLiteral("same"));
    auto copy = first;
    copy = InstallationError::mismatchHash(QStringLiteral("other"));
    EXPECT_EQ(first.text(), QStringLiteral("same"));
    EXPECT_NE(first, copy);
    EXPECT_NE(first, InstallationError::mismatchSignature(QStringLiteral("same")));
    EXPECT_EQ(first, InstallationError::mismatchHash(QStringLiteral("same")));
}

TEST(InstallationError, DescriptionsReachCodeThatOnlyKnowsExceptions) {
    const std::exception_ptr thrown = std::make_exception_ptr(InstallationError::invalidPath(QStringLiteral("p")));
    EXPECT_EQ(localizedDescription(thrown),
              QStringLiteral("The operation could not be completed. (InstallationError error 8.)"));
    EXPECT_EQ(debugDescription(thrown), QStringLiteral("invalidPath(\"p\")"));
    try {
        std::rethrow_exception(thrown);
    } catch (const std::exception& error) {
        EXPECT_STREQ(error.what(), "The operation could not be completed. (InstallationError error 8.)");
    }
    EXPECT_EQ(localizedDescription(std::make_exception_ptr(std::runtime_error("plain"))), QStringLiteral("plain"));
}

} // namespace
} // namespace tarn
