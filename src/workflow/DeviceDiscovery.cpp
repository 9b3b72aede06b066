// The InstallationViewModel operations that find the scanner and load its configuration.

#include "base/MainQueue.h"
#include "base/Outcome.h"
#include "base/TaskCancellation.h"
#include "services/InstallationError.h"
#include "workflow/InstallationViewModel.h"

#include <QPointer>
#include <QScopeGuard>

namespace tarn {

using namespace Qt::StringLiterals;

namespace {

const QString cataloguePath = u"/support/Softwaredownloadcenter/Mac_ScannersConfig"_s;

QCoro::Task<> sleepUnlessCancelled(std::shared_ptr<TaskCancellation> cancellation, std::chrono::milliseconds duration) {
    co_await cancellation->sleep(duration);
}

// One child of the search group: waits for its task, then ends the other one, also when the task
// failed (a failed poll must not leave the search waiting out the whole limit).
QCoro::Task<> awaitThenCancel(QCoro::Task<> task, std::shared_ptr<TaskCancellation> other) {
    const auto cancelOther = qScopeGuard([&other] { other->cancel(); });
    co_await task;
}

} // namespace

QCoro::Task<> InstallationViewModel::fetchSupportedDevices() {
    co_await loadSupportedDevices();
}

QCoro::Task<bool> InstallationViewModel::loadSupportedDevices() {
    const QString catalogueText = configuration.serviceBaseUrl + cataloguePath;
    const auto url = wellFormedUrl(catalogueText);
    if (!url) {
        handleError(std::make_exception_ptr(InstallationError::invalidUrl(u"Invalid URL %1"_s.arg(catalogueText))));
        co_return false;
    }

    const QPointer<InstallationViewModel> self(this);
    const auto client = restClient;
    // Named first [gcc12-await-temporaries].
    auto fetch = outcomeOf(client->fetchData<std::optional<QList<TARNDeviceModel>>>(*url, std::nullopt, u"content"_s));
    const auto devices = co_await std::move(fetch);
    if (!self) {
        co_return false;
    }
    if (devices.failed()) {
        failFetch(devices.failure);
        co_return false;
    }

    const QList<TARNDeviceModel> list = devices.value->value_or(QList<TARNDeviceModel>());
    QStringList names;
    names.reserve(list.size());
    for (const auto& device : list) {
        names.append(device.name);
    }
    supportedDeviceList = TARNDevicesListModel{list};
    supportedDevices = list;
    supportedDeviceNames = names;
    co_return true;
}

QCoro::Task<> InstallationViewModel::searchForDevice() {
    const QPointer<InstallationViewModel> self(this);
    deviceSearchStatus = DeviceSearchState::searching();

    if (supportedDeviceList().list.isEmpty()) {
        const bool loaded = co_await loadSupportedDevices();
        if (!self) {
            co_return;
        }
        if (supportedDeviceList().list.isEmpty()) {
            // A catalogue that lists no scanner ends the search at once: there is nothing to look for,
            // and a screen left `searching` would wait forever. A failed fetch stays `searching`; its
            // error is what the window shows.
            if (loaded) {
                deviceSearchStatus = DeviceSearchState::notFound();
            }
            co_return;
        }
    }
    const QList<USBDeviceModel> vendorDevices = toUSBDeviceModels(supportedDeviceList().list);

    // Two tasks that end each other: the time limit, and the polling loop, which asks at once.
    const auto timeout = std::make_shared<TaskCancellation>();
    const auto polling = std::make_shared<TaskCancellation>();
    QCoro::Task<> timeLimit = sleepUnlessCancelled(timeout, configuration.searchTimeLimit);
    QCoro::Task<> poller = pollForDevice(vendorDevices, polling, timeout);
    QCoro::Task<> limitThenStopPolling = awaitThenCancel(std::move(timeLimit), polling);
    QCoro::Task<> pollingThenStopLimit = awaitThenCancel(std::move(poller), timeout);
    co_await limitThenStopPolling;
    co_await pollingThenStopLimit;

    // A match was posted as a job before the polling task ended, and task ends resume their awaiters
    // directly: one turn of the main queue lets that job land before `searching` is read.
    co_await nextMainQueueTurn();
    if (!self) {
        co_return;
    }
    if (deviceSearchStatus().is(DeviceSearchState::Case::searching)) {
        deviceSearchStatus = DeviceSearchState::notFound();
    }
}

QCoro::Task<> InstallationViewModel::pollForDevice(QList<USBDeviceModel> vendorDevices,
                                                   std::shared_ptr<TaskCancellation> polling,
                                                   std::shared_ptr<TaskCancellation> timeout) {
    const QPointer<InstallationViewModel> self(this);
    const auto scanner = usbScanner;
    const auto pause = configuration.pauseBetweenQueries;
    while (!polling->isCancelled()) {
        const QList<USBDeviceModel> matches = co_await scanner->findMatchingUSBDevices(vendorDevices);
        if (!self) {
            co_return;
        }
        if (!matches.isEmpty()) {
            if (auto entry = catalogueEntryMatching(matches.first())) {
                postToMainQueue(this, [this, device = std::move(*entry)] {
                    deviceSearchStatus = DeviceSearchState::found(device);
                });
                timeout->cancel();
                co_return;
            }
        }
        co_await polling->sleep(pause);
        if (!self) {
            co_return;
        }
    }
}

// Compares numbers, not texts: a catalogue entry written "04A9" is the device 0x4A9, and an entry
// whose `vid` or `pid` is no base-16 number matches nothing.
std::optional<TARNDeviceModel> InstallationViewModel::catalogueEntryMatching(const USBDeviceModel& device) const {
    for (const auto& entry : supportedDeviceList().list) {
        if (readBase16(entry.vid) == device.vendorID && readBase16(entry.pid) == device.productID) {
            return entry;
        }
    }
    return std::nullopt;
}

QCoro::Task<> InstallationViewModel::fetchDeviceApplications() {
    deviceApplicationsModel = std::nullopt;
    const std::optional<TARNDeviceModel> device = deviceModel();
    const auto url = device ? wellFormedUrl(device->configLink) : std::nullopt;
    if (!url) {
        const QString link = device ? device->configLink : u"nil"_s;
        handleError(std::make_exception_ptr(InstallationError::invalidUrl(u"Invalid URL %1"_s.arg(link))));
        co_return;
    }

    const QPointer<InstallationViewModel> self(this);
    const auto client = restClient;
    // Named first [gcc12-await-temporaries].
    auto fetch = outcomeOf(
            client->fetchData<TARNDeviceAppsConfigurationModel>(*url, device->hash, u"device configuration"_s));
    auto configurationModel = co_await std::move(fetch);
    if (!self) {
        co_return;
    }
    if (configurationModel.failed()) {
        failFetch(configurationModel.failure);
        co_return;
    }

    // One assignment of all mandatory entries: an assignment per entry would rebuild the task list after
    // each, which costs the cube of the number of applications.
    QList<TARNDeviceAppConfigurationModel> mandatory;
    for (const auto& app : configurationModel.value->apps) {
        if (app.mandatory) {
            mandatory.append(app);
        }
    }
    selectedAppsForInstallation = std::move(mandatory);
    deviceApplicationsModel = std::move(configurationModel.value);
}

// A fetch that failed fails the installation too: nothing can be installed without its document.
void InstallationViewModel::failFetch(const std::exception_ptr& failure) {
    isInstallationSuccessful = false;
    handleError(failure);
}

} // namespace tarn
