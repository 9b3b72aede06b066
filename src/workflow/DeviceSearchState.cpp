#include "workflow/DeviceSearchState.h"

namespace tarn {

bool endedWithoutSupportedDevices(const DeviceSearchState& status, const QList<TARNDeviceModel>& supportedDevices) {
    return status.is(DeviceSearchState::Case::notFound) && supportedDevices.isEmpty();
}

} // namespace tarn
