#pragma once

#include "screens/ScreenView.h"

namespace tarn {

// Runs the workflow's USB search and moves on to the detected screen as soon as that search ends
// in `found` or `notFound`. Without a catalogue the search stays `searching`, and so does the screen.
class DeviceSearchScreeView final : public ScreenView {
    Q_OBJECT
public:
    DeviceSearchScreeView(Coordinator& coordinator, InstallationViewModel& viewModel, QWidget* parent = nullptr);

protected:
    void onAppear() override;
};

} // namespace tarn
