#pragma once

#include <QString>

namespace tarn {

enum class LogLevel { info, critical };

// The operating system's log. Writing to it never fails towards the caller.
class SystemLogSink {
public:
    virtual ~SystemLogSink() = default;

    virtual void write(LogLevel level, const QString& subsystem, const QString& category, const QString& text) = 0;
};

// The systemd journal; where no journal runs, entries go nowhere.
class JournalLogSink final : public SystemLogSink {
public:
    void write(LogLevel level, const QString& subsystem, const QString& category, const QString& text) override;
};

} // namespace tarn
