#include "services/NetlinkPathSource.h"

#include "services/NetworkMonitor.h"
#include "support/Mocks.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QThread>
#include <gmock/gmock.h>

#include <cstddef>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <thread>

namespace tarn {

using namespace Qt::StringLiterals;
namespace {

using enum NetworkPathStatus;
constexpr unsigned upAndRunning = IFF_UP | IFF_RUNNING;
constexpr quint32 ourPort = 4242;

// Builds rtnetlink messages as the kernel lays them out.
template <typename T>
QByteArray bytes(const T& value) {
    return QByteArray(reinterpret_cast<const char*>(&value), sizeof value);
}

QByteArray attribute(quint16 type, const QByteArray& payload) {
    const rtattr header{static_cast<unsigned short>(RTA_LENGTH(payload.size())), type};
    return (bytes(header) + payload).leftJustified(RTA_ALIGN(header.rta_len), '\0');
}

template <typename Body>
QByteArray message(quint16 type, const Body& body, const QByteArray& attributes = {}, quint32 sequence = 0,
                   quint32 port = 0, quint16 flags = 0) {
    const QByteArray fixed = bytes(body).leftJustified(NLMSG_ALIGN(sizeof body), '\0');
    const nlmsghdr header{quint32(NLMSG_HDRLEN + fixed.size() + attributes.size()), type, flags, sequence, port};
    return bytes(header).leftJustified(NLMSG_HDRLEN, '\0') + fixed + attributes;
}

QByteArray linkMessage(int index, const char* name, unsigned flags) {
    ifinfomsg info{};
    info.ifi_index = index;
    info.ifi_flags = flags;
    return message(RTM_NEWLINK, info, attribute(IFLA_IFNAME, QByteArray(name) + '\0'));
}

QByteArray routeMessage(const QByteArray& attributes, unsigned char table = RT_TABLE_MAIN, quint32 sequence = 0,
                        quint32 port = 0) {
    rtmsg info{};
    info.rtm_family = AF_INET;
    info.rtm_table = table;
    info.rtm_type = RTN_UNICAST;
    return message(RTM_NEWROUTE, info, attributes, sequence, port);
}

QByteArray defaultRoute(int outputInterface) {
    return routeMessage(attribute(RTA_OIF, bytes(quint32(outputInterface))));
}

NetworkRoute route(int oif, int prefixLength = 0, unsigned type = RTN_UNICAST, unsigned table = RT_TABLE_MAIN,
                   int family = AF_INET) {
    return {family, table, type, prefixLength, {oif}};
}

TEST(EvaluateNetworkPathTest, SatisfiedExactlyThroughUsableDefaultRoutes) {
    const QList<NetworkLink> machine{{1, "lo", upAndRunning | IFF_LOOPBACK},
                                     {2, "eth0", upAndRunning},
                                     {3, "wlan0", upAndRunning},
                                     {4, "eth1", IFF_UP}};
    const std::tuple<const char*, QList<NetworkRoute>, QStringList> cases[] = {
            {"default through ethernet", {route(2)}, {"eth0"}},
            {"no routes", {}, {}},
            {"only a local subnet", {route(2, 24)}, {}},
            {"default through loopback", {route(1)}, {}},
            {"default through an interface without carrier", {route(4)}, {}},
            {"default through an unknown interface", {route(9)}, {}},
            {"unreachable default", {route(2, 0, RTN_UNREACHABLE)}, {}},
            {"default in the local table", {route(2, 0, RTN_UNICAST, RT_TABLE_LOCAL)}, {}},
            {"default in a policy table", {route(3, 0, RTN_UNICAST, 100)}, {"wlan0"}},
            {"IPv6 only", {route(3, 0, RTN_UNICAST, RT_TABLE_MAIN, AF_INET6)}, {"wlan0"}},
            {"multipath with one usable hop", {NetworkRoute{AF_INET, RT_TABLE_MAIN, RTN_UNICAST, 0, {4, 2}}}, {"eth0"}},
            {"several interfaces, sorted", {route(3), route(2), route(2)}, {"eth0", "wlan0"}},
    };
    for (const auto& [name, routes, usableInterfaces] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(evaluateNetworkPath(machine, routes),
                  (NetworkPath{usableInterfaces.isEmpty() ? unsatisfied : satisfied, usableInterfaces}));
    }
}

TEST(NetlinkMessagesTest, LinkAndRouteMessagesAreParsedAndMalformedOnesRefused) {
    const auto link = parseLinkMessage(linkMessage(7, "enp3s0", upAndRunning)).value_or(NetworkLink{});
    EXPECT_EQ(std::tuple(link.index, link.name, link.flags), std::tuple(7, u"enp3s0"_s, upAndRunning));
    const QByteArray hops = bytes(rtnexthop{sizeof(rtnexthop), 0, 0, 3}) + bytes(rtnexthop{sizeof(rtnexthop), 0, 0, 4});
    // The real table is in RTA_TABLE when it does not fit a byte.
    const auto parsed =
            parseRouteMessage(routeMessage(attribute(RTA_TABLE, bytes(1000u)) + attribute(RTA_MULTIPATH, hops), 0))
                    .value_or(NetworkRoute{});
    EXPECT_EQ(std::tuple(parsed.family, parsed.table, parsed.outputInterfaces),
              std::tuple(AF_INET, 1000u, QList({3, 4})));

    const QByteArray good = linkMessage(7, "eth0", upAndRunning);
    QByteArray overlong = attribute(IFLA_IFNAME, "eth0");
    overlong[0] = char(0x7f); // the attribute claims to run past the message
    const std::pair<const char*, QByteArray> links[] = {
            {"claims more bytes than it has", good.first(good.size() - 4)},
            {"no room for its fixed part", good.first(NLMSG_HDRLEN)},
            {"attribute past the end", message(RTM_NEWLINK, ifinfomsg{}, overlong)}};
    for (const auto& [name, bytes] : links) {
        EXPECT_FALSE(parseLinkMessage(bytes)) << name;
    }
    EXPECT_FALSE(parseRouteMessage(good)) << "a link is not a route";
    EXPECT_FALSE(parseRouteMessage(routeMessage(attribute(RTA_MULTIPATH, bytes(rtnexthop{200, 0, 0, 1})))))
            << "next hop past its attribute";
}

// A source without a socket: the test plays the kernel.
class NetlinkPathSourceTest : public ::testing::Test {
protected:
    NetlinkPathSourceTest() {
        source.start([this](NetworkPathStatus status) { reports.append(status); });
    }

