#pragma once

#include <QtGlobal>

#include <algorithm>
#include <optional>

namespace tarn {

// How far one download has come: the bytes stored so far and, when the server announced one, the
// length they are counted against. Without a length there is no fraction to show, only bytes.
struct DownloadProgress {
    qint64 receivedBytes = 0;
    std::optional<qint64> totalBytes;

    // From 0 to 1 when the length is known.
    std::optional<double> fraction() const {
        if (!totalBytes || *totalBytes <= 0) {
            return std::nullopt;
        }
        return std::clamp(static_cast<double>(receivedBytes) / static_cast<double>(*totalBytes), 0.0, 1.0);
    }

    bool operator==(const DownloadProgress&) const = default;
};

} // namespace tarn
