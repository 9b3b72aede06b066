#include "models/CatalogueDecoding.h"

#include "support/QtPrinters.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tarn {
namespace {

using ::testing::HasSubstr;

const QByteArray device = R"({"name":"Scanner One","vid":"04a9","pid":"1a0b",
    "configLink":"https://config.example/one.json","hash":"abc"})";

QJsonObject app(std::initializer_list<std::pair<QString, QJsonValue>> changes = {},
                std::initializer_list<QString> removals = {}) {
    QJsonObject entry{{QStringLiteral("name"), QStringLiteral("Scan")},
                      {QStringLiteral("version"), QStringLiteral("1.2")},
                      {QStringLiteral("mandatory"), true},
                      {QStringLiteral("installer"), QStringLiteral("https://dl.example/scan.pkg")},
                      {QStringLiteral("hash"), QStringLiteral("beef")},
                      {QStringLiteral("pkgId"), QStringLiteral("com.tarn.scan")},
                      {QStringLiteral("licenseType"), QStringLiteral("free")}};
    for (const auto& [key, value] : changes) {
        entry.insert(key, value);
    }
    for (const auto& key : removals) {
        entry.remove(key);
    }
    return entry;
}

QByteArray configuration(const QJsonArray& apps) {
    const QJsonObject root{{QStringLiteral("name"), QStringLiteral("Scanner One")},
                           {QStringLiteral("vid"), QStringLiteral("04a9")},
                           {QStringLiteral("pid"), QStringLiteral("1a0b")},
                           {QStringLiteral("successUrl"), QStringLiteral("https://tarn.example/ok")},
                           {QStringLiteral("apps"), apps}};
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

// Runs `decode` and hands back the decoding error it must throw.
template <typename Decode>
DecodingError decodingFailure(Decode&& decode) {
    try {
        decode();
    } catch (const DecodingError& error) {
        return error;
    }
    ADD_FAILURE() << "the document decoded although it should not";
    return DecodingError(DecodingError::Kind::dataCorrupted, {}, {});
}

TEST(DeviceCatalogue, DecodesEntriesInDocumentOrder) {
    const auto list = decodeDeviceCatalogue('[' + device + R"(,{"name":"Two","vid":"1","pid":"2","configLink":"c",
        "hash":"h","extra":[1,2]}])");
    ASSERT_TRUE(list.has_value());
    ASSERT_EQ(list->size(), 2);
    EXPECT_EQ(list->at(0),
              (TARNDeviceModel{QStringLiteral("Scanner One"), QStringLiteral("04a9"), QStringLiteral("1a0b"),
                               QStringLiteral("https://config.example/one.json"), QStringLiteral("abc")}));
    EXPECT_EQ(list->at(1).name, QStringLiteral("Two"));
}

TEST(DeviceCatalogue, EmptyArrayIsAnEmptyListAndNullIsNoList) {
    EXPECT_EQ(decodeDeviceCatalogue("[]"), std::optional<QList<TARNDeviceModel>>(QList<TARNDeviceModel>{}));
    EXPECT_EQ(decodeDeviceCatalogue("null"), std::nullopt);
    EXPECT_EQ(decodeDeviceCatalogue(" \n null \t"), std::nullopt);
}

struct BrokenDocument {
    const char* json;
    DecodingError::Kind kind;
    const char* path;
};

class BrokenCatalogue : public ::testing::TestWithParam<BrokenDocument> {};

