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

    // Pushes `screens` one by one, as the screens' buttons do.
    void pushAll(std::initializer_list<Screen> screens) {
        for (const Screen screen : screens) {
            coordinator.push(screen);
            settle();
        }
    }

    std::shared_ptr<test::RecordingWindowHost> host = std::make_shared<test::RecordingWindowHost>();
    Coordinator coordinator{host};
};

TEST_F(CoordinatorTest, PushIsRecordedAtOnceAndShownInOrderOnTheNextTurn) {
    EXPECT_EQ(coordinator.currentScreen(), Screen::welcome);
    QList<Screen> seen;
    const Subscription subscription = coordinator.currentScreen.subscribe([&](Screen screen) { seen.append(screen); });
    coordinator.push(Screen::eula);
    coordinator.push(Screen::legal);
    EXPECT_THAT(coordinator.stack, ElementsAre(Screen::welcome, Screen::eula, Screen::legal));
    EXPECT_THAT(seen, ElementsAre(Screen::welcome));
    settle();
    EXPECT_THAT(seen, ElementsAre(Screen::welcome, Screen::eula, Screen::legal));

    coordinator.pop();
    settle();
    EXPECT_EQ(coordinator.currentScreen(), Screen::eula);
    EXPECT_THAT(coordinator.stack, ElementsAre(Screen::welcome, Screen::eula));

    coordinator.quit();
    EXPECT_EQ(host->terminationRequests, 1);
    settle();
    EXPECT_THAT(coordinator.stack, ElementsAre(Screen::welcome, Screen::eula)) << "quitting changes no screen";
}

TEST_F(CoordinatorTest, PopOnTheLastScreenEmptiesTheHistoryAndShowsWelcome) {
    for (int time = 0; time < 2; ++time) {
        coordinator.pop();
        settle();
        EXPECT_TRUE(coordinator.stack.isEmpty());
        EXPECT_EQ(coordinator.currentScreen(), Screen::welcome);
    }
}

TEST_F(CoordinatorTest, NavigatedSearchIsNotRecordedSoBackAndTheNetworkingIssueReturnToConnect) {
    pushAll({Screen::eula, Screen::legal, Screen::deviceConnect});
    coordinator.navigate(Screen::deviceSearch);
    settle();
    EXPECT_EQ(coordinator.currentScreen(), Screen::deviceSearch);
    EXPECT_EQ(coordinator.stack.last(), Screen::deviceConnect);
    coordinator.showNetworkingIssue();
    coordinator.pop();
    settle();
    EXPECT_EQ(coordinator.currentScreen(), Screen::deviceConnect);

    coordinator.navigate(Screen::deviceSearch);
    pushAll({Screen::deviceDetected});
    coordinator.pop();
    settle();
    EXPECT_EQ(coordinator.currentScreen(), Screen::deviceConnect);
}

TEST_F(CoordinatorTest, NetworkingIssueLeavesWelcomeResultAndExitAlone) {
    for (const Screen screen : {Screen::welcome, Screen::installResult, Screen::exit}) {
        SCOPED_TRACE(screenName(screen).toStdString());
        if (screen != Screen::welcome) {
            pushAll({Screen::eula, screen});
        }
        const QList<Screen> before = coordinator.stack;
        coordinator.showNetworkingIssue();
        settle();
        EXPECT_EQ(coordinator.currentScreen(), screen);
        EXPECT_EQ(coordinator.stack, before);
    }
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
