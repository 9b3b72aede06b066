#pragma once

#include "models/LicenseType.h"

#include <QList>
#include <QLocale>
#include <QMap>
#include <QString>
#include <QUuid>

#include <optional>

namespace tarn {

// The two parts of a locale that choose a description; either may be absent.
struct LocaleCodes {
    std::optional<QString> languageCode;
    std::optional<QString> regionCode;

    static LocaleCodes from(const QLocale& locale);
};

// One installable application of a device's configuration. `id` is made fresh at decoding, so two
// entries decoded separately from the same text are different entries.
struct TARNDeviceAppConfigurationModel {
    QUuid id;
    QString name;
    QString version;
    bool mandatory = false;
    LicenseType licenseType = LicenseType::unknown;
    QString installer; // URL of the .pkg or .dmg
    QString hash;      // SHA-512 of the installer file, hexadecimal
    QString pkgId;     // receipt identifier of the installed package
    QMap<QString, QString> descriptionLocalized;

    // "lang-REGION", then "lang", then "en", then empty; a locale without a region goes straight to "en".
    QString localizedDescription(const LocaleCodes& locale) const;
    QString localizedDescription(const QLocale& locale) const {
        return localizedDescription(LocaleCodes::from(locale));
    }

    friend bool operator==(const TARNDeviceAppConfigurationModel&, const TARNDeviceAppConfigurationModel&) = default;
};

// A device's application configuration, the root of the second document. Equality only.
struct TARNDeviceAppsConfigurationModel {
    QString name;
    QString vid;
    QString pid;
    QString successUrl;
    QList<TARNDeviceAppConfigurationModel> apps;

    friend bool operator==(const TARNDeviceAppsConfigurationModel&, const TARNDeviceAppsConfigurationModel&) = default;
};

} // namespace tarn
