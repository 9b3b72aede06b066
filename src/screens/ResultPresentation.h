#pragma once

#include "workflow/AppInstallTask.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace tarn {

// What the result screen shows for an outcome. The picture is "success" only when nothing failed at
// all; the texts follow the mandatory outcome alone, so a run in which only optional applications
// failed reads as a success under a failure picture, with those applications listed. The list shows
// after a failed outcome, and only when some task did fail.
struct ResultPresentation {
    QString imageName;
    QString titleKey;
    QString subtitleKey;
    bool showsFailureList = false;
    // "name - error text" for each failed task, in list order.
    QStringList failureLines;
    // The workflow's fatal error text, as it is.
    QString errorText;

    friend bool operator==(const ResultPresentation&, const ResultPresentation&) = default;
};

ResultPresentation resultPresentation(bool isInstallationSuccessful, bool anyOptionalPackageFailedToInstall,
                                      const QList<AppInstallTask>& tasks, const QString& fatalErrorMessage);

} // namespace tarn
