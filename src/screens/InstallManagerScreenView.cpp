#include "screens/InstallManagerScreenView.h"

#include "components/Resources.h"
#include "components/ToInstallListItemView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QVBoxLayout>

namespace tarn {

using namespace Qt::StringLiterals;

InstallManagerScreenView::InstallManagerScreenView(Coordinator& coordinator, InstallationViewModel& viewModel,
                                                   QWidget* parent)
    : ScreenView(coordinator, viewModel, parent), list(new QWidget), listLayout(new QVBoxLayout(list)),
      cancel(screen::button(u"button.cancel"_s, ButtonStyleType::ternary)),
      done(screen::button(u"button.done"_s, ButtonStyleType::primary)) {
    auto* column = screen::column(this, {trailingLeadingMargin, topMargin, trailingLeadingMargin, bottomMargin});
    column->addWidget(screen::title(localized(u"installer.title")));
    column->addSpacing(12);
    column->addWidget(screen::subtitle(localized(u"installer.subtitle")));
    column->addSpacing(28);

    listLayout->setContentsMargins(0, 0, 8, 0);
    listLayout->setSpacing(rowSpacing);
    listLayout->addStretch(1);
    column->addWidget(screen::scrollArea(list), 1);
    column->addSpacing(20);

    auto* bar = new QHBoxLayout;
    bar->setSpacing(0);
    bar->addWidget(cancel);
    bar->addSpacerItem(new QSpacerItem(spaceBetweenCancelBack, 0, QSizePolicy::Expanding, QSizePolicy::Minimum));
    bar->addWidget(done);
    column->addLayout(bar);

    cancel->setEnabled(isCancelButtonEnabled);
    done->setEnabled(isDoneButtonEnabled);
    connect(cancel, &CustomButtonView::clicked, this, [this] {
        this->viewModel.isInstallationCancelled = true;
        this->coordinator.push(Coordinator::Screen::exit);
    });
    connect(done, &CustomButtonView::clicked, this,
            [this] { this->coordinator.push(Coordinator::Screen::installResult); });
    refresh();
}

void InstallManagerScreenView::onAppear() {
    install(this, viewModel);
}

QCoro::Task<> InstallManagerScreenView::install(QPointer<InstallManagerScreenView> screen,
                                                InstallationViewModel& viewModel) {
    try {
        co_await viewModel.installSelectedApplications();
    } catch (...) {
        // Refused rights are already published; anything else reaches the log and the screen here.
        viewModel.reportEscapedFailure(std::current_exception());
    }
    if (screen) {
        screen->runEnded();
    }
}

void InstallManagerScreenView::runEnded() {
    isDoneButtonEnabled = true;
    done->setEnabled(isDoneButtonEnabled);
    isCancelButtonEnabled = false;
    cancel->setEnabled(isCancelButtonEnabled);
}

void InstallManagerScreenView::refresh() {
    const QList<AppInstallTask>& tasks = viewModel.tasksToRun();
    while (taskRows.size() > tasks.size()) {
        delete taskRows.takeLast();
    }
    for (qsizetype index = 0; index < tasks.size(); ++index) {
        const AppInstallTask& task = tasks[index];
        if (index == taskRows.size()) {
            auto* row = new ToInstallListItemView(task.name, task.state, task.downloadProgress);
            listLayout->insertWidget(listLayout->count() - 1, row);
            taskRows.append(row);
        }
        ToInstallListItemView* row = taskRows[index];
        row->setName(task.name);
        // The bytes first: a row that starts downloading then draws them at once.
        row->setDownload(task.download);
        row->setState(task.state);
        row->setDownloadProgress(task.downloadProgress);
    }
}

} // namespace tarn
