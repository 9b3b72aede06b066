#include "screens/DeviceDetectedState.h"

#include "components/Resources.h"
#include "components/Theme.h"

namespace tarn {

using namespace Qt::StringLiterals;

DeviceDetectedPresentation deviceDetectedPresentation(const DeviceSearchState& status,
                                                      const std::optional<TARNDeviceModel>& device,
                                                      const QString& titleText, const QString& unknownDevice) {
    const QFont titleFont = theme::font(u"Poppins-Medium", 32);
    DeviceDetectedPresentation presentation;
    if (status.is(DeviceSearchState::Case::notFound)) {
        presentation.imageName = u"failure"_s;
        presentation.showsPicker = true;
        presentation.title =
                StyledText(localized(u"device.not.detected.title"), {theme::color(u"labelText"), titleFont, false});
        presentation.subtitle = localized(u"device.not.detected.subtitle");
        return presentation;
    }
    presentation.imageName = u"success"_s;
    presentation.title =
            StyledText(device ? device->name : unknownDevice, {theme::color(u"TitleDeviceDetected"), titleFont, false});
    presentation.title.append(titleAfterLastPlaceholder(titleText), {theme::color(u"labelText"), titleFont, false});
    presentation.subtitle = localized(u"device.detected.subtitle");
    return presentation;
}

QString titleAfterLastPlaceholder(const QString& titleText) {
    const QString placeholder = u"%@"_s;
    const qsizetype last = titleText.lastIndexOf(placeholder);
    return last < 0 ? titleText : titleText.mid(last + placeholder.size());
}

std::optional<QString> initialDeviceSelection(const std::optional<TARNDeviceModel>& device,
                                              const QStringList& supportedDeviceNames) {
    if (device) {
        return device->name;
    }
    if (!supportedDeviceNames.isEmpty()) {
        return supportedDeviceNames.first();
    }
    return std::nullopt;
}

} // namespace tarn
