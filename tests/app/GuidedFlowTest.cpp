#include "app/TARNInstallerApp.h"
#include "components/SpinnerView.h"
#include "components/ToInstallListItemView.h"
#include "screens/DeviceSearchScreeView.h"
#include "screens/InstallationResultScreenView.h"
#include "screens/PackageManagerScreenView.h"
#include "screens/RootView.h"
#include "screens/ScreenView.h"
#include "support/Gate.h"
#include "support/ScreenFixture.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QPointer>
#include <QPropertyAnimation>
#include <QTemporaryDir>
#include <QTextBrowser>

namespace tarn::test {
namespace {

using Screen = Coordinator::Screen;
using testing::_;
using testing::Return;

// The whole guided installation in the window, driven by synthetic clicks and keys against a
// workflow whose services are mocked: the scanner is on the bus, the service answers, every package
// installs, and the first one waits in its installation until the test lets it finish.
class GuidedFlowTest : public ScreenTest {
protected:
    GuidedFlowTest() {
        ON_CALL(*permissions, requestAdminPrivileges()).WillByDefault(ReturnTask(AdminRights::granted));
        serveSampleCatalogue();
        serveConfiguration(sampleCatalogue().first());
        EXPECT_CALL(*usb, findMatchingUSBDevices(_))
                .WillRepeatedly(ReturnTask(QList<USBDeviceModel>{{0x2F1A, 0x600, QString(), QString()}}));
        for (const SampleApp& app : sampleApps()) {
            const QString path = downloads.filePath(app.slug() + QStringLiteral(".pkg"));
            EXPECT_CALL(*pkgHelper, isInstallationNeeded(app.pkgId(), _)).WillRepeatedly(ReturnTask(true));
            EXPECT_CALL(*rest, downloadFile(app.installerUrl(), _)).WillRepeatedly([path](auto&&...) {
                QFile file(path);
                file.open(QIODevice::WriteOnly);
                return readyTask(QUrl::fromLocalFile(path));
            });
            if (app.name == QLatin1String("TARN Capture")) {
                // At most once: the flows that cancel before installing never get here.
                EXPECT_CALL(*installer, install(path, app.name, _, _))
                        .Times(testing::AtMost(1))
                        .WillOnce([this](auto&&...) { return afterGate(&installationGate); });
            } else {
                EXPECT_CALL(*installer, install(path, app.name, _, _)).WillRepeatedly(ReturnVoidTask());
            }
        }
        goOnline();
        shell = std::make_unique<TARNInstallerApp>(coordinator, model(), host);
        shell->show();
        shell->window()->resize(900, 800);
        EXPECT_TRUE(showActive(*shell->window()));
    }

    ScreenView& view() { return *shell->rootView()->currentView(); }
    CustomButtonView* button(const char* key) { return buttonWithKey(view(), QString::fromLatin1(key)); }

    // Lets the navigation land and checks the screen a person now sees.
    void expectScreen(Screen screen) {
        settle();
        shell->rootView()->transition()->setCurrentTime(RootView::transitionMilliseconds);
        ASSERT_EQ(coordinator.currentScreen(), screen) << screenName(screen).toStdString();
        ASSERT_EQ(shell->rootView()->shownScreen(), screen);
        expectAccessible(view());
    }

    // Every control a person can reach says what it is and what it is called.
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

    // Welcome, both consents by mouse, and on to the connect screen.
    void acceptToConnect() {
        click(button("welcome.button.text"));
        expectScreen(Screen::eula);
        click(toggleTitled(view(), QStringLiteral("eula.accept")));
        click(button("button.next"));
        expectScreen(Screen::legal);
        click(toggleTitled(view(), QStringLiteral("legal.accept")));
        click(button("button.next"));
        expectScreen(Screen::deviceConnect);
    }

    // Cancel, then Yes: the application ends; the strict URL opener fails the test on any page.
    void cancelThenYes() {
        click(button("button.cancel"));
        expectScreen(Screen::exit);
        click(button("button.yes"));
        EXPECT_EQ(host->terminations, 1);
    }

