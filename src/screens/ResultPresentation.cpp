#include "screens/ResultPresentation.h"

namespace tarn {

ResultPresentation resultPresentation(bool isInstallationSuccessful, bool anyOptionalPackageFailedToInstall,
                                      const QList<AppInstallTask>& tasks, const QString& fatalErrorMessage) {
    ResultPresentation presentation;
    presentation.imageName = isInstallationSuccessful && !anyOptionalPackageFailedToInstall ? QStringLiteral("success")
                                                                                            : QStringLiteral("failure");
    presentation.titleKey = isInstallationSuccessful ? QStringLiteral("info.success.title")
                                                     : QStringLiteral("info.error.install.fail.title");
    presentation.subtitleKey = isInstallationSuccessful ? QStringLiteral("info.success.subtitle")
                                                        : QStringLiteral("info.error.install.fail.subtitle");
    if (!tasks.isEmpty() && (!isInstallationSuccessful || anyOptionalPackageFailedToInstall)) {
        for (const AppInstallTask& task : tasks) {
            if (task.state == ToInstallListItemViewState::failed) {
                presentation.failureLines.append(task.name + QStringLiteral(" - ") +
                                                 task.errorMessage.value_or(QString()));
            }
        }
    }
    // A heading over no lines would name failures that never happened (a fetch that failed after
    // the package screen had seeded the task list).
    presentation.showsFailureList = !presentation.failureLines.isEmpty();
    presentation.errorText = fatalErrorMessage;
    return presentation;
}

} // namespace tarn
