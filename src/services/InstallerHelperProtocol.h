#pragma once

#include <QString>
#include <QStringList>
#include <qcoro/qcorotask.h>

namespace tarn {

// Installs one downloaded installer file (.pkg, or .dmg with a package at its top level) after
// checking its digest and its signature. Fails with an InstallationError.
class InstallerHelperProtocol {
public:
    virtual ~InstallerHelperProtocol() = default;

    virtual QCoro::Task<> install(QString filePath, QString appName, QString expectedHash,
                                  QStringList trustedSigners) = 0;
};

} // namespace tarn
