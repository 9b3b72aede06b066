#include "screens/DeviceSearchScreeView.h"

#include "components/Resources.h"
#include "components/SpinnerView.h"

#include <QLabel>
#include <QVBoxLayout>

namespace tarn {

DeviceSearchScreeView::DeviceSearchScreeView(Coordinator& coordinator, InstallationViewModel& viewModel,
                                             QWidget* parent)
    : ScreenView(coordinator, viewModel, parent) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(100, 100, 100, 100);
    column->setSpacing(0);
    column->addStretch(1);
    // The search can take a while; a turning spinner says the installer is at work.
    column->addWidget(new SpinnerView(48), 0, Qt::AlignHCenter);
    column->addSpacing(28);
    auto* title = screen::title(localized(u"device.search.title"));
    title->setAlignment(Qt::AlignHCenter);
    column->addWidget(title);
    column->addSpacing(8);
    auto* subtitle = screen::subtitle(localized(u"device.search.subtitle"));
    subtitle->setAlignment(Qt::AlignHCenter);
    column->addWidget(subtitle);
    column->addStretch(1);

    onChange(viewModel.deviceSearchStatus, [this](const DeviceSearchState& state) {
        if (state.is(DeviceSearchState::Case::found) || state.is(DeviceSearchState::Case::notFound)) {
            this->coordinator.push(Coordinator::Screen::deviceDetected);
        }
    });
}

void DeviceSearchScreeView::onAppear() {
    // The search finishes in the workflow even when the screen is gone first; its result reaches the
    // screen only through the change handler, which ends with the screen.
    viewModel.searchForDevice();
}

} // namespace tarn
