#include "app/TerminalProgress.h"

#include <cmath>

namespace tarn {

using namespace Qt::StringLiterals;

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
    QString text = u"[%1/%2] %3"_s.arg(index + 1).arg(count).arg(name);
    QStringList figures;
    if (const auto percent = downloadPercent(progress)) {
        const int filled = *percent * barWidth / 100;
        text += u" [%1%2] %3%"_s.arg(QString(filled, u'#'), QString(barWidth - filled, u'-')).arg(*percent, 3);
        const ByteAmounts amounts = byteAmountsInUnitOfTotal(progress.receivedBytes, *progress.totalBytes, english);
        figures << u"%1 of %2"_s.arg(amounts.received, amounts.total);
    } else {
        figures << formattedByteAmount(progress.receivedBytes, english);
    }
    if (bytesPerSecond && *bytesPerSecond >= 1) {
        figures << u"%1/s"_s.arg(formattedByteAmount(std::llround(*bytesPerSecond), english));
        if (progress.totalBytes && *progress.totalBytes > progress.receivedBytes) {
            const double left = static_cast<double>(*progress.totalBytes - progress.receivedBytes) / *bytesPerSecond;
            figures << u"%1 left"_s.arg(duration(std::chrono::seconds(std::llround(std::ceil(left)))));
        }
    }
    return u"%1 %2"_s.arg(text, figures.join(u" · "_s));
}

QString TerminalProgress::duration(std::chrono::seconds seconds) {
    const qint64 total = seconds.count();
    if (total < 60) {
        return u"%1 s"_s.arg(total);
    }
    const qint64 minutes = (total + 30) / 60;
    if (minutes < 60) {
        return u"%1 min"_s.arg(minutes);
    }
    return u"%1 h %2 min"_s.arg(minutes / 60).arg(minutes % 60);
}

QString TerminalProgress::redraw(const QString& text, int columns) {
    // Written first, then the rest of the old line erased: no flicker of an empty line.
    const QString fitted = columns > 1 && text.size() >= columns ? text.left(columns - 1) : text;
    return u"\r%1\x1b[K"_s.arg(fitted);
}

QString TerminalProgress::clear() {
    return u"\r\x1b[K"_s;
}

} // namespace tarn
