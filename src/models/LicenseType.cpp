#include "models/LicenseType.h"

namespace tarn {

using namespace Qt::StringLiterals;

QString rawValue(LicenseType type) {
    switch (type) {
    case LicenseType::trial:
        return u"trial"_s;
    case LicenseType::full:
        return u"free"_s;
    case LicenseType::unknown:
        return u"Unknown"_s;
    }
    return u"Unknown"_s;
}

std::optional<LicenseType> licenseTypeFromRawValue(const QString& text) {
    for (const auto type : {LicenseType::trial, LicenseType::full, LicenseType::unknown}) {
        if (rawValue(type) == text) {
            return type;
        }
    }
    return std::nullopt;
}

LicenseType licenseTypeFromEntryText(const QString& text) {
    const QString lowered = text.toLower();
    if (lowered == rawValue(LicenseType::trial)) {
        return LicenseType::trial;
    }
    if (lowered == rawValue(LicenseType::full)) {
        return LicenseType::full;
    }
    return LicenseType::unknown;
}

} // namespace tarn
