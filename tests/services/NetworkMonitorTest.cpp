#include "services/NetworkMonitor.h"

#include "support/Mocks.h"

#include <QCoreApplication>
#include <QThread>
#include <gtest/gtest.h>

#include <thread>

namespace tarn {
namespace {

struct MonitorUnderTest {
    MonitorUnderTest() {
        subscription = monitor.isConnected.subscribe([this](bool connected) { seen.append(connected); });
        monitor.onInternetAvailable = [this] { calls.append(QStringLiteral("available")); };
        monitor.onInternetUnavailable = [this] { calls.append(QStringLiteral("unavailable")); };
        seen.clear();
    }

    std::shared_ptr<test::FakeNetworkPathSource> source = std::make_shared<test::FakeNetworkPathSource>();
    NetworkMonitor monitor{source};
    QList<bool> seen;
    QStringList calls;
    Subscription subscription;
};

TEST(NetworkMonitorTest, OfflineUntilTheFirstReportWhichArrivesOnTheMainQueue) {
    MonitorUnderTest m;
    EXPECT_TRUE(m.source->started());
    EXPECT_FALSE(m.monitor.isConnected());

    m.source->report(NetworkPathStatus::satisfied);
    EXPECT_FALSE(m.monitor.isConnected()) << "applied on a later turn of the main queue, not inside the report";
    test::drainPostedEvents();

    EXPECT_TRUE(m.monitor.isConnected());
}

TEST(NetworkMonitorTest, EveryReportAssignsAndCallsTheMatchingCallback) {
    MonitorUnderTest m;
    for (const auto status : {NetworkPathStatus::satisfied, NetworkPathStatus::satisfied,
                              NetworkPathStatus::requiresConnection, NetworkPathStatus::unsatisfied}) {
        m.source->report(status);
    }
    test::drainPostedEvents();

    EXPECT_EQ(m.seen, QList<bool>({true, true, false, false}));
    EXPECT_EQ(m.calls, QStringList({"available", "available", "unavailable", "unavailable"}));
}

TEST(NetworkMonitorTest, WithoutCallbacksReportsOnlyChangeTheFlag) {
    auto source = std::make_shared<test::FakeNetworkPathSource>();
    NetworkMonitor monitor(source);
    source->report(NetworkPathStatus::satisfied);
    test::drainPostedEvents();
    EXPECT_TRUE(monitor.isConnected());
}

TEST(NetworkMonitorTest, ReportsFromAnotherThreadAreAppliedOnTheMainThreadInArrivalOrder) {
    MonitorUnderTest m;
    QList<QThread*> threads;
    auto subscription = m.monitor.isConnected.subscribe([&](bool) { threads.append(QThread::currentThread()); });
    threads.clear();

    std::thread reporter([&] {
        for (int i = 0; i < 50; ++i) {
            m.source->report(i % 2 == 0 ? NetworkPathStatus::satisfied : NetworkPathStatus::unsatisfied);
        }
    });
    reporter.join();
    test::drainPostedEvents();

    ASSERT_EQ(m.seen.size(), 50);
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(m.seen[i], i % 2 == 0) << i;
    }
    for (QThread* thread : threads) {
        EXPECT_EQ(thread, QCoreApplication::instance()->thread());
    }
}

TEST(NetworkMonitorTest, ReportsQueuedForAMonitorThatIsGoneDoNothing) {
    auto source = std::make_shared<test::FakeNetworkPathSource>();
    bool called = false;
    {
        NetworkMonitor monitor(source);
        monitor.onInternetAvailable = [&] { called = true; };
        source->report(NetworkPathStatus::satisfied);
    }
    test::drainPostedEvents();
    source->report(NetworkPathStatus::satisfied); // the source outlives the monitor
    test::drainPostedEvents();
    EXPECT_FALSE(called);
}

} // namespace
} // namespace tarn
