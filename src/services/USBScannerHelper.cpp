#include "services/USBScannerHelper.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>
#include <QtConcurrent/QtConcurrentRun>
#include <qcoro/qcorofuture.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace tarn {

using namespace Qt::StringLiterals;

namespace {

// sysfs attributes never exceed a page; anything longer is not what we are looking for.
constexpr qint64 maxAttributeSize = 4096;

// An attribute's text, or nothing when the file is missing, unreadable or not UTF-8.
std::optional<QString> readAttribute(const QDir& device, const QString& name) {
    QFile file(device.filePath(name));
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const QByteArray bytes = file.read(maxAttributeSize);
    if (file.error() != QFileDevice::NoError) {
        return std::nullopt;
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        return std::nullopt;
    }
    return text;
}

// The entry names of the device folder, or nothing when it cannot be listed.
std::optional<QStringList> listDevices(const QString& folder) {
    std::error_code error;
    std::filesystem::directory_iterator entries(QFile::encodeName(folder).toStdString(), error);
    if (error) {
        return std::nullopt;
    }
    QStringList names;
    for (const std::filesystem::directory_iterator end; entries != end; entries.increment(error)) {
        if (error) {
            return std::nullopt;
        }
        names.append(QFile::decodeName(QByteArray::fromStdString(entries->path().filename().string())));
    }
    if (error) {
        return std::nullopt;
    }
    std::sort(names.begin(), names.end(), naturallyLess);
    return names;
}

QList<USBDeviceModel> matchingDevices(const std::shared_ptr<LoggerProtocol>& logger, const QString& sysfsRoot,
                                      const QList<USBDeviceModel>& vendorDevices) {
    const QDir devicesFolder(QDir(sysfsRoot).filePath(u"bus/usb/devices"_s));
    const std::optional<QStringList> entries = listDevices(devicesFolder.path());
    if (!entries) {
        return {};
    }
    logger->info(u"Searching for USB devices..."_s);

    QList<USBDeviceModel> matches;
    for (const QString& entry : *entries) {
        const QDir device(devicesFolder.filePath(entry));
        const auto vendorText = readAttribute(device, u"idVendor"_s);
        const auto productText = readAttribute(device, u"idProduct"_s);
        if (!vendorText && !productText) {
            continue; // an interface, not a device
        }
        const USBDeviceModel found{
                vendorText ? parseBase16(vendorText->trimmed()) : 0,
                productText ? parseBase16(productText->trimmed()) : 0,
                readAttribute(device, u"manufacturer"_s).value_or(u"Unknown Vendor"_s).trimmed(),
                readAttribute(device, u"product"_s).value_or(u"Unknown Device"_s).trimmed(),
        };
        logger->info(u"Found USB device: %1"_s.arg(found.description()));
        // Names take no part: USBDeviceModel compares identifiers only.
        if (vendorDevices.contains(found)) {
            matches.append(found);
        }
    }

    if (matches.isEmpty()) {
        logger->info(u"No matching USB devices found."_s);
    } else {
        logger->info(u"Found matching USB device: %1"_s.arg(debugDescription(matches)));
    }
    return matches;
}

} // namespace

USBScannerHelper::USBScannerHelper(std::shared_ptr<LoggerProtocol> logger, QString sysfsRoot)
    : logger(std::move(logger)), sysfsRoot(std::move(sysfsRoot)) {}

QCoro::Task<QList<USBDeviceModel>> USBScannerHelper::findMatchingUSBDevices(QList<USBDeviceModel> vendorDevices) {
    // Named first [gcc12-await-temporaries].
    QFuture<QList<USBDeviceModel>> walk = QtConcurrent::run(matchingDevices, logger, sysfsRoot, vendorDevices);
    co_return co_await walk;
}

bool naturallyLess(const QString& a, const QString& b) {
    const auto isDigit = [](QChar c) { return c >= u'0' && c <= u'9'; };
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            const qsizetype startA = i;
            const qsizetype startB = j;
            while (i < a.size() && isDigit(a[i])) {
                ++i;
            }
            while (j < b.size() && isDigit(b[j])) {
                ++j;
            }
            // Compare the numbers without converting them, so no run of digits is too long.
            QStringView numberA = QStringView(a).mid(startA, i - startA);
            QStringView numberB = QStringView(b).mid(startB, j - startB);
            while (numberA.size() > 1 && numberA.front() == u'0') {
                numberA = numberA.mid(1);
            }
            while (numberB.size() > 1 && numberB.front() == u'0') {
                numberB = numberB.mid(1);
            }
            if (numberA.size() != numberB.size()) {
                return numberA.size() < numberB.size();
            }
            if (const int order = numberA.compare(numberB); order != 0) {
                return order < 0;
            }
            continue;
        }
        if (a[i] != b[j]) {
            return a[i] < b[j];
        }
        ++i;
        ++j;
    }
    if ((a.size() - i) != (b.size() - j)) {
        return (a.size() - i) < (b.size() - j);
    }
    return a < b; // equal up to leading zeros: fall back to a strict total order
}

} // namespace tarn
