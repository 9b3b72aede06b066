#include "services/NetworkMonitor.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace tarn {

NetworkMonitor::NetworkMonitor(std::shared_ptr<NetworkPathSource> pathSource, QObject* parent)
    : QObject(parent), pathSource(std::move(pathSource)) {
    // The source may outlive us and report from its own thread: it holds us only weakly, and the
    // application object, which outlives both, carries the update to the main thread.
    const QPointer<NetworkMonitor> monitor(this);
    this->pathSource->start([monitor](NetworkPathStatus status) {
        QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [monitor, status] {
                    if (monitor) {
                        monitor->apply(status);
                    }
                },
                Qt::QueuedConnection);
    });
}

void NetworkMonitor::apply(NetworkPathStatus status) {
    isConnected = status == NetworkPathStatus::satisfied;
    if (isConnected()) {
        if (onInternetAvailable) {
            onInternetAvailable();
        }
    } else if (onInternetUnavailable) {
        onInternetUnavailable();
    }
}

} // namespace tarn
