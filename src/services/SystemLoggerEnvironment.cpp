#include "services/LoggerEnvironment.h"

#include <QStandardPaths>
#include <QSysInfo>

#include <sys/statvfs.h>

namespace tarn {

std::optional<QString> SystemLoggerEnvironment::bundleIdentifier() const {
    return std::nullopt; // an executable on Linux carries no bundle identifier
}

QStringList SystemLoggerEnvironment::applicationSupportDirectories() const {
    return QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
}

QString SystemLoggerEnvironment::operatingSystemDescription() const {
    return QSysInfo::prettyProductName();
}

std::uint32_t SystemLoggerEnvironment::cpuType() const {
    const QString architecture = QSysInfo::currentCpuArchitecture();
    if (architecture == QLatin1String("arm64")) {
        return cpuTypeArm64;
    }
    if (architecture == QLatin1String("x86_64")) {
        return cpuTypeX86_64;
    }
    return 0;
}

FreeDiskSpace SystemLoggerEnvironment::freeDiskSpace() const {
    struct statvfs stats {};
    if (statvfs("/", &stats) != 0) {
        return {false, std::nullopt};
    }
    const auto freeBytes = static_cast<unsigned long long>(stats.f_bavail) * stats.f_frsize;
    return {true, static_cast<std::int64_t>(freeBytes)};
}

QDateTime SystemLoggerEnvironment::now() const {
    return QDateTime::currentDateTime();
}

} // namespace tarn
