#include "screens/PackageChoice.h"

#include "components/Resources.h"
#include "components/Theme.h"

#include <algorithm>

namespace tarn {

bool PackageChoice::isChosen(const TARNDeviceAppConfigurationModel& entry) const {
    const auto found =
            std::find_if(values.cbegin(), values.cend(), [&](const auto& value) { return value.first == entry; });
    return found != values.cend() && found->second;
}

void PackageChoice::setChosen(const TARNDeviceAppConfigurationModel& entry, bool chosen) {
    const auto found =
            std::find_if(values.begin(), values.end(), [&](const auto& value) { return value.first == entry; });
    if (found != values.end()) {
        found->second = chosen;
    } else {
        values.append({entry, chosen});
    }
}

void PackageChoice::seed(const QList<TARNDeviceAppConfigurationModel>& selected) {
    for (const auto& entry : selected) {
        setChosen(entry, true);
    }
}

bool PackageChoice::anyChosen() const {
    return std::any_of(values.cbegin(), values.cend(), [](const auto& value) { return value.second; });
}

int PackageChoice::chosenCount() const {
    return static_cast<int>(
            std::count_if(values.cbegin(), values.cend(), [](const auto& value) { return value.second; }));
}

QList<TARNDeviceAppConfigurationModel> PackageChoice::chosenApplications() const {
    QList<TARNDeviceAppConfigurationModel> chosen;
    for (const auto& [entry, isChosen] : values) {
        if (isChosen) {
            chosen.append(entry);
        }
    }
    return chosen;
}

PackageRow packageRow(const TARNDeviceAppConfigurationModel& entry, const QLocale& locale) {
    PackageRow row;
    row.title = entry.name;
    if (const QString description = entry.localizedDescription(locale); !description.isEmpty()) {
        row.subtitle = description;
    }
    if (rawValue(entry.licenseType) == QLatin1String("trial")) {
        row.titleTag = QStringLiteral("software.type.trial");
    }
    row.isDisabled = entry.mandatory;
    return row;
}

StyledText downloadLabel(int count) {
    const QString text = localized(u"button.download", count);
    const QColor color = count > 0 ? theme::color(u"labelText") : theme::color(u"ButtonPrimaryTextDisabled");
    const qsizetype bracket = text.indexOf(u'(');
    StyledText label(text.left(bracket < 0 ? text.size() : bracket), {color, theme::font(u"Poppins-Bold", 16), false});
    if (bracket >= 0) {
        label.append(text.mid(bracket), {color, theme::font(u"Poppins-Light", 16), false});
    }
    return label;
}

} // namespace tarn
