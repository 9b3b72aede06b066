#pragma once

#include "base/DownloadProgress.h"

#include <QLocale>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

namespace tarn {

// Whole percent, rounded down so that 100 shows only once every byte is there; none without a length.
std::optional<int> downloadPercent(const DownloadProgress& progress);

// One amount in decimal units as desktop file managers show sizes ("418.2 MB", "1.4 GB"), in the
// locale's digits and unit names.
QString formattedByteAmount(qint64 bytes, const QLocale& locale = QLocale());

// The received amount as a bare number in the unit of the total, and the total with its unit ("142",
// "418 MB"), so the two numbers compare at a glance.
struct ByteAmounts {
    QString received;
    QString total;
};
ByteAmounts byteAmountsInUnitOfTotal(qint64 receivedBytes, qint64 totalBytes, const QLocale& locale = QLocale());
// The two as the translated "142 of 418 MB".
QString formattedByteAmounts(qint64 receivedBytes, qint64 totalBytes, const QLocale& locale = QLocale());

// The line under a downloading row: "34 % · 142 of 418 MB", or "142.3 MB received" when the server
// announced no length. Texts are looked up by id, so they follow the installed translation.
QString downloadProgressText(const DownloadProgress& progress, const QLocale& locale = QLocale());

// Lets an update through at most once per interval. An update that comes too early is owed: the
// caller draws the latest value after the delay answered, so the last value is never lost.
class UpdateThrottle {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    explicit UpdateThrottle(std::chrono::milliseconds interval, Clock clock = &std::chrono::steady_clock::now);

    // Zero: update now (counted as done). Otherwise how long to wait before asking again.
    std::chrono::milliseconds delayBeforeUpdate() { return delayBeforeUpdate(clock()); }
    // The same at a time the caller has just read from the clock.
    std::chrono::milliseconds delayBeforeUpdate(std::chrono::steady_clock::time_point now);
    // The next update goes through at once, as the first one does.
    void reset() { lastUpdate.reset(); }

private:
    std::chrono::milliseconds interval;
    Clock clock;
    std::optional<std::chrono::steady_clock::time_point> lastUpdate;
};

} // namespace tarn
