#include "app/TerminalProgress.h"

#include <cmath>

namespace tarn {

TerminalProgress::TerminalProgress(UpdateThrottle::Clock clock) : clock(clock), redraws(redrawInterval, clock) {}

std::optional<QString> TerminalProgress::update(qsizetype index, qsizetype count, const QString& name,
                                                const DownloadProgress& progress) {
    const auto now = clock();
    if (measurement.index != index) {
        measurement = {index, progress.receivedBytes, now};
        redraws.reset();
    }
    const bool complete = progress.totalBytes && progress.receivedBytes >= *progress.totalBytes;
    if (complete) {
        redraws.reset();
    }
    if (redraws.delayBeforeUpdate(now).count() > 0) {
        return std::nullopt;
    }
    std::optional<double> rate;
    const double seconds = std::chrono::duration<double>(now - measurement.start).count();
    if (seconds > 0 && progress.receivedBytes > measurement.firstBytes) {
        rate = static_cast<double>(progress.receivedBytes - measurement.firstBytes) / seconds;
    }
    return line(index, count, name, progress, rate);
}

QString TerminalProgress::line(qsizetype index, qsizetype count, const QString& name, const DownloadProgress& progress,
                               std::optional<double> bytesPerSecond) {
    constexpr int barWidth = 30;
    const QLocale english = QLocale::c();
    QString text = QStringLiteral("[%1/%2] %3").arg(index + 1).arg(count).arg(name);
    QStringList figures;
    if (const auto percent = downloadPercent(progress)) {
        const int filled = *percent * barWidth / 100;
        text += QStringLiteral(" [%1%2] %3%")
                        .arg(QString(filled, u'#'), QString(barWidth - filled, u'-'))
                        .arg(*percent, 3);
        const ByteAmounts amounts = byteAmountsInUnitOfTotal(progress.receivedBytes, *progress.totalBytes, english);
        figures << amounts.received + QStringLiteral(" of ") + amounts.total;
    } else {
        figures << formattedByteAmount(progress.receivedBytes, english);
    }
    if (bytesPerSecond && *bytesPerSecond >= 1) {
        figures << formattedByteAmount(std::llround(*bytesPerSecond), english) + QStringLiteral("/s");
        if (progress.totalBytes && *progress.totalBytes > progress.receivedBytes) {
            const double left = static_cast<double>(*progress.totalBytes - progress.receivedBytes) / *bytesPerSecond;
            figures << duration(std::chrono::seconds(std::llround(std::ceil(left)))) + QStringLiteral(" left");
        }
    }
    return text + u' ' + figures.join(QStringLiteral(" · "));
}

QString TerminalProgress::duration(std::chrono::seconds seconds) {
    const qint64 total = seconds.count();
    if (total < 60) {
        return QStringLiteral("%1 s").arg(total);
    }
    const qint64 minutes = (total + 30) / 60;
    if (minutes < 60) {
        return QStringLiteral("%1 min").arg(minutes);
    }
    return QStringLiteral("%1 h %2 min").arg(minutes / 60).arg(minutes % 60);
}

QString TerminalProgress::redraw(const QString& text, int columns) {
    // Written first, then the rest of the old line erased: no flicker of an empty line.
    const QString fitted = columns > 1 && text.size() >= columns ? text.left(columns - 1) : text;
    return u'\r' + fitted + QStringLiteral("\x1b[K");
}

QString TerminalProgress::clear() {
    return QStringLiteral("\r\x1b[K");
}

} // namespace tarn
