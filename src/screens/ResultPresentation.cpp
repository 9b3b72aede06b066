#include "screens/ResultPresentation.h"

namespace tarn {

using namespace Qt::StringLiterals;

ResultPresentation resultPresentation(bool isInstallationSuccessful, bool anyOptionalPackageFailedToInstall,
                                      const QList<AppInstallTask>& tasks, const QString& fatalErrorMessage) {
    ResultPresentation presentation;
    presentation.imageName =
            isInstallationSuccessful && !anyOptionalPackageFailedToInstall ? u"success"_s : u"failure"_s;
    presentation.titleKey = isInstallationSuccessful ? u"info.success.title"_s : u"info.error.install.fail.title"_s;
    presentation.subtitleKey =
            isInstallationSuccessful ? u"info.success.subtitle"_s : u"info.error.install.fail.subtitle"_s;
    if (!tasks.isEmpty() && (!isInstallationSuccessful || anyOptionalPackageFailedToInstall)) {
        for (const AppInstallTask& task : tasks) {
            if (task.state == ToInstallListItemViewState::failed) {
                presentation.failureLines.append(u"%1 - %2"_s.arg(task.name, task.errorMessage.value_or(QString())));
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
