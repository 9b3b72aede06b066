#pragma once

#include <QString>
#include <qcoro/qcorotask.h>

#include <optional>

namespace tarn {

// Answers, from the package receipts, whether an application still needs installing: true unless an
// installed copy is the same or newer. Never fails.
class PkgUtilHelperProtoco {
public:
    virtual ~PkgUtilHelperProtoco() = default;

    virtual QCoro::Task<bool> isInstallationNeeded(QString pkgId, QString requestedVersion) = 0;

    // The version of the installed copy as its receipt and bundle tell it, for reports; none when there
    // is no installed copy or it cannot be read. Never fails. Helpers that cannot tell answer none.
    virtual QCoro::Task<std::optional<QString>> installedVersion(QString pkgId) {
        (void)pkgId;
        co_return std::nullopt;
    }
};

} // namespace tarn
