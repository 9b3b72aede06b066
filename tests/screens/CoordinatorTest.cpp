#include "screens/Coordinator.h"

#include "support/RecordingWindowHost.h"
#include "support/TestSupport.h"

#include <gmock/gmock.h>

namespace tarn {
namespace {

using Screen = Coordinator::Screen;
using ::testing::ElementsAre;

class CoordinatorTest : public ::testing::Test {
protected:
    // Lets the deferred screen changes land.
    static void settle() { test::drainPostedEvents(); }

    // Walks the flow to `screen` the way the screens' buttons do.
    void walkTo(Screen screen) {
        const QList<Screen> route{Screen::eula, Screen::legal, Screen::deviceConnect};
        for (const Screen step : route) {
            if (coordinator.currentScreen() == screen) {
                return;
            }
            coordinator.push(step);
            settle();
        }
        if (screen == Screen::deviceConnect) {
            return;
        }
        coordinator.navigate(Screen::deviceSearch);
        settle();
        if (screen == Screen::deviceSearch) {
            return;
        }
        for (const Screen step : {Screen::deviceDetected, Screen::appManager, Screen::installer}) {
            coordinator.push(step);
            settle();
            if (step == screen) {
                return;
            }
        }
        FAIL() << "no route to " << screenName(screen).toStdString();
    }

    std::shared_ptr<test::RecordingWindowHost> host = std::make_shared<test::RecordingWindowHost>();
    Coordinator coordinator{host};
};

TEST_F(CoordinatorTest, StartsOnWelcome) {
    EXPECT_EQ(coordinator.currentScreen(), Screen::welcome);
    EXPECT_THAT(coordinator.stack, ElementsAre(Screen::welcome));
}

TEST_F(CoordinatorTest, PushRecordsAtOnceAndShowsOnTheNextTurn) {
    coordinator.push(Screen::eula);
    EXPECT_THAT(coordinator.stack, ElementsAre(Screen::welcome, Screen::eula));
    EXPECT_EQ(coordinator.currentScreen(), Screen::welcome);
    settle();
    EXPECT_EQ(coordinator.currentScreen(), Screen::eula);
}

TEST_F(CoordinatorTest, BackFromLegalShowsTheLicence) {
    walkTo(Screen::legal);
    coordinator.pop();
    settle();
    EXPECT_EQ(coordinator.currentScreen(), Screen::eula);
    EXPECT_THAT(coordinator.stack, ElementsAre(Screen::welcome, Screen::eula));
}

TEST_F(CoordinatorTest, PopOnTheLastScreenEmptiesTheHistoryAndShowsWelcome) {
    coordinator.pop();
    settle();
    EXPECT_TRUE(coordinator.stack.isEmpty());
    EXPECT_EQ(coordinator.currentScreen(), Screen::welcome);
    coordinator.pop();
    settle();
    EXPECT_TRUE(coordinator.stack.isEmpty());
    EXPECT_EQ(coordinator.currentScreen(), Screen::welcome);
}

TEST_F(CoordinatorTest, SearchScreenIsNotRecordedSoBackFromDetectedReturnsToConnect) {
    walkTo(Screen::deviceSearch);
    EXPECT_EQ(coordinator.currentScreen(), Screen::deviceSearch);
    EXPECT_EQ(coordinator.stack.last(), Screen::deviceConnect);
    coordinator.push(Screen::deviceDetected);
    settle();
    coordinator.pop();
    settle();
    EXPECT_EQ(coordinator.currentScreen(), Screen::deviceConnect);
}

TEST_F(CoordinatorTest, TwoNavigationsInOneHandlerEndOnTheLaterAndAreSeenInOrder) {
    QList<Screen> seen;
    const Subscription subscription = coordinator.currentScreen.subscribe([&](Screen screen) { seen.append(screen); });
    coordinator.push(Screen::eula);
    coordinator.push(Screen::legal);
    EXPECT_THAT(seen, ElementsAre(Screen::welcome));
    settle();
    EXPECT_THAT(seen, ElementsAre(Screen::welcome, Screen::eula, Screen::legal));
    EXPECT_EQ(coordinator.currentScreen(), Screen::legal);
}

class CancelThenNoTest : public CoordinatorTest, public ::testing::WithParamInterface<Screen> {};

TEST_P(CancelThenNoTest, ReturnsToTheSameScreen) {
    walkTo(GetParam());
    const QList<Screen> before = coordinator.stack;
    coordinator.push(Screen::exit);
    settle();
    EXPECT_EQ(coordinator.currentScreen(), Screen::exit);
    coordinator.pop();
    settle();
    EXPECT_EQ(coordinator.currentScreen(), GetParam());
    EXPECT_EQ(coordinator.stack, before);
}

INSTANTIATE_TEST_SUITE_P(WorkingScreens, CancelThenNoTest,
                         ::testing::Values(Screen::eula, Screen::legal, Screen::deviceConnect, Screen::deviceDetected,
                                           Screen::appManager, Screen::installer),
                         [](const auto& info) { return screenName(info.param).toStdString(); });

TEST_F(CoordinatorTest, NetworkingIssueShowsAtOnceAndRetryReturns) {
    walkTo(Screen::eula);
    coordinator.showNetworkingIssue();
    EXPECT_EQ(coordinator.currentScreen(), Screen::networkingIssue);
    EXPECT_EQ(coordinator.stack.last(), Screen::networkingIssue);
    coordinator.pop();
    settle();
    EXPECT_EQ(coordinator.currentScreen(), Screen::eula);
    EXPECT_THAT(coordinator.stack, ElementsAre(Screen::welcome, Screen::eula));
}

TEST_F(CoordinatorTest, NetworkingIssueOnTheSearchScreenReturnsToConnect) {
    walkTo(Screen::deviceSearch);
    coordinator.showNetworkingIssue();
    coordinator.pop();
    settle();
    EXPECT_EQ(coordinator.currentScreen(), Screen::deviceConnect);
}

class QuietScreensTest : public CoordinatorTest, public ::testing::WithParamInterface<Screen> {};

TEST_P(QuietScreensTest, NetworkingIssueChangesNothing) {
    if (GetParam() != Screen::welcome) {
        walkTo(Screen::legal);
        coordinator.push(GetParam());
        settle();
    }
    const QList<Screen> before = coordinator.stack;
    coordinator.showNetworkingIssue();
    settle();
    EXPECT_EQ(coordinator.currentScreen(), GetParam());
    EXPECT_EQ(coordinator.stack, before);
}

INSTANTIATE_TEST_SUITE_P(Screens, QuietScreensTest,
                         ::testing::Values(Screen::welcome, Screen::installResult, Screen::exit),
                         [](const auto& info) { return screenName(info.param).toStdString(); });

TEST_F(CoordinatorTest, QuitAsksTheWindowHostAndChangesNoScreen) {
    walkTo(Screen::legal);
    coordinator.push(Screen::exit);
    settle();
    coordinator.quit();
    EXPECT_EQ(host->terminationRequests, 1);
    settle();
    EXPECT_EQ(coordinator.currentScreen(), Screen::exit);
}

TEST(CoordinatorLifetimeTest, PendingNavigationOfAGoneCoordinatorNeverRuns) {
    auto coordinator = std::make_unique<Coordinator>();
    bool notified = false;
    const Subscription subscription =
            coordinator->currentScreen.subscribe([&](Screen screen) { notified = notified || screen == Screen::eula; });
    coordinator->push(Screen::eula);
    coordinator.reset();
    test::drainPostedEvents();
    EXPECT_FALSE(notified);
}

} // namespace
} // namespace tarn
