#include "screens/InstallationResultScreenView.h"

#include "components/ImageView.h"
#include "components/LinkButton.h"
#include "components/Resources.h"

#include <QFrame>
#include <QLabel>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>

namespace tarn {

using namespace Qt::StringLiterals;

namespace {

constexpr int failureLineHeight = 26;
constexpr int visibleFailureLines = 3;

} // namespace

InstallationResultScreenView::InstallationResultScreenView(Coordinator& coordinator, InstallationViewModel& viewModel,
                                                           QWidget* parent)
    : ScreenView(coordinator, viewModel, parent), image(new ImageView(QString(), QSize(imageSide, imageSide))),
      title(screen::title(QString(), 56)), subtitle(screen::subtitle(QString())), details(new QFrame),
      failures(new QWidget), failureLines(new QVBoxLayout), failureScroll(nullptr),
      error(screen::label(QString(), u"Poppins-Light", 16)), support(new LinkButton(u"support.link.title"_s)),
      close(screen::button(u"button.close"_s, ButtonStyleType::primary)) {
    auto* column = screen::column(this, {trailingLeadingMargin, 0, trailingLeadingMargin, bottomMargin});
    // Gives way first when the details need the room.
    column->addSpacerItem(new QSpacerItem(0, topMargin, QSizePolicy::Minimum, QSizePolicy::Preferred));
    column->addWidget(image, 0, Qt::AlignHCenter);
    column->addSpacing(12);
    title->setAlignment(Qt::AlignHCenter);
    column->addWidget(title);
    subtitle->setAlignment(Qt::AlignHCenter);
    column->addWidget(subtitle);
    column->addSpacing(20);

    // The failed applications and the error text, on one card.
    details->setObjectName(u"resultDetails"_s);
    details->setStyleSheet(u"QFrame#resultDetails { background: %1; border: 1px solid %2;"
                           " border-radius: 16px; }"_s.arg(screen::css(QColor(255, 255, 255, 14)),
                                                           screen::css(QColor(255, 255, 255, 26))));
    auto* detailsColumn = new QVBoxLayout(details);
    detailsColumn->setContentsMargins(20, 14, 20, 14);
    detailsColumn->setSpacing(6);
    auto* failureColumn = new QVBoxLayout(failures);
    failureColumn->setContentsMargins(0, 0, 0, 0);
    failureColumn->setSpacing(4);
    auto* heading = screen::label(localized(u"failed.to.install.title"), u"Poppins-Light", 16);
    heading->setAlignment(Qt::AlignHCenter);
    failureColumn->addWidget(heading);
    auto* lines = new QWidget;
    lines->setLayout(failureLines);
    failureLines->setContentsMargins(0, 0, 0, 0);
    failureLines->setSpacing(0);
    failureScroll = screen::scrollArea(lines);
    failureColumn->addWidget(failureScroll);
    detailsColumn->addWidget(failures);
    error->setAlignment(Qt::AlignHCenter);
    detailsColumn->addWidget(error);
    column->addWidget(details);

    column->addSpacing(16);
    column->addWidget(support, 0, Qt::AlignHCenter);
    column->addStretch(1);
    column->addSpacing(16);
    column->addWidget(close, 0, Qt::AlignHCenter);

    close->setEnabled(isButtonEnabled);
    connect(support, &LinkButton::clicked, this, [this] { this->viewModel.openSupportPage(); });
    connect(close, &CustomButtonView::clicked, this, [this] {
        if (this->viewModel.isInstallationSuccessful()) {
            this->viewModel.openSuccessUrl();
        }
        this->coordinator.quit();
    });
    refresh();
}

void InstallationResultScreenView::refresh() {
    const ResultPresentation next =
            resultPresentation(viewModel.isInstallationSuccessful(), viewModel.anyOptionalPackageFailedToInstall(),
                               viewModel.tasksToRun(), viewModel.fatalErrorMessage());
    if (isDrawn && next == shown) {
        return;
    }
    isDrawn = true;
    shown = next;
    image->setImageName(shown.imageName);
    title->setText(localized(shown.titleKey));
    title->setAccessibleName(title->text());
    image->setAccessibleName(title->text());
    subtitle->setText(localized(shown.subtitleKey));

    failures->setVisible(shown.showsFailureList);
    while (QLayoutItem* item = failureLines->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    for (const QString& line : std::as_const(shown.failureLines)) {
        auto* label = screen::label(line, u"Poppins-Light", 16, u"LabelDownloadFailure");
        label->setAlignment(Qt::AlignHCenter);
        label->setMinimumHeight(failureLineHeight);
        failureLines->addWidget(label);
    }
    failureScroll->setFixedHeight(failureLineHeight *
                                  std::clamp<int>(static_cast<int>(shown.failureLines.size()), 1, visibleFailureLines));

    error->setText(shown.errorText);
    error->setVisible(!shown.errorText.isEmpty());
    details->setVisible(shown.showsFailureList || !shown.errorText.isEmpty());
}

} // namespace tarn
