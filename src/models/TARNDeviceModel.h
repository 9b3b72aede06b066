#pragma once

#include <QList>
#include <QString>

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

} // namespace tarn
