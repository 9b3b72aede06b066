#include "screens/PackageManagerScreenView.h"

#include "components/CustomToggleView.h"
#include "components/Resources.h"
#include "components/SpinnerView.h"
#include "components/Theme.h"
#include "screens/ViewExt.h"

#include <QLabel>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace tarn {

using namespace Qt::StringLiterals;

PackageManagerScreenView::PackageManagerScreenView(Coordinator& coordinator, InstallationViewModel& viewModel,
                                                   QWidget* parent)
    : ScreenView(coordinator, viewModel, parent), uknownDevice(localized(u"device.detected.unknown")),
      title(new QLabel), pages(new QStackedWidget), loadingSpinner(new SpinnerView(48)), list(new QWidget),
      listLayout(new QVBoxLayout(list)), bar(screen::bottomBar(u"button.download"_s, spaceBetweenCancelBack)) {
    auto* column = screen::column(this, {trailingLeadingMargin, topMargin, trailingLeadingMargin, bottomMargin});

    title->setTextFormat(Qt::RichText);
    title->setWordWrap(true);
    column->addWidget(title);
    column->addSpacing(20);

    auto* loadingPage = new QWidget;
    auto* loadingLayout = new QVBoxLayout(loadingPage);
    loadingLayout->addWidget(loadingSpinner, 0, Qt::AlignCenter);
    pages->addWidget(loadingPage);

    listLayout->setContentsMargins(0, 0, 8, 0);
    listLayout->setSpacing(rowSpacing);
    listLayout->addStretch(1);
    pages->addWidget(screen::scrollArea(list));
    column->addWidget(pages, 1);
    column->addSpacing(20);
    column->addLayout(bar.layout);

    bar.next->setMinimumSize(downloadMinimumSize);
    bar.next->setMaximumSize(QWIDGETSIZE_MAX, downloadMinimumSize.height());
    bar.cancel->setEnabled(isButtonEnabled);
    bar.back->setEnabled(isButtonEnabled);
    connect(bar.cancel, &CustomButtonView::clicked, this,
            [this] { this->coordinator.push(Coordinator::Screen::exit); });
    connect(bar.back, &CustomButtonView::clicked, this, [this] { this->coordinator.pop(); });
    connect(bar.next, &CustomButtonView::clicked, this, [this] { download(); });

    onChange(viewModel.selectedAppsForInstallation, [this](const QList<TARNDeviceAppConfigurationModel>&) {
        selections.seed(this->viewModel.selectedAppsForInstallation());
        showChoice();
    });
    refresh();
}

bool PackageManagerScreenView::isLoading() const {
    return pages->currentIndex() == 0;
}

QString PackageManagerScreenView::deviceName() const {
    const auto& device = viewModel.deviceModel();
    return device ? device->name : uknownDevice;
}

void PackageManagerScreenView::onAppear() {
    viewModel.startDetached(viewModel.fetchDeviceApplications());
}

void PackageManagerScreenView::refresh() {
    const StyledText heading = highlightedTitle(localized(u"package.manager.title"), deviceName());
    title->setText(heading.toHtml());
    title->setAccessibleName(heading.string());

    const auto applications = viewModel.sortedApplications();
    pages->setCurrentIndex(applications ? 1 : 0);
    QList<TARNDeviceAppConfigurationModel> shown;
    for (const auto& row : shownRows) {
        shown.append(row.first);
    }
    if (applications.value_or(QList<TARNDeviceAppConfigurationModel>()) != shown) {
        rebuildRows(applications.value_or(QList<TARNDeviceAppConfigurationModel>()));
    }
    showChoice();
}

void PackageManagerScreenView::rebuildRows(const QList<TARNDeviceAppConfigurationModel>& applications) {
    for (const auto& row : std::as_const(shownRows)) {
        delete row.second;
    }
    shownRows.clear();
    const QLocale locale;
    for (const auto& entry : applications) {
        const PackageRow content = packageRow(entry, locale);
        auto* toggle = new CustomToggleView(content.title);
        toggle->setSubtitleKey(content.subtitle);
        toggle->setTitleTagKey(content.titleTag);
        toggle->setTitleFont(theme::font(u"Poppins-Bold", 16));
        toggle->setTitleColor(theme::color(u"labelText"));
        toggle->setSubtitleColor(theme::color(u"labelText"));
        toggle->setDisabled(content.isDisabled);
        connect(toggle, &CustomToggleView::toggled, this, [this, entry](bool checked) {
            selections.setChosen(entry, checked);
            showChoice();
        });
        listLayout->insertWidget(listLayout->count() - 1, toggle);
        shownRows.append({entry, toggle});
    }
}

void PackageManagerScreenView::showChoice() {
    for (const auto& [entry, toggle] : std::as_const(shownRows)) {
        const QSignalBlocker quiet(toggle);
        toggle->setChecked(selections.isChosen(entry));
    }
    bar.next->setAttributedString(downloadLabel(selections.chosenCount()));
    bar.next->setEnabled(selections.anyChosen());
}

void PackageManagerScreenView::download() {
    viewModel.selectedAppsForInstallation = selections.chosenApplications();
    coordinator.push(Coordinator::Screen::installer);
}

} // namespace tarn
