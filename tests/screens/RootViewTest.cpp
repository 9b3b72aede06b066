#include "screens/RootView.h"

#include "screens/ConsentScreenView.h"
#include "screens/InstallManagerScreenView.h"
#include "screens/InstallationResultScreenView.h"
#include "screens/ScreenView.h"
#include "screens/ViewExt.h"
#include "services/TransportError.h"
#include "support/Gate.h"
#include "support/ScreenFixture.h"

#include <QLabel>
#include <QPointer>
#include <QPropertyAnimation>
#include <QTextDocument>

namespace tarn::test {
namespace {

using Screen = Coordinator::Screen;
using testing::_;
using testing::ElementsAre;
using testing::Return;

class RootViewTest : public ScreenTest {
protected:
    RootViewTest() {
        ON_CALL(*permissions, requestAdminPrivileges()).WillByDefault(Return(true));
        goOnline();
    }

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
    root();
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
    EXPECT_NE(root().currentView(), licence.data()) << "No shows the licence again, in its initial state";
}

TEST_F(RootViewTest, TheSameScreenAssignedAgainKeepsItsView) {
    openLicence();
    QPointer<ScreenView> licence = root().currentView();
    coordinator.currentScreen = Screen::eula;
    EXPECT_EQ(root().currentView(), licence.data());
}

TEST_F(RootViewTest, ScreenChangeFadesWithoutHoldingTheNavigationBack) {
    openLicence();
    QPropertyAnimation* fade = root().transition();
    EXPECT_EQ(fade->state(), QAbstractAnimation::Running);
    EXPECT_EQ(fade->easingCurve().type(), QEasingCurve::InOutQuad);
    EXPECT_EQ(root().shownScreen(), Screen::eula) << "the new screen is current while the old one fades";

    // The fading picture takes no clicks: the new screen's buttons work at once.
    model().isEulaAccepted = true;
    click(buttonWithKey(*root().currentView(), QStringLiteral("button.next")));
    settle();
    EXPECT_EQ(coordinator.currentScreen(), Screen::legal);
}

TEST_F(RootViewTest, LostConnectionShowsTheNoConnectionScreenAtOnceAndItsReturnGoesBack) {
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
}

class ConnectivityIgnoredTest : public RootViewTest, public testing::WithParamInterface<Screen> {};

TEST_P(ConnectivityIgnoredTest, LossLeavesTheScreen) {
    root();
    if (GetParam() != Screen::welcome) {
        coordinator.push(GetParam());
        settle();
    }
    const QList<Screen> history = coordinator.stack;
    goOffline();
    EXPECT_EQ(coordinator.currentScreen(), GetParam());
    EXPECT_EQ(coordinator.stack, history);
}

INSTANTIATE_TEST_SUITE_P(WelcomeResultAndExit, ConnectivityIgnoredTest,
                         testing::Values(Screen::welcome, Screen::installResult, Screen::exit),
                         [](const auto& info) { return screenName(info.param).toStdString(); });

TEST_F(RootViewTest, RetryWhileStillOfflineReturnsUntilTheNextReport) {
    openLicence();
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
}

TEST_F(RootViewTest, FatalErrorDuringARunStaysOnTheInstallationScreen) {
    openLicence();
    model().shouldProcessFatalError = false;
    model().fatalErrorMessage = QStringLiteral("A downloaded file failed its integrity check");
    settle();
    EXPECT_EQ(coordinator.currentScreen(), Screen::eula);
}

TEST_F(RootViewTest, CatalogueFailureAfterBothConsentsShowsTheResultWithItsText) {
    EXPECT_CALL(*rest, fetchVerifiedBody(catalogueUrl(), _, _))
            .WillOnce(
                    ThrowTask<QByteArray>(TransportError(QNetworkReply::HostNotFoundError, QStringLiteral("no host"))));
    openLicence();
    model().isEulaAccepted = true;
    model().isLegalAccepted = true;
    settle();
    EXPECT_EQ(coordinator.currentScreen(), Screen::installResult);
    EXPECT_EQ(model().fatalErrorMessage(), localized(u"error.connectivity"));
    auto* result = qobject_cast<InstallationResultScreenView*>(root().currentView());
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->errorLabel()->text(), localized(u"error.connectivity"));
    EXPECT_TRUE(result->failureList()->isHidden()) << "no run, no list";
}

TEST_F(RootViewTest, DocumentArrivingForAGoneScreenIsDropped) {
    root();
    const auto navigationOnly = [this] { QCoreApplication::sendPostedEvents(&coordinator, QEvent::MetaCall); };
    coordinator.push(Screen::eula);
    navigationOnly();
    QPointer<ConsentScreenView> first = qobject_cast<ConsentScreenView*>(root().currentView());
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->text()->isEmpty()) << "the document comes on a later turn";

    // The licence goes before its document is read; its task must find it gone.
    coordinator.push(Screen::exit);
    navigationOnly();
    EXPECT_FALSE(first);
    settle();

    coordinator.pop();
    settle();
    auto* licence = qobject_cast<ConsentScreenView*>(root().currentView());
    ASSERT_NE(licence, nullptr);
    EXPECT_FALSE(licence->text()->isEmpty());
}

TEST_F(RootViewTest, RunOutlivesItsScreenAndTheScreenShownAgainJoinsIt) {
    Gate gate;
    loadSampleConfiguration();
    const SampleApp app = sampleApps().first();
    model().selectedAppsForInstallation = {model().deviceApplicationsModel()->apps.first()};
    EXPECT_CALL(*permissions, requestAdminPrivileges()).Times(1).WillOnce(Return(true));
    EXPECT_CALL(*pkgHelper, isInstallationNeeded(app.pkgId(), _)).WillOnce([&gate](auto&&...) {
        return afterGate(&gate, false);
    });
    EXPECT_CALL(*permissions, releaseAuthorization()).Times(1);

    root();
    coordinator.push(Screen::installer);
    settle();
    QPointer<ScreenView> first = root().currentView();
    click(buttonWithKey(*first, QStringLiteral("button.cancel")));
    settle();
    EXPECT_TRUE(model().isInstallationCancelled());
    EXPECT_FALSE(first);

    click(buttonWithKey(*root().currentView(), QStringLiteral("button.no")));
    settle();
    auto* again = qobject_cast<InstallManagerScreenView*>(root().currentView());
    ASSERT_NE(again, nullptr);
    EXPECT_FALSE(again->doneButton()->isEnabled());

    gate.open();
    settle();
    EXPECT_TRUE(again->doneButton()->isEnabled());
    EXPECT_FALSE(again->cancelButton()->isEnabled());
    EXPECT_EQ(model().tasksToRun().first().state, ToInstallListItemViewState::done);
}

} // namespace
} // namespace tarn::test
