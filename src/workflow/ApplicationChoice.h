#pragma once

#include "models/TARNDeviceAppConfigurationModel.h"

#include <QList>

#include <utility>

namespace tarn {

// Which of a device's applications are to be installed: an application is chosen when its value is
// true. Both faces build the workflow's selection with it: the package screen from the user's toggles,
// the unattended mode from its command line. The workflow's selection (the mandatory applications once
// a configuration is loaded) only seeds it; entries are added or changed, never removed.
class ApplicationChoice {
public:
    bool isChosen(const TARNDeviceAppConfigurationModel& entry) const;
    void setChosen(const TARNDeviceAppConfigurationModel& entry, bool chosen);
    // Marks every entry of the workflow's selection chosen; the others keep their values.
    void seed(const QList<TARNDeviceAppConfigurationModel>& selected);

    bool anyChosen() const;
    int chosenCount() const;
    // The chosen entries, in the order they were first recorded.
    QList<TARNDeviceAppConfigurationModel> chosenApplications() const;

private:
    QList<std::pair<TARNDeviceAppConfigurationModel, bool>> values;
};

} // namespace tarn
