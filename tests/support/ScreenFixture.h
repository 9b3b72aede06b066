#pragma once

#include "components/CustomButtonView.h"
#include "components/CustomToggleView.h"
#include "components/Resources.h"
#include "screens/Coordinator.h"
#include "screens/ViewExt.h"
#include "support/GuiTestSupport.h"
#include "support/RecordingWindowHost.h"
#include "support/WorkflowFixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <memory>

namespace tarn::test {

// One application of the sample configuration the screens are shown with.
struct SampleApp {
    QString name;
    bool mandatory = false;
    QString licenseType = QStringLiteral("free");
    QString english;
    QString german;

    QString slug() const { return QString(name).remove(u' ').toLower(); }
    QUrl installerUrl() const {
        return QUrl(QStringLiteral("https://downloads.test/") + slug() + QStringLiteral(".pkg"));
    }
    QString pkgId() const { return QStringLiteral("com.tarn.") + slug(); }
};

inline QList<SampleApp> sampleApps() {
    return {
            {QStringLiteral("TARN Capture"), true, QStringLiteral("free"),
             QStringLiteral("Scan to PDF, JPEG or searchable text with one press of the scan button."),
             QStringLiteral("Scannt mit einem Tastendruck in PDF, JPEG oder durchsuchbaren Text.")},
            {QStringLiteral("TARN Scanner Driver"), true, QStringLiteral("free"),
             QStringLiteral("Lets this computer talk to your scanner over USB."),
             QStringLiteral("Verbindet diesen Computer über USB mit Ihrem Scanner.")},
            {QStringLiteral("PaperStack Organizer"), false, QStringLiteral("trial"),
             QStringLiteral("Sorts, tags and finds your scanned documents. Free for 30 days."),
             QStringLiteral("Sortiert, verschlagwortet und findet Ihre gescannten Dokumente. 30 Tage kostenlos.")},
            {QStringLiteral("TARN OCR Studio"), false, QStringLiteral("free"),
             QStringLiteral("Turns scans into editable Word and Excel files, in more than 120 languages."),
             QStringLiteral("Macht aus Scans bearbeitbare Word- und Excel-Dateien, in über 120 Sprachen.")},
    };
}

inline QByteArray sampleConfigurationJson(const QList<SampleApp>& apps = sampleApps()) {
    QJsonArray array;
    for (const SampleApp& app : apps) {
        array.append(QJsonObject{
                {QStringLiteral("name"), app.name},
                {QStringLiteral("version"), QStringLiteral("3.2")},
                {QStringLiteral("mandatory"), app.mandatory},
                {QStringLiteral("licenseType"), app.licenseType},
                {QStringLiteral("installer"), app.installerUrl().toString()},
                {QStringLiteral("hash"), QStringLiteral("ABCD") + app.slug()},
                {QStringLiteral("pkgId"), app.pkgId()},
                {QStringLiteral("descriptionLocalized"),
                 QJsonObject{{QStringLiteral("en"), app.english}, {QStringLiteral("de"), app.german}}},
        });
    }
    const QJsonObject root{{QStringLiteral("name"), QStringLiteral("ScanDesk 600")},
                           {QStringLiteral("vid"), QStringLiteral("2F1A")},
                           {QStringLiteral("pid"), QStringLiteral("0600")},
                           {QStringLiteral("successUrl"), QStringLiteral("https://tarn.test/welcome")},
                           {QStringLiteral("apps"), array}};
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

// The supported scanners of the sample catalogue; the first is the one on the USB bus.
inline QList<TARNDeviceModel> sampleCatalogue() {
    return {{QStringLiteral("T.A.R.N. ScanDesk 600"), QStringLiteral("2F1A"), QStringLiteral("600"),
             QStringLiteral("https://config.test/devices/scandesk-600"), QStringLiteral("C0FFEE600")},
            {QStringLiteral("T.A.R.N. ScanDesk 900"), QStringLiteral("2F1A"), QStringLiteral("900"),
             QStringLiteral("https://config.test/devices/scandesk-900"), QStringLiteral("C0FFEE900")},
            {QStringLiteral("T.A.R.N. MobileScan 20"), QStringLiteral("2F1A"), QStringLiteral("20"),
             QStringLiteral("https://config.test/devices/mobilescan-20"), QStringLiteral("C0FFEE20")}};
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

    // The network monitor's first report: connected.
    void goOnline() {
        pathSource->report(NetworkPathStatus::satisfied);
        drainPostedEvents();
    }

    void goOffline() {
        pathSource->report(NetworkPathStatus::unsatisfied);
        drainPostedEvents();
    }

    void serveSampleCatalogue() { serveCatalogue(catalogueJson(sampleCatalogue())); }

    // Answers the configuration fetch of `device` with `body`.
    void serveConfiguration(const TARNDeviceModel& device, const QByteArray& body = sampleConfigurationJson()) {
        EXPECT_CALL(*rest, fetchVerifiedBody(QUrl(device.configLink), std::optional<QString>(device.hash),
                                             QStringLiteral("device configuration")))
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

    // A run over an empty choice, finished: the outcome now describes a run.
    void finishEmptyRun() {
        model().selectedAppsForInstallation = QList<TARNDeviceAppConfigurationModel>();
        test::waitFor(model().installSelectedApplications());
    }

    static void settle() { drainPostedEvents(); }

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
