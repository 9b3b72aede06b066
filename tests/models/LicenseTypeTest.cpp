#include "models/LicenseType.h"

#include "support/QtPrinters.h"

#include <gtest/gtest.h>

namespace tarn {
namespace {

TEST(LicenseType, EntriesLowerCaseTheTextWhileRawValuesMatchExactly) {
    struct Case {
        const char* text;
        LicenseType fromEntry;
        std::optional<LicenseType> fromRawValue;
    };
    const Case cases[]{
            {"trial", LicenseType::trial, LicenseType::trial}, {"TRIAL", LicenseType::trial, std::nullopt},
            {"free", LicenseType::full, LicenseType::full},    {"Free", LicenseType::full, std::nullopt},
            {"full", LicenseType::unknown, std::nullopt},      {"Unknown", LicenseType::unknown, LicenseType::unknown},
            {"unknown", LicenseType::unknown, std::nullopt},   {"", LicenseType::unknown, std::nullopt},
            {" trial", LicenseType::unknown, std::nullopt}};
    for (const Case& c : cases) {
        EXPECT_EQ(licenseTypeFromEntryText(QString::fromUtf8(c.text)), c.fromEntry) << c.text;
        EXPECT_EQ(licenseTypeFromRawValue(QString::fromUtf8(c.text)), c.fromRawValue) << c.text;
    }
}

} // namespace
} // namespace tarn
