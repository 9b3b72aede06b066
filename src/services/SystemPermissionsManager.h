#pragma once

#include "services/LoggerProtocol.h"
#include "services/SystemPermissionsManagerProtocol.h"

#include <QString>

#include <memory>

class QProcess;

namespace tarn {

// Asks for administrator rights up front through the elevation command: `sudo -A -v` with the
// project's password dialog as SUDO_ASKPASS validates the user's credentials and opens sudo's grace
// period; `sudo -k` ends it. Both run as children of this process, as the script runner's sudo does, so
// they find and end the grant the privileged commands use. The logged status is the command's exit
// status; when the command cannot be started at all it is the shell's: 126 when the file is there but
// cannot be executed, 127 otherwise. The dialog reports each answer to a file, which tells a cancelled
// prompt, a wrong password and a refusal without a prompt apart.
class SystemPermissionsManager final : public SystemPermissionsManagerProtocol {
public:
    SystemPermissionsManager(std::shared_ptr<LoggerProtocol> logger, QString sudoPath, QString askpassPath);
    // Lets a release that is still running finish: it must end the grant this process made.
    ~SystemPermissionsManager() override;

    QCoro::Task<AdminRights> requestAdminPrivileges() override;
    // Starts the release and returns; it runs on while the caller goes on.
    void releaseAuthorization() override;

    static constexpr int cannotExecuteStatus = 126;
    static constexpr int notFoundStatus = 127;

private:
    std::shared_ptr<LoggerProtocol> logger;
    QString sudoPath;
    QString askpassPath;
    // Whether a request started the elevation command, which may have opened a grace period that a
    // release must close. Left set by the release; the next request sets it again.
    bool authRef = false;
    std::unique_ptr<QProcess> release;
};

} // namespace tarn
