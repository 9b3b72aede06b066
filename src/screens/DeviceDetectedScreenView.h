#pragma once

#include "screens/ScreenView.h"

#include <QMap>

#include <optional>

class QLabel;

namespace tarn {

class DevicePicker;
class ImageView;

// Shows the recognised scanner, or lets the user pick a model from the catalogue when none was
// recognised, and fixes the workflow's `deviceModel` for the package screen. The bar's buttons are
// enabled exactly while there is a device model.
class DeviceDetectedScreenView final : public ScreenView {
    Q_OBJECT
public:
    static constexpr int imageWidth = 128;
    static constexpr int imageHeight = 44;
    static constexpr int margin = 100;
    static constexpr int trailingLeadingMargin = 100;
    static constexpr int topMargin = 100;
    static constexpr int bottomMargin = 48;
    static constexpr int spaceBetweenCancelBack = 300;
    static constexpr int imageSide = 200;
    static constexpr int pickerRowHeight = 70;

    DeviceDetectedScreenView(Coordinator& coordinator, InstallationViewModel& viewModel, QWidget* parent = nullptr);

    // The picked model's name, as the picker shows it.
    const std::optional<QString>& selection() const { return selected; }
    // Picks a model as the user does, running the change handler when the name changes.
    void setSelection(std::optional<QString> name);

    DevicePicker* picker() const { return devicePicker; }
    QString imageName() const;
    QString titleText() const;
    const screen::BottomBar& buttons() const { return bar; }

protected:
    void onAppear() override;
    void refresh() override;

private:
    void setButtonsEnabled(bool enabled);
    void showSelectionInPicker();

    // Looked up once, when the screen is made.
    const QString titleTemplate;
    const QString uknownDevice;
    bool isDisabled = false;
    bool isButtonEnabled = false;
    std::optional<QString> selected;

    ImageView* image;
    QLabel* title;
    QLabel* subtitle;
    QWidget* pickerRow;
    DevicePicker* devicePicker;
    screen::BottomBar bar;
};

} // namespace tarn
