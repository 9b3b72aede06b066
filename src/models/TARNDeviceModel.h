#pragma once

#include <QHash>
#include <QList>
#include <QString>

#include <functional>

namespace tarn {

// One supported scanner of the catalogue. The record is its own identity: two entries are the
// same entry exactly when all five fields agree.
struct TARNDeviceModel {
    QString name;
    QString vid;        // USB vendor identifier as hexadecimal text
    QString pid;        // USB product identifier as hexadecimal text
    QString configLink; // URL of the device's application configuration
    QString hash;       // SHA-512 of that configuration, hexadecimal

    const TARNDeviceModel& id() const { return *this; }

    friend bool operator==(const TARNDeviceModel&, const TARNDeviceModel&) = default;
};

// The catalogue as the workflow holds it; built in memory around the decoded list.
struct TARNDevicesListModel {
    QList<TARNDeviceModel> list;

    friend bool operator==(const TARNDevicesListModel&, const TARNDevicesListModel&) = default;
};

inline size_t qHash(const TARNDeviceModel& device, size_t seed = 0) noexcept {
    return qHashMulti(seed, device.name, device.vid, device.pid, device.configLink, device.hash);
}

inline size_t qHash(const TARNDevicesListModel& catalogue, size_t seed = 0) noexcept {
    seed = ::qHash(catalogue.list.size(), seed);
    for (const auto& device : catalogue.list) {
        seed = qHash(device, seed);
    }
    return seed;
}

} // namespace tarn

template <>
struct std::hash<tarn::TARNDeviceModel> {
    size_t operator()(const tarn::TARNDeviceModel& device) const noexcept { return tarn::qHash(device); }
};

template <>
struct std::hash<tarn::TARNDevicesListModel> {
    size_t operator()(const tarn::TARNDevicesListModel& catalogue) const noexcept { return tarn::qHash(catalogue); }
};
