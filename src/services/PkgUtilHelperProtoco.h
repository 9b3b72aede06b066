#pragma once

#include <QString>
#include <qcoro/qcorotask.h>

namespace tarn {

// Answers, from the package receipts, whether an application still needs installing: true unless an
// installed copy is the same or newer. Never fails.
class PkgUtilHelperProtoco {
public:
    virtual ~PkgUtilHelperProtoco() = default;

    virtual QCoro::Task<bool> isInstallationNeeded(QString pkgId, QString requestedVersion) = 0;
};

} // namespace tarn
