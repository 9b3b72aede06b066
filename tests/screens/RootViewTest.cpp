#include "screens/RootView.h"

#include "components/ToInstallListItemView.h"
#include "screens/ConsentScreenView.h"
#include "screens/InstallManagerScreenView.h"
#include "support/Gate.h"
#include "support/ScreenFixture.h"

#include <QPointer>
#include <QPropertyAnimation>
#include <QTextBrowser>
#include <QTextDocument>

namespace tarn::test {
namespace {

class RootViewTest : public ScreenTest {
protected:
    RootViewTest() {
        goOnline();
        showScreen<RootView>();
    }

    RootView& root() { return *static_cast<RootView*>(stage->content()); }
    CustomButtonView* button(const QString& key) { return buttonWithKey(*root().currentView(), key); }
    // Lets only the navigation's deferred change land, not the work the new screen starts.
    void navigationOnly() { QCoreApplication::sendPostedEvents(&coordinator, QEvent::MetaCall); }
};

TEST_F(RootViewTest, EveryScreenChangeBuildsAFreshViewAndTheFadeTakesNoClicks) {
    QPointer<ScreenView> welcome = root().currentView();
    ASSERT_TRUE(welcome && welcome->hasAppeared());
    coordinator.push(Screen::eula);
    EXPECT_EQ(root().currentView(), welcome) << "the change lands on the next turn";
    navigationOnly();
    EXPECT_FALSE(welcome) << "the welcome view is deleted as the licence arrives";
    ASSERT_TRUE(qobject_cast<ConsentScreenView*>(root().currentView()));
    EXPECT_TRUE(root().currentView()->hasAppeared());

    // The old screen's picture, held half faded over the new one, lets the clicks through.
    root().transition()->pause();
    root().transition()->setCurrentTime(RootView::transitionMilliseconds / 2);
    model().isEulaAccepted = true;
    click(button(u"button.next"_s));
    settle();
    EXPECT_EQ(coordinator.currentScreen(), Screen::legal);
}

TEST_F(RootViewTest, CancelOnEveryScreenAsksAndNoComesBackToAFreshScreen) {
    detect(sampleCatalogue().first());
    serveConfiguration(sampleCatalogue().first());
    for (const Screen screen :
         {Screen::eula, Screen::legal, Screen::deviceConnect, Screen::deviceDetected, Screen::appManager}) {
        SCOPED_TRACE(screenName(screen).toStdString());
        walkTo({screen});
        QPointer<ScreenView> before = root().currentView();
        click(button(u"button.cancel"_s));
        settle();
        EXPECT_EQ(coordinator.currentScreen(), Screen::exit);
        click(button(u"button.no"_s));
        settle();
        EXPECT_EQ(root().shownScreen(), screen);
        EXPECT_FALSE(before);
    }
    goOffline();
    click(button(u"button.cancel"_s));
    settle();
    EXPECT_EQ(coordinator.currentScreen(), Screen::exit) << "the no-connection screen";
}

TEST_F(RootViewTest, LostConnectionShowsTheNoConnectionScreenAtOnceAndItsReturnOrRetryGoesBack) {
    walkTo({Screen::eula});
    const QList<Screen> lost{Screen::welcome, Screen::eula, Screen::networkingIssue};
    pathSource->report(NetworkPathStatus::unsatisfied);
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(root().shownScreen(), Screen::networkingIssue);
    EXPECT_EQ(coordinator.stack, lost);
    goOffline(); // a second report of the loss changes nothing
    EXPECT_EQ(coordinator.stack, lost);
    goOnline();
    EXPECT_EQ(coordinator.stack, lost.first(2));

    goOffline();
    click(button(u"button.retry"_s));
    settle();
    EXPECT_EQ(coordinator.currentScreen(), Screen::eula) << "Retry does not test the connection";
    goOffline();
    EXPECT_EQ(coordinator.currentScreen(), Screen::networkingIssue) << "the next delivered loss brings it back";
}

TEST_F(RootViewTest, ConnectionRegainedOnTheSearchScreenReturnsToConnect) {
    Gate usbAnswer;
    loadCatalogue(sampleCatalogue());
    EXPECT_CALL(*usb, findMatchingUSBDevices(_)).WillRepeatedly([&usbAnswer](auto&&...) {
        return afterGate(&usbAnswer, QList<USBDeviceModel>{{0x2F1A, 0x600, QString(), QString()}});
    });
    walkTo({Screen::deviceConnect});
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
    walkTo({Screen::eula});
    const QList<Screen> withResult{Screen::welcome, Screen::eula, Screen::installResult};
    const QString unreachable = u"The T.A.R.N. service could not be reached"_s;
    for (const QString& text : {unreachable, unreachable, QString()}) {
        model().fatalErrorMessage = text;
        settle();
        EXPECT_EQ(coordinator.stack, withResult) << "once, for the first text only";
    }
    // During a run the installation screen reports the error itself.
    model().shouldProcessFatalError = false;
    model().fatalErrorMessage = u"A downloaded file failed its integrity check"_s;
    settle();
    EXPECT_EQ(coordinator.stack, withResult);
}

TEST_F(RootViewTest, DocumentArrivingForAGoneScreenIsDropped) {
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
    EXPECT_FALSE(root().currentView()->findChild<QTextBrowser*>()->document()->isEmpty());
}

// The run goes on behind the cancel confirmation, the screen shown again joins it, and a failed run
// hands over to the result as a successful one does.
TEST_F(RootViewTest, RunOutlivesItsScreenAndTheScreenShownAgainJoinsIt) {
    Gate installed;
    loadSampleConfiguration();
    const SampleApp capture = sampleApps().first();
    model().selectedAppsForInstallation = {model().deviceApplicationsModel()->apps.first()};
    EXPECT_CALL(*pkgHelper, isInstallationNeeded(capture.pkgId(), _)).WillOnce([&installed](auto&&...) {
        return afterGate(&installed, true);
    });
    EXPECT_CALL(*rest, downloadFile(capture.installerUrl(), _)).WillOnce(ThrowTask<QUrl>(std::runtime_error("gone")));
    EXPECT_CALL(*permissions, releaseAuthorization());
    walkTo({Screen::installer});
    const auto rows = [this] { return qobject_cast<InstallManagerScreenView*>(root().currentView())->rows(); };
    ASSERT_EQ(rows().size(), 1);
    EXPECT_EQ(rows().first()->name(), u"TARN Capture"_s);
    EXPECT_EQ(rows().first()->state(), ToInstallListItemViewState::processing);
    EXPECT_FALSE(button(u"button.done"_s)->isEnabled());
    click(button(u"button.cancel"_s));
    settle();
    EXPECT_TRUE(model().isInstallationCancelled());
    click(button(u"button.no"_s));
    settle();
    EXPECT_FALSE(button(u"button.done"_s)->isEnabled());

    installed.open();
    settle();
    EXPECT_EQ(rows().first()->state(), ToInstallListItemViewState::failed);
    EXPECT_TRUE(button(u"button.done"_s)->isEnabled()) << "a failed run hands over too";
    EXPECT_FALSE(button(u"button.cancel"_s)->isEnabled());
    click(button(u"button.done"_s));
    settle();
    EXPECT_EQ(coordinator.currentScreen(), Screen::installResult);
}

} // namespace
} // namespace tarn::test
