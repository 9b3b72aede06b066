#pragma once

#include "components/CustomButtonView.h"
#include "components/CustomToggleView.h"
#include "components/Resources.h"
#include "screens/Coordinator.h"
#include "screens/ViewExt.h"
#include "support/GuiTestSupport.h"
#include "support/RecordingWindowHost.h"
#include "support/WorkflowFixture.h"

#include <QLabel>
#include <QTest>

#include <memory>

namespace tarn::test {

using namespace Qt::StringLiterals;
using Screen = Coordinator::Screen;
using testing::_;

// One application of the sample configuration the screens are shown with.
struct SampleApp {
    QString name;
    bool mandatory = false;
    QString licenseType;
    QString english;

    QString slug() const { return QString(name).remove(u' ').toLower(); }
    QUrl installerUrl() const { return QUrl(u"https://downloads.test/"_s + slug() + u".pkg"_s); }
    QString pkgId() const { return u"com.tarn."_s + slug(); }
};

inline QList<SampleApp> sampleApps() {
    return {{u"TARN Capture"_s, true, u"free"_s, u"Scan to PDF with one press of the scan button."_s},
            {u"TARN Scanner Driver"_s, true, u"free"_s, u"Lets this computer talk to your scanner."_s},
            {u"PaperStack Organizer"_s, false, u"trial"_s, u"Sorts and finds your scanned documents."_s},
            {u"TARN OCR Studio"_s, false, u"free"_s, u"Turns scans into editable Word and Excel files."_s}};
}

// The configuration document of the sample scanner listing `apps`.
inline QByteArray sampleConfigurationJson(const QList<SampleApp>& apps = sampleApps()) {
    QStringList entries;
    for (const SampleApp& app : apps) {
        entries.append(uR"({"name":"%1","version":"3.2","mandatory":%2,"licenseType":"%3","installer":"%4",)"
                       uR"("hash":"ABCD%5","pkgId":"%6","descriptionLocalized":{"en":"%7"}})"_s.arg(
                               app.name, app.mandatory ? u"true"_s : u"false"_s, app.licenseType,
                               app.installerUrl().toString(), app.slug(), app.pkgId(), app.english));
    }
    return uR"({"name":"ScanDesk 600","vid":"2F1A","pid":"0600","successUrl":"https://tarn.test/welcome",)"
           uR"("apps":[%1]})"_s.arg(entries.join(u','))
                   .toUtf8();
}

// The supported scanners of the sample catalogue; the first is the one on the USB bus.
inline QList<TARNDeviceModel> sampleCatalogue() {
    return {{u"T.A.R.N. ScanDesk 600"_s, u"2F1A"_s, u"600"_s, u"https://config.test/devices/scandesk-600"_s,
             u"C0FFEE600"_s},
            {u"T.A.R.N. ScanDesk 900"_s, u"2F1A"_s, u"900"_s, u"https://config.test/devices/scandesk-900"_s,
             u"C0FFEE900"_s},
            {u"T.A.R.N. MobileScan 20"_s, u"2F1A"_s, u"20"_s, u"https://config.test/devices/mobilescan-20"_s,
             u"C0FFEE20"_s}};
}

// The button of `root` captioned by `key`, or null.
inline CustomButtonView* buttonWithKey(const QWidget& root, const QString& key) {
    for (CustomButtonView* button : root.findChildren<CustomButtonView*>()) {
        if (button->textKey() == key) {
            return button;
        }
    }
    return nullptr;
}

// The toggle row of `root` titled `title` (a text id or an application's name), or null.
inline CustomToggleView* toggleTitled(const QWidget& root, const QString& title) {
    for (CustomToggleView* toggle : root.findChildren<CustomToggleView*>()) {
        if (toggle->text().startsWith(localized(title))) {
            return toggle;
        }
    }
    return nullptr;
}

// The texts of the labels `view` shows.
inline QStringList shownTexts(const QWidget& view) {
    QStringList texts;
    for (const QLabel* label : view.findChildren<QLabel*>()) {
        if (label->isVisibleTo(&view)) {
            texts.append(label->text());
        }
    }
    return texts;
}

// A person's click in the middle of `widget`.
inline void click(QWidget* widget) {
    ASSERT_NE(widget, nullptr);
    QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, widget->rect().center());
}

// A workflow over mocked services, the navigation with a recording window host, and the sample data
// the screens are shown with, in English.
class ScreenTest : public WorkflowTest {
protected:
    // The rights an installation run asks for are granted unless a test says otherwise.
    ScreenTest() {
        useShippedResources();
        ON_CALL(*permissions, requestAdminPrivileges()).WillByDefault(ReturnTask(AdminRights::granted));
    }
    // Other suites of the same binary read the text ids themselves.
    ~ScreenTest() override { removeTranslations(); }

    // A report of the network monitor: connected, or not.
    void goOnline(bool online = true) {
        pathSource->report(online ? NetworkPathStatus::satisfied : NetworkPathStatus::unsatisfied);
        drainPostedEvents();
    }
    void goOffline() { goOnline(false); }

    // Answers the configuration fetch of `device` with `body`.
    void serveConfiguration(const TARNDeviceModel& device, const QByteArray& body = sampleConfigurationJson()) {
        EXPECT_CALL(*rest, fetchVerifiedBody(QUrl(device.configLink), std::optional<QString>(device.hash),
                                             u"device configuration"_s))
                .WillRepeatedly(ReturnTask(body));
    }

    // The catalogue loaded and `device` detected, as after a search that found it.
    void detect(const TARNDeviceModel& device) {
        loadCatalogue(sampleCatalogue());
        model().deviceSearchStatus = DeviceSearchState::found(device);
    }

    // The sample configuration loaded, as the package screen's fetch leaves it.
    void loadSampleConfiguration(const TARNDeviceModel& device = sampleCatalogue().first()) {
        serveConfiguration(device);
        model().deviceModel = device;
        test::waitFor(model().fetchDeviceApplications());
    }

    static void settle() { drainPostedEvents(); }

    // Each screen pushed and shown in turn, as the screens' buttons do.
    void walkTo(std::initializer_list<Coordinator::Screen> screens) {
        for (const Coordinator::Screen screen : screens) {
            coordinator.push(screen);
            settle();
        }
    }

    // A new screen on the window background at the window's size, shown as the root view shows it.
    template <typename View>
    View& showScreen() {
        auto* view = new View(coordinator, model());
        stage = std::make_unique<BackgroundWidget>(view);
        stage->resize(900, 700);
        stage->show();
        return *view;
    }

    std::shared_ptr<RecordingWindowHost> host = std::make_shared<RecordingWindowHost>();
    Coordinator coordinator{host};
    // Goes before the navigation and the workflow its screen uses.
    std::unique_ptr<BackgroundWidget> stage;
};

} // namespace tarn::test