TEST_P(BrokenCatalogue, FailsAsAWholeNamingTheKeyPath) {
    const auto error = decodingFailure([] { decodeDeviceCatalogue(GetParam().json); });
    EXPECT_EQ(error.kind(), GetParam().kind);
    EXPECT_EQ(error.codingPath(), QString::fromUtf8(GetParam().path));
    EXPECT_FALSE(error.localizedDescription().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
        Documents, BrokenCatalogue,
        ::testing::Values(BrokenDocument{R"({"list":[]})", DecodingError::Kind::typeMismatch, ""},
                          BrokenDocument{"42", DecodingError::Kind::typeMismatch, ""},
                          BrokenDocument{"", DecodingError::Kind::dataCorrupted, ""},
                          BrokenDocument{"[{", DecodingError::Kind::dataCorrupted, ""},
                          BrokenDocument{"[] []", DecodingError::Kind::dataCorrupted, ""},
                          BrokenDocument{"[null]", DecodingError::Kind::valueNotFound, "[0]"},
                          BrokenDocument{"[\"device\"]", DecodingError::Kind::typeMismatch, "[0]"},
                          BrokenDocument{R"([{"name":"A","vid":"1","pid":"2","configLink":"c"}])",
                                         DecodingError::Kind::keyNotFound, "[0].hash"},
                          BrokenDocument{R"([{"name":"A","vid":null,"pid":"2","configLink":"c","hash":"h"}])",
                                         DecodingError::Kind::valueNotFound, "[0].vid"},
                          BrokenDocument{R"([{"name":"A","vid":"1","pid":"2","configLink":"c","hash":"h"},
                                   {"name":"B","vid":1193,"pid":"2","configLink":"c","hash":"h"}])",
                                         DecodingError::Kind::typeMismatch, "[1].vid"}));

TEST(AppsConfiguration, DecodesEveryFieldAndIgnoresUnknownKeys) {
    const QJsonObject descriptions{{QStringLiteral("en"), QStringLiteral("Scans")},
                                   {QStringLiteral("de"), QStringLiteral("Scannt")}};
    const auto config = decodeAppsConfiguration(
            configuration({app({{QStringLiteral("descriptionLocalized"), descriptions}, {QStringLiteral("size"), 12}}),
                           app({{QStringLiteral("name"), QStringLiteral("OCR")},
                                {QStringLiteral("mandatory"), false},
                                {QStringLiteral("licenseType"), QStringLiteral("TRIAL")}})}));
    EXPECT_EQ(config.name, QStringLiteral("Scanner One"));
    EXPECT_EQ(config.successUrl, QStringLiteral("https://tarn.example/ok"));
    ASSERT_EQ(config.apps.size(), 2);
    const auto& scan = config.apps.at(0);
    EXPECT_EQ(scan.name, QStringLiteral("Scan"));
    EXPECT_EQ(scan.version, QStringLiteral("1.2"));
    EXPECT_TRUE(scan.mandatory);
    EXPECT_EQ(scan.installer, QStringLiteral("https://dl.example/scan.pkg"));
    EXPECT_EQ(scan.hash, QStringLiteral("beef"));
    EXPECT_EQ(scan.pkgId, QStringLiteral("com.tarn.scan"));
    EXPECT_EQ(scan.licenseType, LicenseType::full);
    EXPECT_EQ(scan.descriptionLocalized.value(QStringLiteral("de")), QStringLiteral("Scannt"));
    EXPECT_EQ(config.apps.at(1).name, QStringLiteral("OCR"));
    EXPECT_FALSE(config.apps.at(1).mandatory);
    EXPECT_EQ(config.apps.at(1).licenseType, LicenseType::trial);
}

TEST(AppsConfiguration, MissingOrNullDescriptionsGiveAnEmptyMap) {
    const auto config = decodeAppsConfiguration(
            configuration({app(), app({{QStringLiteral("descriptionLocalized"), QJsonValue::Null}})}));
    EXPECT_TRUE(config.apps.at(0).descriptionLocalized.isEmpty());
    EXPECT_TRUE(config.apps.at(1).descriptionLocalized.isEmpty());
    EXPECT_EQ(config.apps.at(0).localizedDescription(LocaleCodes{QStringLiteral("de"), QStringLiteral("DE")}),
              QString());
}

TEST(AppsConfiguration, EveryEntryGetsAFreshIdentityWhateverTheDocumentSays) {
    const QByteArray json = configuration(
            {app({{QStringLiteral("id"), QStringLiteral("6F9619FF-8B86-D011-B42D-00C04FC964FF")}}), app()});
    const auto first = decodeAppsConfiguration(json);
    const auto second = decodeAppsConfiguration(json);
    EXPECT_FALSE(first.apps.at(0).id.isNull());
    EXPECT_NE(first.apps.at(0).id, QUuid(QStringLiteral("6F9619FF-8B86-D011-B42D-00C04FC964FF")));
    EXPECT_NE(first.apps.at(0).id, first.apps.at(1).id);
    EXPECT_NE(first.apps.at(0), second.apps.at(0));
    EXPECT_NE(first, second);
    EXPECT_EQ(decodeAppsConfiguration(configuration({})), decodeAppsConfiguration(configuration({})));
}

