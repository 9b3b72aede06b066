#include "models/LicenseType.h"

namespace tarn {

QString rawValue(LicenseType type) {
    switch (type) {
    case LicenseType::trial:
        return QStringLiteral("trial");
    case LicenseType::full:
        return QStringLiteral("free");
    case LicenseType::unknown:
        return QStringLiteral("Unknown");
    }
    return QStringLiteral("Unknown");
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
