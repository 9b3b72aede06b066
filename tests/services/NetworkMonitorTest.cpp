#include "services/NetworkMonitor.h"

#include "support/Mocks.h"

#include <QCoreApplication>
#include <QThread>
#include <gtest/gtest.h>

#include <thread>

namespace tarn {

using namespace Qt::StringLiterals;
namespace {

TEST(NetworkMonitorTest, OfflineUntilReportsFromAnotherThreadAreAppliedOnTheMainThreadInArrivalOrder) {
    auto source = std::make_shared<test::FakeNetworkPathSource>();
    NetworkMonitor monitor(source);
    EXPECT_TRUE(source->started());
    EXPECT_FALSE(monitor.isConnected());
    QList<bool> seen;
    QList<QThread*> threads;
    QStringList calls;
    const Subscription subscription = monitor.isConnected.subscribe([&](bool connected) {
        seen.append(connected);
        threads.append(QThread::currentThread());
    });
    seen.clear();
    threads.clear();
    monitor.onInternetAvailable = [&] { calls.append(u"available"_s); };
    monitor.onInternetUnavailable = [&] { calls.append(u"unavailable"_s); };
    const NetworkPathStatus statuses[] = {NetworkPathStatus::satisfied, NetworkPathStatus::satisfied,
                                          NetworkPathStatus::requiresConnection, NetworkPathStatus::unsatisfied};

    std::thread reporter([&] {
        for (int i = 0; i < 40; ++i) {
            source->report(statuses[i % 4]);
        }
    });
    reporter.join();
    EXPECT_TRUE(seen.isEmpty()) << "applied on a later turn of the main queue, not inside the report";
    EXPECT_FALSE(monitor.isConnected());
    test::drainPostedEvents();

    ASSERT_EQ(seen.size(), 40);
    for (int i = 0; i < 40; ++i) {
        EXPECT_EQ(seen[i], i % 4 < 2) << i;
        EXPECT_EQ(calls[i], i % 4 < 2 ? u"available"_s : u"unavailable"_s) << i;
        EXPECT_EQ(threads[i], QCoreApplication::instance()->thread());
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