class BrokenConfiguration : public ::testing::TestWithParam<BrokenDocument> {};

TEST_P(BrokenConfiguration, FailsAsAWholeNamingTheKeyPath) {
    const auto error = decodingFailure([] { decodeAppsConfiguration(GetParam().json); });
    EXPECT_EQ(error.kind(), GetParam().kind);
    EXPECT_EQ(error.codingPath(), QString::fromUtf8(GetParam().path));
}

const std::string mandatoryAsText =
        configuration({app({{QStringLiteral("mandatory"), QStringLiteral("true")}})}).toStdString();
const std::string numericLicense = configuration({app({{QStringLiteral("licenseType"), 1}})}).toStdString();
const std::string descriptionNotText =
        configuration({app({{QStringLiteral("descriptionLocalized"),
                             QJsonObject{{QStringLiteral("en"), QStringLiteral("ok")}, {QStringLiteral("de"), 5}}}})})
                .toStdString();
const std::string descriptionNotObject =
        configuration({app({{QStringLiteral("descriptionLocalized"), QJsonArray{QStringLiteral("en")}}})})
                .toStdString();
// Two faults in one entry: the one read first (name, before mandatory) is reported.
const std::string twoFaults =
        configuration({app({{QStringLiteral("mandatory"), QStringLiteral("yes")}}, {QStringLiteral("name")})})
                .toStdString();
const std::string secondAppBroken = configuration({app(), app({}, {QStringLiteral("pkgId")})}).toStdString();

INSTANTIATE_TEST_SUITE_P(
        Documents, BrokenConfiguration,
        ::testing::Values(
                BrokenDocument{"null", DecodingError::Kind::valueNotFound, ""},
                BrokenDocument{"[]", DecodingError::Kind::typeMismatch, ""},
                BrokenDocument{"not json", DecodingError::Kind::dataCorrupted, ""},
                BrokenDocument{R"({"name":"A","vid":"1","pid":"2","apps":[]})", DecodingError::Kind::keyNotFound,
                               "successUrl"},
                BrokenDocument{R"({"name":"A","vid":"1","pid":"2","successUrl":"u","apps":{}})",
                               DecodingError::Kind::typeMismatch, "apps"},
                BrokenDocument{R"({"name":"A","vid":"1","pid":"2","successUrl":"u","apps":null})",
                               DecodingError::Kind::valueNotFound, "apps"},
                BrokenDocument{R"({"name":"A","vid":"1","pid":"2","successUrl":"u","apps":[7]})",
                               DecodingError::Kind::typeMismatch, "apps[0]"},
                BrokenDocument{mandatoryAsText.c_str(), DecodingError::Kind::typeMismatch, "apps[0].mandatory"},
                BrokenDocument{numericLicense.c_str(), DecodingError::Kind::typeMismatch, "apps[0].licenseType"},
                BrokenDocument{descriptionNotText.c_str(), DecodingError::Kind::typeMismatch,
                               "apps[0].descriptionLocalized.de"},
                BrokenDocument{descriptionNotObject.c_str(), DecodingError::Kind::typeMismatch,
                               "apps[0].descriptionLocalized"},
                BrokenDocument{twoFaults.c_str(), DecodingError::Kind::keyNotFound, "apps[0].name"},
                BrokenDocument{secondAppBroken.c_str(), DecodingError::Kind::keyNotFound, "apps[1].pkgId"}));

TEST(DecodingError, DescribesWhereAndWhat) {
    const auto error = decodingFailure([] { decodeAppsConfiguration(mandatoryAsText.c_str()); });
    EXPECT_THAT(error.localizedDescription().toStdString(), HasSubstr("'apps[0].mandatory'"));
    EXPECT_THAT(error.localizedDescription().toStdString(), HasSubstr("expected a boolean but found a string"));
    EXPECT_THAT(error.debugDescription().toStdString(), HasSubstr("typeMismatch"));
}

} // namespace
} // namespace tarn
