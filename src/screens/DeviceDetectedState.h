#pragma once

#include "components/StyledText.h"
#include "models/TARNDeviceModel.h"
#include "workflow/DeviceSearchState.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace tarn {

// What the detected screen shows for the outcome of the search: with a recognised scanner its name
// and a success picture; without one the not-detected texts, a failure picture and the model picker.
struct DeviceDetectedPresentation {
    QString imageName;
    bool showsPicker = false;
    StyledText title;
    QString subtitle;
};

// `titleText` and `unknownDevice` are the display texts of "device.detected.title" and
// "device.detected.unknown".
DeviceDetectedPresentation deviceDetectedPresentation(const DeviceSearchState& status,
                                                      const std::optional<TARNDeviceModel>& device,
                                                      const QString& titleText, const QString& unknownDevice);

// The piece of `titleText` after its last "%@" (all of it without one): what follows the device name.
QString titleAfterLastPlaceholder(const QString& titleText);

// The picker's entry when the screen appears: the workflow's device, else the first catalogue name.
std::optional<QString> initialDeviceSelection(const std::optional<TARNDeviceModel>& device,
                                              const QStringList& supportedDeviceNames);

// The workflow's device once `name` is picked: the first catalogue entry of that name, or none. A
// device that already carries the name is kept, so a recognised scanner is never swapped for another
// catalogue entry that merely shares its name.
std::optional<TARNDeviceModel> deviceForSelection(const QString& name, const QList<TARNDeviceModel>& supportedDevices,
                                                  const std::optional<TARNDeviceModel>& current);

} // namespace tarn
