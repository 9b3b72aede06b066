#pragma once

#include "components/StyledText.h"
#include "models/TARNDeviceAppConfigurationModel.h"

#include <QLocale>
#include <QString>

#include <optional>

namespace tarn {

// What one application's row shows: its name, its description for the locale, the trial tag and
// whether the row is locked (a mandatory application stays as seeded).
struct PackageRow {
    QString title;
    std::optional<QString> subtitle;
    std::optional<QString> titleTag;
    bool isDisabled = false;

    friend bool operator==(const PackageRow&, const PackageRow&) = default;
};

PackageRow packageRow(const TARNDeviceAppConfigurationModel& entry, const QLocale& locale);

// The Download button's caption for `count` chosen applications: the text of "button.download" with
// the words before its "(" in "Poppins-Bold" 16 and the bracketed count in "Poppins-Light" 16, in
// "labelText", or in the primary button's disabled text colour while nothing is chosen.
StyledText downloadLabel(int count);

} // namespace tarn
