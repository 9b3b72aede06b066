#include "services/NetlinkPathSource.h"

#include <QHash>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace tarn {

using namespace Qt::StringLiterals;

namespace {

// Kernel messages carry no alignment guarantee we may rely on in C++: every struct is copied out.
template <typename T>
T read(QByteArrayView bytes, qsizetype offset = 0) {
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

// Calls `visit(type, payload)` for each attribute; false when an attribute runs past the end.
template <typename Visit>
bool forEachAttribute(QByteArrayView attributes, Visit&& visit) {
    qsizetype offset = 0;
    while (offset + qsizetype(sizeof(rtattr)) <= attributes.size()) {
        const auto attribute = read<rtattr>(attributes, offset);
        if (attribute.rta_len < sizeof(rtattr) || offset + attribute.rta_len > attributes.size()) {
            return false;
        }
        visit(attribute.rta_type, attributes.sliced(offset + RTA_LENGTH(0), attribute.rta_len - RTA_LENGTH(0)));
        offset += RTA_ALIGN(attribute.rta_len);
    }
    return true;
}

// The header of a message of `type` whose fixed part is `bodySize` bytes, if the message is whole.
std::optional<nlmsghdr> header(QByteArrayView message, quint16 type, size_t bodySize) {
    if (message.size() < qsizetype(NLMSG_LENGTH(bodySize))) {
        return std::nullopt;
    }
    const auto header = read<nlmsghdr>(message);
    if (header.nlmsg_type != type || header.nlmsg_len < NLMSG_LENGTH(bodySize) || header.nlmsg_len > message.size()) {
        return std::nullopt;
    }
    return header;
}

std::optional<quint32> u32(QByteArrayView payload) {
    if (payload.size() < qsizetype(sizeof(quint32))) {
        return std::nullopt;
    }
    return read<quint32>(payload);
}

bool isUsable(const NetworkLink& link) {
    return (link.flags & IFF_UP) && (link.flags & IFF_RUNNING) && !(link.flags & IFF_LOOPBACK);
}

// Asks the kernel for a whole table; the body is all zero, which means every family and no filter.
bool sendDumpRequestOn(int socketDescriptor, quint16 type, quint32 sequence) {
    struct {
        nlmsghdr header;
        union {
            ifinfomsg link;
            rtmsg route;
        } body;
    } request{};
    request.header.nlmsg_len = NLMSG_LENGTH(type == RTM_GETLINK ? sizeof(ifinfomsg) : sizeof(rtmsg));
    request.header.nlmsg_type = type;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = sequence;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    const auto sent = ::sendto(socketDescriptor, &request, request.header.nlmsg_len, 0,
                               reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel);
    return sent == static_cast<ssize_t>(request.header.nlmsg_len);
}

} // namespace

NetworkPath evaluateNetworkPath(const QList<NetworkLink>& links, const QList<NetworkRoute>& routes) {
    QHash<int, const NetworkLink*> linksByIndex;
    for (const auto& link : links) {
        linksByIndex.insert(link.index, &link);
    }
    NetworkPath path;
    for (const auto& route : routes) {
        const bool isDefault = route.prefixLength == 0 && (route.family == AF_INET || route.family == AF_INET6);
        if (!isDefault || route.type != RTN_UNICAST || route.table == RT_TABLE_LOCAL) {
            continue;
        }
        for (const int index : route.outputInterfaces) {
            const NetworkLink* link = linksByIndex.value(index);
            if (link && isUsable(*link) && !path.interfaces.contains(link->name)) {
                path.interfaces.append(link->name);
            }
        }
    }
    path.interfaces.sort();
    path.status = path.interfaces.isEmpty() ? NetworkPathStatus::unsatisfied : NetworkPathStatus::satisfied;
    return path;
}

std::optional<NetworkLink> parseLinkMessage(QByteArrayView message) {
    const auto head = header(message, RTM_NEWLINK, sizeof(ifinfomsg));
    if (!head) {
        return std::nullopt;
    }
    const auto info = read<ifinfomsg>(message, NLMSG_HDRLEN);
    NetworkLink link{info.ifi_index, u"#%1"_s.arg(info.ifi_index), info.ifi_flags};
    const qsizetype attributesStart = NLMSG_HDRLEN + NLMSG_ALIGN(sizeof(ifinfomsg));
    const bool whole = forEachAttribute(
            message.sliced(0, head->nlmsg_len).sliced(std::min<qsizetype>(attributesStart, head->nlmsg_len)),
            [&](unsigned short type, QByteArrayView payload) {
                if (type == IFLA_IFNAME) {
                    const qsizetype end = payload.indexOf('\0');
                    link.name = QString::fromUtf8(end < 0 ? payload : payload.first(end));
                }
            });
    if (!whole) {
        return std::nullopt;
    }
    return link;
}

std::optional<NetworkRoute> parseRouteMessage(QByteArrayView message) {
    const auto head = header(message, RTM_NEWROUTE, sizeof(rtmsg));
    if (!head) {
        return std::nullopt;
    }
    const auto info = read<rtmsg>(message, NLMSG_HDRLEN);
    NetworkRoute route{info.rtm_family, info.rtm_table, info.rtm_type, info.rtm_dst_len, {}};
    const qsizetype attributesStart = NLMSG_HDRLEN + NLMSG_ALIGN(sizeof(rtmsg));
    bool hopsWhole = true;
    const bool whole = forEachAttribute(
            message.sliced(0, head->nlmsg_len).sliced(std::min<qsizetype>(attributesStart, head->nlmsg_len)),
            [&](unsigned short type, QByteArrayView payload) {
                if (type == RTA_TABLE) {
                    route.table = u32(payload).value_or(route.table);
                } else if (type == RTA_OIF) {
                    if (const auto index = u32(payload)) {
                        route.outputInterfaces.append(static_cast<int>(*index));
                    }
                } else if (type == RTA_MULTIPATH) {
                    qsizetype offset = 0;
                    while (offset + qsizetype(sizeof(rtnexthop)) <= payload.size()) {
                        const auto hop = read<rtnexthop>(payload, offset);
                        if (hop.rtnh_len < sizeof(rtnexthop) || offset + hop.rtnh_len > payload.size()) {
                            hopsWhole = false;
                            break;
                        }
                        route.outputInterfaces.append(hop.rtnh_ifindex);
                        offset += RTNH_ALIGN(hop.rtnh_len);
                    }
                }
            });
    if (!whole || !hopsWhole) {
        return std::nullopt;
    }
    return route;
}

NetlinkPathSource::NetlinkPathSource() = default;

NetlinkPathSource::NetlinkPathSource(DumpRequestSender sendDumpRequest, quint32 portId)
    : sendDumpRequest(std::move(sendDumpRequest)), portId(portId) {}

NetlinkPathSource::~NetlinkPathSource() {
    notifier.reset();
    if (socketDescriptor >= 0) {
        ::close(socketDescriptor);
    }
}

void NetlinkPathSource::start(std::function<void(NetworkPathStatus)> updateHandler) {
    update = std::move(updateHandler);
    if (!sendDumpRequest && !openSocket()) {
        report(NetworkPath{});
        return;
    }
    refresh();
}

bool NetlinkPathSource::openSocket() {
    const int descriptor = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (descriptor < 0) {
        return false;
    }
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;
    socklen_t addressLength = sizeof address;
    if (::bind(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(descriptor, reinterpret_cast<sockaddr*>(&address), &addressLength) != 0) {
        ::close(descriptor);
        return false;
    }
    // Room for a burst of notifications; the kernel may still drop some, which overrun() covers.
    const int receiveBuffer = 1 << 20;
    ::setsockopt(descriptor, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);

    socketDescriptor = descriptor;
    portId = address.nl_pid;
    sendDumpRequest = [descriptor](quint16 type, quint32 sequence) {
        return sendDumpRequestOn(descriptor, type, sequence);
    };
    notifier = std::make_unique<QSocketNotifier>(descriptor, QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, notifier.get(), [this] { readSocket(); });
    return true;
}

void NetlinkPathSource::readSocket() {
    std::vector<char> buffer(64 << 10);
    for (;;) {
        sockaddr_nl sender{};
        socklen_t senderLength = sizeof sender;
        const ssize_t received = ::recvfrom(socketDescriptor, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                            reinterpret_cast<sockaddr*>(&sender), &senderLength);
        if (received < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == ENOBUFS) {
                overrun();
                continue;
            }
            return; // EAGAIN: all read
        }
        if (received == 0) {
            return;
        }
        // Only the kernel speaks for the routing tables; another process could send us anything.
        if (sender.nl_pid == 0) {
            receive(QByteArrayView(buffer.data(), received));
        }
    }
}

void NetlinkPathSource::receive(QByteArrayView datagram) {
    qsizetype offset = 0;
    while (offset + qsizetype(NLMSG_HDRLEN) <= datagram.size()) {
        const auto head = read<nlmsghdr>(datagram, offset);
        if (head.nlmsg_len < NLMSG_HDRLEN || offset + head.nlmsg_len > datagram.size()) {
            return;
        }
        const QByteArrayView message = datagram.sliced(offset, head.nlmsg_len);
        offset += NLMSG_ALIGN(head.nlmsg_len);

        const bool answersOurDump = phase != Phase::idle && head.nlmsg_pid == portId && head.nlmsg_seq == sequence;
        if (!answersOurDump) {
            if (head.nlmsg_type == RTM_NEWLINK || head.nlmsg_type == RTM_DELLINK || head.nlmsg_type == RTM_NEWROUTE ||
                head.nlmsg_type == RTM_DELROUTE) {
                refresh();
            }
            continue;
        }
        if (head.nlmsg_flags & NLM_F_DUMP_INTR) {
            dumpInterrupted = true; // the table changed while it was being read
        }
        if (head.nlmsg_type == NLMSG_DONE) {
            dumpFinished(!dumpInterrupted);
        } else if (head.nlmsg_type == NLMSG_ERROR) {
            dumpFailed();
        } else if (phase == Phase::links) {
            if (const auto link = parseLinkMessage(message)) {
                links.append(*link);
            }
        } else if (phase == Phase::routes) {
            if (const auto route = parseRouteMessage(message)) {
                routes.append(*route);
            }
        }
    }
}

void NetlinkPathSource::overrun() {
    refresh();
}

void NetlinkPathSource::refresh() {
    if (phase != Phase::idle) {
        refreshWanted = true; // one more dump when this one ends covers every change meanwhile
        return;
    }
    refreshWanted = false;
    dumpInterrupted = false;
    links.clear();
    routes.clear();
    phase = Phase::links;
    requestDump(RTM_GETLINK);
}

void NetlinkPathSource::requestDump(quint16 type) {
    ++sequence;
    if (!sendDumpRequest(type, sequence)) {
        dumpFailed();
    }
}

void NetlinkPathSource::dumpFinished(bool consistent) {
    if (phase == Phase::links) {
        phase = Phase::routes;
        requestDump(RTM_GETROUTE);
        return;
    }
    phase = Phase::idle;
    if (!consistent) {
        refresh();
        return;
    }
    report(evaluateNetworkPath(links, routes));
    if (refreshWanted) {
        refresh();
    }
}

void NetlinkPathSource::dumpFailed() {
    phase = Phase::idle;
    // Without tables nothing new can be said; the first report is still owed. The next change
    // notification tries again.
    if (!reported) {
        report(NetworkPath{});
    }
}

void NetlinkPathSource::report(const NetworkPath& path) {
    if (reported && *reported == path) {
        return;
    }
    reported = path;
    if (update) {
        update(path.status);
    }
}

} // namespace tarn
