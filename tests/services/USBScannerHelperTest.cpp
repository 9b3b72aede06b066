#include "services/USBScannerHelper.h"

#include "ServicesTestSupport.h"
#include "fixtures/UsbDeviceTree.h"

#include <QTemporaryDir>
#include <gmock/gmock.h>

namespace tarn {

using namespace Qt::StringLiterals;
namespace {

using fixtures::UsbDevice;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr quint16 tarnVendor = 0x04A9;
constexpr quint16 scannerProduct = 0x1A0B;

USBDeviceModel identity(std::int64_t vendorID, std::int64_t productID) {
    return {vendorID, productID, {}, {}};
}

// A bus with a root hub, against which each test plugs in its own devices.
class USBScannerHelperTest : public ::testing::Test {
protected:
    USBScannerHelperTest() {
        tree.addDevice(UsbDevice::withIdentity(u"usb1"_s, 0x1D6B, 0x0002, u"Linux 6.1.0 xhci-hcd"_s,
                                               u"xHCI Host Controller"_s));
    }

    QList<USBDeviceModel> find(const QList<USBDeviceModel>& vendorDevices) {
        logger->clear();
        return test::waitFor(helper.findMatchingUSBDevices(vendorDevices));
    }

    QTemporaryDir sysfs;
    fixtures::UsbDeviceTree tree{sysfs.path()};
    std::shared_ptr<test::RecordingLogger> logger = std::make_shared<test::RecordingLogger>();
    USBScannerHelper helper{logger, sysfs.path()};
};

TEST_F(USBScannerHelperTest, LogsEveryDeviceAndReturnsOnlyTheMatchingOnes) {
    tree.addDevice(UsbDevice::withIdentity(u"1-1"_s, tarnVendor, scannerProduct, u"TARN"_s, u"TARN S1"_s));
    // Same vendor, another product: seen, not returned.
    tree.addDevice(UsbDevice::withIdentity(u"1-2"_s, tarnVendor, 0xFFFF, u"TARN"_s, u"TARN Card Reader"_s));

    const auto matches = find({identity(0x1234, 0x5678), identity(tarnVendor, scannerProduct)});

    EXPECT_EQ(debugDescription(matches), u"[T_A_R_N__Installer.USBDeviceModel(vendorID: 1193, productID: 6667, "
                                         "vendorName: \"TARN\", deviceName: \"TARN S1\")]"_s);
    EXPECT_THAT(logger->lines(),
                ElementsAre("[INFO] Searching for USB devices...",
                            "[INFO] Found USB device: Vendor ID = 4A9, Product ID = 1A0B, Vendor Name = TARN, "
                            "Device Name = TARN S1",
                            "[INFO] Found USB device: Vendor ID = 4A9, Product ID = FFFF, Vendor Name = TARN, "
                            "Device Name = TARN Card Reader",
                            "[INFO] Found USB device: Vendor ID = 1D6B, Product ID = 2, Vendor Name = Linux 6.1.0 "
                            "xhci-hcd, Device Name = xHCI Host Controller",
                            "[INFO] Found matching USB device: " + debugDescription(matches)));

    // Nothing asked for: every device is still logged.
    EXPECT_THAT(find({}), IsEmpty());
    EXPECT_EQ(logger->lines().size(), 5);
    EXPECT_EQ(logger->lines().last(), u"[INFO] No matching USB devices found."_s);
}

// Identical scanners come in registry order (plugged in out of order, and named so that a plain text sort
// would put 1-10 first); missing or unreadable names fall back, present ones are trimmed.
TEST_F(USBScannerHelperTest, IdenticalScannersComeInRegistryOrderWithTrimmedOrFallbackNames) {
    auto garbled = UsbDevice::withIdentity(u"2-1"_s, tarnVendor, scannerProduct, std::nullopt, u"S3"_s);
    garbled.manufacturer = QByteArray("\xff\xfe\n"); // not text: as good as absent
    auto padded = UsbDevice::withIdentity(u"1-2"_s, tarnVendor, scannerProduct, std::nullopt, std::nullopt);
    padded.manufacturer = QByteArray(" \tTARN Corp.  \n");
    padded.product = QByteArray("TARN S2   \n\n");
    for (const auto& device :
         {garbled, UsbDevice::withIdentity(u"1-10"_s, tarnVendor, scannerProduct, std::nullopt, std::nullopt),
          padded}) {
        tree.addDevice(device);
    }

    QStringList names;
    for (const auto& device : find({identity(tarnVendor, scannerProduct), identity(tarnVendor, scannerProduct)})) {
        names.append(device.vendorName + u'/' + device.deviceName);
    }
    EXPECT_EQ(names, QStringList({"TARN Corp./TARN S2", "Unknown Vendor/Unknown Device", "Unknown Vendor/S3"}));
    EXPECT_THAT(logger->lines(), ::testing::Contains("[INFO] Found USB device: Vendor ID = 4A9, Product ID = 1A0B, "
                                                     "Vendor Name = TARN Corp., Device Name = TARN S2"));
}

TEST_F(USBScannerHelperTest, MissingOrUnreadableIdentifiersReadAsZero) {
    auto noVendor = UsbDevice::withIdentity(u"1-1"_s, 0, scannerProduct, u"TARN"_s, u"S1"_s);
    noVendor.idVendor.reset();
    tree.addDevice(noVendor);
    noVendor = UsbDevice::withIdentity(u"1-2"_s, 0, 0x1A0C, u"TARN"_s, u"S2"_s);
    noVendor.idVendor = QByteArray("zz\n"); // unreadable
    tree.addDevice(noVendor);

    // A catalogue vid that could not be read is vendor 0 too: such an entry matches by product alone.
    const QList<USBDeviceModel> zeroVendor{identity(0, scannerProduct), identity(0, 0x1A0C)};
    EXPECT_EQ(find(zeroVendor), zeroVendor); // equal identities: the numbers read
    EXPECT_THAT(find({identity(tarnVendor, scannerProduct)}), IsEmpty());
}

TEST_F(USBScannerHelperTest, ATreeThatCannotBeReadYieldsNothingAndLogsNothing) {
    ASSERT_TRUE(test::writeFile(sysfs.filePath(u"file/bus/usb/devices"_s), {}));
    for (const QString& root : {sysfs.filePath(u"missing"_s), sysfs.filePath(u"file"_s)}) {
        EXPECT_THAT(test::waitFor(USBScannerHelper(logger, root).findMatchingUSBDevices({identity(0, 0)})), IsEmpty());
        EXPECT_THAT(logger->lines(), IsEmpty()) << root.toStdString();
    }
}

} // namespace
} // namespace tarn
