#include "components/SpinnerView.h"
#include "components/Theme.h"
#include "screens/ConnectDeviceScreenView.h"
#include "screens/DeviceDetectedScreenView.h"
#include "screens/DeviceDetectedState.h"
#include "screens/DevicePicker.h"
#include "screens/DeviceSearchScreeView.h"
#include "support/Gate.h"
#include "support/ScreenFixture.h"

namespace tarn::test {
namespace {

using testing::ElementsAre;

TEST(DeviceDetectedStateTest, NotFoundShowsTheFailureAndThePickerAnyOtherStatusTheHighlightedName) {
    useShippedResources();
    const auto show = [](const DeviceSearchState& status, const std::optional<TARNDeviceModel>& device) {
        return deviceDetectedPresentation(status, device, u"%@ detected"_s, u"Unknown"_s);
    };
    EXPECT_EQ(show(DeviceSearchState::notFound(), sampleCatalogue()[0]).subtitle,
              localized(u"device.not.detected.subtitle"));
    // Found is shown by the screen below.
    for (const DeviceSearchState& status : {DeviceSearchState::searching(), DeviceSearchState::prepareForSearching()}) {
        const auto shown = show(status, sampleCatalogue()[0]);
        EXPECT_EQ(std::tuple(shown.imageName, shown.showsPicker, shown.title.string()),
                  std::tuple(u"success"_s, false, sampleCatalogue()[0].name + u" detected"_s));
        EXPECT_EQ(shown.title.styleAt(0).color, theme::color(u"TitleDeviceDetected"));
    }
    EXPECT_EQ(show(DeviceSearchState::searching(), std::nullopt).title.string(), u"Unknown detected"_s);

    // The title keeps only what follows the last placeholder.
    const std::pair<QString, QString> titles[] = {
            {u"Found %@ and %@ here"_s, u" here"_s}, {u"detected"_s, u"detected"_s}, {u"%@"_s, QString()}};
    for (const auto& [title, kept] : titles) {
        EXPECT_EQ(titleAfterLastPlaceholder(title), kept) << title.toStdString();
    }
}

using DeviceScreensTest = ScreenTest;

TEST_F(DeviceScreensTest, ConnectResetsTheSearchAndNextStartsItWithoutRecordingIt) {
    coordinator.push(Screen::deviceConnect);
    settle();
    model().deviceSearchStatus = DeviceSearchState::found(sampleCatalogue()[0]);
    auto& connect = showScreen<ConnectDeviceScreenView>();
    EXPECT_EQ(model().deviceSearchStatus(), DeviceSearchState::prepareForSearching());
    click(connect.buttons().next);
    settle();
    EXPECT_EQ(coordinator.currentScreen(), Screen::deviceSearch);
    EXPECT_EQ(coordinator.stack.last(), Screen::deviceConnect);
}

TEST_F(DeviceScreensTest, SearchMovesOnOnlyWhenItsOwnSearchEnds) {
    Gate usbAnswer;
    loadCatalogue(sampleCatalogue());
    EXPECT_CALL(*usb, findMatchingUSBDevices(_)).WillOnce([&usbAnswer](auto&&...) {
        return afterGate(&usbAnswer, QList<USBDeviceModel>{{0x2F1A, 0x900, QString(), QString()}});
    });
    model().deviceSearchStatus = DeviceSearchState::prepareForSearching();
    showScreen<DeviceSearchScreeView>();
    settle();
    EXPECT_EQ(model().deviceSearchStatus(), DeviceSearchState::searching());
    EXPECT_THAT(coordinator.stack, ElementsAre(Screen::welcome)) << "searching moves nothing";
    usbAnswer.open();
    settle();
    EXPECT_EQ(model().deviceSearchStatus(), DeviceSearchState::found(sampleCatalogue()[1]));
    EXPECT_THAT(coordinator.stack, ElementsAre(Screen::welcome, Screen::deviceDetected));
}

TEST_F(DeviceScreensTest, SearchOverAnEmptyCatalogueStaysWithAMessageBackAndCancel) {
    serveCatalogue("[]");
    coordinator.push(Screen::deviceConnect);
    coordinator.navigate(Screen::deviceSearch);
    settle();
    model().deviceSearchStatus = DeviceSearchState::prepareForSearching();
    auto& search = showScreen<DeviceSearchScreeView>();
    settle();
    EXPECT_EQ(model().deviceSearchStatus(), DeviceSearchState::notFound());
    EXPECT_THAT(coordinator.stack, ElementsAre(Screen::welcome, Screen::deviceConnect)) << "no detected screen";
    EXPECT_EQ(search.titleText(), localized(u"device.search.no.models.title"));
    EXPECT_FALSE(search.findChild<SpinnerView*>()->isVisibleTo(&search));
    EXPECT_FALSE(search.buttons().next->isVisibleTo(&search));
    for (const auto& [button, next] :
         {std::pair{search.buttons().back, Screen::deviceConnect}, std::pair{search.buttons().cancel, Screen::exit}}) {
        EXPECT_TRUE(button->isVisibleTo(&search) && button->isEnabled());
        click(button);
        settle();
        EXPECT_EQ(coordinator.currentScreen(), next);
    }
}

// The search the screen starts is awaited by nobody: a failure that escapes it must still show.
TEST_F(DeviceScreensTest, SearchFailureThatEscapesReachesTheLogAndTheResultScreen) {
    loadCatalogue(sampleCatalogue());
    EXPECT_CALL(*usb, findMatchingUSBDevices(_))
            .WillOnce(ThrowTask<QList<USBDeviceModel>>(std::runtime_error("usb walk failed")));
    showScreen<DeviceSearchScreeView>();
    settle();
    EXPECT_EQ(model().fatalErrorMessage(), localized(u"error.generic"));
    EXPECT_EQ(logger->criticalLines().size(), 1);
    EXPECT_THAT(coordinator.stack, ElementsAre(Screen::welcome)) << "the root view, not the search, moves on";
}

// A recognised scanner that is not the catalogue's first, no scanner over the catalogue, and no scanner
// over an empty catalogue: the picker starts on the device, else on the first name, else on nothing.
TEST_F(DeviceScreensTest, DetectedScreenShowsTheScannerOrPicksAModelOrDisablesEverything) {
    struct Case {
        std::optional<TARNDeviceModel> found;
        QList<TARNDeviceModel> catalogue;
        const char* image;
        std::optional<QString> selection;
        bool enabled;
    };
    const Case cases[] = {{sampleCatalogue()[1], sampleCatalogue(), "success", sampleCatalogue()[1].name, true},
                          {std::nullopt, {}, "failure", std::nullopt, false},
                          {std::nullopt, sampleCatalogue(), "failure", sampleCatalogue()[0].name, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.image + std::to_string(c.catalogue.size()));
        loadCatalogue(c.catalogue);
        model().deviceModel = std::nullopt;
        model().deviceSearchStatus = c.found ? DeviceSearchState::found(*c.found) : DeviceSearchState::notFound();
        auto& detected = showScreen<DeviceDetectedScreenView>();
        EXPECT_EQ(detected.imageName(), QLatin1String(c.image));
        EXPECT_EQ(detected.titleText(),
                  c.found ? c.found->name + u" detected"_s : localized(u"device.not.detected.title"));
        EXPECT_EQ(detected.picker()->isVisible(), !c.found);
        EXPECT_EQ(detected.selection(), c.selection);
        EXPECT_EQ(model().deviceModel().has_value(), c.enabled);
        for (CustomButtonView* button : {detected.buttons().cancel, detected.buttons().back, detected.buttons().next}) {
            EXPECT_EQ(button->isEnabled(), c.enabled);
        }
    }
    // The last case's picker, moved by the keyboard, replaces the device.
    auto& detected = *static_cast<DeviceDetectedScreenView*>(stage->content());
    EXPECT_EQ(detected.picker()->count(), 3);
    detected.picker()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(detected.picker(), Qt::Key_Down);
    EXPECT_EQ(detected.selection(), sampleCatalogue()[1].name);
    EXPECT_EQ(model().deviceModel(), sampleCatalogue()[1]);
}

} // namespace
} // namespace tarn::test
