#include "models/TARNDeviceAppConfigurationModel.h"

namespace tarn {

using namespace Qt::StringLiterals;

LocaleCodes LocaleCodes::from(const QLocale& locale) {
    LocaleCodes codes;
    if (locale.language() != QLocale::AnyLanguage && locale.language() != QLocale::C) {
        codes.languageCode = QLocale::languageToCode(locale.language());
    }
    if (locale.territory() != QLocale::AnyTerritory) {
        codes.regionCode = QLocale::territoryToCode(locale.territory());
    }
    return codes;
}

QString TARNDeviceAppConfigurationModel::localizedDescription(const LocaleCodes& locale) const {
    const QString fallback = descriptionLocalized.value(u"en"_s);
    if (!locale.languageCode || !locale.regionCode) {
        return fallback;
    }
    const QString& language = *locale.languageCode;
    const auto regional = descriptionLocalized.constFind(language + u'-' + locale.regionCode->toUpper());
    if (regional != descriptionLocalized.cend()) {
        return *regional;
    }
    const auto general = descriptionLocalized.constFind(language);
    if (general != descriptionLocalized.cend()) {
        return *general;
    }
    return fallback;
}

} // namespace tarn
