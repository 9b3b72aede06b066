#include "base/DownloadProgressText.h"

#include "base/Localization.h"

#include <cmath>

namespace tarn {
namespace {

// The decimal power QLocale::formattedDataSize picks for `bytes` (0 bytes, 1 kB, 2 MB, ...).
int decimalPower(qint64 bytes) {
    return bytes > 0 ? static_cast<int>(std::log10(static_cast<double>(bytes))) / 3 : 0;
}

// One decimal while the number is small enough for it to matter, as file managers do.
int decimalsFor(qint64 bytes, int power) {
    return power > 0 && static_cast<double>(bytes) / std::pow(1000.0, power) < 100 ? 1 : 0;
}

} // namespace

std::optional<int> downloadPercent(const DownloadProgress& progress) {
    if (!progress.totalBytes || *progress.totalBytes <= 0) {
        return std::nullopt;
    }
    const qint64 received = std::clamp<qint64>(progress.receivedBytes, 0, *progress.totalBytes);
    return static_cast<int>(received * 100 / *progress.totalBytes);
}

// Alone, an amount keeps its decimal: without a length it is the only figure that shows movement.
QString formattedByteAmount(qint64 bytes, const QLocale& locale) {
    return locale.formattedDataSize(std::max<qint64>(bytes, 0), 1, QLocale::DataSizeSIFormat);
}

ByteAmounts byteAmountsInUnitOfTotal(qint64 receivedBytes, qint64 totalBytes, const QLocale& locale) {
    totalBytes = std::max<qint64>(totalBytes, 0);
    receivedBytes = std::clamp<qint64>(receivedBytes, 0, totalBytes);
    const int power = decimalPower(totalBytes);
    const int decimals = decimalsFor(totalBytes, power);
    const QString received =
            power > 0 ? locale.toString(static_cast<double>(receivedBytes) / std::pow(1000.0, power), 'f', decimals)
                      : locale.toString(receivedBytes);
    return {received, locale.formattedDataSize(totalBytes, decimals, QLocale::DataSizeSIFormat)};
}

QString formattedByteAmounts(qint64 receivedBytes, qint64 totalBytes, const QLocale& locale) {
    const ByteAmounts amounts = byteAmountsInUnitOfTotal(receivedBytes, totalBytes, locale);
    return localized(u"install.progress.amounts").arg(amounts.received, amounts.total);
}

QString downloadProgressText(const DownloadProgress& progress, const QLocale& locale) {
    if (const auto percent = downloadPercent(progress)) {
        return localized(u"install.progress.sized")
                .arg(locale.toString(*percent),
                     formattedByteAmounts(progress.receivedBytes, *progress.totalBytes, locale));
    }
    return localized(u"install.progress.unsized").arg(formattedByteAmount(progress.receivedBytes, locale));
}

UpdateThrottle::UpdateThrottle(std::chrono::milliseconds interval, Clock clock)
    : interval(interval), clock(std::move(clock)) {}

std::chrono::milliseconds UpdateThrottle::delayBeforeUpdate(std::chrono::steady_clock::time_point now) {
    if (lastUpdate && now - *lastUpdate < interval) {
        return std::chrono::ceil<std::chrono::milliseconds>(interval - (now - *lastUpdate));
    }
    lastUpdate = now;
    return std::chrono::milliseconds(0);
}

} // namespace tarn
