#include "services/NetworkMonitor.h"

#include "support/Mocks.h"

#include <QCoreApplication>
#include <QThread>
#include <gtest/gtest.h>

#include <thread>

namespace tarn {

using namespace Qt::StringLiterals;
namespace {

// Reports from another thread are applied on a later turn of the main queue, in arrival order; those
// queued for a monitor that is gone do nothing.
TEST(NetworkMonitorTest, ReportsFromAnotherThreadAreAppliedOnTheMainThreadInArrivalOrder) {
    auto source = std::make_shared<test::FakeNetworkPathSource>();
    std::optional<NetworkMonitor> monitor(std::in_place, source);
    EXPECT_TRUE(source->started());
    EXPECT_FALSE(monitor->isConnected());
    QStringList seen; // "connected callback" per report, on the main thread only
    const Subscription subscription = monitor->isConnected.subscribe([&](bool connected) {
        seen.append(QThread::currentThread() == QCoreApplication::instance()->thread() ? u"%1"_s.arg(connected)
                                                                                       : u"elsewhere"_s);
    });
    seen.clear();
    monitor->onInternetAvailable = [&] { seen.last() += u" available"_s; };
    monitor->onInternetUnavailable = [&] { seen.last() += u" unavailable"_s; };
    using enum NetworkPathStatus;
    const NetworkPathStatus statuses[] = {satisfied, satisfied, requiresConnection, unsatisfied};

    QStringList expected;
    std::thread([&] {
        for (int i = 0; i < 40; ++i) {
            source->report(statuses[i % 4]);
            expected.append(i % 4 < 2 ? u"1 available"_s : u"0 unavailable"_s);
        }
    }).join();
    EXPECT_TRUE(seen.isEmpty()) << "applied inside the report";
    test::drainPostedEvents();
    EXPECT_EQ(seen, expected);
    source->report(satisfied);
    monitor.reset();
    test::drainPostedEvents();
    source->report(satisfied); // the source outlives the monitor
    test::drainPostedEvents();
    EXPECT_EQ(seen, expected);
}

} // namespace
} // namespace tarn
