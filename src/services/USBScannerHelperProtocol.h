#pragma once

#include "models/USBDeviceModel.h"

#include <QList>
#include <qcoro/qcorotask.h>

namespace tarn {

// Which connected USB devices have a vendor and product pair from the given list, in bus order.
// Never fails: a bus that cannot be read yields an empty list.
class USBScannerHelperProtocol {
public:
    virtual ~USBScannerHelperProtocol() = default;

    virtual QCoro::Task<QList<USBDeviceModel>> findMatchingUSBDevices(QList<USBDeviceModel> vendorDevices) = 0;
};

} // namespace tarn
