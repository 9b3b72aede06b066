#include "workflow/DeviceSearchState.h"

namespace tarn {

QString caseName(DeviceSearchState::Case searchCase) {
    switch (searchCase) {
    case DeviceSearchState::Case::found:
        return QStringLiteral("found");
    case DeviceSearchState::Case::searching:
        return QStringLiteral("searching");
    case DeviceSearchState::Case::notFound:
        return QStringLiteral("notFound");
    case DeviceSearchState::Case::prepareForSearching:
        break;
    }
    return QStringLiteral("prepareForSearching");
}

bool endedWithoutSupportedDevices(const DeviceSearchState& status, const QList<TARNDeviceModel>& supportedDevices) {
    return status.is(DeviceSearchState::Case::notFound) && supportedDevices.isEmpty();
}

} // namespace tarn
