#include "support/WorkflowFixture.h"
#include "workflow/ApplicationChoice.h"
#include "workflow/DeviceChoice.h"

namespace tarn::test {
namespace {

TEST(DeviceChoiceTest, ANameGivesTheFirstCatalogueEntryOfThatNameButKeepsARecognisedNamesake) {
    const TARNDeviceModel scanDesk600 = catalogueDevice(u"ScanDesk 600"_s, u"2F1A"_s, u"600"_s);
    const TARNDeviceModel scanDesk900 = catalogueDevice(u"ScanDesk 900"_s, u"2F1A"_s, u"900"_s);
    const QList<TARNDeviceModel> catalogue{scanDesk600, scanDesk900};
    TARNDeviceModel revisionB = catalogueDevice(scanDesk600.name, u"2F1A"_s, u"601"_s);
    revisionB.configLink += u"b"_s;
    const QList<TARNDeviceModel> withRevisions{scanDesk600, revisionB};
    TARNDeviceModel gone = scanDesk600;
    gone.hash = u"OLD"_s;

    struct Case {
        const char* situation;
        QString name;
        QList<TARNDeviceModel> devices;
        std::optional<TARNDeviceModel> current;
        std::optional<TARNDeviceModel> chosen;
    };
    const Case cases[] = {
            {"another model", scanDesk900.name, catalogue, scanDesk600, scanDesk900},
            {"a name the catalogue lacks", u"Nothing like it"_s, catalogue, scanDesk600, std::nullopt},
            {"the recognised second revision", scanDesk600.name, withRevisions, revisionB, revisionB},
            {"no device yet", scanDesk600.name, withRevisions, std::nullopt, scanDesk600},
            {"a device no longer in the catalogue", scanDesk600.name, withRevisions, gone, scanDesk600},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(deviceForSelection(c.name, c.devices, c.current), c.chosen) << c.situation;
    }
}

TEST(ApplicationChoiceTest, SeedingChoosesAndLaterChangesTouchOnlyTheirEntry) {
    const auto driver = appEntry(u"Driver"_s, true);
    const auto capture = appEntry(u"Capture"_s, true);
    const auto ocr = appEntry(u"OCR"_s, false);
    ApplicationChoice choice;
    EXPECT_FALSE(choice.anyChosen());
    EXPECT_FALSE(choice.isChosen(ocr)) << "an entry without a value is not chosen";

    choice.seed({driver, capture});
    choice.setChosen(ocr, true);
    EXPECT_EQ(choice.chosenCount(), 3);
    choice.setChosen(ocr, false);
    choice.seed({driver});
    EXPECT_EQ(choice.chosenCount(), 2);
    EXPECT_TRUE(choice.anyChosen());
    EXPECT_FALSE(choice.isChosen(ocr)) << "seeding again leaves the others as they are";
    EXPECT_EQ(choice.chosenApplications(), (QList{driver, capture}));

    // Another decoding of the same application is another entry.
    auto redecoded = driver;
    redecoded.id = QUuid::createUuid();
    EXPECT_FALSE(choice.isChosen(redecoded));
}

} // namespace
} // namespace tarn::test
