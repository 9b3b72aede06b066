#pragma once

#include "services/NetworkPathSource.h"

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class QSocketNotifier;

namespace tarn {

// One network interface of the kernel's link table.
struct NetworkLink {
    int index = 0;
    QString name;
    unsigned flags = 0; // IFF_UP, IFF_RUNNING, IFF_LOOPBACK, ...
};

// One route of the kernel's routing tables, reduced to what decides reachability.
struct NetworkRoute {
    int family = 0;
    unsigned table = 0;
    unsigned type = 0; // RTN_UNICAST, RTN_UNREACHABLE, ...
    int prefixLength = 0;
    QList<int> outputInterfaces; // the route's interface, or those of its multipath next hops
};

// Whether the machine has a usable path, and through which interfaces.
struct NetworkPath {
    NetworkPathStatus status = NetworkPathStatus::unsatisfied;
    QStringList interfaces; // sorted

    friend bool operator==(const NetworkPath&, const NetworkPath&) = default;
};

// Satisfied when some default route (IPv4 or IPv6, in any table but the local one) leaves through an
// interface that is up, running (has its carrier) and not the loopback.
NetworkPath evaluateNetworkPath(const QList<NetworkLink>& links, const QList<NetworkRoute>& routes);

// One rtnetlink message, header included; nothing when it is not a well-formed message of that kind.
std::optional<NetworkLink> parseLinkMessage(QByteArrayView message);
std::optional<NetworkRoute> parseRouteMessage(QByteArrayView message);

// The machine's network path, from the kernel: a NETLINK_ROUTE socket subscribed to link and route
// changes. At start and after every change notification it dumps the link and route tables (a burst of
// changes makes one dump) and reports the status when the path differs from the last one reported, so
// an interface that takes over the default route is reported even when the status stays satisfied.
// When no netlink socket can be opened it reports unsatisfied once: it cannot vouch for a path.
// Lives on the thread that starts it, whose event loop must run.
class NetlinkPathSource final : public NetworkPathSource {
public:
    NetlinkPathSource();
    ~NetlinkPathSource() override;

    void start(std::function<void(NetworkPathStatus)> update) override;

    // For driving the source without a socket: requests go to `sendDumpRequest` (message type and
    // sequence number; false when it cannot be sent), replies and notifications come in through
    // receive(), as datagrams of messages whose dump replies carry `portId`.
    using DumpRequestSender = std::function<bool(quint16 type, quint32 sequence)>;
    NetlinkPathSource(DumpRequestSender sendDumpRequest, quint32 portId);
    void receive(QByteArrayView datagram);
    // The kernel dropped notifications (the socket overran): the tables must be read again.
    void overrun();

private:
    enum class Phase { idle, links, routes };

    bool openSocket();
    void readSocket();
    void refresh();
    void requestDump(quint16 type);
    void dumpFinished(bool consistent);
    void dumpFailed();
    void report(const NetworkPath& path);

    DumpRequestSender sendDumpRequest;
    quint32 portId = 0;
    int socketDescriptor = -1;
    std::unique_ptr<QSocketNotifier> notifier;
    std::function<void(NetworkPathStatus)> update;

    Phase phase = Phase::idle;
    bool refreshWanted = false;
    bool dumpInterrupted = false;
    quint32 sequence = 0;
    QList<NetworkLink> links;
    QList<NetworkRoute> routes;
    std::optional<NetworkPath> reported;
};

} // namespace tarn
