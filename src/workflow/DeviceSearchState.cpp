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

} // namespace tarn
