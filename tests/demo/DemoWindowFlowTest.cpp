#include "app/ChildProcesses.h"
#include "app/TARNInstallerApp.h"
#include "components/SpinnerView.h"
#include "components/ToInstallListItemView.h"
#include "demo/DemoCatalogue.h"
#include "demo/DemoEnvironment.h"
#include "screens/PackageManagerScreenView.h"
#include "screens/RootView.h"
#include "screens/ScreenView.h"
#include "support/ScreenFixture.h"

#include <QAccessible>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QPropertyAnimation>
#include <QTextBrowser>

namespace tarn::test {
namespace {

using namespace std::chrono_literals;
using demo::sampleApplication;
using demo::simulatedScanner;

// The wiring of the whole window, by synthetic clicks and keys, against the demo's outside world: the
// real workflow, services and stand-in tools, a local HTTPS service, a scanner that appears on the
// simulated bus, and installs into the sandbox. Each screen's own branches are proven screen by screen.
class DemoWindowFlowTest : public ::testing::Test {
protected:
    DemoWindowFlowTest() {
        useShippedResources();
        demo::DemoOptions options;
        options.scannerDelay = 0ms;
        environment = std::make_unique<demo::DemoEnvironment>(options);
        InstallationSettings settings = environment->settings();
        settings.pauseBetweenQueries = 20ms;
        InstallationServices services = environment->services();
        services.urlOpener = opener; // strict: no page may open unless the test expects it
        services.networkMonitor = std::make_shared<NetworkMonitor>(pathSource);
        model = std::make_unique<InstallationViewModel>(services, settings);
        environment->simulateScannerFor(*model);
        pathSource->report(NetworkPathStatus::satisfied);
        drainPostedEvents();
        shell = std::make_unique<TARNInstallerApp>(coordinator, *model, host);
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

    // Waits for the screen a person would see next (real transfers and tools take their time), and
    // checks that every control on it is named for assistive tools and buttons take the keyboard.
    void expectScreen(Screen screen) {
        ASSERT_TRUE(processEventsUntil([&] { return coordinator.currentScreen() == screen; }, 60s))
                << "still on " << screenName(coordinator.currentScreen()).toStdString() << ", waiting for "
                << screenName(screen).toStdString() << "; error: " << model->fatalErrorMessage().toStdString();
        drainPostedEvents();
        shell->rootView()->transition()->setCurrentTime(RootView::transitionMilliseconds);
        ASSERT_EQ(shell->rootView()->shownScreen(), screen);
        for (QWidget* control : view().findChildren<QWidget*>()) {
            const bool button = qobject_cast<QAbstractButton*>(control) || qobject_cast<QComboBox*>(control);
            if (!control->isVisibleTo(&view()) ||
                !(button || qobject_cast<QTextBrowser*>(control) || qobject_cast<SpinnerView*>(control) ||
                  qobject_cast<ToInstallListItemView*>(control))) {
                continue;
            }
            SCOPED_TRACE(control->metaObject()->className());
            QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
            ASSERT_NE(accessible, nullptr);
            EXPECT_FALSE(accessible->text(QAccessible::Name).isEmpty());
            EXPECT_NE(accessible->role(), QAccessible::Client);
            EXPECT_TRUE(!button || (control->focusPolicy() & Qt::TabFocus));
        }
    }

    std::shared_ptr<testing::StrictMock<MockUrlOpener>> opener = std::make_shared<testing::StrictMock<MockUrlOpener>>();
    std::shared_ptr<FakeNetworkPathSource> pathSource = std::make_shared<FakeNetworkPathSource>();
    std::shared_ptr<RecordingWindowHost> host = std::make_shared<RecordingWindowHost>();
    std::unique_ptr<demo::DemoEnvironment> environment;
    std::unique_ptr<InstallationViewModel> model;
    Coordinator coordinator{host};
    std::unique_ptr<TARNInstallerApp> shell;
};

TEST_F(DemoWindowFlowTest, EveryScreenLeadsToAnInstallationInTheSandbox) {
    expectScreen(Screen::welcome);
    click(button("welcome.button.text"));
    expectScreen(Screen::eula);
    click(toggleTitled(view(), u"eula.accept"_s));
    click(button("button.next"));
    expectScreen(Screen::legal);
    click(toggleTitled(view(), u"legal.accept"_s));
    click(button("button.next"));

    expectScreen(Screen::deviceConnect);
    ASSERT_TRUE(processEventsUntil([&] { return model->supportedDeviceNames().size() == 3; }, 30s))
            << "the consents fetch the demo's catalogue over TLS";
    EXPECT_FALSE(QFileInfo::exists(QDir(environment->usbRoot()).filePath(u"bus/usb/devices/1-2"_s)))
            << "the scanner is plugged in only once the search has started";
    click(button("button.next"));
    expectScreen(Screen::deviceDetected); // the search finds the scanner and moves on by itself
    EXPECT_EQ(model->deviceModel().value_or(TARNDeviceModel{}).name, simulatedScanner().name);
    click(button("button.next"));

    // The mandatory applications and the optional one that comes as a disk image.
    expectScreen(Screen::appManager);
    auto& packages = static_cast<PackageManagerScreenView&>(view());
    ASSERT_TRUE(processEventsUntil([&] { return !packages.rows().isEmpty(); }, 30s));
    EXPECT_EQ(packages.rows().size(), simulatedScanner().applications.size());
    QStringList chosen;
    for (const QString& name : simulatedScanner().applications) {
        const bool diskImage = sampleApplication(name).format == demo::InstallerFormat::diskImage;
        if (diskImage) {
            click(toggleTitled(view(), name));
        }
        if (diskImage || sampleApplication(name).mandatory) {
            chosen.append(name);
        }
    }
    click(button("button.download"));

    expectScreen(Screen::installer);
    ASSERT_TRUE(processEventsUntil([&] { return button("button.done")->isEnabled(); }, 120s))
            << "the installation run never ended";
    click(button("button.done"));

    expectScreen(Screen::installResult);
    EXPECT_TRUE(model->isInstallationSuccessful()) << model->fatalErrorMessage().toStdString();
    EXPECT_FALSE(shownTexts(view()).contains(localized(u"failed.to.install.title"))) << "nothing failed";
    for (const QString& name : simulatedScanner().applications) {
        const QDir root(environment->systemRoot());
        EXPECT_EQ(QFileInfo(root.filePath(u"Applications/%1.app/Contents/Info.plist"_s.arg(name))).isFile(),
                  chosen.contains(name))
                << name.toStdString();
        EXPECT_EQ(QFileInfo::exists(root.filePath(u"var/db/receipts/%1.plist"_s.arg(sampleApplication(name).pkgId))),
                  chosen.contains(name))
                << name.toStdString();
    }

    // Close, and the termination check on this screen, both ask for the configuration's success page,
    // served by the demo; it opens once.
    EXPECT_CALL(*opener, open(testing::Truly(
                                 [](const QUrl& url) { return url.path() == QLatin1String(demo::successPagePath); })));
    click(button("button.close"));
    EXPECT_EQ(host->terminations, 1);
}

} // namespace
} // namespace tarn::test
