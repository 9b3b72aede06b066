#include "screens/RootView.h"

#include "components/ToInstallListItemView.h"
#include "screens/ConsentScreenView.h"
#include "screens/InstallManagerScreenView.h"
#include "screens/ScreenView.h"
#include "screens/ViewExt.h"
#include "support/Gate.h"
#include "support/ScreenFixture.h"

#include <QPointer>
#include <QPropertyAnimation>
#include <QTextBrowser>
#include <QTextDocument>

namespace tarn::test {
namespace {

using Screen = Coordinator::Screen;
using testing::_;
using testing::ElementsAre;
using testing::Return;

class RootViewTest : public ScreenTest {
protected:
    RootViewTest() { goOnline(); }

    RootView& root() {
        if (!rootView) {
            rootView = std::make_unique<BackgroundWidget>(new RootView(coordinator, model()));
            rootView->resize(900, 700);
            rootView->show();
        }
        return *static_cast<RootView*>(rootView->content());
    }

    // Walks the flow to the licence agreement, as the buttons would.
    void openLicence() {
        root();
        coordinator.push(Screen::eula);
        settle();
    }

    std::unique_ptr<BackgroundWidget> rootView;
};

TEST_F(RootViewTest, EveryScreenChangeBuildsAFreshViewAndDeletesTheOldOne) {
    QPointer<ScreenView> welcome = root().currentView();
    ASSERT_TRUE(welcome);
    EXPECT_TRUE(welcome->hasAppeared());

    coordinator.push(Screen::eula);
    EXPECT_EQ(root().currentView(), welcome) << "the change lands on the next turn";
    settle();
    EXPECT_FALSE(welcome) << "the welcome view is deleted as the licence arrives";
    QPointer<ScreenView> licence = root().currentView();
    ASSERT_TRUE(qobject_cast<ConsentScreenView*>(licence));
    EXPECT_TRUE(licence->hasAppeared());

    coordinator.push(Screen::exit);
    settle();
    coordinator.pop();
    settle();
    EXPECT_FALSE(licence);
    ASSERT_TRUE(qobject_cast<ConsentScreenView*>(root().currentView()));

    // The old screen's fading picture takes no clicks: the new screen's buttons work at once.
    EXPECT_EQ(root().transition()->state(), QAbstractAnimation::Running);
    model().isEulaAccepted = true;
    click(buttonWithKey(*root().currentView(), QStringLiteral("button.next")));
    settle();
    EXPECT_EQ(coordinator.currentScreen(), Screen::legal);
}

TEST_F(RootViewTest, LostConnectionShowsTheNoConnectionScreenAtOnceAndItsReturnOrRetryGoesBack) {
    openLicence();
    pathSource->report(NetworkPathStatus::unsatisfied);
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(coordinator.currentScreen(), Screen::networkingIssue);
    EXPECT_EQ(root().shownScreen(), Screen::networkingIssue);
    EXPECT_THAT(coordinator.stack, ElementsAre(Screen::welcome, Screen::eula, Screen::networkingIssue));

    // A second report of the loss changes nothing.
    goOffline();
    EXPECT_THAT(coordinator.stack, ElementsAre(Screen::welcome, Screen::eula, Screen::networkingIssue));

    goOnline();
    EXPECT_EQ(coordinator.currentScreen(), Screen::eula);
    EXPECT_THAT(coordinator.stack, ElementsAre(Screen::welcome, Screen::eula));

    // Retry while still offline returns until the next report.
    goOffline();
    click(buttonWithKey(*root().currentView(), QStringLiteral("button.retry")));
    settle();
    EXPECT_EQ(coordinator.currentScreen(), Screen::eula) << "Retry does not test the connection";

    goOffline();
    EXPECT_EQ(coordinator.currentScreen(), Screen::networkingIssue) << "the next delivered loss brings it back";
}

TEST_F(RootViewTest, ConnectionRegainedOnTheSearchScreenReturnsToConnect) {
    // The search finds the scanner only when the test lets it, after the connection came back.
    Gate usbAnswer;
    loadCatalogue(sampleCatalogue());
    EXPECT_CALL(*usb, findMatchingUSBDevices(_)).WillRepeatedly([&usbAnswer](auto&&...) {
        return afterGate(&usbAnswer, QList<USBDeviceModel>{{0x2F1A, 0x600, QString(), QString()}});
    });
    root();
    coordinator.push(Screen::deviceConnect);
    settle();
    coordinator.navigate(Screen::deviceSearch);
    settle();
    ASSERT_EQ(root().shownScreen(), Screen::deviceSearch);

    goOffline();
    goOnline();
    EXPECT_EQ(coordinator.currentScreen(), Screen::deviceConnect) << "the search screen is not in the history";

    usbAnswer.open();
    settle();
    EXPECT_EQ(model().deviceModel(), sampleCatalogue().first()) << "the search finished in the workflow";
    EXPECT_EQ(coordinator.currentScreen(), Screen::deviceConnect) << "and moved no screen that is gone";
}

TEST_F(RootViewTest, FatalErrorShowsTheResultOnlyWhenItsTextChanges) {
    openLicence();
    model().fatalErrorMessage = QStringLiteral("The T.A.R.N. service could not be reached");
    settle();
    EXPECT_EQ(coordinator.currentScreen(), Screen::installResult);
    EXPECT_THAT(coordinator.stack, ElementsAre(Screen::welcome, Screen::eula, Screen::installResult));

    model().fatalErrorMessage = QStringLiteral("The T.A.R.N. service could not be reached");
    settle();
    EXPECT_THAT(coordinator.stack, ElementsAre(Screen::welcome, Screen::eula, Screen::installResult))
            << "the same text again is no new error";

    model().fatalErrorMessage = QString();
    settle();
    EXPECT_THAT(coordinator.stack, ElementsAre(Screen::welcome, Screen::eula, Screen::installResult))
            << "a cleared text is no error";

    // During a run the installation screen reports the error itself.
    model().shouldProcessFatalError = false;
    model().fatalErrorMessage = QStringLiteral("A downloaded file failed its integrity check");
    settle();
    EXPECT_EQ(coordinator.stack.size(), 3);
}

TEST_F(RootViewTest, DocumentArrivingForAGoneScreenIsDropped) {
    root();
    const auto navigationOnly = [this] { QCoreApplication::sendPostedEvents(&coordinator, QEvent::MetaCall); };
    coordinator.push(Screen::eula);
    navigationOnly();
    QPointer<ConsentScreenView> first = qobject_cast<ConsentScreenView*>(root().currentView());
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->findChild<QTextBrowser*>()->document()->isEmpty()) << "the document comes on a later turn";

