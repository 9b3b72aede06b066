#pragma once

#include "base/Published.h"
#include "models/TARNDeviceAppConfigurationModel.h"
#include "models/TARNDeviceModel.h"
#include "models/USBDeviceModel.h"
#include "workflow/AppInstallTask.h"
#include "workflow/DeviceSearchState.h"
#include "workflow/InstallationServices.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <qcoro/qcorotask.h>

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

namespace tarn {

class TaskCancellation;

// The state of one guided installation and the steps that change it: catalogue, device search,
// configuration, choice, installation run and outcome. Screens and the unattended mode read the
// published properties and call the operations; this object never refers to either. Main thread only.
class InstallationViewModel final : public QObject {
    Q_OBJECT
public:
    // Builds this machine's services itself, with the default settings.
    explicit InstallationViewModel(QObject* parent = nullptr);
    InstallationViewModel(InstallationServices services, InstallationSettings settings, QObject* parent = nullptr);
    ~InstallationViewModel() override;

    // Published state, in declaration order; every assignment also emits `changed`.
    Published<bool> isEulaAccepted{false};
    Published<bool> isLegalAccepted{false};
    Published<DeviceSearchState> deviceSearchStatus{DeviceSearchState::notFound()};
    Published<std::optional<TARNDeviceModel>> deviceModel{std::nullopt};
    Published<std::optional<TARNDeviceAppsConfigurationModel>> deviceApplicationsModel{std::nullopt};
    Published<QList<TARNDeviceAppConfigurationModel>> selectedAppsForInstallation{{}};
    Published<QList<AppInstallTask>> tasksToRun{{}};
    Published<TARNDevicesListModel> supportedDeviceList{{}};
    Published<QList<TARNDeviceModel>> supportedDevices{{}};
    Published<QStringList> supportedDeviceNames{{}};
    Published<bool> connectivityError{false};
    Published<QString> fatalErrorMessage{{}};
    Published<bool> isInstallationSuccessful{false};
    Published<bool> anyOptionalPackageFailedToInstall{false};
    Published<bool> isInstallationCancelled{false};
    Published<bool> shouldProcessFatalError{true};

    // Loads the supported-device catalogue into the three catalogue properties.
    QCoro::Task<> fetchSupportedDevices();
    // Polls the USB bus against the catalogue until a match or the time limit; ends `found` or
    // `notFound` (at once for a catalogue that lists no scanner), or still `searching` when the
    // catalogue could not be fetched.
    QCoro::Task<> searchForDevice();
    // Loads `deviceModel`'s application configuration and preselects its mandatory applications.
    QCoro::Task<> fetchDeviceApplications();
    // A failure that escaped an operation nobody awaits: handed to `handleError` once, unless the
    // workflow has published that very failure itself (refused rights) or it was reported before
    // (several screens joining one run all see it).
    void reportEscapedFailure(const std::exception_ptr& failure);
    // Starts `operation` with nobody awaiting it, the way screens and subscriptions start the search,
    // the fetches and the run: a failure that escapes it goes to `reportEscapedFailure` instead of
    // vanishing with the task.
    void startDetached(QCoro::Task<> operation);

    // The configuration's applications, mandatory first, then by name; none before a configuration.
    std::optional<QList<TARNDeviceAppConfigurationModel>> sortedApplications() const;

    // Processes every row of `tasksToRun` in order. Fails only when administrator rights are refused.
    // A call while a run is in progress joins it: it ends when that run ends, with its outcome, and
    // never starts a second run over the same rows.
    QCoro::Task<> installSelectedApplications();
    // Before the process ends: an installation run in progress starts no further step; the step
    // it is in ends (a package installer is never cut half-way), its download is removed, rows not
    // done fail with "error.installation.interrupted" and the administrator grant is released. Ends
    // when the run has stopped, at once without one. The run's own callers see its outcome.
    QCoro::Task<> stopInstallation();
    bool isInstallationRunning() const { return activeRun != nullptr; }
    // Removes a downloaded file; a file that cannot be removed is logged and left.
    void cleanup(const std::optional<QUrl>& fileURL);
    // Opens the configuration's success page, only after an installation run has finished
    // successfully, and once: the result screen's Close button and the termination check that follows
    // it both ask for it. A user who cancels before any run gets no page.
    void openSuccessUrl();
    void openSupportPage();

