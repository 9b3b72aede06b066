// The InstallationViewModel installation run: rights, then each row in order.

#include "base/MainQueue.h"
#include "services/InstallationError.h"
#include "workflow/InstallationViewModel.h"

#include <QFile>
#include <QPointer>
#include <QScopeGuard>

namespace tarn {

QCoro::Task<> InstallationViewModel::installSelectedApplications() {
    // Rows are addressed by position, so two runs over one list would overwrite each other's rows and
    // install twice. A call during a run awaits that run instead of starting another.
    if (!activeRun) {
        activeRun = std::make_shared<QCoro::Task<>>(runInstallation());
    }
    const auto run = activeRun;
    const QPointer<InstallationViewModel> self(this);
    const auto forgetRun = qScopeGuard([self, run] {
        if (self && self->activeRun == run) {
            self->activeRun.reset();
        }
    });
    co_await *run;
}

QCoro::Task<> InstallationViewModel::runInstallation() {
    const QPointer<InstallationViewModel> self(this);
    const auto permissions = systemPermissionsManager;
    const auto packages = pkgHelper;
    const auto client = restClient;
    const auto installer = installHelper;
    const auto log = logger;

    shouldProcessFatalError = false;
    isStopRequested = false;
    const AdminRights rights = co_await permissions->requestAdminPrivileges();
    if (!self) {
        co_return;
    }
    if (rights != AdminRights::granted) {
        const QString message = qtTrId(permissionRefusalKey(rights));
        for (qsizetype index = 0; index < tasksToRun().size(); ++index) {
            postRowUpdate([index, message](InstallationViewModel& model) { model.markTaskFailed(index, message); });
        }
        fatalErrorMessage = message;
        // Published above and logged by the permissions manager: a screen that lets it escape must
        // not report it again.
        reportedFailure = std::make_exception_ptr(
                InstallationError::installationFailed(QStringLiteral("Insufficient permissions")));
        std::rethrow_exception(reportedFailure);
    }

    // Granted: whatever way the run ends (even a failure no row caught), the grant is released.
    const auto release = qScopeGuard([permissions] { permissions->releaseAuthorization(); });
    const qsizetype count = tasksToRun().size();
    for (qsizetype index = 0; index < count; ++index) {
        // The list must keep its rows during a run; should it shrink anyway, the missing rows are gone.
        if (index >= tasksToRun().size() || isStopRequested) {
            break;
        }
        const AppInstallTask row = tasksToRun()[index];
        const auto setState = [this, index](ToInstallListItemViewState state) {
            postRowUpdate([index, state](InstallationViewModel& model) { model.updateTaskState(index, state); });
        };
        const auto failWithFatalError = [this, index] {
            postRowUpdate([index](InstallationViewModel& model) { model.markTaskFailedWithFatalError(index); });
        };

        setState(ToInstallListItemViewState::processing);
        const bool needed = co_await packages->isInstallationNeeded(row.pkgId, row.version);
        if (!self) {
            co_return;
        }
        if (isStopRequested) {
            break;
        }
        if (!needed) {
            log->info(QStringLiteral("Skipping installation for '") + row.name + QStringLiteral("' ") +
                      row.installerLink +
                      QStringLiteral(" as package already installed with similar or higher version"));
            setState(ToInstallListItemViewState::done);
            continue;
        }

        setState(ToInstallListItemViewState::downloading);
        const auto url = wellFormedUrl(row.installerLink);
        log->info(QStringLiteral("Downloading '") + row.name + QStringLiteral("' ") + row.installerLink);
        if (!url) {
            log->info(QStringLiteral("Download failed for '") + row.name + QStringLiteral("' ") + row.installerLink);
            // Like every other failed row, this one says why, so that the result screen never shows
            // a name with an empty reason.
            fatalErrorMessage = qtTrId("error.installer.link.invalid");
            failWithFatalError();
            continue;
        }

        std::optional<QUrl> file;
        std::exception_ptr failure;
        try {
            file = co_await client->downloadFile(*url, progressHandlerForRow(index));
        } catch (...) {
            failure = std::current_exception();
        }
        if (!self) {
            if (file) {
                QFile::remove(file->toLocalFile());
            }
            co_return;
        }
        if (isStopRequested) {
            cleanup(file);
            break;
        }
        if (failure) {
            handleError(failure);
            cleanup(std::nullopt);
            log->critical(QStringLiteral("Installing failed for '") + row.name + QStringLiteral("' ") +
                          fatalErrorMessage());
            failWithFatalError();
            continue;
        }

        log->info(QStringLiteral("Installing '") + row.name + QStringLiteral("' ") + row.installerLink);
        setState(ToInstallListItemViewState::installing);
        try {
            co_await installer->install(file->toLocalFile(), row.name, row.hash, trustedSigners());
        } catch (...) {
            failure = std::current_exception();
        }
        if (!self) {
            QFile::remove(file->toLocalFile());
            co_return;
        }
        if (!failure) {
            cleanup(file);
            setState(ToInstallListItemViewState::done);
            log->info(QStringLiteral("Installing done for '") + row.name + QStringLiteral("' ") + row.installerLink);
        } else {
            handleError(failure);
            cleanup(file);
            log->critical(QStringLiteral("Installing failed for '") + row.name + QStringLiteral("' ") +
                          fatalErrorMessage());
            failWithFatalError();
        }
    }
    if (isStopRequested) {
        log->info(QStringLiteral("Installation interrupted"));
        // Posted after every other row update, so it sees each row's last state.
        postRowUpdate([message = qtTrId("error.installation.interrupted")](InstallationViewModel& model) {
            for (qsizetype index = 0; index < model.tasksToRun().size(); ++index) {
                const ToInstallListItemViewState state = model.tasksToRun()[index].state;
                if (state != ToInstallListItemViewState::done && state != ToInstallListItemViewState::failed) {
                    model.markTaskFailed(index, message);
                }
            }
        });
        co_return;
    }
    hasFinishedRun = true;
}

QCoro::Task<> InstallationViewModel::stopInstallation() {
    const auto run = activeRun;
    if (!run) {
        co_return;
    }
    if (!isStopRequested) {
        isStopRequested = true;
        logger->info(QStringLiteral("Stopping the installation after the running step"));
        // A download is the one step that can end early without leaving anything half done.
        restClient->cancelDownloads();
    }
    try {
        co_await *run;
    } catch (...) {
        // Only the end matters here; the run's failure is reported by those that started it.
    }
}

// Each way of not getting administrator rights asks something else of the user.
const char* InstallationViewModel::permissionRefusalKey(AdminRights rights) {
    switch (rights) {
    case AdminRights::cancelled:
        return "error.no.permissions.cancelled";
    case AdminRights::wrongPassword:
        return "error.no.permissions.wrong.password";
    case AdminRights::notPermitted:
        return "error.no.permissions.not.allowed";
    case AdminRights::unavailable:
        return "error.no.permissions.unavailable";
    case AdminRights::granted:
    case AdminRights::failed:
        break;
    }
    return "error.no.permissions";
}

// Holds the workflow weakly: a download may report after the object is gone, and then nothing happens.
std::function<void(DownloadProgress)> InstallationViewModel::progressHandlerForRow(qsizetype index) {
    return [self = QPointer<InstallationViewModel>(this), index](DownloadProgress progress) {
        if (self) {
            self->postRowUpdate(
                    [index, progress](InstallationViewModel& model) { model.updateDownloadProgress(index, progress); });
        }
    };
}

// Row updates are applied later, in posting order, when the main thread is free; an update still
// queued when the object goes away is dropped with it.
void InstallationViewModel::postRowUpdate(std::function<void(InstallationViewModel&)> update) {
    postToMainQueue(this, [this, update = std::move(update)] { update(*this); });
}

// A row that is no longer there (the list was replaced under the run) takes no update.
void InstallationViewModel::updateTaskState(qsizetype index, ToInstallListItemViewState state) {
    if (index < tasksToRun().size()) {
        tasksToRun.modify([index, state](QList<AppInstallTask>& tasks) { tasks[index].state = state; });
    }
}

void InstallationViewModel::updateDownloadProgress(qsizetype index, const DownloadProgress& progress) {
    if (index < tasksToRun().size()) {
        tasksToRun.modify([index, &progress](QList<AppInstallTask>& tasks) {
            tasks[index].download = progress;
            tasks[index].downloadProgress = progress.fraction().value_or(tasks[index].downloadProgress);
        });
    }
}

void InstallationViewModel::markTaskFailed(qsizetype index, const QString& message) {
    if (index < tasksToRun().size()) {
        updateTaskState(index, ToInstallListItemViewState::failed);
        tasksToRun.modify([index, &message](QList<AppInstallTask>& tasks) { tasks[index].errorMessage = message; });
    }
}

void InstallationViewModel::markTaskFailedWithFatalError(qsizetype index) {
    markTaskFailed(index, fatalErrorMessage());
}

} // namespace tarn
