#pragma once

#include "services/LoggerEnvironment.h"
#include "services/LoggerProtocol.h"
#include "services/SystemLogSink.h"

#include <QMutex>
#include <QString>
#include <QUrl>

#include <memory>
#include <optional>

namespace tarn {

// Sends every message to the system log and appends it as one time-stamped line to this day's log
// file in the user's application-support folder. The first line of each run describes the machine.
class Logger final : public LoggerProtocol {
public:
    // This machine's journal and folders.
    Logger();
    Logger(std::shared_ptr<SystemLogSink> systemLog, std::shared_ptr<LoggerEnvironment> environment);

    std::optional<QUrl> logFileURL() const override { return fileURL; }
    void info(const QString& message) override;
    void critical(const QString& message) override;

    // The processor family the machine description names for a processor type code.
    static QString cpuDescription(std::uint32_t cpuType);

private:
    void setUpLogFile();
    void logMachineDescription();
    void log(LogLevel level, const QString& message);
    void appendToFile(const QString& prefixedMessage);

    std::shared_ptr<SystemLogSink> systemLog;
    std::shared_ptr<LoggerEnvironment> environment;
    QString logSubsystem;
    std::optional<QUrl> fileURL;
    QMutex fileMutex; // one line at a time, so lines from different threads never interleave
};

} // namespace tarn
