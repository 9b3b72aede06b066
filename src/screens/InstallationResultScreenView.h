#pragma once

#include "screens/ResultPresentation.h"
#include "screens/ScreenView.h"

class QFrame;
class QLabel;
class QScrollArea;
class QVBoxLayout;

namespace tarn {

class ImageView;
class LinkButton;

// Reports the outcome: success or failure, the applications that failed, the error text, the support
// page, and Close, which opens the success page after a successful installation and ends the
// application.
class InstallationResultScreenView final : public ScreenView {
    Q_OBJECT
public:
    static constexpr int imageWidth = 128;
    static constexpr int imageHeight = 44;
    static constexpr int margin = 100;
    static constexpr int trailingLeadingMargin = 100;
    static constexpr int topMargin = 100;
    static constexpr int bottomMargin = 48;
    static constexpr int imageSide = 200;

    InstallationResultScreenView(Coordinator& coordinator, InstallationViewModel& viewModel, QWidget* parent = nullptr);

protected:
    void refresh() override;

private:
    bool isButtonEnabled = true;
    ResultPresentation shown;
    bool isDrawn = false;
    ImageView* image;
    QLabel* title;
    QLabel* subtitle;
    QFrame* details;
    QWidget* failures;
    QVBoxLayout* failureLines;
    QScrollArea* failureScroll;
    QLabel* error;
    LinkButton* support;
    CustomButtonView* close;
};

} // namespace tarn
