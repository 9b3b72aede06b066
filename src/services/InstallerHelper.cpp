#include "services/InstallerHelper.h"

#include "base/Error.h"
#include "services/FileReference.h"
#include "services/InstallationError.h"
#include "services/PropertyList.h"

#include <QFile>
#include <QScopeGuard>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace tarn {

using namespace Qt::StringLiterals;

InstallerHelper::InstallerHelper(std::shared_ptr<LoggerProtocol> logger,
                                 std::shared_ptr<ProcessRunnerProtocol> processRunner,
                                 std::shared_ptr<InstallerValidatorProtocol> validator, QString hdiutilPath,
                                 QString installerPath)
    : logger(std::move(logger)), processRunner(std::move(processRunner)), validator(std::move(validator)),
      hdiutilPath(std::move(hdiutilPath)), installerPath(std::move(installerPath)) {}

QCoro::Task<> InstallerHelper::install(QString filePath, QString appName, QString expectedHash,
                                       QStringList trustedSigners) {
    // Fails here, before anything is attached, if the helper is not shared: the detach could not keep it alive.
    const std::shared_ptr<InstallerHelper> self = shared_from_this();
    const QString extension = lowerCasedExtension(filePath);
    if (extension == QLatin1String("dmg")) {
        co_await installFromDMG(std::move(filePath), std::move(appName), std::move(expectedHash),
                                std::move(trustedSigners));
    } else if (extension == QLatin1String("pkg")) {
        co_await installStandalonePKG(std::move(filePath), std::move(appName), std::move(expectedHash),
                                      std::move(trustedSigners));
    } else {
        const QString message = u"Unsupported file extension for installation: %1"_s.arg(extension);
        logger->critical(message);
        throw InstallationError::unsupportedFileExtension(message);
    }
}

QString InstallerHelper::lowerCasedExtension(const QString& filePath) {
    qsizetype end = filePath.size();
    while (end > 1 && filePath.at(end - 1) == u'/') {
        --end;
    }
    const QString trimmed = filePath.left(end);
    const QString lastComponent = trimmed.mid(trimmed.lastIndexOf(u'/') + 1);
    const qsizetype dot = lastComponent.lastIndexOf(u'.');
    if (dot < 0) {
        return {};
    }
    return lastComponent.mid(dot + 1).toLower();
}

QString InstallerHelper::quotedForShell(const QString& text) {
    QString quoted = text;
    quoted.replace(u'\'', u"'\\''"_s);
    return u"'%1'"_s.arg(quoted);
}

QCoro::Task<> InstallerHelper::installStandalonePKG(QString filePath, QString appName, QString expectedHash,
                                                    QStringList trustedSigners) {
    co_await validator->validateHash(filePath, expectedHash);
    co_await validator->validateSignature(filePath, trustedSigners);
    co_await installPKGFrom(filePath, appName, u"standalone PKG"_s, filePath, InstallationError::installationFailed);
}

QCoro::Task<> InstallerHelper::installFromDMG(QString imagePath, QString appName, QString expectedHash,
                                              QStringList trustedSigners) {
    logger->info(u"Installing from DMG: '%1'"_s.arg(imagePath));
    co_await validator->validateHash(imagePath, expectedHash);
    const QString mountPoint = co_await mountDMG(imagePath);
    // From here on, every way out (a failure, or success) starts one detach of this mount point.
    const auto detach = qScopeGuard([this, &mountPoint] { startDetach(mountPoint); });

    const QString packagePath = findPKG(mountPoint);
    co_await validator->validateSignature(packagePath, trustedSigners);
    co_await installPKGFrom(packagePath, appName, u"DMG"_s, imagePath, InstallationError::unableToMountDMG);
}

QCoro::Task<QString> InstallerHelper::mountDMG(QString imagePath) {
    logger->info(u"Mount DMG: '%1'"_s.arg(imagePath));
    std::optional<QByteArray> output;
    try {
        const QStringList arguments{u"attach"_s, imagePath, u"-nobrowse"_s, u"-plist"_s};
        output = co_await processRunner->runProcess(hdiutilPath, arguments);
    } catch (const std::exception& failure) {
        const QString message = u"Failed to mount DMG: '%1'. Error: %2"_s.arg(imagePath, localizedDescription(failure));
        logger->critical(message);
        throw InstallationError::unableToMountDMG(message);
    }
    const QByteArray bytes = output.value_or(QByteArray());
    logger->info(u"Successfully mounted DMG: '%1'"_s.arg(imagePath));

    const QString parseFailure = u"Failed to parse mount point for DMG '%1' %2"_s.arg(
            imagePath, decodedUtf8(bytes).value_or(u"Unknown error"_s));
    std::optional<PropertyList> attached;
    try {
        attached = PropertyList::parse(bytes);
    } catch (const PropertyListError&) {
        logger->critical(parseFailure);
        throw InstallationError::unableToMountDMG(parseFailure);
    }
    // Only a list made wholly of dictionaries counts: one stray element spoils the whole answer.
    const QList<PropertyListNode> entities = attached->root().value(u"system-entities"_s).elements();
    const bool allDictionaries =
            std::all_of(entities.begin(), entities.end(), [](const auto& entity) { return entity.isDictionary(); });
    if (allDictionaries) {
        for (const PropertyListNode& entity : entities) {
            if (const std::optional<QString> mountPoint = entity.value(u"mount-point"_s).string()) {
                logger->info(u"Mount point was successfully identified: %1"_s.arg(*mountPoint));
                co_return *mountPoint;
            }
        }
    }
    // The image may be attached although no mount point was learnt: detach whatever the report names,
    // so that nothing stays attached. The failure itself stays as it is.
    for (const QString& target : attachedTargets(entities)) {
        startDetach(target);
    }
    throw InstallationError::unableToMountDMG(parseFailure);
}

