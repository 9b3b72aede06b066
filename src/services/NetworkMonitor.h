#pragma once

#include "base/Published.h"
#include "services/NetworkPathSource.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

namespace tarn {

// Publishes whether the machine has a usable network path. Updates arrive from the path source on
// any thread and are applied on the main thread in arrival order; every update assigns the flag, even
// when it does not change. Offline until the first report.
class NetworkMonitor final : public QObject {
    Q_OBJECT
public:
    explicit NetworkMonitor(std::shared_ptr<NetworkPathSource> pathSource, QObject* parent = nullptr);

    Published<bool> isConnected{false};
    std::function<void()> onInternetAvailable;
    std::function<void()> onInternetUnavailable;

private:
    void apply(NetworkPathStatus status);

    std::shared_ptr<NetworkPathSource> pathSource;
};

} // namespace tarn
