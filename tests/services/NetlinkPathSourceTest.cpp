#include "services/NetlinkPathSource.h"

#include "support/TestSupport.h"

#include <QList>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>

namespace tarn {
namespace {

constexpr unsigned upAndRunning = IFF_UP | IFF_RUNNING;
constexpr quint32 ourPort = 4242;

// Builds rtnetlink messages as the kernel lays them out.
QByteArray attribute(quint16 type, const QByteArray& payload) {
    rtattr header{};
    header.rta_len = RTA_LENGTH(payload.size());
    header.rta_type = type;
    QByteArray bytes(reinterpret_cast<const char*>(&header), sizeof header);
    bytes += payload;
    bytes.append(RTA_ALIGN(header.rta_len) - header.rta_len, '\0');
    return bytes;
}

QByteArray u32(quint32 value) {
    return QByteArray(reinterpret_cast<const char*>(&value), sizeof value);
}

template <typename Body>
QByteArray message(quint16 type, const Body& body, const QByteArray& attributes, quint32 sequence, quint32 port,
                   quint16 flags = 0) {
    QByteArray fixed(reinterpret_cast<const char*>(&body), sizeof body);
    fixed.append(NLMSG_ALIGN(sizeof body) - sizeof body, '\0');
    nlmsghdr header{};
    header.nlmsg_len = NLMSG_HDRLEN + fixed.size() + attributes.size();
    header.nlmsg_type = type;
    header.nlmsg_flags = flags;
    header.nlmsg_seq = sequence;
    header.nlmsg_pid = port;
    QByteArray bytes(reinterpret_cast<const char*>(&header), sizeof header);
    bytes.append(NLMSG_HDRLEN - sizeof header, '\0');
    return bytes + fixed + attributes;
}

QByteArray linkMessage(int index, const QString& name, unsigned flags, quint32 sequence = 0, quint32 port = 0) {
    ifinfomsg info{};
    info.ifi_index = index;
    info.ifi_flags = flags;
    return message(RTM_NEWLINK, info, attribute(IFLA_IFNAME, name.toUtf8() + '\0'), sequence, port);
}

QByteArray defaultRoute(int outputInterface, quint32 sequence = 0, quint32 port = 0, int family = AF_INET) {
    rtmsg info{};
    info.rtm_family = family;
    info.rtm_table = RT_TABLE_MAIN;
    info.rtm_type = RTN_UNICAST;
    return message(RTM_NEWROUTE, info, attribute(RTA_OIF, u32(outputInterface)), sequence, port);
}

QByteArray done(quint32 sequence, quint32 port = ourPort, quint16 flags = NLM_F_MULTI) {
    return message(NLMSG_DONE, 0, {}, sequence, port, flags);
}

NetworkLink link(int index, const char* name, unsigned flags) {
    return {index, QString::fromLatin1(name), flags};
}

NetworkRoute route(int oif, int prefixLength = 0, unsigned type = RTN_UNICAST, unsigned table = RT_TABLE_MAIN,
                   int family = AF_INET) {
    return {family, table, type, prefixLength, {oif}};
}

// The routing situations that decide reachability.
struct PathCase {
    const char* name;
    QList<NetworkLink> links;
    QList<NetworkRoute> routes;
    QStringList usableInterfaces;
};

class EvaluateNetworkPathTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(EvaluateNetworkPathTest, SatisfiedExactlyThroughUsableDefaultRoutes) {
    const NetworkPath path = evaluateNetworkPath(GetParam().links, GetParam().routes);
    EXPECT_EQ(path.interfaces, GetParam().usableInterfaces);
    EXPECT_EQ(path.status,
              GetParam().usableInterfaces.isEmpty() ? NetworkPathStatus::unsatisfied : NetworkPathStatus::satisfied);
}

const QList<NetworkLink> machine{link(1, "lo", IFF_UP | IFF_RUNNING | IFF_LOOPBACK), link(2, "eth0", upAndRunning),
                                 link(3, "wlan0", upAndRunning), link(4, "eth1", IFF_UP), link(5, "eth2", 0)};

INSTANTIATE_TEST_SUITE_P(
        Routes, EvaluateNetworkPathTest,
        ::testing::Values(
                PathCase{"DefaultThroughEthernet", machine, {route(2)}, {"eth0"}},
                PathCase{"NoRoutes", machine, {}, {}}, PathCase{"OnlyALocalSubnet", machine, {route(2, 24)}, {}},
                PathCase{"DefaultThroughLoopback", machine, {route(1)}, {}},
                PathCase{"DefaultThroughInterfaceWithoutCarrier", machine, {route(4)}, {}},
                PathCase{"DefaultThroughInterfaceThatIsDown", machine, {route(5)}, {}},
                PathCase{"DefaultThroughUnknownInterface", machine, {route(9)}, {}},
                PathCase{"UnreachableDefault", machine, {route(2, 0, RTN_UNREACHABLE)}, {}},
                PathCase{"DefaultInTheLocalTable", machine, {route(2, 0, RTN_UNICAST, RT_TABLE_LOCAL)}, {}},
                PathCase{"DefaultInAPolicyTable", machine, {route(3, 0, RTN_UNICAST, 100)}, {"wlan0"}},
                PathCase{"IPv6Only", machine, {route(3, 0, RTN_UNICAST, RT_TABLE_MAIN, AF_INET6)}, {"wlan0"}},
                PathCase{"MultipathWithOneUsableHop",
                         machine,
                         {NetworkRoute{AF_INET, RT_TABLE_MAIN, RTN_UNICAST, 0, {4, 2}}},
                         {"eth0"}},
                PathCase{"SeveralInterfacesSorted", machine, {route(3), route(2), route(2)}, {"eth0", "wlan0"}}),
        [](const auto& info) { return std::string(info.param.name); });

TEST(NetlinkMessagesTest, LinkAndRouteMessagesAreParsed) {
    const auto parsedLink = parseLinkMessage(linkMessage(7, QStringLiteral("enp3s0"), upAndRunning));
    ASSERT_TRUE(parsedLink);
    EXPECT_EQ(parsedLink->index, 7);
    EXPECT_EQ(parsedLink->name, QStringLiteral("enp3s0"));
    EXPECT_EQ(parsedLink->flags, upAndRunning);

    rtmsg info{};
    info.rtm_family = AF_INET6;
    info.rtm_table = RT_TABLE_UNSPEC; // the real table is in RTA_TABLE when it does not fit a byte
    info.rtm_type = RTN_UNICAST;
    info.rtm_dst_len = 0;
    QByteArray hops;
    for (const int index : {3, 4}) {
        rtnexthop hop{};
        hop.rtnh_len = sizeof hop;
        hop.rtnh_ifindex = index;
        hops += QByteArray(reinterpret_cast<const char*>(&hop), sizeof hop);
    }
    const auto parsedRoute = parseRouteMessage(
            message(RTM_NEWROUTE, info, attribute(RTA_TABLE, u32(1000)) + attribute(RTA_MULTIPATH, hops), 0, 0));
    ASSERT_TRUE(parsedRoute);
    EXPECT_EQ(parsedRoute->family, AF_INET6);
    EXPECT_EQ(parsedRoute->table, 1000u);
    EXPECT_EQ(parsedRoute->outputInterfaces, QList<int>({3, 4}));
}

TEST(NetlinkMessagesTest, MalformedMessagesAreRefused) {
    const QByteArray good = linkMessage(7, QStringLiteral("eth0"), upAndRunning);
    EXPECT_FALSE(parseLinkMessage(good.first(good.size() - 4))) << "claims more bytes than it has";
    EXPECT_FALSE(parseLinkMessage(good.first(NLMSG_HDRLEN))) << "no room for its fixed part";
    EXPECT_FALSE(parseRouteMessage(good)) << "a link is not a route";

    ifinfomsg info{};
    QByteArray overlong = attribute(IFLA_IFNAME, "eth0");
    overlong[0] = char(0x7f); // the attribute claims to run past the message
    EXPECT_FALSE(parseLinkMessage(message(RTM_NEWLINK, info, overlong, 0, 0)));

    rtmsg routeInfo{};
    rtnexthop hop{};
    hop.rtnh_len = 200; // past its attribute
    EXPECT_FALSE(parseRouteMessage(
            message(RTM_NEWROUTE, routeInfo,
                    attribute(RTA_MULTIPATH, QByteArray(reinterpret_cast<const char*>(&hop), sizeof hop)), 0, 0)));
}

// A source without a socket: the test plays the kernel.
class NetlinkPathSourceTest : public ::testing::Test {
protected:
    NetlinkPathSourceTest() {
        source.start([this](NetworkPathStatus status) { reports.append(status); });
    }

