#include "workflow/DeviceChoice.h"

namespace tarn {

std::optional<TARNDeviceModel> deviceForSelection(const QString& name, const QList<TARNDeviceModel>& supportedDevices,
                                                  const std::optional<TARNDeviceModel>& current) {
    if (current && current->name == name && supportedDevices.contains(*current)) {
        return current;
    }
    for (const TARNDeviceModel& device : supportedDevices) {
        if (device.name == name) {
            return device;
        }
    }
    return std::nullopt;
}

} // namespace tarn
