#pragma once

#include <functional>

namespace tarn {

enum class NetworkPathStatus { satisfied, unsatisfied, requiresConnection };

// Where the network monitor learns whether the machine has a usable network path.
class NetworkPathSource {
public:
    virtual ~NetworkPathSource() = default;

    // Starts watching. `update` receives the current status once soon after, then every change; it may
    // be called on any thread.
    virtual void start(std::function<void(NetworkPathStatus)> update) = 0;
};

} // namespace tarn
