#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace tarn {

// What the machine reports about the free space of the file system holding "/".
struct FreeDiskSpace {
    bool attributesReadable = false;       // false: the file system could not be asked at all
    std::optional<std::int64_t> freeBytes; // absent: asked, but no usable free-size figure
};

// The processor type codes the machine description distinguishes.
inline constexpr std::uint32_t cpuTypeArm64 = 0x0100000C;
inline constexpr std::uint32_t cpuTypeX86_64 = 0x01000007;

// The platform facts the logger needs, kept apart so that the logic runs on any machine and in tests.
class LoggerEnvironment {
public:
    virtual ~LoggerEnvironment() = default;

    virtual std::optional<QString> bundleIdentifier() const = 0;
    // The user's application-support folders, most specific first; may be empty.
    virtual QStringList applicationSupportDirectories() const = 0;
    // Name and version of the operating system.
    virtual QString operatingSystemDescription() const = 0;
    // The processor type code; 0 when it cannot be read.
    virtual std::uint32_t cpuType() const = 0;
    virtual FreeDiskSpace freeDiskSpace() const = 0;
    virtual QDateTime now() const = 0;
};

// This machine: XDG data home, os-release, the processor architecture and statvfs("/").
class SystemLoggerEnvironment final : public LoggerEnvironment {
public:
    std::optional<QString> bundleIdentifier() const override;
    QStringList applicationSupportDirectories() const override;
    QString operatingSystemDescription() const override;
    std::uint32_t cpuType() const override;
    FreeDiskSpace freeDiskSpace() const override;
    QDateTime now() const override;
};

} // namespace tarn
