#pragma once

#include <QString>

#include <optional>

namespace tarn {

// The licence label of an application. Note that `full` is written "free" in the documents.
enum class LicenseType { trial, full, unknown };

QString rawValue(LicenseType type);

// Exact, case-sensitive match of the three texts; any other text gives no value.
std::optional<LicenseType> licenseTypeFromRawValue(const QString& text);

// The rule an application entry uses: lower-cased, then "trial" or "free"; everything else is `unknown`.
LicenseType licenseTypeFromEntryText(const QString& text);

} // namespace tarn
