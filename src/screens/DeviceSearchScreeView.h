#pragma once

#include "screens/ScreenView.h"

class QLabel;

namespace tarn {

class SpinnerView;

// Runs the workflow's USB search and moves on to the detected screen as soon as that search ends
// in `found` or `notFound`. A search that ends because the catalogue lists no scanner stays here
// instead, says so, and offers Back (to the connect screen) and Cancel. Without a catalogue the
// search stays `searching`, and so does the screen.
class DeviceSearchScreeView final : public ScreenView {
    Q_OBJECT
public:
    static constexpr int spaceBetweenCancelBack = 300;

    DeviceSearchScreeView(Coordinator& coordinator, InstallationViewModel& viewModel, QWidget* parent = nullptr);

    const screen::BottomBar& buttons() const { return bar; }
    QString titleText() const;

protected:
    void onAppear() override;

private:
    void showStatus(const DeviceSearchState& status);

    SpinnerView* spinner;
    QLabel* title;
    QLabel* subtitle;
    screen::BottomBar bar;
};

} // namespace tarn
