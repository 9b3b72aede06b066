// The InstallationViewModel installation run: rights, then each row in order.

#include "base/MainQueue.h"
#include "base/Outcome.h"
#include "services/InstallationError.h"
#include "workflow/InstallationViewModel.h"

#include <QFile>
#include <QPointer>
#include <QScopeGuard>

#include <variant>

namespace tarn {

using namespace Qt::StringLiterals;

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

    shouldProcessFatalError = false;
    isStopRequested = false;
    const AdminRights rights = co_await permissions->requestAdminPrivileges();
    if (!self) {
        co_return;
    }
    if (rights != AdminRights::granted) {
        refuseRun(rights);
    }

    // Granted: whatever way the run ends (even a failure no row caught), the grant is released.
    const auto release = qScopeGuard([permissions] { permissions->releaseAuthorization(); });
    const qsizetype count = tasksToRun().size();
    for (qsizetype index = 0; index < count; ++index) {
        // The list must keep its rows during a run; should it shrink anyway, the missing rows are gone.
        if (index >= tasksToRun().size() || isStopRequested) {
            break;
        }
        const RowEnd end = co_await processRow(index);
        if (end == RowEnd::workflowGone) {
            co_return;
        }
        if (end == RowEnd::stopRequested) {
            break;
        }
    }
    if (isStopRequested) {
        failRowsInterrupted();
        co_return;
    }
    hasFinishedRun = true;
}

void InstallationViewModel::refuseRun(AdminRights rights) {
    const QString message = qtTrId(permissionRefusalKey(rights));
    for (qsizetype index = 0; index < tasksToRun().size(); ++index) {
        postRowUpdate([index, message](InstallationViewModel& model) { model.markTaskFailed(index, message); });
    }
    fatalErrorMessage = message;
    // Published above and logged by the permissions manager: a screen that lets it escape must not
    // report it again.
    reportedFailure = std::make_exception_ptr(InstallationError::installationFailed(u"Insufficient permissions"_s));
    std::rethrow_exception(reportedFailure);
}

// One row: check, download, verify and install, finish. Every step answers whether the run goes on.
QCoro::Task<InstallationViewModel::RowEnd> InstallationViewModel::processRow(qsizetype index) {
    const AppInstallTask row = tasksToRun()[index];
    if (const std::optional<RowEnd> end = co_await checkRow(index, row)) {
        co_return *end;
    }
    const std::variant<RowEnd, QUrl> downloaded = co_await downloadRow(index, row);
    if (const auto* end = std::get_if<RowEnd>(&downloaded)) {
        co_return *end;
    }
    auto install = installRow(index, row, std::get<QUrl>(downloaded)); // Named first [gcc12-await-temporaries].
    co_return co_await std::move(install);
}

// Answers nothing when the row's package must be installed.
QCoro::Task<std::optional<InstallationViewModel::RowEnd>> InstallationViewModel::checkRow(qsizetype index,
                                                                                          AppInstallTask row) {
    const QPointer<InstallationViewModel> self(this);
    const auto packages = pkgHelper;
    postRowState(index, ToInstallListItemViewState::processing);
    const bool needed = co_await packages->isInstallationNeeded(row.pkgId, row.version);
    if (!self) {
        co_return RowEnd::workflowGone;
    }
    if (isStopRequested) {
        co_return RowEnd::stopRequested;
    }
    if (needed) {
        co_return std::nullopt;
    }
    logger->info(u"Skipping installation for '%1' %2 as package already installed with similar or higher version"_s.arg(
            row.name, row.installerLink));
    postRowState(index, ToInstallListItemViewState::done);
    co_return RowEnd::finished;
}