    // Answers the pending dump of `type` with `replies`, as replies to our request.
    void answer(quint16 type, const QList<QByteArray>& replies, quint16 doneFlags = NLM_F_MULTI) {
        ASSERT_FALSE(requests.isEmpty());
        ASSERT_EQ(requests.last().first, type);
        const quint32 sequence = requests.last().second;
        QByteArray datagram;
        for (QByteArray reply : replies) { // addressed to our request
            datagram += reply.replace(offsetof(nlmsghdr, nlmsg_seq), 8, bytes(sequence) + bytes(ourPort));
        }
        source.receive(datagram + message(NLMSG_DONE, 0, {}, sequence, ourPort, doneFlags));
    }

    // After a change notification when `notify`, the link dump and then the route dump.
    void answerDumps(const QList<QByteArray>& routes, bool notify = true, quint16 routeDoneFlags = NLM_F_MULTI) {
        if (notify) {
            source.receive(defaultRoute(2));
        }
        answer(RTM_GETLINK, links);
        answer(RTM_GETROUTE, routes, routeDoneFlags);
    }

    QList<QPair<quint16, quint32>> requests;
    QList<NetworkPathStatus> reports;
    NetlinkPathSource source{[this](quint16 type, quint32 sequence) {
                                 requests.append({type, sequence});
                                 return true;
                             },
                             ourPort};
    const QList<QByteArray> links{linkMessage(1, "lo", upAndRunning | IFF_LOOPBACK),
                                  linkMessage(2, "eth0", upAndRunning), linkMessage(3, "wlan0", upAndRunning)};
};

TEST_F(NetlinkPathSourceTest, ReportsTheStateOnceAtStartThenOnlyChangesAndDumpsOnceMoreForABurst) {
    answerDumps({defaultRoute(2)}, false);
    EXPECT_EQ(reports, QList({satisfied}));
    answerDumps({defaultRoute(2)}); // something changed, but not the path
    EXPECT_EQ(reports, QList({satisfied}));
    answerDumps({defaultRoute(3)}); // another interface carries the path
    EXPECT_EQ(reports, QList({satisfied, satisfied}));
    for (int i = 0; i < 5; ++i) {
        source.receive(defaultRoute(2));
    }
    EXPECT_EQ(requests.size(), 7) << "a dump is already running";
    answerDumps({}, false); // the default route is gone
    EXPECT_EQ(requests.size(), 9) << "one more dump for the whole burst";
    answerDumps({defaultRoute(2)}, false);
    EXPECT_EQ(reports, QList({satisfied, satisfied, unsatisfied, satisfied}));
    EXPECT_EQ(requests.size(), 10);
}

TEST_F(NetlinkPathSourceTest, RepliesToOthersAreIgnoredAndAnInterruptedOrFailedDumpIsReadAgain) {
    const quint32 sequence = requests.last().second;
    // Same sequence, another port: a notification caused by another program's request.
    source.receive(routeMessage(attribute(RTA_OIF, bytes(2u)), RT_TABLE_MAIN, sequence, ourPort + 1) +
                   message(NLMSG_DONE, 0, {}, sequence, ourPort + 1, NLM_F_MULTI));
    EXPECT_EQ(requests.last().first, RTM_GETLINK) << "still waiting for our own link dump";

    answerDumps({defaultRoute(2)}, false, NLM_F_MULTI | NLM_F_DUMP_INTR);
    EXPECT_TRUE(reports.isEmpty());
    answer(RTM_GETLINK, links); // the dump read again fails half way: the first report all the same
    source.receive(message(NLMSG_ERROR, nlmsgerr{-EBUSY, {}}, {}, requests.last().second, ourPort));
    EXPECT_EQ(reports, QList({unsatisfied}));
    answerDumps({defaultRoute(2)}); // the next change tries again
    EXPECT_EQ(reports, QList({unsatisfied, satisfied}));
}

TEST(NetlinkPathSourceSocketTest, ReportsTheCurrentStateSoonAfterStart) {
    // Whatever the machine's network, the kernel's tables (or their absence) give one first report.
    NetlinkPathSource source;
    QList<NetworkPathStatus> reports;
    source.start([&](NetworkPathStatus status) { reports.append(status); });
    EXPECT_TRUE(test::processEventsUntil([&] { return !reports.isEmpty(); }, std::chrono::seconds(10)));
}

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