    QTemporaryDir downloads;
    Gate installationGate;
    std::unique_ptr<TARNInstallerApp> shell;
};

TEST_F(GuidedFlowTest, FromWelcomeToASuccessfulResultAndBackFromEveryCancel) {
    expectScreen(Screen::welcome);
    click(button("welcome.button.text"));

    expectScreen(Screen::eula);
    cancelThenNo(Screen::eula);
    EXPECT_FALSE(button("button.next")->isEnabled());
    click(toggleTitled(view(), QStringLiteral("eula.accept")));
    click(button("button.next"));

    // The legal notice by keyboard alone.
    expectScreen(Screen::legal);
    cancelThenNo(Screen::legal);
    CustomToggleView* accept = toggleTitled(view(), QStringLiteral("legal.accept"));
    accept->setFocus(Qt::TabFocusReason);
    QTest::keyClick(accept, Qt::Key_Space);
    CustomButtonView* next = button("button.next");
    next->setFocus(Qt::TabFocusReason);
    QTest::keyClick(next, Qt::Key_Return);

    expectScreen(Screen::deviceConnect);
    EXPECT_EQ(model().supportedDeviceNames().size(), 3) << "both consents fetched the catalogue";
    cancelThenNo(Screen::deviceConnect);
    click(button("button.next"));

    // The search finds the scanner and moves on by itself.
    expectScreen(Screen::deviceDetected);
    EXPECT_EQ(model().deviceModel(), sampleCatalogue().first());
    cancelThenNo(Screen::deviceDetected);

    // The connection drops and comes back on the detected screen.
    goOffline();
    expectScreen(Screen::networkingIssue);
    cancelThenNo(Screen::networkingIssue);
    goOnline();
    expectScreen(Screen::deviceDetected);
    click(button("button.next"));

    expectScreen(Screen::appManager);
    cancelThenNo(Screen::appManager);
    auto& packages = static_cast<PackageManagerScreenView&>(view());
    EXPECT_EQ(packages.rows().size(), 4);
    click(toggleTitled(view(), QStringLiteral("PaperStack Organizer")));
    EXPECT_EQ(button("button.download")->text(), QStringLiteral("Download (3 apps)"));
    click(button("button.download"));

    expectScreen(Screen::installer);
    EXPECT_FALSE(button("button.done")->isEnabled());
    cancelThenNo(Screen::installer);
    EXPECT_TRUE(model().isInstallationCancelled());
    EXPECT_FALSE(button("button.done")->isEnabled()) << "the run goes on; the screen shown again joins it";

    installationGate.open();
    settle();
    EXPECT_TRUE(button("button.done")->isEnabled());
    EXPECT_FALSE(button("button.cancel")->isEnabled());
    EXPECT_EQ(taskNames(model().tasksToRun()),
              (QStringList{"TARN Capture", "TARN Scanner Driver", "PaperStack Organizer"}));
    for (const AppInstallTask& task : model().tasksToRun()) {
        EXPECT_EQ(task.state, ToInstallListItemViewState::done) << task.name.toStdString();
    }
    click(button("button.done"));

    expectScreen(Screen::installResult);
    auto& result = static_cast<InstallationResultScreenView&>(view());
    EXPECT_EQ(result.presentation().imageName, QStringLiteral("success"));
    EXPECT_EQ(result.presentation().titleKey, QStringLiteral("info.success.title"));
    EXPECT_TRUE(result.failureList()->isHidden());

    // Close and the termination check on this screen both ask for the success page; it opens once.
    EXPECT_CALL(*opener, open(QUrl(QStringLiteral("https://tarn.test/welcome")))).Times(1);
    click(button("button.close"));
    EXPECT_EQ(host->terminations, 1);
}

// A catalogue that lists no scanner ends the search with a message and a way back or out.
TEST_F(GuidedFlowTest, EmptyCatalogueEndsTheSearchWithAMessageBackAndCancel) {
    serveCatalogue("[]");
    acceptToConnect();
    for (int visit = 0; visit < 2; ++visit) {
        click(button("button.next"));
        expectScreen(Screen::deviceSearch);
        EXPECT_EQ(model().deviceSearchStatus(), DeviceSearchState::notFound());
        EXPECT_EQ(static_cast<DeviceSearchScreeView&>(view()).titleText(), QStringLiteral("No supported scanner"));
        EXPECT_FALSE(button("button.next")->isVisibleTo(&view()));
        if (visit == 0) {
            click(button("button.back"));
            expectScreen(Screen::deviceConnect);
        }
    }
    cancelThenYes();
}

// Cancelling after the configuration has loaded, before any installation, opens no success page.
TEST_F(GuidedFlowTest, CancelBeforeInstallingEndsWithoutTheSuccessPage) {
    acceptToConnect();
    click(button("button.next"));
    expectScreen(Screen::deviceDetected);
    click(button("button.next"));
    expectScreen(Screen::appManager);
    ASSERT_TRUE(model().deviceApplicationsModel());
    ASSERT_TRUE(model().isInstallationSuccessful()) << "true before any run: it cannot decide alone";
    cancelThenYes();
    shell->quitAction()->trigger();
    EXPECT_EQ(host->terminations, 2) << "Quit on the confirmation ends too, still without a page";
}

} // namespace
} // namespace tarn::test
