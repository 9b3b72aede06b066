#pragma once

#include "services/LoggerProtocol.h"
#include "services/SystemPermissionsManagerProtocol.h"

#include <QString>
#include <QStringList>

#include <memory>

namespace tarn {

// Asks for administrator rights up front through the elevation command: `sudo -A -v` with the
// project's password dialog as SUDO_ASKPASS validates the user's credentials and opens sudo's
// grace period; `sudo -k` ends it. The logged status is the command's exit status; when the command
// cannot be started at all it is the shell's: 126 when the file is there but cannot be executed, 127
// otherwise. Both calls block the caller until the command ends, by contract.
class SystemPermissionsManager final : public SystemPermissionsManagerProtocol {
public:
    SystemPermissionsManager(std::shared_ptr<LoggerProtocol> logger, QString sudoPath, QString askpassPath);

    bool requestAdminPrivileges() override;
    void releaseAuthorization() override;

    static constexpr int cannotExecuteStatus = 126;
    static constexpr int notFoundStatus = 127;

private:
    struct Run {
        bool started = false;
        int status = 0;
    };
    Run run(const QStringList& arguments, bool withAskpass) const;

    std::shared_ptr<LoggerProtocol> logger;
    QString sudoPath;
    QString askpassPath;
    // Whether a request started the elevation command, which may have opened a grace period that a
    // release must close. Left set by the release; the next request sets it again.
    bool authRef = false;
};

} // namespace tarn
