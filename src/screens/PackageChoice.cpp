#include "screens/PackageChoice.h"

#include "components/Resources.h"
#include "components/Theme.h"

namespace tarn {

using namespace Qt::StringLiterals;

PackageRow packageRow(const TARNDeviceAppConfigurationModel& entry, const QLocale& locale) {
    PackageRow row;
    row.title = entry.name;
    if (const QString description = entry.localizedDescription(locale); !description.isEmpty()) {
        row.subtitle = description;
    }
    if (rawValue(entry.licenseType) == "trial"_L1) {
        row.titleTag = u"software.type.trial"_s;
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
