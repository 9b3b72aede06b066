#pragma once

#include "services/InstallationError.h"
#include "services/InstallerHelperProtocol.h"
#include "services/InstallerValidatorProtocol.h"
#include "services/LoggerProtocol.h"
#include "services/ProcessRunnerProtocol.h"
#include "services/PropertyList.h"

#include <memory>

namespace tarn {

// Installs one downloaded installer file with the system's package installer, as administrator: a
// standalone package, or a disk image carrying a package at its top level. Nothing is installed before
// the file's digest and the package's signature have been verified. An image is detached in the
// background once its mount point is known, whatever happens next (and when the attach report names
// none, whatever it names as attached is detached); that detach may outlive the call,
// so the helper must be owned by a shared_ptr (std::make_shared) for the detach to keep it alive.
class InstallerHelper final : public InstallerHelperProtocol, public std::enable_shared_from_this<InstallerHelper> {
public:
    InstallerHelper(std::shared_ptr<LoggerProtocol> logger, std::shared_ptr<ProcessRunnerProtocol> processRunner,
                    std::shared_ptr<InstallerValidatorProtocol> validator, QString hdiutilPath, QString installerPath);

    QCoro::Task<> install(QString filePath, QString appName, QString expectedHash, QStringList trustedSigners) override;

    // The text after the last dot of the last path component, lower-cased; empty without a dot.
    static QString lowerCasedExtension(const QString& filePath);
    // One word for the POSIX shell whatever the text holds: single-quoted, each single quote as '\''.
    static QString quotedForShell(const QString& text);

private:
    QCoro::Task<> installStandalonePKG(QString filePath, QString appName, QString expectedHash,
                                       QStringList trustedSigners);
    QCoro::Task<> installFromDMG(QString imagePath, QString appName, QString expectedHash, QStringList trustedSigners);
    QCoro::Task<QString> mountDMG(QString imagePath);
    static QStringList attachedTargets(const QList<PropertyListNode>& entities);
    QString findPKG(const QString& mountPoint) const;
    QCoro::Task<> installPKG(QString packagePath, QString appName);
    // installPKG, a failure logged and raised as `failed` with a text naming the file it came from.
    QCoro::Task<> installPKGFrom(QString packagePath, QString appName, QString sourceKind, QString sourcePath,
                                 InstallationError (*failed)(QString));
    QCoro::Task<> unmountDMG(QString mountPoint);
    void startDetach(const QString& mountPoint);
    static QCoro::Task<> detachInBackground(std::shared_ptr<InstallerHelper> self, QString mountPoint);

    std::shared_ptr<LoggerProtocol> logger;
    std::shared_ptr<ProcessRunnerProtocol> processRunner;
    std::shared_ptr<InstallerValidatorProtocol> validator;
    QString hdiutilPath;
    QString installerPath;
};

} // namespace tarn
