#include "models/CatalogueDecoding.h"

#include "models/LicenseType.h"
#include "models/USBDeviceModel.h"
#include "support/QtPrinters.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <gtest/gtest.h>

#include <limits>

namespace tarn {

using namespace Qt::StringLiterals;
namespace {

using Kind = DecodingError::Kind;
using limits = std::numeric_limits<std::int64_t>;

const QByteArray device = R"({"name":"Scanner One","vid":"04a9","pid":"1a0b","configLink":"c1","hash":"abc"})";

// A valid application entry, with some keys replaced (or removed, by an undefined value).
QJsonObject app(std::initializer_list<std::pair<QString, QJsonValue>> changes = {}) {
    QJsonObject entry{{"name", "Scan"},   {"hash", "beef"},           {"version", "1.2"},     {"mandatory", true},
                      {"installer", "i"}, {"pkgId", "com.tarn.scan"}, {"licenseType", "free"}};
    for (const auto& [key, value] : changes) {
        entry.insert(key, value);
    }
    return entry;
}

QByteArray configuration(const QJsonArray& apps) {
    const QJsonObject root{
            {"name", "Scanner One"}, {"vid", "04a9"}, {"pid", "1a0b"}, {"successUrl", "ok"}, {"apps", apps}};
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

TEST(DeviceCatalogue, DecodesEntriesInOrderAndNullAsNoList) {
    const auto list = decodeDeviceCatalogue('[' + device + R"(,{"name":"Two","vid":"1","pid":"2","configLink":"c",
        "hash":"h","extra":[1,2]}])");
    EXPECT_EQ(list,
              (QList<TARNDeviceModel>{{"Scanner One", "04a9", "1a0b", "c1", "abc"}, {"Two", "1", "2", "c", "h"}}));
    EXPECT_EQ(decodeDeviceCatalogue("[]"), std::optional<QList<TARNDeviceModel>>(QList<TARNDeviceModel>{}));
    EXPECT_EQ(decodeDeviceCatalogue(" \n null \t"), std::nullopt);
}

// Entries take their licence from the lower-cased text; missing and null descriptions both give an empty map;
// every entry gets a fresh identity whatever the document says.
TEST(AppsConfiguration, DecodesEveryFieldAndTheLicenceDescriptionAndIdentityRules) {
    const QJsonObject descriptions{{"en", "Scans"}, {"de", "Scannt"}};
    const QUuid given(u"6F9619FF-8B86-D011-B42D-00C04FC964FF"_s);
    const QByteArray json =
            configuration({app({{"descriptionLocalized", descriptions}, {"size", 12}}),
                           app({{"name", "OCR"}, {"mandatory", false}, {"licenseType", "TRIAL"}}),
                           app({{"descriptionLocalized", QJsonValue::Null}, {"id", given.toString()}})});
    const auto config = decodeAppsConfiguration(json);
    EXPECT_EQ(std::tuple(config.name, config.vid, config.pid, config.successUrl),
              std::tuple(u"Scanner One"_s, u"04a9"_s, u"1a0b"_s, u"ok"_s));
    ASSERT_EQ(config.apps.size(), 3);
    const auto entry = [&](qsizetype i, const char* name, bool mandatory, LicenseType type,
                           QMap<QString, QString> text) {
        return TARNDeviceAppConfigurationModel{config.apps.at(i).id, name, "1.2", mandatory, type, "i", "beef",
                                               "com.tarn.scan",      text};
    };
    EXPECT_EQ(config.apps,
              QList({entry(0, "Scan", true, LicenseType::full, {{"en", "Scans"}, {"de", "Scannt"}}),
                     entry(1, "OCR", false, LicenseType::trial, {}), entry(2, "Scan", true, LicenseType::full, {})}));
    EXPECT_EQ(QSet<QUuid>({config.apps.at(0).id, config.apps.at(1).id, config.apps.at(2).id, given}).size(), 4);
    EXPECT_NE(config, decodeAppsConfiguration(json));
}

// A broken document fails as a whole, naming the first key path read that is wrong and what is wrong there.
TEST(DecodingError, EveryBrokenDocumentIsDescribedByWhereAndWhat) {
    const QByteArray head = R"({"name":"A","vid":"1","pid":"2",)";
    const QString missing = u"the required key '%1' is missing"_s;
    const QString notJson = u"the text is not valid JSON (%1 at offset %2)"_s;
    // Whether the document is the catalogue, the document, the error's kind, key path and problem.
    const std::tuple<bool, QByteArray, Kind, QString, QString> cases[] = {
            {true, R"({"list":[]})", Kind::typeMismatch, "", "expected an array but found an object"},
            {true, "", Kind::dataCorrupted, "", notJson.arg("illegal value").arg(0)},
            {true, "[] []", Kind::dataCorrupted, "", notJson.arg("garbage at the end of the document").arg(3)},
            {true, "[null]", Kind::valueNotFound, "[0]", "expected an object but found null"},
            {true, "[\"device\"]", Kind::typeMismatch, "[0]", "expected an object but found a string"},
            {true, R"([{"name":"A","vid":null}])", Kind::valueNotFound, "[0].vid", "the required key 'vid' is null"},
            {true, '[' + head + R"("configLink":"c"}])", Kind::keyNotFound, "[0].hash", missing.arg("hash")},
            {true, '[' + device + R"(,{"name":"B","vid":1193}])", Kind::typeMismatch, "[1].vid",
             "expected a string but found a number"},
            {false, "null", Kind::valueNotFound, "", "expected an object but found null"},
            {false, "[]", Kind::typeMismatch, "", "expected an object but found an array"},
            {false, "not json", Kind::dataCorrupted, "", notJson.arg("illegal value").arg(1)},
            {false, head + R"("apps":[]})", Kind::keyNotFound, "successUrl", missing.arg("successUrl")},
            {false, head + R"("successUrl":"u","apps":{}})", Kind::typeMismatch, "apps",
             "expected an array but found an object"},
            {false, head + R"("successUrl":"u","apps":null})", Kind::valueNotFound, "apps",
             "the required key 'apps' is null"},
            {false, head + R"("successUrl":"u","apps":[7]})", Kind::typeMismatch, "apps[0]",
             "expected an object but found a number"},
            {false, configuration({app({{"mandatory", "true"}})}), Kind::typeMismatch, "apps[0].mandatory",
             "expected a boolean but found a string"},
            {false, configuration({app({{"licenseType", 1}})}), Kind::typeMismatch, "apps[0].licenseType",
             "expected a string but found a number"},
            {false, configuration({app({{"descriptionLocalized", QJsonObject{{"en", "ok"}, {"de", 5}}}})}),
             Kind::typeMismatch, "apps[0].descriptionLocalized.de", "expected a string but found a number"},
            {false, configuration({app({{"descriptionLocalized", QJsonArray{"en"}}})}), Kind::typeMismatch,
             "apps[0].descriptionLocalized", "expected an object but found an array"},
            // Two faults in one entry: the one read first (name, before mandatory) is reported.
            {false, configuration({app({{"mandatory", "yes"}, {"name", QJsonValue::Undefined}})}), Kind::keyNotFound,
             "apps[0].name", missing.arg("name")},
            {false, configuration({app(), app({{"pkgId", QJsonValue::Undefined}})}), Kind::keyNotFound, "apps[1].pkgId",
             missing.arg("pkgId")},
    };
    for (const auto& [catalogue, json, kind, path, problem] : cases) {
        SCOPED_TRACE(json.toStdString());
        try {
            catalogue ? void(decodeDeviceCatalogue(json)) : void(decodeAppsConfiguration(json));
            ADD_FAILURE() << "decoded";
        } catch (const DecodingError& error) {
            EXPECT_EQ(error.kind(), kind);
            EXPECT_EQ(error.localizedDescription(),
                      u"The data could not be read at %1: %2."_s.arg(
                              path.isEmpty() ? u"the document root"_s : u"'%1'"_s.arg(path), problem));
        }
    }
    const DecodingError error(Kind::typeMismatch, u"a\"b"_s, u"p"_s);
    EXPECT_EQ(error.debugDescription(), u"DecodingError.typeMismatch(path: \"a\\\"b\", \"p\")"_s);
}

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
