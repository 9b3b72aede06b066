#include "screens/ConnectDeviceScreenView.h"

#include "components/ImageView.h"
#include "components/Resources.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace tarn {

using namespace Qt::StringLiterals;

ConnectDeviceScreenView::ConnectDeviceScreenView(Coordinator& coordinator, InstallationViewModel& viewModel,
                                                 QWidget* parent)
    : ScreenView(coordinator, viewModel, parent), bar(screen::bottomBar(u"button.next"_s, spaceBetweenCancelBack)) {
    auto* column = screen::column(this, {trailingLeadingMargin, topMargin, trailingLeadingMargin, bottomMargin});

    auto* block = new QHBoxLayout;
    block->setSpacing(32);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(12);
    texts->addWidget(screen::title(localized(u"connect.device.title")));
    texts->addWidget(screen::subtitle(localized(u"connect.device.subtitle")));
    texts->addStretch(1);
    block->addLayout(texts, 1);
    auto* image = new ImageView(u"connect"_s, QSize(imageSide, imageSide));
    image->setAccessibleName(localized(u"connect.device.title"));
    block->addWidget(image, 0, Qt::AlignTop);
    column->addLayout(block);
    column->addStretch(1);
    column->addSpacing(48);
    column->addLayout(bar.layout);

    for (CustomButtonView* button : {bar.cancel, bar.back, bar.next}) {
        button->setEnabled(isButtonEnabled);
    }
    connect(bar.cancel, &CustomButtonView::clicked, this,
            [this] { this->coordinator.push(Coordinator::Screen::exit); });
    connect(bar.back, &CustomButtonView::clicked, this, [this] { this->coordinator.pop(); });
    connect(bar.next, &CustomButtonView::clicked, this,
            [this] { this->coordinator.navigate(Coordinator::Screen::deviceSearch); });
}

void ConnectDeviceScreenView::onAppear() {
    viewModel.deviceSearchStatus = DeviceSearchState::prepareForSearching();
}

} // namespace tarn
