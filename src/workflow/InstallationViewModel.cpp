#include "workflow/InstallationViewModel.h"

#include "base/MainQueue.h"
#include "base/Outcome.h"
#include "models/DecodingError.h"
#include "services/InstallationError.h"
#include "services/RestClientError.h"
#include "services/TransportError.h"
#include "workflow/ApplicationOrder.h"
#include "workflow/SystemServices.h"

#include <QFile>
#include <QPointer>

#include <stdexcept>

namespace tarn {

using namespace Qt::StringLiterals;

namespace {

template <typename T>
std::shared_ptr<T> required(std::shared_ptr<T> service, const char* name) {
    if (!service) {
        throw std::invalid_argument(std::string("InstallationViewModel needs a ") + name);
    }
    return service;
}

// The transport failures that mean the secure connection itself was refused: a failed handshake
// (an untrusted or invalid server certificate ends there too) and a redirect from HTTPS to plain HTTP.
bool isSecureConnectionFailure(QNetworkReply::NetworkError code) {
    return code == QNetworkReply::SslHandshakeFailedError || code == QNetworkReply::InsecureRedirectError;
}

} // namespace

InstallationViewModel::InstallationViewModel(QObject* parent)
    : InstallationViewModel(makeSystemServices(), InstallationSettings{}, parent) {}

InstallationViewModel::InstallationViewModel(InstallationServices services, InstallationSettings settings,
                                             QObject* parent)
    : QObject(parent), restClient(required(std::move(services.restClient), "REST client")),
      systemPermissionsManager(required(std::move(services.systemPermissionsManager), "permissions manager")),
      processRunner(required(std::move(services.processRunner), "process runner")),
      installHelper(required(std::move(services.installHelper), "installer helper")),
      validator(required(std::move(services.validator), "installer validator")),
      pkgHelper(required(std::move(services.pkgHelper), "package receipt helper")),
      logger(required(std::move(services.logger), "logger")),
      usbScanner(required(std::move(services.usbScanner), "USB scanner helper")),
      networkMonitor(required(std::move(services.networkMonitor), "network monitor")),
      urlOpener(required(std::move(services.urlOpener), "URL opener")), configuration(std::move(settings)) {
    publishChanges();
    subscribe();
}

InstallationViewModel::~InstallationViewModel() {
    // A run still going when the workflow ends (its stop took too long) still gives the grant back.
    if (activeRun) {
        systemPermissionsManager->releaseAuthorization();
    }
}

void InstallationViewModel::publishChanges() {
    const auto notify = [this] { Q_EMIT changed(); };
    isEulaAccepted.setChangeNotifier(notify);
    isLegalAccepted.setChangeNotifier(notify);
    deviceSearchStatus.setChangeNotifier(notify);
    deviceModel.setChangeNotifier(notify);
    deviceApplicationsModel.setChangeNotifier(notify);
    selectedAppsForInstallation.setChangeNotifier(notify);
    tasksToRun.setChangeNotifier(notify);
    supportedDeviceList.setChangeNotifier(notify);
    supportedDevices.setChangeNotifier(notify);
    supportedDeviceNames.setChangeNotifier(notify);
    connectivityError.setChangeNotifier(notify);
    fatalErrorMessage.setChangeNotifier(notify);
    isInstallationSuccessful.setChangeNotifier(notify);
    anyOptionalPackageFailedToInstall.setChangeNotifier(notify);
    isInstallationCancelled.setChangeNotifier(notify);
    shouldProcessFatalError.setChangeNotifier(notify);
}

// Each subscriber is called with the current value as it subscribes, so A to C run once here without
// effect, D sets the outcome of an empty list and E copies the monitor's state.
void InstallationViewModel::subscribe() {
    // A: both consents given starts a catalogue fetch, on every assignment of either flag. The pair
    // holds the latest value each flag delivered, and nothing until it has delivered one.
    struct Consents {
        std::optional<bool> eula;
        std::optional<bool> legal;
    };
    const auto consents = std::make_shared<Consents>();
    const auto consentsChanged = [this, consents] {
        if (consents->eula.value_or(false) && consents->legal.value_or(false)) {
            // A task of its own, started after the assignment that asked for it.
            postToMainQueue(this, [this] { startDetached(fetchSupportedDevices()); });
        }
    };
    cancellables.push_back(isEulaAccepted.subscribe([consents, consentsChanged](bool accepted) {
        consents->eula = accepted;
        consentsChanged();
    }));
    cancellables.push_back(isLegalAccepted.subscribe([consents, consentsChanged](bool accepted) {
        consents->legal = accepted;
        consentsChanged();
    }));

    // B
    cancellables.push_back(deviceSearchStatus.subscribe([this](const DeviceSearchState& state) {
        if (state.is(DeviceSearchState::Case::found) && state.device()) {
            deviceModel = state.device();
        }
    }));

    // C
    cancellables.push_back(selectedAppsForInstallation.subscribe(
            [this](const QList<TARNDeviceAppConfigurationModel>& selection) { rebuildTasks(selection); }));

    // D
    cancellables.push_back(
            tasksToRun.subscribe([this](const QList<AppInstallTask>& tasks) { recomputeOutcome(tasks); }));

    // E
    cancellables.push_back(
            networkMonitor->isConnected.subscribe([this](bool connected) { connectivityError = !connected; }));
}

// Every step is an assignment, so subscribers see the empty list, each partial list and the sorted one.
void InstallationViewModel::rebuildTasks(const QList<TARNDeviceAppConfigurationModel>& selection) {
    tasksToRun = QList<AppInstallTask>();
    for (const auto& entry : selection) {
        tasksToRun.modify([&entry](QList<AppInstallTask>& tasks) { tasks.append(AppInstallTask::from(entry)); });
    }
    tasksToRun.modify([](QList<AppInstallTask>& tasks) {
        sortMandatoryFirstByName(
                tasks, [](const AppInstallTask& task) { return task.isManadatory; },
                [](const AppInstallTask& task) -> const QString& { return task.name; });
    });
}

void InstallationViewModel::recomputeOutcome(const QList<AppInstallTask>& tasks) {
    const auto failed = [](const AppInstallTask& task) { return task.state == ToInstallListItemViewState::failed; };
    isInstallationSuccessful = std::none_of(tasks.cbegin(), tasks.cend(), [&](const AppInstallTask& task) {
        return task.isManadatory && failed(task);
    });
    anyOptionalPackageFailedToInstall = std::any_of(tasks.cbegin(), tasks.cend(), [&](const AppInstallTask& task) {
        return !task.isManadatory && failed(task);
    });
}

std::optional<QList<TARNDeviceAppConfigurationModel>> InstallationViewModel::sortedApplications() const {
    if (!deviceApplicationsModel()) {
        return std::nullopt;
    }
    QList<TARNDeviceAppConfigurationModel> applications = deviceApplicationsModel()->apps;
    sortMandatoryFirstByName(
            applications, [](const TARNDeviceAppConfigurationModel& app) { return app.mandatory; },
            [](const TARNDeviceAppConfigurationModel& app) -> const QString& { return app.name; });
    return applications;
}

void InstallationViewModel::handleError(const std::exception_ptr& error) {
    if (!error) {
        return;
    }
    // The first matching class decides. The message is published first; the log line reads it back.
    const auto show = [this](const char* key) { fatalErrorMessage = qtTrId(key); };
    try {
        std::rethrow_exception(error);
    } catch (const InstallationError& installationError) {
        switch (installationError.kind()) {
        case InstallationError::Case::pkgNotFound:
            show("error.pkg.from.dmg.not.found");
            break;
        case InstallationError::Case::mismatchHash:
            show("error.content.hash.mismatch");
            break;
        case InstallationError::Case::mismatchSignature:
            show("error.code.signature.mismatch");
            break;
        case InstallationError::Case::invalidPath:
            show("error.file.path.invalid");
            break;
        default:
            show("error.generic");
            logger->critical(u"A generic error occurred %1"_s.arg(installationError.localizedDescription()));
            return;
        }
        logger->critical(u"%1. %2"_s.arg(fatalErrorMessage(), installationError.text()));
    } catch (const DecodingError& decodingError) {
        show("error.corrupted.json");
        logger->critical(u"%1. %2"_s.arg(fatalErrorMessage(), decodingError.localizedDescription()));
    } catch (const TransportError& transportError) {
        show(isSecureConnectionFailure(transportError.code()) ? "error.ssl.connection.failed" : "error.connectivity");
        logger->critical(u"%1 %2"_s.arg(fatalErrorMessage(), transportError.localizedDescription()));
    } catch (const RestClientError& restClientError) {
        show("error.connectivity");
        logger->critical(u"%1 %2"_s.arg(fatalErrorMessage(), restClientError.localizedDescription()));
    } catch (...) {
        show("error.generic");
        logger->critical(u"A generic error occurred %1"_s.arg(localizedDescription(error)));
    }
}

void InstallationViewModel::reportEscapedFailure(const std::exception_ptr& failure) {
    if (!failure || failure == reportedFailure) {
        return;
    }
    reportedFailure = failure;
    handleError(failure);
}

QCoro::Task<> InstallationViewModel::awaitReportingFailure(QPointer<InstallationViewModel> model,
                                                           QCoro::Task<> operation) {
    const Outcome<void> outcome = co_await outcomeOf(std::move(operation));
    if (outcome.failed() && model) {
        model->reportEscapedFailure(outcome.failure);
    }
}

void InstallationViewModel::startDetached(QCoro::Task<> operation) {
    // Nothing escapes the wrapper, so dropping its task drops no failure.
    awaitReportingFailure(QPointer<InstallationViewModel>(this), std::move(operation));
}

void InstallationViewModel::cleanup(const std::optional<QUrl>& fileURL) {
    if (!fileURL) {
        return;
    }
    logger->info(u"Cleanup '%1'"_s.arg(fileURL->toString()));
    const QString path = fileURL->toLocalFile();
    if (path.isEmpty() || !QFile::remove(path)) {
        logger->info(u"Failed to remove file '%1'"_s.arg(path));
    }
}

void InstallationViewModel::openSuccessUrl() {
    // The outcome flag is true before any run (an empty task list fails nothing), so it alone would
    // celebrate an installation that never happened.
    if (!hasFinishedRun || !isInstallationSuccessful() || !deviceApplicationsModel()) {
        return;
    }
    // The page comes from a downloaded document: only a web page is handed to the desktop, never a
    // local file or another scheme's handler.
    const auto url = wellFormedUrl(deviceApplicationsModel()->successUrl);
    const bool webPage = url && (url->scheme() == "https"_L1 || url->scheme() == "http"_L1);
    if (webPage && openedSuccessPage != url) {
        openedSuccessPage = url;
        urlOpener->open(*url);
    }
}

void InstallationViewModel::openSupportPage() {
    if (const auto url =
                wellFormedUrl(configuration.supportBaseUrl + u"/EN-GB/c2473/Official-TARN-customer-Support.aspx"_s)) {
        urlOpener->open(*url);
    }
}

QStringList InstallationViewModel::trustedSigners() {
    return {u"TARN (Q7XK2M9P4D)"_s, u"Quillon Ltd. (M2D7S5K9WE)"_s, u"Norwell Labs (H4VN8C2T6R)"_s};
}

std::optional<QUrl> wellFormedUrl(const QString& text) {
    const QUrl url(text, QUrl::StrictMode);
    if (text.isEmpty() || !url.isValid() || url.isRelative()) {
        return std::nullopt;
    }
    if (!url.isLocalFile() && url.host().isEmpty()) {
        return std::nullopt;
    }
    return url;
}

} // namespace tarn
