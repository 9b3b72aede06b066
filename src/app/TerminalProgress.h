#pragma once

#include "base/DownloadProgress.h"
#include "base/DownloadProgressText.h"

#include <QString>

#include <chrono>
#include <optional>

namespace tarn {

// The live line of the running download on a terminal:
//   [2/4] Scan Suite [##########--------------------]  34% · 142 of 418 MB · 2.1 MB/s · 2 min left
// redrawn in place at most ten times a second. The rate is the average since the download's first
// report, which a stall brings down steadily instead of making the time left jump about. The terminal
// lines are English, like the rest of the unattended mode's output.
class TerminalProgress {
public:
    static constexpr std::chrono::milliseconds redrawInterval{100};

    explicit TerminalProgress(UpdateThrottle::Clock clock = &std::chrono::steady_clock::now);

    // The line to draw now for this row's download, or none while redraws are throttled. A new row
    // starts a new measurement; the first report of a download and the complete one always draw.
    std::optional<QString> update(qsizetype index, qsizetype count, const QString& name,
                                  const DownloadProgress& progress);

    // The control sequences that put `text` over the current line, and that clear it. A line wider
    // than the terminal's `columns` (when known) is cut: a wrapped line could not be redrawn in place.
    static QString redraw(const QString& text, int columns = 0);
    static QString clear();

private:
    // The line itself, for a rate in bytes per second when one is known.
    static QString line(qsizetype index, qsizetype count, const QString& name, const DownloadProgress& progress,
                        std::optional<double> bytesPerSecond);
    // "45 s", "12 min", "1 h 5 min".
    static QString duration(std::chrono::seconds seconds);

    struct Measurement {
        qsizetype index = -1;
        qint64 firstBytes = 0;
        std::chrono::steady_clock::time_point start;
    };

    UpdateThrottle::Clock clock;
    UpdateThrottle redraws;
    Measurement measurement;
};

} // namespace tarn
