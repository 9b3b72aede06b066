#pragma once

#include "components/StyledText.h"
#include "models/TARNDeviceAppConfigurationModel.h"

#include <QList>
#include <QLocale>
#include <QString>

#include <optional>
#include <utility>

namespace tarn {

// The package screen's record of the user's choice: an application is chosen when its value is true.
// The workflow's selection only seeds it; entries are added or changed, never removed.
class PackageChoice {
public:
    bool isChosen(const TARNDeviceAppConfigurationModel& entry) const;
    void setChosen(const TARNDeviceAppConfigurationModel& entry, bool chosen);
    // Marks every entry of the workflow's selection chosen; the others keep their values.
    void seed(const QList<TARNDeviceAppConfigurationModel>& selected);

    bool anyChosen() const;
    int chosenCount() const;
    // The chosen entries, in the order they were first recorded.
    QList<TARNDeviceAppConfigurationModel> chosenApplications() const;

private:
    QList<std::pair<TARNDeviceAppConfigurationModel, bool>> values;
};

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
