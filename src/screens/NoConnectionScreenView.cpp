#include "screens/NoConnectionScreenView.h"

#include "components/ImageView.h"
#include "components/Resources.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace tarn {

NoConnectionScreenView::NoConnectionScreenView(Coordinator& coordinator, InstallationViewModel& viewModel,
                                               QWidget* parent)
    : ScreenView(coordinator, viewModel, parent),
      cancel(screen::button(QStringLiteral("button.cancel"), ButtonStyleType::ternary)),
      retry(screen::button(QStringLiteral("button.retry"), ButtonStyleType::primary)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(trailingLeadingMargin, topMargin, trailingLeadingMargin, bottomMargin);
    column->setSpacing(0);

    const QString titleText = localized(u"info.error.connectivity.fail.title");
    auto* image = new ImageView(QStringLiteral("network-failure"), QSize(imageSide, imageSide));
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
