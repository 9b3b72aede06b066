#include "components/ToInstallListItemView.h"

#include "components/Accessibility.h"
#include "components/ImageView.h"
#include "components/Resources.h"
#include "components/SpinnerView.h"
#include "components/Theme.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>

namespace tarn {
namespace {

constexpr int iconSize = 32;
constexpr int iconSpacing = 16;

TextStyle rowStyle(QStringView colorName) {
    return {theme::color(colorName), theme::font(u"Poppins-Bold", 16), false};
}

} // namespace

TaskRowPresentation taskRowPresentation(ToInstallListItemViewState state) {
    switch (state) {
    case ToInstallListItemViewState::ready:
        return {QStringLiteral("install-ready"), false, std::nullopt, QString()};
    case ToInstallListItemViewState::downloading:
        return {QStringLiteral("spinner"), true, QStringLiteral("install.state.downloading"),
                QStringLiteral("LabelDownloadInProgress")};
    case ToInstallListItemViewState::installing:
    case ToInstallListItemViewState::processing:
        return {QStringLiteral("spinner"), true, QStringLiteral("install.state.progress"),
                QStringLiteral("LabelDownloadInProgress")};
    case ToInstallListItemViewState::done:
        return {QStringLiteral("install-done"), false, QStringLiteral("install.state.done"),
                QStringLiteral("LabelDownloadDone")};
    case ToInstallListItemViewState::failed:
        return {QStringLiteral("install-failed"), false, QStringLiteral("install.state.failure"),
                QStringLiteral("LabelDownloadFailure")};
    }
    return {};
}

StyledText taskRowText(const QString& name, ToInstallListItemViewState state) {
    const TaskRowPresentation presentation = taskRowPresentation(state);
    StyledText text(name, rowStyle(u"labelText"));
    if (presentation.stateTextKey) {
        text.append(QStringLiteral(" - "), rowStyle(u"labelText"));
        text.append(localized(*presentation.stateTextKey), rowStyle(presentation.stateColorName));
    }
    return text;
}

ToInstallListItemView::ToInstallListItemView(const QString& name, ToInstallListItemViewState state,
                                             double downloadProgress, QWidget* parent)
    : QWidget(parent), taskName(name), taskState(state), progressValue(downloadProgress),
      iconView(new ImageView(QString(), QSize(iconSize, iconSize), this)), spinnerView(new SpinnerView(iconSize, this)),
      textLabel(new QLabel(this)) {
    installAccessibleFactories();
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(iconView, 0, Qt::AlignVCenter);
    layout->addWidget(spinnerView, 0, Qt::AlignVCenter);
    layout->addSpacing(iconSpacing);
    layout->addWidget(textLabel, 0, Qt::AlignVCenter);
    layout->addStretch(1);

    textLabel->setTextFormat(Qt::RichText);
    textLabel->setWordWrap(false);
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

QString ToInstallListItemView::displayedText() const {
    return taskRowText(taskName, taskState).string();
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
}

} // namespace tarn
