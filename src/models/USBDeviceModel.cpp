#include "models/USBDeviceModel.h"

#include "base/Error.h"

#include <limits>

namespace tarn {

using namespace Qt::StringLiterals;

std::optional<std::int64_t> readBase16(const QString& text) {
    qsizetype position = 0;
    bool negative = false;
    if (!text.isEmpty() && (text.front() == u'+' || text.front() == u'-')) {
        negative = text.front() == u'-';
        position = 1;
    }
    if (position == text.size()) {
        return std::nullopt;
    }
    // Accumulate the magnitude unsigned so that the most negative value fits exactly.
    constexpr std::uint64_t maxMagnitude = std::uint64_t{1} << 63;
    std::uint64_t magnitude = 0;
    for (; position < text.size(); ++position) {
        const char16_t c = text.at(position).unicode();
        unsigned digit = 0;
        if (c >= u'0' && c <= u'9') {
            digit = c - u'0';
        } else if (c >= u'a' && c <= u'f') {
            digit = c - u'a' + 10;
        } else if (c >= u'A' && c <= u'F') {
            digit = c - u'A' + 10;
        } else {
            return std::nullopt;
        }
        if (magnitude > (maxMagnitude - digit) / 16) {
            return std::nullopt;
        }
        magnitude = magnitude * 16 + digit;
    }
    if (negative) {
        return magnitude == maxMagnitude ? std::numeric_limits<std::int64_t>::min()
                                         : -static_cast<std::int64_t>(magnitude);
    }
    if (magnitude == maxMagnitude) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(magnitude);
}

std::int64_t parseBase16(const QString& text) {
    return readBase16(text).value_or(0);
}

namespace {

// Upper-case hexadecimal without prefix or leading zeros; negative numbers keep their sign.
QString upperHex(std::int64_t value) {
    if (value >= 0) {
        return QString::number(static_cast<qulonglong>(value), 16).toUpper();
    }
    const auto magnitude = std::uint64_t{0} - static_cast<std::uint64_t>(value);
    return u'-' + QString::number(static_cast<qulonglong>(magnitude), 16).toUpper();
}

} // namespace

QString USBDeviceModel::description() const {
    return u"Vendor ID = %1, Product ID = %2, Vendor Name = %3, Device Name = %4"_s.arg(
            upperHex(vendorID), upperHex(productID), vendorName, deviceName);
}

QString USBDeviceModel::debugDescription() const {
    return u"T_A_R_N__Installer.USBDeviceModel(vendorID: %1, productID: %2, vendorName: %3, "
           "deviceName: %4)"_s.arg(QString::number(vendorID), QString::number(productID), quotedForDebug(vendorName),
                                   quotedForDebug(deviceName));
}

QList<USBDeviceModel> toUSBDeviceModels(const QList<TARNDeviceModel>& catalogue) {
    QList<USBDeviceModel> identities;
    identities.reserve(catalogue.size());
    for (const auto& device : catalogue) {
        const auto vendor = readBase16(device.vid);
        const auto product = readBase16(device.pid);
        if (vendor && product) {
            identities.append(USBDeviceModel{*vendor, *product, {}, {}});
        }
    }
    return identities;
}

QString debugDescription(const QList<USBDeviceModel>& devices) {
    QStringList parts;
    parts.reserve(devices.size());
    for (const auto& device : devices) {
        parts.append(device.debugDescription());
    }
    return u'[' + parts.join(u", "_s) + u']';
}

} // namespace tarn