// Answers the downloaded file, or how the row ended without one.
QCoro::Task<std::variant<InstallationViewModel::RowEnd, QUrl>> InstallationViewModel::downloadRow(qsizetype index,
                                                                                                  AppInstallTask row) {
    const QPointer<InstallationViewModel> self(this);
    const auto client = restClient;
    postRowState(index, ToInstallListItemViewState::downloading);
    const auto url = wellFormedUrl(row.installerLink);
    logger->info(u"Downloading '%1' %2"_s.arg(row.name, row.installerLink));
    if (!url) {
        logger->info(u"Download failed for '%1' %2"_s.arg(row.name, row.installerLink));
        // Like every other failed row, this one says why, so that the result screen never shows a name
        // with an empty reason.
        fatalErrorMessage = qtTrId("error.installer.link.invalid");
        postRowFailure(index);
        co_return RowEnd::finished;
    }
    // Named first [gcc12-await-temporaries].
    auto transfer = outcomeOf(client->downloadFile(*url, progressHandlerForRow(index)));
    const Outcome<QUrl> file = co_await std::move(transfer);
    if (!self) {
        if (file.value) {
            QFile::remove(file.value->toLocalFile());
        }
        co_return RowEnd::workflowGone;
    }
    if (isStopRequested) {
        cleanup(file.value);
        co_return RowEnd::stopRequested;
    }
    if (file.failed()) {
        failRow(index, row, file.failure, std::nullopt);
        co_return RowEnd::finished;
    }
    co_return *file.value;
}

// The installer checks the file's hash and signature before it installs.
QCoro::Task<InstallationViewModel::RowEnd> InstallationViewModel::installRow(qsizetype index, AppInstallTask row,
                                                                             QUrl file) {
    const QPointer<InstallationViewModel> self(this);
    const auto installer = installHelper;
    logger->info(u"Installing '%1' %2"_s.arg(row.name, row.installerLink));
    postRowState(index, ToInstallListItemViewState::installing);
    // Named first [gcc12-await-temporaries].
    auto install = outcomeOf(installer->install(file.toLocalFile(), row.name, row.hash, trustedSigners()));
    const Outcome<void> installed = co_await std::move(install);
    if (!self) {
        QFile::remove(file.toLocalFile());
        co_return RowEnd::workflowGone;
    }
    if (installed.failed()) {
        failRow(index, row, installed.failure, file);
        co_return RowEnd::finished;
    }
    cleanup(file);
    postRowState(index, ToInstallListItemViewState::done);
    logger->info(u"Installing done for '%1' %2"_s.arg(row.name, row.installerLink));
    co_return RowEnd::finished;
}

void InstallationViewModel::failRow(qsizetype index, const AppInstallTask& row, const std::exception_ptr& failure,
                                    const std::optional<QUrl>& file) {
    handleError(failure);
    cleanup(file);
    logger->critical(u"Installing failed for '%1' %2"_s.arg(row.name, fatalErrorMessage()));
    postRowFailure(index);
}

void InstallationViewModel::failRowsInterrupted() {
    logger->info(u"Installation interrupted"_s);
    // Posted after every other row update, so it sees each row's last state.
    postRowUpdate([message = qtTrId("error.installation.interrupted")](InstallationViewModel& model) {
        for (qsizetype index = 0; index < model.tasksToRun().size(); ++index) {
            const ToInstallListItemViewState state = model.tasksToRun()[index].state;
            if (state != ToInstallListItemViewState::done && state != ToInstallListItemViewState::failed) {
                model.markTaskFailed(index, message);
            }
        }
    });
}

QCoro::Task<> InstallationViewModel::stopInstallation() {
    const auto run = activeRun;
    if (!run) {
        co_return;
    }
    if (!isStopRequested) {
        isStopRequested = true;
        logger->info(u"Stopping the installation after the running step"_s);
        // A download is the one step that can end early without leaving anything half done.
        restClient->cancelDownloads();
    }
    // Only the end matters here; the run's failure is reported by those that started it.
    co_await outcomeOf(run);
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

void InstallationViewModel::postRowState(qsizetype index, ToInstallListItemViewState state) {
    postRowUpdate([index, state](InstallationViewModel& model) { model.updateTaskState(index, state); });
}

void InstallationViewModel::postRowFailure(qsizetype index) {
    postRowUpdate([index](InstallationViewModel& model) { model.markTaskFailedWithFatalError(index); });
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