    // Answers the pending link and route dumps with these tables.
    void answerDumps(const QList<QByteArray>& linkReplies, const QList<QByteArray>& routeReplies,
                     quint16 routeDoneFlags = NLM_F_MULTI) {
        ASSERT_FALSE(requests.isEmpty());
        ASSERT_EQ(requests.last().first, RTM_GETLINK);
        quint32 sequence = requests.last().second;
        QByteArray datagram;
        for (const auto& reply : linkReplies) {
            datagram += reply;
        }
        // The dump replies carry our port and the request's sequence number.
        for (qsizetype offset = 0; offset < datagram.size();) {
            nlmsghdr header;
            std::memcpy(&header, datagram.constData() + offset, sizeof header);
            header.nlmsg_seq = sequence;
            header.nlmsg_pid = ourPort;
            std::memcpy(datagram.data() + offset, &header, sizeof header);
            offset += NLMSG_ALIGN(header.nlmsg_len);
        }
        source.receive(datagram + done(sequence));

        ASSERT_EQ(requests.last().first, RTM_GETROUTE);
        sequence = requests.last().second;
        datagram.clear();
        for (const auto& reply : routeReplies) {
            datagram += reply;
        }
        for (qsizetype offset = 0; offset < datagram.size();) {
            nlmsghdr header;
            std::memcpy(&header, datagram.constData() + offset, sizeof header);
            header.nlmsg_seq = sequence;
            header.nlmsg_pid = ourPort;
            std::memcpy(datagram.data() + offset, &header, sizeof header);
            offset += NLMSG_ALIGN(header.nlmsg_len);
        }
        source.receive(datagram + done(sequence, ourPort, routeDoneFlags));
    }

