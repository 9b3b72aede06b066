#include "screens/CancelInstallationScreenView.h"

#include "components/Resources.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace tarn {

using namespace Qt::StringLiterals;

CancelInstallationScreenView::CancelInstallationScreenView(Coordinator& coordinator, InstallationViewModel& viewModel,
                                                           QWidget* parent)
    : ScreenView(coordinator, viewModel, parent),
      no(screen::button(u"button.no"_s, ButtonStyleType::secondary, answerButtonSize)),
      yes(screen::button(u"button.yes"_s, ButtonStyleType::primaryDestructive, answerButtonSize)) {
    auto* column = screen::column(this, {100, 100, 100, 100});
    column->addStretch(1);
    auto* title = screen::title(localized(u"cancel.install.title"));
    title->setAlignment(Qt::AlignHCenter);
    column->addWidget(title);
    column->addSpacing(12);
    auto* subtitle = screen::subtitle(localized(u"cancel.install.subtitle"));
    subtitle->setAlignment(Qt::AlignHCenter);
    column->addWidget(subtitle);
    column->addSpacing(40);

    auto* answers = new QHBoxLayout;
    answers->setSpacing(screen::barButtonGap);
    answers->addStretch(1);
    answers->addWidget(no);
    answers->addWidget(yes);
    answers->addStretch(1);
    column->addLayout(answers);
    column->addStretch(1);

    no->setEnabled(isButtonEnabled);
    yes->setEnabled(isButtonEnabled);
    connect(no, &CustomButtonView::clicked, this, [this] { this->coordinator.pop(); });
    connect(yes, &CustomButtonView::clicked, this, [this] { this->coordinator.quit(); });
}

} // namespace tarn
