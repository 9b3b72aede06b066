#include "screens/WelcomeScreenView.h"

#include "components/ImageView.h"
#include "components/Resources.h"

#include <QLabel>
#include <QVBoxLayout>

namespace tarn {

using namespace Qt::StringLiterals;

WelcomeScreenView::WelcomeScreenView(Coordinator& coordinator, InstallationViewModel& viewModel, QWidget* parent)
    : ScreenView(coordinator, viewModel, parent),
      start(screen::button(u"welcome.button.text"_s, ButtonStyleType::primary, QSize(300, 56))) {
    auto* column = screen::column(this, {leadingMarging, topMargin, leadingMarging, topMargin});

    auto* logo = new ImageView(u"tarn-logo-white"_s, QSize(imageWidth, imageHeight));
    logo->setAccessibleName(u"T.A.R.N."_s);
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