    void notifyRouteChange() { source.receive(defaultRoute(2)); }

    QList<QPair<quint16, quint32>> requests;
    bool sendSucceeds = true;
    QList<NetworkPathStatus> reports;
    NetlinkPathSource source{[this](quint16 type, quint32 sequence) {
                                 requests.append({type, sequence});
                                 return sendSucceeds;
                             },
                             ourPort};
    const QList<QByteArray> links{linkMessage(1, QStringLiteral("lo"), IFF_UP | IFF_RUNNING | IFF_LOOPBACK),
                                  linkMessage(2, QStringLiteral("eth0"), upAndRunning),
                                  linkMessage(3, QStringLiteral("wlan0"), upAndRunning)};
};

TEST_F(NetlinkPathSourceTest, ReportsTheStateOnceAtStartThenOnlyChanges) {
    answerDumps(links, {defaultRoute(2)});
    ASSERT_EQ(requests.size(), 2);
    EXPECT_EQ(reports, QList<NetworkPathStatus>({NetworkPathStatus::satisfied}));

    notifyRouteChange(); // something changed, but not the path
    answerDumps(links, {defaultRoute(2)});
    EXPECT_EQ(reports.size(), 1);

    notifyRouteChange(); // the default route is gone
    answerDumps(links, {});
    EXPECT_EQ(reports.last(), NetworkPathStatus::unsatisfied);
    EXPECT_EQ(reports.size(), 2);
}

TEST_F(NetlinkPathSourceTest, ANewInterfaceCarryingThePathIsReportedAgain) {
    answerDumps(links, {defaultRoute(2)});
    notifyRouteChange();
    answerDumps(links, {defaultRoute(3)});
    EXPECT_EQ(reports, QList<NetworkPathStatus>({NetworkPathStatus::satisfied, NetworkPathStatus::satisfied}));
}

TEST_F(NetlinkPathSourceTest, ABurstOfChangesDuringADumpMakesOneMoreDump) {
    for (int i = 0; i < 5; ++i) {
        notifyRouteChange();
    }
    EXPECT_EQ(requests.size(), 1) << "a dump is already running";
    answerDumps(links, {});
    EXPECT_EQ(requests.size(), 3) << "one more dump for the whole burst";
    EXPECT_EQ(requests.last().first, RTM_GETLINK);
    answerDumps(links, {defaultRoute(2)});
    EXPECT_EQ(reports, QList<NetworkPathStatus>({NetworkPathStatus::unsatisfied, NetworkPathStatus::satisfied}));
    EXPECT_EQ(requests.size(), 4);
}

TEST_F(NetlinkPathSourceTest, AnInterruptedDumpIsReadAgainBeforeAnythingIsReported) {
    answerDumps(links, {defaultRoute(2)}, NLM_F_MULTI | NLM_F_DUMP_INTR);
    EXPECT_TRUE(reports.isEmpty());
    answerDumps(links, {defaultRoute(2)});
    EXPECT_EQ(reports, QList<NetworkPathStatus>({NetworkPathStatus::satisfied}));
}

TEST_F(NetlinkPathSourceTest, RepliesToSomeoneElsesRequestAreNotTakenForOurs) {
    const quint32 sequence = requests.last().second;
    // Same sequence, another port: a notification caused by another program's request.
    source.receive(defaultRoute(2, sequence, ourPort + 1) + done(sequence, ourPort + 1));
    EXPECT_EQ(requests.last().first, RTM_GETLINK) << "still waiting for our own link dump";
    EXPECT_TRUE(reports.isEmpty());
}

TEST_F(NetlinkPathSourceTest, AFailedDumpStillGivesTheFirstReportAndTheNextChangeRetries) {
    const quint32 sequence = requests.last().second;
    nlmsgerr error{};
    error.error = -EBUSY;
    source.receive(message(NLMSG_ERROR, error, {}, sequence, ourPort));
    EXPECT_EQ(reports, QList<NetworkPathStatus>({NetworkPathStatus::unsatisfied}));

    notifyRouteChange();
    answerDumps(links, {defaultRoute(2)});
    EXPECT_EQ(reports.last(), NetworkPathStatus::satisfied);
}

TEST(NetlinkPathSourceSocketTest, ReportsTheCurrentStateSoonAfterStart) {
    // Whatever the machine's network, the kernel's tables (or their absence) give one first report.
    NetlinkPathSource source;
    QList<NetworkPathStatus> reports;
    source.start([&](NetworkPathStatus status) { reports.append(status); });
    EXPECT_TRUE(test::processEventsUntil([&] { return !reports.isEmpty(); }, std::chrono::seconds(10)));
}

} // namespace
} // namespace tarn
