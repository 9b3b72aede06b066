#pragma once

#include "models/TARNDeviceModel.h"

#include <QList>
#include <QString>

#include <cstdint>

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
// nothing else; anything malformed or beyond a signed 64-bit integer reads as 0.
std::int64_t parseBase16(const QString& text);

// Upper-case hexadecimal without prefix or leading zeros; negative numbers keep their sign.
QString upperHex(std::int64_t value);

// The identities to look for on the bus, one per catalogue entry, in catalogue order, names empty.
QList<USBDeviceModel> toUSBDeviceModels(const QList<TARNDeviceModel>& catalogue);

// "[T_A_R_N__Installer.USBDeviceModel(vendorID: ..., ...), ...]"
QString debugDescription(const QList<USBDeviceModel>& devices);

} // namespace tarn
