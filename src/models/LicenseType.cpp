#include "models/LicenseType.h"

#include <iterator>

namespace tarn {

using namespace Qt::StringLiterals;

QString rawValue(LicenseType type) {
    // In declaration order; note that `full` is written "free".
    static constexpr QStringView texts[] = {u"trial", u"free", u"Unknown"};
    const auto index = static_cast<size_t>(type);
    return index < std::size(texts) ? texts[index].toString() : u"Unknown"_s;
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
