#pragma once

#include <qcoro/qcorotask.h>

namespace tarn {

// How a request for administrator rights ended; every answer but `granted` is a refusal.
enum class AdminRights {
    granted,
    cancelled,     // the user closed the password dialog
    wrongPassword, // the password was refused as often as the system allows
    notPermitted,  // this account may not act as administrator; nobody was asked for a password
    unavailable,   // the elevation command or its password dialog is missing or cannot run
    failed,        // anything else: the command was killed, or ended in a way not foreseen
};

// Asks once, up front, for administrator rights. The request suspends its caller, never the thread, for
// as long as the password prompt is open. Neither call throws.
class SystemPermissionsManagerProtocol {
public:
    virtual ~SystemPermissionsManagerProtocol() = default;

    virtual QCoro::Task<AdminRights> requestAdminPrivileges() = 0;
    virtual void releaseAuthorization() = 0;
};

} // namespace tarn
