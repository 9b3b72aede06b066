#include "models/LicenseType.h"

#include "support/QtPrinters.h"

#include <QHash>
#include <QSet>
#include <gtest/gtest.h>

#include <unordered_set>

namespace tarn {
namespace {

struct EntryText {
    const char* text;
    LicenseType expected;
};

class LicenseTypeEntryRule : public ::testing::TestWithParam<EntryText> {};

TEST_P(LicenseTypeEntryRule, LowerCasesThenMatchesTrialOrFreeElseUnknown) {
    EXPECT_EQ(licenseTypeFromEntryText(QString::fromUtf8(GetParam().text)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
        Texts, LicenseTypeEntryRule,
        ::testing::Values(EntryText{"trial", LicenseType::trial}, EntryText{"TRIAL", LicenseType::trial},
                          EntryText{"Trial", LicenseType::trial}, EntryText{"free", LicenseType::full},
                          EntryText{"Free", LicenseType::full}, EntryText{"FREE", LicenseType::full},
                          EntryText{"full", LicenseType::unknown}, EntryText{"unknown", LicenseType::unknown},
                          EntryText{"Unknown", LicenseType::unknown}, EntryText{"", LicenseType::unknown},
                          EntryText{" trial", LicenseType::unknown}));

TEST(LicenseType, RawValuesMatchExactlyAndCaseSensitively) {
    EXPECT_EQ(licenseTypeFromRawValue(QStringLiteral("trial")), LicenseType::trial);
    EXPECT_EQ(licenseTypeFromRawValue(QStringLiteral("free")), LicenseType::full);
    EXPECT_EQ(licenseTypeFromRawValue(QStringLiteral("Unknown")), LicenseType::unknown);
    EXPECT_EQ(licenseTypeFromRawValue(QStringLiteral("unknown")), std::nullopt);
    EXPECT_EQ(licenseTypeFromRawValue(QStringLiteral("full")), std::nullopt);
    EXPECT_EQ(licenseTypeFromRawValue(QStringLiteral("Free")), std::nullopt);
}

TEST(LicenseType, HashesByItsTextSoEachCaseIsADistinctKey) {
    EXPECT_EQ(qHash(LicenseType::full), qHash(QStringLiteral("free")));
    const std::unordered_set<LicenseType> standard{LicenseType::trial, LicenseType::full, LicenseType::unknown,
                                                   LicenseType::full};
    const QSet<LicenseType> qt{LicenseType::trial, LicenseType::full, LicenseType::unknown, LicenseType::trial};
    EXPECT_EQ(standard.size(), 3u);
    EXPECT_EQ(qt.size(), 3);
}

} // namespace
} // namespace tarn
