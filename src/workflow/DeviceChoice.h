#pragma once

#include "models/TARNDeviceModel.h"

#include <QList>
#include <QString>

#include <optional>

namespace tarn {

// The workflow's device once a model is chosen by `name` (in the window's picker, or with --device):
// the first catalogue entry of that name, or none. A device that already carries the name is kept, so
// a recognised scanner is never swapped for another catalogue entry that merely shares its name.
std::optional<TARNDeviceModel> deviceForSelection(const QString& name, const QList<TARNDeviceModel>& supportedDevices,
                                                  const std::optional<TARNDeviceModel>& current);

} // namespace tarn