    // The package signers an installer must be signed by, in the validator's order of preference.
    static QStringList trustedSigners();

    const InstallationSettings& settings() const { return configuration; }
    // The logger's file of this run, for the shell's log command; absent when there is none.
    std::optional<QUrl> logFileURL() const { return logger->logFileURL(); }

Q_SIGNALS:
    // Some published property was assigned.
    void changed();

private:
    // Shows `error` as the display text of its class in `fatalErrorMessage` and logs it; null does nothing.
    void handleError(const std::exception_ptr& error);
    static QCoro::Task<> awaitReportingFailure(QPointer<InstallationViewModel> model, QCoro::Task<> operation);
    void publishChanges();
    void subscribe();
    void rebuildTasks(const QList<TARNDeviceAppConfigurationModel>& selection);
    void recomputeOutcome(const QList<AppInstallTask>& tasks);

    // `fetchSupportedDevices`, answering whether the catalogue was obtained.
    QCoro::Task<bool> loadSupportedDevices();
    QCoro::Task<> pollForDevice(QList<USBDeviceModel> vendorDevices, std::shared_ptr<TaskCancellation> polling,
                                std::shared_ptr<TaskCancellation> timeout);
    std::optional<TARNDeviceModel> catalogueEntryMatching(const USBDeviceModel& device) const;
    void failFetch(const std::exception_ptr& failure);

    // How one row's steps left the run: on to the next row, stopping, or with this object gone.
    enum class RowEnd { finished, stopRequested, workflowGone };

    QCoro::Task<> runInstallation();
    [[noreturn]] void refuseRun(AdminRights rights);
    QCoro::Task<RowEnd> processRow(qsizetype index);
    QCoro::Task<std::optional<RowEnd>> checkRow(qsizetype index, AppInstallTask row);
    QCoro::Task<std::variant<RowEnd, QUrl>> downloadRow(qsizetype index, AppInstallTask row);
    QCoro::Task<RowEnd> installRow(qsizetype index, AppInstallTask row, QUrl file);
    void failRow(qsizetype index, const AppInstallTask& row, const std::exception_ptr& failure,
                 const std::optional<QUrl>& file);
    void failRowsInterrupted();
    static const char* permissionRefusalKey(AdminRights rights);
    std::function<void(DownloadProgress)> progressHandlerForRow(qsizetype index);
    void postRowUpdate(std::function<void(InstallationViewModel&)> update);
    void postRowState(qsizetype index, ToInstallListItemViewState state);
    void postRowFailure(qsizetype index);
    void updateTaskState(qsizetype index, ToInstallListItemViewState state);
    void updateDownloadProgress(qsizetype index, const DownloadProgress& progress);
    void markTaskFailed(qsizetype index, const QString& message);
    void markTaskFailedWithFatalError(qsizetype index);

    // Service fields, set once.
    std::shared_ptr<RestClientProtocol> restClient;
    std::shared_ptr<SystemPermissionsManagerProtocol> systemPermissionsManager;
    std::shared_ptr<ProcessRunnerProtocol> processRunner;
    std::shared_ptr<InstallerHelperProtocol> installHelper;
    std::shared_ptr<InstallerValidatorProtocol> validator;
    std::shared_ptr<PkgUtilHelperProtoco> pkgHelper;
    std::shared_ptr<LoggerProtocol> logger;
    std::shared_ptr<USBScannerHelperProtocol> usbScanner;
    std::shared_ptr<NetworkMonitor> networkMonitor;
    std::shared_ptr<UrlOpener> urlOpener;
    InstallationSettings configuration;
    std::vector<Subscription> cancellables;

    // The run in progress, shared with every caller that joined it.
    std::shared_ptr<QCoro::Task<>> activeRun;
    // The run in progress is asked to stop after its current step.
    bool isStopRequested = false;
    // An installation run went through every row (rights granted); the outcome flags describe it.
    bool hasFinishedRun = false;
    // The last failure already shown and logged, so that it is not reported again when it escapes.
    std::exception_ptr reportedFailure;
    // The success page already handed to the desktop.
    std::optional<QUrl> openedSuccessPage;
};

// `text` as an absolute URL, or none when it is not one: strict parsing, a scheme, and a host for
// every scheme but file.
std::optional<QUrl> wellFormedUrl(const QString& text);

} // namespace tarn
