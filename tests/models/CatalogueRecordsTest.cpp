#include "models/LicenseType.h"
#include "models/TARNDeviceAppConfigurationModel.h"
#include "models/TARNDeviceModel.h"
#include "models/USBDeviceModel.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

#include <limits>

namespace tarn {
namespace {

using limits = std::numeric_limits<std::int64_t>;

TARNDeviceAppConfigurationModel describedApp() {
    TARNDeviceAppConfigurationModel app;
    app.id = QUuid::createUuid();
    app.descriptionLocalized = {
            {"en", "English"}, {"de", "Deutsch"}, {"de-CH", "Schweizerdeutsch"}, {"pt", "Português"}};
    return app;
}

TEST(LocalizedDescription, PrefersRegionThenLanguageThenEnglishThenNothing) {
    // Without a region the language alone is not consulted.
    const std::pair<LocaleCodes, QString> cases[] = {
            {{"de", "CH"}, "Schweizerdeutsch"}, {{"de", "ch"}, "Schweizerdeutsch"}, {{"de", "AT"}, "Deutsch"},
            {{"pt", "BR"}, "Português"},        {{"fr", "FR"}, "English"},          {{"de", std::nullopt}, "English"},
            {{std::nullopt, "CH"}, "English"}};
    for (const auto& [locale, expected] : cases) {
        EXPECT_EQ(describedApp().localizedDescription(locale), expected) << expected.toStdString();
    }
    auto app = describedApp();
    EXPECT_EQ(app.localizedDescription(QLocale(QLocale::German, QLocale::Switzerland)), "Schweizerdeutsch");
    EXPECT_EQ(app.localizedDescription(QLocale::c()), "English");
    app.descriptionLocalized.remove("en");
    EXPECT_EQ(app.localizedDescription(LocaleCodes{"fr", "FR"}), QString());
}

TEST(Base16, ReadsSignedHexOrNoNumber) {
    const std::pair<const char*, std::int64_t> valid[] = {{"04A9", 1193},
                                                          {"4a9", 1193},
                                                          {"+1A0B", 0x1A0B},
                                                          {"-10", -16},
                                                          {"00000000000000000000001", 1},
                                                          {"7FFFFFFFFFFFFFFF", limits::max()},
                                                          {"-8000000000000000", limits::min()}};
    for (const auto& [text, expected] : valid) {
        EXPECT_EQ(readBase16(QString::fromUtf8(text)), expected) << text;
        EXPECT_EQ(parseBase16(QString::fromUtf8(text)), expected) << text;
    }
    // Malformed, or beyond a signed 64-bit integer.
    for (const char* text : {"0x04A9", "", "+", "-", " 4a9", "4a9 ", "4g", "+-1", "8000000000000000",
                             "-8000000000000001", "10000000000000000"}) {
        EXPECT_EQ(readBase16(QString::fromUtf8(text)), std::nullopt) << text;
        EXPECT_EQ(parseBase16(QString::fromUtf8(text)), 0) << text;
    }
}

TEST(USBDeviceModel, CatalogueEntriesBecomeIdentitiesComparedByNumbersAndDescribedInHex) {
    const auto identities = toUSBDeviceModels({{"A", "04A9", "1a0b", {}, {}},
                                               {"B", "0x1", "1", {}, {}},
                                               {"C", "1", "", {}, {}},
                                               {"D", "0", "-2", {}, {}}});
    EXPECT_EQ(identities, (QList<USBDeviceModel>{{0x4A9, 0x1A0B, {}, {}}, {0, -2, {}, {}}}));

    EXPECT_EQ((USBDeviceModel{0x4A9, 0x1234, "A", "B"}).description(),
              "Vendor ID = 4A9, Product ID = 1234, Vendor Name = A, Device Name = B");
    EXPECT_EQ((USBDeviceModel{limits::min(), -255, {}, {}}).description(),
              "Vendor ID = -8000000000000000, Product ID = -FF, Vendor Name = , Device Name = ");
    const QList<USBDeviceModel> devices{{1193, 4660, "Canon \"Inc\"", "Scan"}, {1, 2, "V", "D"}};
    EXPECT_EQ(debugDescription(devices),
              "[T_A_R_N__Installer.USBDeviceModel(vendorID: 1193, productID: 4660, vendorName: \"Canon \\\"Inc\\\"\", "
              "deviceName: \"Scan\"), T_A_R_N__Installer.USBDeviceModel(vendorID: 1, productID: 2, vendorName: \"V\", "
              "deviceName: \"D\")]");
    EXPECT_EQ(debugDescription(QList<USBDeviceModel>{}), "[]");
}

TEST(LicenseType, EntriesLowerCaseTheTextWhileRawValuesMatchExactly) {
    using enum LicenseType;
    const std::tuple<const char*, LicenseType, std::optional<LicenseType>> cases[]{{"trial", trial, trial},
                                                                                   {"TRIAL", trial, std::nullopt},
                                                                                   {"free", full, full},
                                                                                   {"Free", full, std::nullopt},
                                                                                   {"full", unknown, std::nullopt},
                                                                                   {"Unknown", unknown, unknown},
                                                                                   {"unknown", unknown, std::nullopt},
                                                                                   {"", unknown, std::nullopt},
                                                                                   {" trial", unknown, std::nullopt}};
    for (const auto& [text, fromEntry, fromRawValue] : cases) {
        EXPECT_EQ(licenseTypeFromEntryText(QString::fromUtf8(text)), fromEntry) << text;
        EXPECT_EQ(licenseTypeFromRawValue(QString::fromUtf8(text)), fromRawValue) << text;
    }
}

} // namespace
} // namespace tarn
