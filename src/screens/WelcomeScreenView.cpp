#include "screens/WelcomeScreenView.h"

#include "components/ImageView.h"
#include "components/Resources.h"

#include <QLabel>
#include <QVBoxLayout>

namespace tarn {

WelcomeScreenView::WelcomeScreenView(Coordinator& coordinator, InstallationViewModel& viewModel, QWidget* parent)
    : ScreenView(coordinator, viewModel, parent),
      start(screen::button(QStringLiteral("welcome.button.text"), ButtonStyleType::primary, QSize(300, 56))) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(leadingMarging, topMargin, leadingMarging, topMargin);
    column->setSpacing(0);

    auto* logo = new ImageView(QStringLiteral("tarn-logo-white"), QSize(imageWidth, imageHeight));
    logo->setAccessibleName(QStringLiteral("T.A.R.N."));
    column->addWidget(logo, 0, Qt::AlignLeft);
    column->addStretch(3);

    column->addWidget(screen::title(localized(u"welcome.title"), 56));
    column->addSpacing(12);
    auto* subtitle = screen::subtitle(localized(u"welcome.subtitle"));
    subtitle->setMaximumWidth(560);
    column->addWidget(subtitle);
    column->addSpacing(40);

    start->setArrowShown(true);
    start->setEnabled(isButtonEnabled);
    connect(start, &CustomButtonView::clicked, this, [this] { this->coordinator.push(Coordinator::Screen::eula); });
    column->addWidget(start, 0, Qt::AlignLeft);
    column->addStretch(4);
}

} // namespace tarn
