#pragma once

#include <QString>
#include <QUrl>

#include <optional>

namespace tarn {

// Where every service reports progress (info) and failures (critical). Logging never fails.
// Callable from any thread.
class LoggerProtocol {
public:
    virtual ~LoggerProtocol() = default;

    // This run's log file; absent when there is nowhere to keep one.
    virtual std::optional<QUrl> logFileURL() const = 0;
    virtual void info(const QString& message) = 0;
    virtual void critical(const QString& message) = 0;
};

} // namespace tarn
