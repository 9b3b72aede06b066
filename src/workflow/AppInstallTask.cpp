#include "workflow/AppInstallTask.h"

namespace tarn {

AppInstallTask AppInstallTask::from(const TARNDeviceAppConfigurationModel& entry) {
    AppInstallTask task;
    task.id = QUuid::createUuid();
    task.isManadatory = entry.mandatory;
    task.installerLink = entry.installer;
    task.name = entry.name;
    task.hash = entry.hash;
    task.pkgId = entry.pkgId;
    task.version = entry.version;
    return task;
}

QString caseName(ToInstallListItemViewState state) {
    switch (state) {
    case ToInstallListItemViewState::ready:
        return QStringLiteral("ready");
    case ToInstallListItemViewState::downloading:
        return QStringLiteral("downloading");
    case ToInstallListItemViewState::installing:
        return QStringLiteral("installing");
    case ToInstallListItemViewState::failed:
        return QStringLiteral("failed");
    case ToInstallListItemViewState::done:
        return QStringLiteral("done");
    case ToInstallListItemViewState::processing:
        break;
    }
    return QStringLiteral("processing");
}

} // namespace tarn
