#pragma once

#include "models/TARNDeviceModel.h"

#include <QList>
#include <QString>

#include <optional>

namespace tarn {

// Where the device search stands. Only `found` carries a catalogue entry; two states are equal when
// they are the same case and, for `found`, the same entry.
class DeviceSearchState {
public:
    enum class Case { found, searching, notFound, prepareForSearching };

    static DeviceSearchState found(TARNDeviceModel device) { return DeviceSearchState(std::move(device)); }
    static DeviceSearchState searching() { return DeviceSearchState(Case::searching); }
    static DeviceSearchState notFound() { return DeviceSearchState(Case::notFound); }
    static DeviceSearchState prepareForSearching() { return DeviceSearchState(Case::prepareForSearching); }

    // `notFound`: no search has run yet.
    DeviceSearchState() : DeviceSearchState(Case::notFound) {}

    bool is(Case other) const { return searchCase == other; }
    // The matched entry of `found`; absent for every other case.
    const std::optional<TARNDeviceModel>& device() const { return matchedDevice; }

    friend bool operator==(const DeviceSearchState&, const DeviceSearchState&) = default;

private:
    explicit DeviceSearchState(Case searchCase) : searchCase(searchCase) {}
    explicit DeviceSearchState(TARNDeviceModel device) : searchCase(Case::found), matchedDevice(std::move(device)) {}

    Case searchCase;
    std::optional<TARNDeviceModel> matchedDevice;
};

// The search ended with nothing to look for: the catalogue lists no scanner. Nothing can be picked
// either, so the search screen says so and offers only a way back or out.
bool endedWithoutSupportedDevices(const DeviceSearchState& status, const QList<TARNDeviceModel>& supportedDevices);

} // namespace tarn
