#include "screens/NoConnectionScreenView.h"

#include "components/ImageView.h"
#include "components/Resources.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace tarn {

using namespace Qt::StringLiterals;

NoConnectionScreenView::NoConnectionScreenView(Coordinator& coordinator, InstallationViewModel& viewModel,
                                               QWidget* parent)
    : ScreenView(coordinator, viewModel, parent), cancel(screen::button(u"button.cancel"_s, ButtonStyleType::ternary)),
      retry(screen::button(u"button.retry"_s, ButtonStyleType::primary)) {
    auto* column = screen::column(this, {trailingLeadingMargin, topMargin, trailingLeadingMargin, bottomMargin});

    const QString titleText = localized(u"info.error.connectivity.fail.title");
    auto* image = new ImageView(u"network-failure"_s, QSize(imageSide, imageSide));
    image->setAccessibleName(titleText);
    column->addWidget(image, 0, Qt::AlignHCenter);
    column->addSpacing(24);
    auto* title = screen::title(titleText, 56);
    title->setAlignment(Qt::AlignHCenter);
    column->addWidget(title);
    column->addSpacing(8);
    auto* subtitle = screen::subtitle(localized(u"info.error.install.fail.subtitle"));
    subtitle->setAlignment(Qt::AlignHCenter);
    column->addWidget(subtitle);
    column->addStretch(1);
    column->addSpacing(32);

    auto* row = new QHBoxLayout;
    row->setSpacing(screen::barButtonGap);
    row->addStretch(1);
    row->addWidget(cancel, 0, Qt::AlignBottom);
    row->addWidget(retry, 0, Qt::AlignBottom);
    row->addStretch(1);
    column->addLayout(row);

    cancel->setEnabled(isButtonEnabled);
    retry->setEnabled(isButtonEnabled);
    connect(cancel, &CustomButtonView::clicked, this, [this] { this->coordinator.push(Coordinator::Screen::exit); });
    connect(retry, &CustomButtonView::clicked, this, [this] { this->coordinator.pop(); });
}

} // namespace tarn
