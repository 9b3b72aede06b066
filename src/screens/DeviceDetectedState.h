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

} // namespace tarn
