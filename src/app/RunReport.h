#pragma once

#include "workflow/AppInstallTask.h"

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QUuid>

#include <chrono>
#include <functional>
#include <optional>

namespace tarn {

// What an unattended run did, for the management tool that started it on many machines: the service
// asked, the device chosen and how, and per application its versions, final state, error, bytes and
// time. Follows the run as it goes, so that a run ended by a signal still reports where it stood.
class RunReport {
public:
    enum class DeviceChoice { detected, commandLine };
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    explicit RunReport(QString serviceUrl, Clock clock = &std::chrono::steady_clock::now);

    void deviceChosen(const QString& name, DeviceChoice how);
    void installedVersionFound(const QString& pkgId, const std::optional<QString>& version);
    // The rows as published: when each leaves `ready` and when it ends, and what it downloaded.
    void observe(const QList<AppInstallTask>& tasks);

    // Replaces `path` as a whole or not at all. Answers what went wrong, or nothing.
    std::optional<QString> writeTo(const QString& path, int exitCode) const;

private:
    static constexpr int formatVersion = 1;

    QJsonObject toJson(int exitCode) const;
    // "success", "failed", "usageError", "optionalFailed", "interrupted" (128 + a signal's number).
    static QString outcomeName(int exitCode);

    struct RowTimes {
        std::optional<std::chrono::steady_clock::time_point> started;
        std::optional<std::chrono::steady_clock::time_point> ended;
        qint64 bytes = 0;
    };

    QString serviceUrl;
    Clock clock;
    QString startedAt;
    std::optional<QString> device;
    DeviceChoice deviceChoice = DeviceChoice::detected;
    QHash<QString, std::optional<QString>> versionsBefore;
    QList<AppInstallTask> tasks;
    QHash<QUuid, RowTimes> times;
};

} // namespace tarn
