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
    // Each step lands on its own turn, as the screens' buttons do.
    void steps(std::initializer_list<std::function<void(Coordinator&)>> actions) {
        for (const auto& action : actions) {
            action(coordinator);
            test::drainPostedEvents();
        }
    }
    static auto pop() {
        return [](Coordinator& c) { c.pop(); };
    }

    std::shared_ptr<test::RecordingWindowHost> host = std::make_shared<test::RecordingWindowHost>();
    Coordinator coordinator{host};
};

TEST_F(CoordinatorTest, PushIsRecordedAtOnceAndShownInOrderOnTheNextTurnAndQuitMovesNothing) {
    QList<Screen> seen;
    const Subscription subscription = coordinator.currentScreen.subscribe([&](Screen screen) { seen.append(screen); });
    coordinator.push(Screen::eula);
    coordinator.push(Screen::legal);
    EXPECT_THAT(coordinator.stack, ElementsAre(Screen::welcome, Screen::eula, Screen::legal));
    EXPECT_THAT(seen, ElementsAre(Screen::welcome));
    test::drainPostedEvents();
    EXPECT_THAT(seen, ElementsAre(Screen::welcome, Screen::eula, Screen::legal));
    steps({pop()});
    EXPECT_EQ(coordinator.currentScreen(), Screen::eula);
    EXPECT_THAT(coordinator.stack, ElementsAre(Screen::welcome, Screen::eula));
    steps({[](Coordinator& c) { c.quit(); }});
    EXPECT_EQ(host->terminationRequests, 1);
    EXPECT_THAT(coordinator.stack, ElementsAre(Screen::welcome, Screen::eula));

    // Pop on the last screen empties the history and shows welcome, however often.
    steps({pop(), pop(), pop()});
    EXPECT_TRUE(coordinator.stack.isEmpty());
    EXPECT_EQ(coordinator.currentScreen(), Screen::welcome);
}

TEST_F(CoordinatorTest, NetworkingIssueLeavesWelcomeResultAndExitAlone) {
    for (const Screen screen : {Screen::welcome, Screen::installResult, Screen::exit}) {
        SCOPED_TRACE(screenName(screen).toStdString());
        if (screen != Screen::welcome) {
            coordinator.push(screen);
            test::drainPostedEvents();
        }
        const QList<Screen> before = coordinator.stack;
        steps({[](Coordinator& c) { c.showNetworkingIssue(); }});
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
