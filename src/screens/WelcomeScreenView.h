#pragma once

#include "screens/ScreenView.h"

namespace tarn {

// The first screen: the logo, a greeting and the button that starts the guided flow.
class WelcomeScreenView final : public ScreenView {
    Q_OBJECT
public:
    static constexpr int imageWidth = 128;
    static constexpr int imageHeight = 44;
    static constexpr int leadingMarging = 90;
    static constexpr int topMargin = 50;

    WelcomeScreenView(Coordinator& coordinator, InstallationViewModel& viewModel, QWidget* parent = nullptr);

private:
    bool isButtonEnabled = true;
    CustomButtonView* start;
};

} // namespace tarn
