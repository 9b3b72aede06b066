#pragma once

#include "services/LoggerProtocol.h"
#include "services/USBScannerHelperProtocol.h"

#include <QString>

#include <memory>

namespace tarn {

// Finds the connected USB devices whose vendor and product pair is in a list, by walking the kernel's
// USB device tree (<sysfs root>/bus/usb/devices) off the GUI thread. A USB device is an entry with an
// idVendor or idProduct attribute, which leaves out the interfaces. Devices are visited in "registry
// order": the natural order of their entry names, so bus 1 comes before bus 2 and port 1-2 before 1-10,
// and the same bus layout always gives the same order.
class USBScannerHelper final : public USBScannerHelperProtocol {
public:
    explicit USBScannerHelper(std::shared_ptr<LoggerProtocol> logger, QString sysfsRoot = QStringLiteral("/sys"));

    QCoro::Task<QList<USBDeviceModel>> findMatchingUSBDevices(QList<USBDeviceModel> vendorDevices) override;

private:
    std::shared_ptr<LoggerProtocol> logger;
    QString sysfsRoot;
};

// Whether `a` sorts before `b` when runs of digits are compared as numbers ("1-2" < "1-10").
bool naturallyLess(const QString& a, const QString& b);

} // namespace tarn
