#include "workflow/AppInstallTask.h"

namespace tarn {

using namespace Qt::StringLiterals;

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
        return u"ready"_s;
    case ToInstallListItemViewState::downloading:
        return u"downloading"_s;
    case ToInstallListItemViewState::installing:
        return u"installing"_s;
    case ToInstallListItemViewState::failed:
        return u"failed"_s;
    case ToInstallListItemViewState::done:
        return u"done"_s;
    case ToInstallListItemViewState::processing:
        break;
    }
    return u"processing"_s;
}

} // namespace tarn