    // The licence goes before its document is read; its task must find it gone.
    coordinator.push(Screen::exit);
    navigationOnly();
    EXPECT_FALSE(first);
    settle();

    coordinator.pop();
    settle();
    auto* licence = qobject_cast<ConsentScreenView*>(root().currentView());
    ASSERT_NE(licence, nullptr);
    EXPECT_FALSE(licence->findChild<QTextBrowser*>()->document()->isEmpty());
}

// The run goes on behind the cancel confirmation, the screen shown again joins it, and a failed run
// hands over to the result as a successful one does.
TEST_F(RootViewTest, RunOutlivesItsScreenAndTheScreenShownAgainJoinsIt) {
    Gate installed;
    loadSampleConfiguration();
    const SampleApp capture = sampleApps().first();
    model().selectedAppsForInstallation = {model().deviceApplicationsModel()->apps.first()};
    EXPECT_CALL(*permissions, requestAdminPrivileges()).Times(1).WillOnce(ReturnTask(AdminRights::granted));
    EXPECT_CALL(*pkgHelper, isInstallationNeeded(capture.pkgId(), _)).WillOnce([&installed](auto&&...) {
        return afterGate(&installed, true);
    });
    EXPECT_CALL(*rest, downloadFile(capture.installerUrl(), _)).WillOnce(ThrowTask<QUrl>(std::runtime_error("gone")));
    EXPECT_CALL(*permissions, releaseAuthorization()).Times(1);

    root();
    coordinator.push(Screen::installer);
    settle();
    QPointer<InstallManagerScreenView> first = qobject_cast<InstallManagerScreenView*>(root().currentView());
    ASSERT_TRUE(first);
    ASSERT_EQ(first->rows().size(), 1);
    EXPECT_EQ(first->rows().first()->name(), QStringLiteral("TARN Capture"));
    EXPECT_EQ(first->rows().first()->state(), ToInstallListItemViewState::processing);
    EXPECT_TRUE(buttonWithKey(*first, QStringLiteral("button.cancel"))->isEnabled());
    EXPECT_FALSE(buttonWithKey(*first, QStringLiteral("button.done"))->isEnabled());
    click(buttonWithKey(*first, QStringLiteral("button.cancel")));
    settle();
    EXPECT_TRUE(model().isInstallationCancelled());
    EXPECT_EQ(coordinator.currentScreen(), Screen::exit);
    EXPECT_FALSE(first);

    click(buttonWithKey(*root().currentView(), QStringLiteral("button.no")));
    settle();
    auto* again = qobject_cast<InstallManagerScreenView*>(root().currentView());
    ASSERT_NE(again, nullptr);
    EXPECT_FALSE(buttonWithKey(*again, QStringLiteral("button.done"))->isEnabled());

    installed.open();
    settle();
    EXPECT_EQ(again->rows().first()->state(), ToInstallListItemViewState::failed);
    EXPECT_TRUE(buttonWithKey(*again, QStringLiteral("button.done"))->isEnabled()) << "a failed run hands over too";
    EXPECT_FALSE(buttonWithKey(*again, QStringLiteral("button.cancel"))->isEnabled());
    click(buttonWithKey(*again, QStringLiteral("button.done")));
    settle();
    EXPECT_EQ(coordinator.currentScreen(), Screen::installResult);
}

} // namespace
} // namespace tarn::test
