#pragma once

#include "screens/ScreenView.h"

namespace tarn {

// Asks whether to quit. No returns to the screen where Cancel was chosen; Yes asks the application to
// end, which its termination check grants on this screen.
class CancelInstallationScreenView final : public ScreenView {
    Q_OBJECT
public:
    static constexpr QSize answerButtonSize{120, 56};

    CancelInstallationScreenView(Coordinator& coordinator, InstallationViewModel& viewModel, QWidget* parent = nullptr);

private:
    bool isButtonEnabled = true;
    CustomButtonView* no;
    CustomButtonView* yes;
};

} // namespace tarn
