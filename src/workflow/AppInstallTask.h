#pragma once

#include "base/DownloadProgress.h"
#include "base/ToInstallListItemViewState.h"
#include "models/TARNDeviceAppConfigurationModel.h"

#include <QString>
#include <QUuid>

#include <optional>

namespace tarn {

// One row of the installation task list. Identified by `id`, which is new for every task made, so a
// rebuilt list never shares identities with the one it replaces. No equality of its own.
struct AppInstallTask {
    QUuid id;
    bool isManadatory = false;
    QString installerLink;
    QString name;
    std::optional<QString> errorMessage;
    ToInstallListItemViewState state = ToInstallListItemViewState::ready;
    double downloadProgress = 0;
    // The bytes behind downloadProgress, for showing sizes; the fraction stays 0 without a length.
    DownloadProgress download;
    QString hash;
    QString pkgId;
    QString version;

    // A fresh `ready` row for one chosen application.
    static AppInstallTask from(const TARNDeviceAppConfigurationModel& entry);
};

QString caseName(ToInstallListItemViewState state);

} // namespace tarn
