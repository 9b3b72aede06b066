#include "services/NetlinkPathSource.h"

#include "support/TestSupport.h"

#include <gmock/gmock.h>

#include <cstring>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>

namespace tarn {

using namespace Qt::StringLiterals;
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

QByteArray linkMessage(int index, const QString& name, unsigned flags) {
    ifinfomsg info{};
    info.ifi_index = index;
    info.ifi_flags = flags;
    return message(RTM_NEWLINK, info, attribute(IFLA_IFNAME, name.toUtf8() + '\0'), 0, 0);
}

QByteArray defaultRoute(int outputInterface, quint32 sequence = 0, quint32 port = 0) {
    rtmsg info{};
    info.rtm_family = AF_INET;
    info.rtm_table = RT_TABLE_MAIN;
    info.rtm_type = RTN_UNICAST;
    return message(RTM_NEWROUTE, info, attribute(RTA_OIF, u32(outputInterface)), sequence, port);
}

QByteArray done(quint32 sequence, quint32 port = ourPort, quint16 flags = NLM_F_MULTI) {
    return message(NLMSG_DONE, 0, {}, sequence, port, flags);
}

NetworkRoute route(int oif, int prefixLength = 0, unsigned type = RTN_UNICAST, unsigned table = RT_TABLE_MAIN,
                   int family = AF_INET) {
    return {family, table, type, prefixLength, {oif}};
}

TEST(EvaluateNetworkPathTest, SatisfiedExactlyThroughUsableDefaultRoutes) {
    const QList<NetworkLink> machine{{1, "lo", IFF_UP | IFF_RUNNING | IFF_LOOPBACK},
                                     {2, "eth0", upAndRunning},
                                     {3, "wlan0", upAndRunning},
                                     {4, "eth1", IFF_UP}};
    const struct {
        const char* name;
        QList<NetworkRoute> routes;
        QStringList usableInterfaces;
    } cases[] = {
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
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const NetworkPath path = evaluateNetworkPath(machine, c.routes);
        EXPECT_EQ(path.interfaces, c.usableInterfaces);
        EXPECT_EQ(path.status,
                  c.usableInterfaces.isEmpty() ? NetworkPathStatus::unsatisfied : NetworkPathStatus::satisfied);
    }
}

TEST(NetlinkMessagesTest, LinkAndRouteMessagesAreParsed) {
    const auto parsedLink = parseLinkMessage(linkMessage(7, u"enp3s0"_s, upAndRunning));
    ASSERT_TRUE(parsedLink);
    EXPECT_EQ(parsedLink->index, 7);
    EXPECT_EQ(parsedLink->name, u"enp3s0"_s);
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
    const QByteArray good = linkMessage(7, u"eth0"_s, upAndRunning);
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

    // Answers the pending dump of `type` with `replies`, as replies to our request.
    void answer(quint16 type, const QList<QByteArray>& replies, quint16 doneFlags = NLM_F_MULTI) {
        ASSERT_FALSE(requests.isEmpty());
        ASSERT_EQ(requests.last().first, type);
        const quint32 sequence = requests.last().second;
        QByteArray datagram;
        for (QByteArray reply : replies) {
            nlmsghdr header;
            std::memcpy(&header, reply.constData(), sizeof header);
            header.nlmsg_seq = sequence;
            header.nlmsg_pid = ourPort;
            std::memcpy(reply.data(), &header, sizeof header);
            datagram += reply;
        }
        source.receive(datagram + done(sequence, ourPort, doneFlags));
    }

    void answerDumps(const QList<QByteArray>& routes, quint16 routeDoneFlags = NLM_F_MULTI) {
        answer(RTM_GETLINK, links);
        answer(RTM_GETROUTE, routes, routeDoneFlags);
    }

    void notifyRouteChange() { source.receive(defaultRoute(2)); }

    QList<QPair<quint16, quint32>> requests;
    QList<NetworkPathStatus> reports;
    NetlinkPathSource source{[this](quint16 type, quint32 sequence) {
                                 requests.append({type, sequence});
                                 return true;
                             },
                             ourPort};
    const QList<QByteArray> links{linkMessage(1, u"lo"_s, IFF_UP | IFF_RUNNING | IFF_LOOPBACK),
                                  linkMessage(2, u"eth0"_s, upAndRunning), linkMessage(3, u"wlan0"_s, upAndRunning)};
};

TEST_F(NetlinkPathSourceTest, ReportsTheStateOnceAtStartThenOnlyChangesOfStatusOrInterfaces) {
    using enum NetworkPathStatus;
    answerDumps({defaultRoute(2)});
    ASSERT_EQ(requests.size(), 2);
    EXPECT_EQ(reports, QList({satisfied}));

    notifyRouteChange(); // something changed, but not the path
    answerDumps({defaultRoute(2)});
    EXPECT_EQ(reports, QList({satisfied}));

    notifyRouteChange(); // another interface carries the path
    answerDumps({defaultRoute(3)});
    EXPECT_EQ(reports, QList({satisfied, satisfied}));

    notifyRouteChange(); // the default route is gone
    answerDumps({});
    EXPECT_EQ(reports, QList({satisfied, satisfied, unsatisfied}));
}

TEST_F(NetlinkPathSourceTest, ABurstOfChangesDuringADumpMakesOneMoreDump) {
    for (int i = 0; i < 5; ++i) {
        notifyRouteChange();
    }
    EXPECT_EQ(requests.size(), 1) << "a dump is already running";
    answerDumps({});
    EXPECT_EQ(requests.size(), 3) << "one more dump for the whole burst";
    answerDumps({defaultRoute(2)});
    EXPECT_EQ(reports, QList<NetworkPathStatus>({NetworkPathStatus::unsatisfied, NetworkPathStatus::satisfied}));
    EXPECT_EQ(requests.size(), 4);
}

TEST_F(NetlinkPathSourceTest, RepliesToSomeoneElsesRequestAreNotTakenForOurs) {
    const quint32 sequence = requests.last().second;
    // Same sequence, another port: a notification caused by another program's request.
    source.receive(defaultRoute(2, sequence, ourPort + 1) + done(sequence, ourPort + 1));
    EXPECT_EQ(requests.last().first, RTM_GETLINK) << "still waiting for our own link dump";
    EXPECT_TRUE(reports.isEmpty());
}

TEST_F(NetlinkPathSourceTest, AnInterruptedDumpIsReadAgainAndAFailedOneStillGivesTheFirstReport) {
    answerDumps({defaultRoute(2)}, NLM_F_MULTI | NLM_F_DUMP_INTR);
    EXPECT_TRUE(reports.isEmpty());
    answer(RTM_GETLINK, links); // the dump read again fails half way
    nlmsgerr error{};
    error.error = -EBUSY;
    source.receive(message(NLMSG_ERROR, error, {}, requests.last().second, ourPort));
    EXPECT_EQ(reports, QList<NetworkPathStatus>({NetworkPathStatus::unsatisfied}));

    notifyRouteChange(); // the next change tries again
    answerDumps({defaultRoute(2)});
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
