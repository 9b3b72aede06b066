#pragma once

#include "services/LoggerProtocol.h"
#include "services/PkgUtilHelperProtoco.h"
#include "services/ProcessRunnerProtocol.h"
#include "services/PropertyList.h"

#include <memory>
#include <optional>

namespace tarn {

// The parts of a package receipt that decide whether an application is already installed.
struct PkgDetails {
    QString pkgId; // the identifier the receipt was asked for
    std::optional<QString> bundleVersion;
    std::optional<QString> bundleShortVersion;
    QString installLocation;
    QStringList paths; // the receipt's installed paths, relative to the install location
};

struct BundleVersions {
    std::optional<QString> shortVersion;
    std::optional<QString> version;
};

// Decides whether an application must be installed, from the receipt the package tool keeps: the
// version of the installed bundle against the version the configuration announces. Anything unclear
// means "install"; only a same or newer installed copy is skipped, and a copy without any version installs.
class PkgUtilHelper final : public PkgUtilHelperProtoco {
public:
    PkgUtilHelper(std::shared_ptr<LoggerProtocol> logger, std::shared_ptr<ProcessRunnerProtocol> processRunner,
                  QString launchPath);

    QCoro::Task<bool> isInstallationNeeded(QString pkgId, QString requestedVersion) override;
    // A dotted version first, as the installation check reads it, then any version the bundle has.
    QCoro::Task<std::optional<QString>> installedVersion(QString pkgId) override;

    // Compares digit runs by their value and every other character by its code point, case-sensitively.
    // Leading zeros do not count (1.01 equals 1.1); only ASCII digits are digits. Answers <0, 0 or >0.
    static int compareVersions(const QString& left, const QString& right);

private:
    QCoro::Task<std::optional<PkgDetails>> packageDetails(QString pkgId);
    std::optional<BundleVersions> readBundleVersions(const QString& plistPath) const;

    std::shared_ptr<LoggerProtocol> logger;
    std::shared_ptr<ProcessRunnerProtocol> processRunner;
    QString launchPath;
};

} // namespace tarn
