#include "workflow/DeviceSearchState.h"

namespace tarn {

using namespace Qt::StringLiterals;

QString caseName(DeviceSearchState::Case searchCase) {
    switch (searchCase) {
    case DeviceSearchState::Case::found:
        return u"found"_s;
    case DeviceSearchState::Case::searching:
        return u"searching"_s;
    case DeviceSearchState::Case::notFound:
        return u"notFound"_s;
    case DeviceSearchState::Case::prepareForSearching:
        break;
    }
    return u"prepareForSearching"_s;
}

bool endedWithoutSupportedDevices(const DeviceSearchState& status, const QList<TARNDeviceModel>& supportedDevices) {
    return status.is(DeviceSearchState::Case::notFound) && supportedDevices.isEmpty();
}

} // namespace tarn
