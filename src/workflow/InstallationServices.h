#pragma once

#include "services/InstallerHelperProtocol.h"
#include "services/InstallerValidatorProtocol.h"
#include "services/LoggerProtocol.h"
#include "services/NetworkMonitor.h"
#include "services/PkgUtilHelperProtoco.h"
#include "services/ProcessRunnerProtocol.h"
#include "services/RestClientProtocol.h"
#include "services/SystemPermissionsManagerProtocol.h"
#include "services/USBScannerHelperProtocol.h"
#include "services/UrlOpener.h"

#include <QString>

#include <chrono>
#include <memory>

namespace tarn {

// Every service the workflow uses, each through its interface, in the order the application builds
// them. Services used by several others (logger, process runner, validator) are shared, not copied.
struct InstallationServices {
    std::shared_ptr<LoggerProtocol> logger;
    std::shared_ptr<NetworkMonitor> networkMonitor;
    std::shared_ptr<SystemPermissionsManagerProtocol> systemPermissionsManager;
    std::shared_ptr<USBScannerHelperProtocol> usbScanner;
    std::shared_ptr<ProcessRunnerProtocol> processRunner;
    std::shared_ptr<PkgUtilHelperProtoco> pkgHelper;
    std::shared_ptr<InstallerValidatorProtocol> validator;
    std::shared_ptr<RestClientProtocol> restClient;
    std::shared_ptr<InstallerHelperProtocol> installHelper;
    std::shared_ptr<UrlOpener> urlOpener;
};

// Where the workflow finds the configuration service and the support site, and how long the device
// search waits. The hosts are deployment settings (the command line overrides them); the paths under
// them are fixed by the workflow. Tests shorten the durations.
struct InstallationSettings {
    static constexpr std::chrono::milliseconds defaultSearchTimeLimit{15'000};
    static constexpr std::chrono::milliseconds defaultPauseBetweenQueries{1'000};

    QString serviceBaseUrl = QStringLiteral("https://configuration.tarn.example");
    QString supportBaseUrl = QStringLiteral("https://support.tarn.example");
    std::chrono::milliseconds searchTimeLimit = defaultSearchTimeLimit;
    std::chrono::milliseconds pauseBetweenQueries = defaultPauseBetweenQueries;
};

} // namespace tarn
