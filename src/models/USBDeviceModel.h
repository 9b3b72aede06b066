#pragma once

#include "models/TARNDeviceModel.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

namespace tarn {

// A device on the USB bus, or an identity to look for. Devices are the same when their vendor and
// product numbers agree; the names are what the device reports and take no part in the comparison.
struct USBDeviceModel {
    std::int64_t vendorID = 0;
    std::int64_t productID = 0;
    QString vendorName;
    QString deviceName;

    // "Vendor ID = 4A9, Product ID = 1234, Vendor Name = A, Device Name = B"
    QString description() const;
    // The qualified dump form a log line uses for lists of matches.
    QString debugDescription() const;

    friend bool operator==(const USBDeviceModel& a, const USBDeviceModel& b) {
        return a.vendorID == b.vendorID && a.productID == b.productID;
    }
};

// Reads an identifier the catalogue writes in base 16: an optional sign and one or more hex digits,
// nothing else; anything malformed or beyond a signed 64-bit integer is no number.
std::optional<std::int64_t> readBase16(const QString& text);

// `readBase16`, with 0 for no number.
std::int64_t parseBase16(const QString& text);

// The identities to look for on the bus, one per catalogue entry, in catalogue order, names empty.
// An entry whose `vid` or `pid` is no base-16 number is left out: it names no device, and reading
// it as 0 would let it match one.
QList<USBDeviceModel> toUSBDeviceModels(const QList<TARNDeviceModel>& catalogue);

// "[T_A_R_N__Installer.USBDeviceModel(vendorID: ..., ...), ...]"
QString debugDescription(const QList<USBDeviceModel>& devices);

} // namespace tarn
