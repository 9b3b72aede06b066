#include "workflow/ApplicationChoice.h"

#include <algorithm>

namespace tarn {

bool ApplicationChoice::isChosen(const TARNDeviceAppConfigurationModel& entry) const {
    const auto found =
            std::find_if(values.cbegin(), values.cend(), [&](const auto& value) { return value.first == entry; });
    return found != values.cend() && found->second;
}

void ApplicationChoice::setChosen(const TARNDeviceAppConfigurationModel& entry, bool chosen) {
    const auto found =
            std::find_if(values.begin(), values.end(), [&](const auto& value) { return value.first == entry; });
    if (found != values.end()) {
        found->second = chosen;
    } else {
        values.append({entry, chosen});
    }
}

void ApplicationChoice::seed(const QList<TARNDeviceAppConfigurationModel>& selected) {
    for (const auto& entry : selected) {
        setChosen(entry, true);
    }
}

bool ApplicationChoice::anyChosen() const {
    return chosenCount() > 0;
}

int ApplicationChoice::chosenCount() const {
    return static_cast<int>(
            std::count_if(values.cbegin(), values.cend(), [](const auto& value) { return value.second; }));
}

QList<TARNDeviceAppConfigurationModel> ApplicationChoice::chosenApplications() const {
    QList<TARNDeviceAppConfigurationModel> chosen;
    for (const auto& [entry, isChosen] : values) {
        if (isChosen) {
            chosen.append(entry);
        }
    }
    return chosen;
}

} // namespace tarn
