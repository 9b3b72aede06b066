#include "app/ChildProcesses.h"
#include "app/TARNInstallerApp.h"
#include "components/SpinnerView.h"
#include "components/ToInstallListItemView.h"
#include "demo/DemoCatalogue.h"
#include "demo/DemoEnvironment.h"
#include "screens/InstallationResultScreenView.h"
#include "screens/PackageManagerScreenView.h"
#include "screens/RootView.h"
#include "screens/ScreenView.h"
#include "support/Mocks.h"
#include "support/ScreenFixture.h"

#include <QAccessible>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QPropertyAnimation>
#include <QTextBrowser>

namespace tarn::test {
namespace {

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;
using Screen = Coordinator::Screen;
using demo::DemoEnvironment;
using demo::sampleApplication;
using demo::simulatedScanner;

// The whole guided installation in the window, by synthetic clicks and keys, against the demo's
// outside world: the real workflow, services and stand-in tools, a local HTTPS service, a scanner that
// appears on the simulated bus, and installs into the sandbox. Only the network path is the test's.
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
        services.urlOpener = opener; // strict: no page may open unless a test expects it
        services.networkMonitor = std::make_shared<NetworkMonitor>(pathSource);
        model = std::make_unique<InstallationViewModel>(services, settings);
        environment->simulateScannerFor(*model);
        coordinator = std::make_unique<Coordinator>(host);
        setOnline(true);
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

    void setOnline(bool online) {
        pathSource->report(online ? NetworkPathStatus::satisfied : NetworkPathStatus::unsatisfied);
        drainPostedEvents();
    }

    // Waits for the screen a person would see next (real transfers and tools take their time), and
    // checks that every control on it can be reached and is named for assistive tools.
    void expectScreen(Screen screen) {
        ASSERT_TRUE(processEventsUntil([&] { return coordinator->currentScreen() == screen; }, 60s))
                << "still on " << screenName(coordinator->currentScreen()).toStdString() << ", waiting for "
                << screenName(screen).toStdString() << "; error: " << model->fatalErrorMessage().toStdString();
        drainPostedEvents();
        shell->rootView()->transition()->setCurrentTime(RootView::transitionMilliseconds);
        ASSERT_EQ(shell->rootView()->shownScreen(), screen);
        expectAccessible(view());
    }

