#include "screens/DeviceSearchScreeView.h"

#include "components/Resources.h"
#include "components/SpinnerView.h"

#include <QLabel>
#include <QVBoxLayout>

namespace tarn {

using namespace Qt::StringLiterals;

DeviceSearchScreeView::DeviceSearchScreeView(Coordinator& coordinator, InstallationViewModel& viewModel,
                                             QWidget* parent)
    : ScreenView(coordinator, viewModel, parent), spinner(new SpinnerView(48)),
      title(screen::title(localized(u"device.search.title"))),
      subtitle(screen::subtitle(localized(u"device.search.subtitle"))),
      bar(screen::bottomBar(u"button.next"_s, spaceBetweenCancelBack)) {
    auto* column = screen::column(this, {100, 100, 100, 100});
    column->addStretch(1);
    // The search can take a while; a turning spinner says the installer is at work.
    column->addWidget(spinner, 0, Qt::AlignHCenter);
    column->addSpacing(28);
    title->setAlignment(Qt::AlignHCenter);
    column->addWidget(title);
    column->addSpacing(8);
    subtitle->setAlignment(Qt::AlignHCenter);
    column->addWidget(subtitle);
    column->addStretch(1);
    column->addLayout(bar.layout);

    // Only a way back or out: with no scanner listed there is nothing to go on to.
    bar.next->hide();
    connect(bar.cancel, &CustomButtonView::clicked, this,
            [this] { this->coordinator.push(Coordinator::Screen::exit); });
    // The search was entered from the connect screen without a history entry of its own.
    connect(bar.back, &CustomButtonView::clicked, this,
            [this] { this->coordinator.navigate(Coordinator::Screen::deviceConnect); });
    showStatus(viewModel.deviceSearchStatus());

    onChange(viewModel.deviceSearchStatus, [this](const DeviceSearchState& state) {
        showStatus(state);
        if (endedWithoutSupportedDevices(state, this->viewModel.supportedDevices())) {
            return;
        }
        if (state.is(DeviceSearchState::Case::found) || state.is(DeviceSearchState::Case::notFound)) {
            this->coordinator.push(Coordinator::Screen::deviceDetected);
        }
    });
}

QString DeviceSearchScreeView::titleText() const {
    return title->text();
}

void DeviceSearchScreeView::onAppear() {
    // The search finishes in the workflow even when the screen is gone first; its result reaches the
    // screen only through the change handler, which ends with the screen.
    viewModel.startDetached(viewModel.searchForDevice());
}

void DeviceSearchScreeView::showStatus(const DeviceSearchState& status) {
    const bool nothingToFind = endedWithoutSupportedDevices(status, viewModel.supportedDevices());
    spinner->setVisible(!nothingToFind);
    title->setText(localized(nothingToFind ? u"device.search.no.models.title" : u"device.search.title"));
    subtitle->setText(localized(nothingToFind ? u"device.search.no.models.subtitle" : u"device.search.subtitle"));
    bar.cancel->setVisible(nothingToFind);
    bar.back->setVisible(nothingToFind);
}

} // namespace tarn
