#include "app/ChildProcesses.h"
#include "app/TARNInstallerApp.h"
#include "demo/DemoCatalogue.h"
#include "demo/DemoEnvironment.h"
#include "screens/PackageManagerScreenView.h"
#include "screens/RootView.h"
#include "screens/ScreenView.h"
#include "support/Mocks.h"
#include "support/ScreenFixture.h"

#include <QDir>
#include <QFileInfo>
#include <QPropertyAnimation>

namespace tarn::test {
namespace {

using namespace std::chrono_literals;
using Screen = Coordinator::Screen;
using demo::DemoEnvironment;
using demo::sampleApplication;
using demo::simulatedScanner;

// The window against the demo's outside world: the real workflow, services and stand-in tools, a
// local HTTPS service, a scanner that appears on the simulated bus, and installs into the sandbox.
class DemoWindowFlowTest : public ::testing::Test {
protected:
    DemoWindowFlowTest() {
        useShippedResources();
        demo::DemoOptions options;
        options.scannerDelay = 0ms;
        environment = std::make_unique<DemoEnvironment>(options);
        InstallationSettings settings = environment->settings();
        settings.pauseBetweenQueries = 20ms;
        InstallationServices services = environment->services();
        services.urlOpener = opener; // no browser in a test
        model = std::make_unique<InstallationViewModel>(services, settings);
        environment->simulateScannerFor(*model);
        coordinator = std::make_unique<Coordinator>(host);
        shell = std::make_unique<TARNInstallerApp>(*coordinator, *model, host);
        shell->show();
        EXPECT_TRUE(showActive(*shell->window()));
    }

    ~DemoWindowFlowTest() override {
        shell.reset();
        // A disk image's detach may still run; it must finish before the sandbox goes.
        EXPECT_TRUE(waitForChildProcesses());
    }

    ScreenView& view() { return *shell->rootView()->currentView(); }
    CustomButtonView* button(const char* key) { return buttonWithKey(view(), QString::fromLatin1(key)); }

    // Waits for the screen a person would see next; real transfers and tools take their time.
    void expectScreen(Screen screen) {
        ASSERT_TRUE(processEventsUntil([&] { return coordinator->currentScreen() == screen; }, 60s))
                << "still on " << screenName(coordinator->currentScreen()).toStdString() << ", waiting for "
                << screenName(screen).toStdString() << "; error: " << model->fatalErrorMessage().toStdString();
        drainPostedEvents();
        shell->rootView()->transition()->setCurrentTime(RootView::transitionMilliseconds);
        ASSERT_EQ(shell->rootView()->shownScreen(), screen);
    }

    QString installed(const QString& application) const {
        return QDir(environment->systemRoot()).filePath(QStringLiteral("Applications/") + application + ".app");
    }
    QString receiptOf(const QString& application) const {
        return QDir(environment->systemRoot())
                .filePath(QStringLiteral("var/db/receipts/") + sampleApplication(application).pkgId + ".plist");
    }

    // Welcome and both consents, up to the applications of the detected scanner.
    void walkToApplications() {
        expectScreen(Screen::welcome);
        click(button("welcome.button.text"));
        expectScreen(Screen::eula);
        click(toggleTitled(view(), QStringLiteral("eula.accept")));
        click(button("button.next"));
        expectScreen(Screen::legal);
        click(toggleTitled(view(), QStringLiteral("legal.accept")));
        click(button("button.next"));

        expectScreen(Screen::deviceConnect);
        ASSERT_TRUE(processEventsUntil([&] { return model->supportedDeviceNames().size() == 3; }, 30s))
                << "the consents fetch the demo's catalogue over TLS";
        click(button("button.next"));

        expectScreen(Screen::deviceDetected);
        ASSERT_TRUE(model->deviceModel().has_value());
        EXPECT_EQ(model->deviceModel()->name, simulatedScanner().name);
        click(button("button.next"));
        expectScreen(Screen::appManager);
    }

    std::shared_ptr<testing::StrictMock<MockUrlOpener>> opener = std::make_shared<testing::StrictMock<MockUrlOpener>>();
    std::shared_ptr<RecordingWindowHost> host = std::make_shared<RecordingWindowHost>();
    std::unique_ptr<DemoEnvironment> environment;
    std::unique_ptr<InstallationViewModel> model;
    std::unique_ptr<Coordinator> coordinator;
    std::unique_ptr<TARNInstallerApp> shell;
};

TEST_F(DemoWindowFlowTest, EveryScreenLeadsToASuccessfulInstallationInTheSandbox) {
    walkToApplications();
    auto* packages = static_cast<PackageManagerScreenView*>(&view());
    ASSERT_TRUE(processEventsUntil([&] { return !packages->rows().isEmpty(); }, 30s));
    // One optional application on top of the mandatory ones: the one that comes as a disk image.
    QString diskImageApplication;
    for (const QString& name : simulatedScanner().applications) {
        if (sampleApplication(name).format == demo::InstallerFormat::diskImage) {
            diskImageApplication = name;
        }
    }
    ASSERT_FALSE(diskImageApplication.isEmpty());
    click(toggleTitled(view(), diskImageApplication));
    click(button("button.download"));

    expectScreen(Screen::installer);
    ASSERT_TRUE(processEventsUntil([&] { return button("button.done")->isEnabled(); }, 120s))
            << "the installation run never ended";
    click(button("button.done"));

    expectScreen(Screen::installResult);
    EXPECT_TRUE(model->isInstallationSuccessful());
    EXPECT_FALSE(model->anyOptionalPackageFailedToInstall());
    EXPECT_TRUE(model->fatalErrorMessage().isEmpty()) << model->fatalErrorMessage().toStdString();
    for (const QString& name : simulatedScanner().applications) {
        const bool chosen = sampleApplication(name).mandatory || name == diskImageApplication;
        EXPECT_EQ(QFileInfo(installed(name) + QStringLiteral("/Contents/Info.plist")).isFile(), chosen)
                << name.toStdString();
        EXPECT_EQ(QFileInfo::exists(receiptOf(name)), chosen) << name.toStdString();
    }

    // Close hands the configuration's success page, served by the demo, to the desktop.
    EXPECT_CALL(*opener, open(testing::Truly(
                                 [](const QUrl& url) { return url.path() == QLatin1String(demo::successPagePath); })));
    click(button("button.close"));
    EXPECT_EQ(host->terminations, 1);
}

// Cancelled once the configuration is there, before anything is installed: no success page (the
// opener is strict), nothing installed.
TEST_F(DemoWindowFlowTest, CancelBeforeInstallingEndsWithoutTheSuccessPage) {
    walkToApplications();
    auto* packages = static_cast<PackageManagerScreenView*>(&view());
    ASSERT_TRUE(processEventsUntil([&] { return !packages->rows().isEmpty(); }, 30s));
    click(button("button.cancel"));
    expectScreen(Screen::exit);
    click(button("button.yes"));
    EXPECT_EQ(host->terminations, 1);
    for (const QString& name : simulatedScanner().applications) {
        EXPECT_FALSE(QFileInfo::exists(receiptOf(name))) << name.toStdString();
    }
}

} // namespace
} // namespace tarn::test
