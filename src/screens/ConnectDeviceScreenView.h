#pragma once

#include "screens/ScreenView.h"

namespace tarn {

// Asks the user to connect the scanner. Appearing resets the device search, so that a result left
// from an earlier visit cannot move the search screen on; Next starts the search without recording
// the search screen in the history.
class ConnectDeviceScreenView final : public ScreenView {
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

    ConnectDeviceScreenView(Coordinator& coordinator, InstallationViewModel& viewModel, QWidget* parent = nullptr);

    const screen::BottomBar& buttons() const { return bar; }

protected:
    void onAppear() override;

private:
    bool isDisabled = false;
    bool isButtonEnabled = true;
    screen::BottomBar bar;
};

} // namespace tarn
