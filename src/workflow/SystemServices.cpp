#include "workflow/SystemServices.h"

#include "services/HttpsSession.h"
#include "services/InstallerHelper.h"
#include "services/InstallerValidator.h"
#include "services/Logger.h"
#include "services/NetlinkPathSource.h"
#include "services/PkgUtilHelper.h"
#include "services/ProcessRunner.h"
#include "services/RestClient.h"
#include "services/SSLValidator.h"
#include "services/SystemPermissionsManager.h"
#include "services/USBScannerHelper.h"

namespace tarn {

InstallationServices makeSystemServices(const SystemServiceOptions& options) {
    auto logger = std::make_shared<Logger>();
    auto pathSource = options.pathSource ? options.pathSource : std::make_shared<NetlinkPathSource>();
    auto networkMonitor = std::make_shared<NetworkMonitor>(pathSource);
    auto sslValidator = std::make_shared<SSLValidator>(logger, options.extraAuthorities);
    auto urlSession = std::make_shared<HttpsSession>(sslValidator);
    auto permissions = std::make_shared<SystemPermissionsManager>(logger, options.tools.sudo, options.tools.askpass);
    auto usbScanner = std::make_shared<USBScannerHelper>(logger, options.usbRoot);
    auto processRunner = std::make_shared<ProcessRunner>(logger, options.tools.osascript);
    auto pkgHelper = std::make_shared<PkgUtilHelper>(logger, processRunner, options.tools.pkgutil);
    auto validator = std::make_shared<InstallerValidator>(logger, processRunner, options.tools.pkgutil);
    auto restClient = std::make_shared<RestClient>(urlSession, logger, validator);
    auto installHelper = std::make_shared<InstallerHelper>(logger, processRunner, validator, options.tools.hdiutil,
                                                           options.tools.installer);
    return InstallationServices{
            logger,    networkMonitor, permissions, usbScanner,    processRunner,
            pkgHelper, validator,      restClient,  installHelper, std::make_shared<DesktopUrlOpener>()};
}

} // namespace tarn
