#include "components/ToInstallListItemView.h"

#include "components/Accessibility.h"
#include "components/DownloadProgressBar.h"
#include "components/ImageView.h"
#include "components/Resources.h"
#include "components/SpinnerView.h"
#include "components/Theme.h"

#include <QAccessible>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

namespace tarn {

using namespace Qt::StringLiterals;

namespace {

constexpr int iconSize = 32;
constexpr int iconSpacing = 16;
constexpr int lineSpacing = 6;
constexpr int barSpacing = 12;

TextStyle rowStyle(QStringView colorName) {
    return {theme::color(colorName), theme::font(u"Poppins-Bold", 16), false};
}

} // namespace

TaskRowPresentation taskRowPresentation(ToInstallListItemViewState state) {
    switch (state) {
    case ToInstallListItemViewState::ready:
        return {u"install-ready"_s, false, std::nullopt, QString()};
    case ToInstallListItemViewState::downloading:
        return {u"spinner"_s, true, u"install.state.downloading"_s, u"LabelDownloadInProgress"_s};
    case ToInstallListItemViewState::installing:
    case ToInstallListItemViewState::processing:
        return {u"spinner"_s, true, u"install.state.progress"_s, u"LabelDownloadInProgress"_s};
    case ToInstallListItemViewState::done:
        return {u"install-done"_s, false, u"install.state.done"_s, u"LabelDownloadDone"_s};
    case ToInstallListItemViewState::failed:
        return {u"install-failed"_s, false, u"install.state.failure"_s, u"LabelDownloadFailure"_s};
    }
    return {};
}

StyledText taskRowText(const QString& name, ToInstallListItemViewState state) {
    const TaskRowPresentation presentation = taskRowPresentation(state);
    StyledText text(name, rowStyle(u"labelText"));
    if (presentation.stateTextKey) {
        text.append(u" - "_s, rowStyle(u"labelText"));
        text.append(localized(*presentation.stateTextKey), rowStyle(presentation.stateColorName));
    }
    return text;
}

ToInstallListItemView::ToInstallListItemView(const QString& name, ToInstallListItemViewState state,
                                             double downloadProgress, QWidget* parent)
    : QWidget(parent), taskName(name), taskState(state), progressValue(downloadProgress),
      iconView(new ImageView(QString(), QSize(iconSize, iconSize), this)), spinnerView(new SpinnerView(iconSize, this)),
      textLabel(new QLabel(this)), downloadLine(new QWidget(this)), bar(new DownloadProgressBar(downloadLine)),
      progressLabel(new QLabel(downloadLine)), owedRedraw(new QTimer(this)), owedAnnouncement(new QTimer(this)) {
    installAccessibleFactories();
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(iconView, 0, Qt::AlignVCenter);
    layout->addWidget(spinnerView, 0, Qt::AlignVCenter);
    layout->addSpacing(iconSpacing);
    auto* texts = new QVBoxLayout;
    texts->setContentsMargins(0, 0, 0, 0);
    texts->setSpacing(lineSpacing);
    texts->addWidget(textLabel);
    texts->addWidget(downloadLine);
    layout->addLayout(texts);
    layout->addStretch(1);

    auto* progressLayout = new QHBoxLayout(downloadLine);
    progressLayout->setContentsMargins(0, 0, 0, 0);
    progressLayout->setSpacing(barSpacing);
    progressLayout->addWidget(bar, 0, Qt::AlignVCenter);
    progressLayout->addWidget(progressLabel, 0, Qt::AlignVCenter);
    progressLayout->addStretch(1);

    textLabel->setTextFormat(Qt::RichText);
    textLabel->setWordWrap(false);
    progressLabel->setTextFormat(Qt::RichText);
    progressLabel->setWordWrap(false);
    for (QTimer* timer : {owedRedraw, owedAnnouncement}) {
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
    }
    connect(owedRedraw, &QTimer::timeout, this, [this] { refreshDownload(); });
    connect(owedAnnouncement, &QTimer::timeout, this, [this] { announceDownload(); });
    refresh();
}

void ToInstallListItemView::setName(const QString& name) {
    if (taskName != name) {
        taskName = name;
        refresh();
    }
}

void ToInstallListItemView::setState(ToInstallListItemViewState state) {
    if (taskState != state) {
        taskState = state;
        refresh();
    }
}

void ToInstallListItemView::setDownload(const DownloadProgress& progress) {
    if (downloadValue != progress) {
        downloadValue = progress;
        refreshDownload();
    }
}

QString ToInstallListItemView::displayedText() const {
    return taskRowText(taskName, taskState).string();
}

QString ToInstallListItemView::displayedProgressText() const {
    return downloadLine->isHidden() ? QString() : shownFigures;
}

void ToInstallListItemView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange) {
        refresh();
    }
    QWidget::changeEvent(event);
}

void ToInstallListItemView::refresh() {
    const TaskRowPresentation presentation = taskRowPresentation(taskState);
    // The spinner keeps its own animation; hiding it only pauses the turn.
    iconView->setImageName(presentation.iconName);
    iconView->setVisible(!presentation.isIconTurning);
    spinnerView->setVisible(presentation.isIconTurning);

    const StyledText text = taskRowText(taskName, taskState);
    textLabel->setText(text.toHtml());
    setAccessibleName(text.string());
    refreshDownload();
}

// Draws and announces now what is due, and owes the rest to a timer, so the latest figures always
// show within one interval however fast the bytes arrive.
void ToInstallListItemView::refreshDownload() {
    if (taskState != ToInstallListItemViewState::downloading) {
        downloadLine->hide();
        owedRedraw->stop();
        owedAnnouncement->stop();
        redraws.reset();
        announcements.reset();
        announcedValue = QVariant();
        setProperty(accessibleValueProperty, QVariant());
        return;
    }
    downloadLine->show();
    if (const auto delay = redraws.delayBeforeUpdate(); delay.count() == 0) {
        drawDownload();
    } else if (!owedRedraw->isActive()) {
        owedRedraw->start(delay);
    }
}

void ToInstallListItemView::drawDownload() {
    bar->setFraction(downloadValue.fraction());
    const bool nothingYet = downloadValue.receivedBytes <= 0 && !downloadValue.totalBytes;
    shownFigures = nothingYet ? QString() : downloadProgressText(downloadValue);
    progressLabel->setText(StyledText(shownFigures, {theme::color(u"DownloadProgressDetail"),
                                                     theme::font(u"Poppins-Medium", 14), false})
                                   .toHtml());
    const auto percent = downloadPercent(downloadValue);
    setProperty(accessibleValueProperty, percent ? QVariant(*percent) : QVariant());
    announceDownload();
}

void ToInstallListItemView::announceDownload() {
    const QVariant percent = property(accessibleValueProperty);
    if (!percent.isValid() || percent == announcedValue) {
        return;
    }
    if (const auto delay = announcements.delayBeforeUpdate(); delay.count() > 0) {
        if (!owedAnnouncement->isActive()) {
            owedAnnouncement->start(delay);
        }
        return;
    }
    announcedValue = percent;
    QAccessibleValueChangeEvent event(this, percent);
    QAccessible::updateAccessibility(&event);
    Q_EMIT valueAnnounced(percent.toInt());
}

} // namespace tarn
