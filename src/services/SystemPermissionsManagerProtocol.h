#pragma once

namespace tarn {

// Asks once, up front, for administrator rights. Both calls are synchronous: the request blocks for as
// long as the password prompt is open. Neither throws.
class SystemPermissionsManagerProtocol {
public:
    virtual ~SystemPermissionsManagerProtocol() = default;

    virtual bool requestAdminPrivileges() = 0;
    virtual void releaseAuthorization() = 0;
};

} // namespace tarn
