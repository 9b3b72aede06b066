#pragma once

#include "screens/ScreenView.h"

namespace tarn {

// Shown by the root view whenever connectivity is lost. Retry returns to the screen on which the
// connection was lost without testing the connection; the root view brings this screen back when the
// workflow next reports the loss.
class NoConnectionScreenView final : public ScreenView {
    Q_OBJECT
public:
    static constexpr int imageWidth = 128;
    static constexpr int imageHeight = 44;
    static constexpr int margin = 100;
    static constexpr int trailingLeadingMargin = 100;
    static constexpr int topMargin = 100;
    static constexpr int bottomMargin = 48;
    static constexpr int imageSide = 200;

    NoConnectionScreenView(Coordinator& coordinator, InstallationViewModel& viewModel, QWidget* parent = nullptr);

    CustomButtonView* cancelButton() const { return cancel; }

private:
    bool isButtonEnabled = true;
    CustomButtonView* cancel;
    CustomButtonView* retry;
};

} // namespace tarn
