#include "models/TARNDeviceAppConfigurationModel.h"
#include "models/TARNDeviceModel.h"
#include "models/USBDeviceModel.h"
#include "support/QtPrinters.h"

#include <QHash>
#include <gtest/gtest.h>

#include <limits>
#include <unordered_map>

namespace tarn {
namespace {

TARNDeviceAppConfigurationModel describedApp() {
    TARNDeviceAppConfigurationModel app;
    app.id = QUuid::createUuid();
    app.descriptionLocalized = {{QStringLiteral("en"), QStringLiteral("English")},
                                {QStringLiteral("de"), QStringLiteral("Deutsch")},
                                {QStringLiteral("de-CH"), QStringLiteral("Schweizerdeutsch")},
                                {QStringLiteral("pt"), QStringLiteral("Português")}};
    return app;
}

struct LocaleCase {
    std::optional<QString> language;
    std::optional<QString> region;
    QString expected;
};

class LocalizedDescription : public ::testing::TestWithParam<LocaleCase> {};

TEST_P(LocalizedDescription, PrefersRegionThenLanguageThenEnglish) {
    EXPECT_EQ(describedApp().localizedDescription(LocaleCodes{GetParam().language, GetParam().region}),
              GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
        Locales, LocalizedDescription,
        ::testing::Values(LocaleCase{QStringLiteral("de"), QStringLiteral("CH"), QStringLiteral("Schweizerdeutsch")},
                          LocaleCase{QStringLiteral("de"), QStringLiteral("ch"), QStringLiteral("Schweizerdeutsch")},
                          LocaleCase{QStringLiteral("de"), QStringLiteral("AT"), QStringLiteral("Deutsch")},
                          LocaleCase{QStringLiteral("pt"), QStringLiteral("BR"), QStringLiteral("Português")},
                          LocaleCase{QStringLiteral("fr"), QStringLiteral("FR"), QStringLiteral("English")},
                          // Without a region the language alone is not consulted.
                          LocaleCase{QStringLiteral("de"), std::nullopt, QStringLiteral("English")},
                          LocaleCase{std::nullopt, QStringLiteral("CH"), QStringLiteral("English")}));

TEST(LocalizedDescription, FallsBackToEmptyWithoutEnglishAndReadsQtLocales) {
    auto app = describedApp();
    EXPECT_EQ(app.localizedDescription(QLocale(QLocale::German, QLocale::Switzerland)),
              QStringLiteral("Schweizerdeutsch"));
    EXPECT_EQ(app.localizedDescription(QLocale::c()), QStringLiteral("English"));
    app.descriptionLocalized.remove(QStringLiteral("en"));
    EXPECT_EQ(app.localizedDescription(LocaleCodes{QStringLiteral("fr"), QStringLiteral("FR")}), QString());
}

struct Base16Case {
    const char* text;
    std::int64_t expected;
};

class Base16 : public ::testing::TestWithParam<Base16Case> {};

TEST_P(Base16, ReadsSignedHexOrZero) {
    EXPECT_EQ(parseBase16(QString::fromUtf8(GetParam().text)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Texts, Base16,
                         ::testing::Values(Base16Case{"04A9", 1193}, Base16Case{"04a9", 1193}, Base16Case{"4a9", 1193},
                                           Base16Case{"+1A0B", 0x1A0B}, Base16Case{"-10", -16}, Base16Case{"0x04A9", 0},
                                           Base16Case{"", 0}, Base16Case{"+", 0}, Base16Case{"-", 0},
                                           Base16Case{" 4a9", 0}, Base16Case{"4a9 ", 0}, Base16Case{"4g", 0},
                                           Base16Case{"+-1", 0},
                                           Base16Case{"7FFFFFFFFFFFFFFF", std::numeric_limits<std::int64_t>::max()},
                                           Base16Case{"8000000000000000", 0},
                                           Base16Case{"-8000000000000000", std::numeric_limits<std::int64_t>::min()},
                                           Base16Case{"-8000000000000001", 0}, Base16Case{"00000000000000000000001", 1},
                                           Base16Case{"10000000000000000", 0}));

TEST(USBDeviceModel, CatalogueEntriesBecomeIdentitiesInOrderWithEmptyNames) {
    const QList<TARNDeviceModel> catalogue{
            {QStringLiteral("A"), QStringLiteral("04A9"), QStringLiteral("1a0b"), {}, {}},
            {QStringLiteral("B"), QStringLiteral("0x1"), QStringLiteral(""), {}, {}}};
    const auto identities = toUSBDeviceModels(catalogue);
    ASSERT_EQ(identities.size(), 2);
    EXPECT_EQ(identities.at(0).vendorID, 0x4A9);
    EXPECT_EQ(identities.at(0).productID, 0x1A0B);
    EXPECT_TRUE(identities.at(0).vendorName.isEmpty());
    EXPECT_TRUE(identities.at(0).deviceName.isEmpty());
    EXPECT_EQ(identities.at(1).vendorID, 0);
    EXPECT_EQ(identities.at(1).productID, 0);
}

TEST(USBDeviceModel, DescribesItselfInUpperCaseHexWithoutLeadingZeros) {
    const USBDeviceModel device{0x4A9, 0x1234, QStringLiteral("A"), QStringLiteral("B")};
    EXPECT_EQ(device.description(),
              QStringLiteral("Vendor ID = 4A9, Product ID = 1234, Vendor Name = A, Device Name = B"));
    EXPECT_EQ((USBDeviceModel{0, -255, {}, {}}).description(),
              QStringLiteral("Vendor ID = 0, Product ID = -FF, Vendor Name = , Device Name = "));
    EXPECT_EQ(upperHex(std::numeric_limits<std::int64_t>::min()), QStringLiteral("-8000000000000000"));
}

TEST(USBDeviceModel, DumpsListsWithQuotedNames) {
    const QList<USBDeviceModel> devices{{1193, 4660, QStringLiteral("Canon \"Inc\""), QStringLiteral("Scan")},
                                        {1, 2, QStringLiteral("Unknown Vendor"), QStringLiteral("Unknown Device")}};
    EXPECT_EQ(debugDescription(devices),
              QStringLiteral("[T_A_R_N__Installer.USBDeviceModel(vendorID: 1193, productID: 4660, vendorName: "
                             "\"Canon \\\"Inc\\\"\", deviceName: \"Scan\"), "
                             "T_A_R_N__Installer.USBDeviceModel(vendorID: 1, productID: 2, vendorName: \"Unknown "
                             "Vendor\", deviceName: \"Unknown Device\")]"));
    EXPECT_EQ(debugDescription(QList<USBDeviceModel>{}), QStringLiteral("[]"));
}

TEST(USBDeviceModel, EqualityIgnoresNames) {
    EXPECT_EQ((USBDeviceModel{1, 2, QStringLiteral("A"), QStringLiteral("B")}),
              (USBDeviceModel{1, 2, QStringLiteral("C"), QStringLiteral("D")}));
    EXPECT_NE((USBDeviceModel{1, 2, {}, {}}), (USBDeviceModel{1, 3, {}, {}}));
    EXPECT_NE((USBDeviceModel{1, 2, {}, {}}), (USBDeviceModel{2, 2, {}, {}}));
}

TEST(TARNDeviceModel, IsItsOwnIdentityAndWorksAsAHashKey) {
    const TARNDeviceModel one{QStringLiteral("One"), QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("c"),
                              QStringLiteral("h")};
    TARNDeviceModel sameAsOne = one;
    TARNDeviceModel otherHash = one;
    otherHash.hash = QStringLiteral("h2");

    EXPECT_EQ(one, sameAsOne);
    EXPECT_NE(one, otherHash);
    EXPECT_EQ(qHash(one), qHash(sameAsOne));

    std::unordered_map<TARNDeviceModel, bool> selections{{one, true}};
    selections[sameAsOne] = false;
    selections[otherHash] = true;
    EXPECT_EQ(selections.size(), 2u);
    EXPECT_FALSE(selections.at(one));

    QHash<TARNDeviceModel, bool> qtSelections{{one, true}, {otherHash, false}, {sameAsOne, true}};
    EXPECT_EQ(qtSelections.size(), 2);

    const TARNDevicesListModel catalogue{{one, otherHash}};
    EXPECT_EQ(catalogue, (TARNDevicesListModel{{sameAsOne, otherHash}}));
    EXPECT_NE(catalogue, (TARNDevicesListModel{{otherHash, one}}));
    EXPECT_NE(catalogue, (TARNDevicesListModel{{one}}));
    EXPECT_EQ(qHash(catalogue), qHash(TARNDevicesListModel{{sameAsOne, otherHash}}));
}

TEST(TARNDeviceAppConfigurationModel, EqualEntriesHashEquallyWhateverTheMapOrder) {
    auto first = describedApp();
    auto second = first;
    second.descriptionLocalized.clear();
    for (const auto& key :
         {QStringLiteral("pt"), QStringLiteral("de-CH"), QStringLiteral("de"), QStringLiteral("en")}) {
        second.descriptionLocalized.insert(key, first.descriptionLocalized.value(key));
    }
    EXPECT_EQ(first, second);
    EXPECT_EQ(qHash(first), qHash(second));
    EXPECT_EQ(std::hash<TARNDeviceAppConfigurationModel>{}(first),
              std::hash<TARNDeviceAppConfigurationModel>{}(second));

    auto otherId = first;
    otherId.id = QUuid::createUuid();
    EXPECT_NE(first, otherId);
    QHash<TARNDeviceAppConfigurationModel, bool> selections{{first, true}, {otherId, false}, {second, false}};
    EXPECT_EQ(selections.size(), 2);
    EXPECT_FALSE(selections.value(first));
}

} // namespace
} // namespace tarn