    static void expectAccessible(const QWidget& screen) {
        for (QWidget* control : screen.findChildren<QWidget*>()) {
            const bool button = qobject_cast<QAbstractButton*>(control) || qobject_cast<QComboBox*>(control);
            if (!control->isVisibleTo(screen.window()) ||
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

    // Cancel, then No: the same screen again, built anew.
    void cancelThenNo(Screen screen) {
        QPointer<ScreenView> before = &view();
        click(button("button.cancel"));
        expectScreen(Screen::exit);
        click(button("button.no"));
        expectScreen(screen);
        EXPECT_FALSE(before) << "the screen comes back in its initial state";
    }

    // The package screen with its rows, once the configuration has arrived over TLS.
    PackageManagerScreenView& packages() {
        auto& screen = static_cast<PackageManagerScreenView&>(view());
        EXPECT_TRUE(processEventsUntil([&] { return !screen.rows().isEmpty(); }, 30s));
        return screen;
    }

    QString receiptOf(const QString& application) const {
        return QDir(environment->systemRoot())
                .filePath(u"var/db/receipts/%1.plist"_s.arg(sampleApplication(application).pkgId));
    }

    // Welcome and both consents (the second by keyboard alone), up to the detected scanner; with
    // `everyCancel`, Cancel then No on every screen on the way.
    void walkToDetected(bool everyCancel) {
        expectScreen(Screen::welcome);
        click(button("welcome.button.text"));
        expectScreen(Screen::eula);
        if (everyCancel) {
            cancelThenNo(Screen::eula);
        }
        EXPECT_FALSE(button("button.next")->isEnabled());
        click(toggleTitled(view(), u"eula.accept"_s));
        click(button("button.next"));

        expectScreen(Screen::legal);
        if (everyCancel) {
            cancelThenNo(Screen::legal);
        }
        CustomToggleView* accept = toggleTitled(view(), u"legal.accept"_s);
        accept->setFocus(Qt::TabFocusReason);
        QTest::keyClick(accept, Qt::Key_Space);
        CustomButtonView* next = button("button.next");
        next->setFocus(Qt::TabFocusReason);
        QTest::keyClick(next, Qt::Key_Return);

        expectScreen(Screen::deviceConnect);
        ASSERT_TRUE(processEventsUntil([&] { return model->supportedDeviceNames().size() == 3; }, 30s))
                << "the consents fetch the demo's catalogue over TLS";
        EXPECT_FALSE(QFileInfo::exists(QDir(environment->usbRoot()).filePath(u"bus/usb/devices/1-2"_s)))
                << "the scanner is plugged in only once the search has started";
        if (everyCancel) {
            cancelThenNo(Screen::deviceConnect);
        }
        click(button("button.next"));

        // The search finds the scanner and moves on by itself.
        expectScreen(Screen::deviceDetected);
        ASSERT_TRUE(model->deviceModel().has_value());
        EXPECT_EQ(model->deviceModel()->name, simulatedScanner().name);
    }

    std::shared_ptr<testing::StrictMock<MockUrlOpener>> opener = std::make_shared<testing::StrictMock<MockUrlOpener>>();
    std::shared_ptr<FakeNetworkPathSource> pathSource = std::make_shared<FakeNetworkPathSource>();
    std::shared_ptr<RecordingWindowHost> host = std::make_shared<RecordingWindowHost>();
    std::unique_ptr<DemoEnvironment> environment;
    std::unique_ptr<InstallationViewModel> model;
    std::unique_ptr<Coordinator> coordinator;
    std::unique_ptr<TARNInstallerApp> shell;
};

TEST_F(DemoWindowFlowTest, EveryScreenLeadsToASuccessfulInstallationInTheSandboxAndBackFromEveryCancel) {
    walkToDetected(true);
    cancelThenNo(Screen::deviceDetected);

    // The connection drops and comes back on the detected screen.
    setOnline(false);
    expectScreen(Screen::networkingIssue);
    cancelThenNo(Screen::networkingIssue);
    setOnline(true);
    expectScreen(Screen::deviceDetected);
    click(button("button.next"));

    expectScreen(Screen::appManager);
    packages();
    cancelThenNo(Screen::appManager);
    // One optional application on top of the mandatory ones: the one that comes as a disk image.
    QString diskImageApplication;
    for (const QString& name : simulatedScanner().applications) {
        if (sampleApplication(name).format == demo::InstallerFormat::diskImage) {
            diskImageApplication = name;
        }
    }
    ASSERT_FALSE(diskImageApplication.isEmpty());
    QStringList chosen;
    for (const QString& name : simulatedScanner().applications) {
        if (sampleApplication(name).mandatory || name == diskImageApplication) {
            chosen.append(name);
        }
    }
    EXPECT_EQ(packages().rows().size(), simulatedScanner().applications.size());
    click(toggleTitled(view(), diskImageApplication));
    EXPECT_EQ(button("button.download")->text(), u"Download (%1 apps)"_s.arg(chosen.size()));
    click(button("button.download"));

    expectScreen(Screen::installer);
    cancelThenNo(Screen::installer);
    EXPECT_TRUE(model->isInstallationCancelled()) << "recorded; the run goes on and the screen joins it";
    ASSERT_TRUE(processEventsUntil([&] { return button("button.done")->isEnabled(); }, 120s))
            << "the installation run never ended";
    drainPostedEvents(); // the rows' last updates
    EXPECT_FALSE(button("button.cancel")->isEnabled());
    QStringList run = taskNames(model->tasksToRun());
    run.sort();
    chosen.sort();
    EXPECT_EQ(run, chosen);
    for (const AppInstallTask& task : model->tasksToRun()) {
        EXPECT_EQ(task.state, ToInstallListItemViewState::done) << task.name.toStdString();
    }
    click(button("button.done"));

    expectScreen(Screen::installResult);
    EXPECT_TRUE(model->isInstallationSuccessful());
    EXPECT_FALSE(model->anyOptionalPackageFailedToInstall());
    EXPECT_TRUE(model->fatalErrorMessage().isEmpty()) << model->fatalErrorMessage().toStdString();
    auto& result = static_cast<InstallationResultScreenView&>(view());
    EXPECT_EQ(result.presentation().imageName, u"success"_s);
    EXPECT_EQ(result.presentation().titleKey, u"info.success.title"_s);
    EXPECT_TRUE(result.failureList()->isHidden());
    for (const QString& name : simulatedScanner().applications) {
        const bool installed = chosen.contains(name);
        EXPECT_EQ(QFileInfo(QDir(environment->systemRoot())
                                    .filePath(u"Applications/%1.app/Contents/Info.plist"_s.arg(name)))
                          .isFile(),
                  installed)
                << name.toStdString();
        EXPECT_EQ(QFileInfo::exists(receiptOf(name)), installed) << name.toStdString();
    }

    // Close, and the termination check on this screen, both ask for the configuration's success
    // page, served by the demo; it opens once.
    EXPECT_CALL(*opener, open(testing::Truly([](const QUrl& url) {
        return url.path() == QLatin1String(demo::successPagePath);
    }))).Times(1);
    click(button("button.close"));
    EXPECT_EQ(host->terminations, 1);
}

// Cancelled once the configuration is there, before anything is installed: no success page (the
// opener is strict), nothing installed, and Quit on the confirmation ends too.
TEST_F(DemoWindowFlowTest, CancelBeforeInstallingEndsWithoutTheSuccessPage) {
    walkToDetected(false);
    click(button("button.next"));
    expectScreen(Screen::appManager);
    packages();
    ASSERT_TRUE(model->isInstallationSuccessful()) << "true before any run: it cannot decide alone";
    click(button("button.cancel"));
    expectScreen(Screen::exit);
    click(button("button.yes"));
    EXPECT_EQ(host->terminations, 1);
    shell->quitAction()->trigger();
    EXPECT_EQ(host->terminations, 2);
    for (const QString& name : simulatedScanner().applications) {
        EXPECT_FALSE(QFileInfo::exists(receiptOf(name))) << name.toStdString();
    }
}

} // namespace
} // namespace tarn::test