// The image as a whole is listed first with its device entry, and detaching it detaches every volume;
// without any device entry, each volume that names a mount point is detached on its own.
QStringList InstallerHelper::attachedTargets(const QList<PropertyListNode>& entities) {
    QStringList mountPoints;
    for (const PropertyListNode& entity : entities) {
        if (const std::optional<QString> device = entity.value(u"dev-entry"_s).string(); device && !device->isEmpty()) {
            return {*device};
        }
        if (const std::optional<QString> mountPoint = entity.value(u"mount-point"_s).string();
            mountPoint && !mountPoint->isEmpty()) {
            mountPoints.append(*mountPoint);
        }
    }
    return mountPoints;
}

QString InstallerHelper::findPKG(const QString& mountPoint) const {
    logger->info(u"Searching for PKG in DMG at mount point '%1'"_s.arg(mountPoint));
    std::error_code error;
    std::filesystem::directory_iterator entries(QFile::encodeName(mountPoint).toStdString(), error);
    const std::filesystem::directory_iterator end;
    for (; !error && entries != end; entries.increment(error)) {
        const QString name = QFile::decodeName(QByteArray::fromStdString(entries->path().filename().string()));
        if (name.endsWith(QLatin1String(".pkg"))) {
            const QString directory = mountPoint.endsWith(u'/') ? mountPoint : mountPoint + u'/';
            return directory + name;
        }
    }
    if (error) {
        throw SystemError(
                u"Could not list the contents of '%1': %2"_s.arg(mountPoint, QString::fromStdString(error.message())));
    }
    const QString message = u"No PKG found in DMG '%1'"_s.arg(mountPoint);
    logger->critical(message);
    throw InstallationError::pkgNotFound(message);
}

QCoro::Task<> InstallerHelper::installPKG(QString packagePath, QString appName) {
    logger->info(u"Install PKG '%1'"_s.arg(packagePath));
    const QString prompt = qtTrId("installer.disclaimer").arg(appName);
    // The privileged run hands its arguments to the shell unquoted; the path must stay one word.
    const QStringList arguments{u"-pkg"_s, quotedForShell(packagePath), u"-target"_s, u"/"_s};
    co_await processRunner->runWithAdminPrivileges(installerPath, arguments, prompt);
    logger->info(u"PKG installed succsessfully: '%1'"_s.arg(packagePath));
}

QCoro::Task<> InstallerHelper::installPKGFrom(QString packagePath, QString appName, QString sourceKind,
                                              QString sourcePath, InstallationError (*failed)(QString)) {
    try {
        co_await installPKG(packagePath, appName);
    } catch (const std::exception& failure) {
        const QString message =
                u"Failed to install from %1: '%2'. Error: %3"_s.arg(sourceKind, sourcePath, debugDescription(failure));
        logger->critical(message);
        throw failed(message);
    }
}

QCoro::Task<> InstallerHelper::unmountDMG(QString mountPoint) {
    logger->info(u"Unmount %1"_s.arg(mountPoint));
    try {
        const QStringList arguments{u"detach"_s, mountPoint, u"-quiet"_s};
        co_await processRunner->runProcess(hdiutilPath, arguments);
    } catch (const std::exception& failure) {
        const QString message =
                u"Failed to unmount DMG at: '%1'. Details: %2"_s.arg(mountPoint, localizedDescription(failure));
        logger->critical(message);
        throw InstallationError::unmountFailed(message);
    }
    logger->info(u"DMG mount point '%1' successfully unmounted"_s.arg(mountPoint));
}

void InstallerHelper::startDetach(const QString& mountPoint) {
    detachInBackground(shared_from_this(), mountPoint);
}

QCoro::Task<> InstallerHelper::detachInBackground(std::shared_ptr<InstallerHelper> self, QString mountPoint) {
    try {
        co_await self->unmountDMG(std::move(mountPoint));
    } catch (const std::exception&) {
        // Nobody waits for the detach; unmountDMG has logged its failure, and that is all it gets.
    }
}

} // namespace tarn
