#pragma once

#include "screens/ScreenView.h"

#include <QList>
#include <QPointer>
#include <qcoro/qcorotask.h>

class QVBoxLayout;

namespace tarn {

class ToInstallListItemView;

// Runs the installation and shows one row per task. While the run goes on Cancel is enabled and Done
// is not; when the run returns, or fails, Done takes over. A run started here finishes in the workflow
// even when the screen is gone first.
class InstallManagerScreenView final : public ScreenView {
    Q_OBJECT
public:
    static constexpr int margin = 100;
    static constexpr int trailingLeadingMargin = 100;
    static constexpr int topMargin = 100;
    static constexpr int bottomMargin = 48;
    static constexpr int spaceBetweenCancelBack = 200;
    static constexpr int rowSpacing = 14;

    InstallManagerScreenView(Coordinator& coordinator, InstallationViewModel& viewModel, QWidget* parent = nullptr);

    const QList<ToInstallListItemView*>& rows() const { return taskRows; }

protected:
    void onAppear() override;
    void refresh() override;

private:
    static QCoro::Task<> install(QPointer<InstallManagerScreenView> screen, InstallationViewModel& viewModel);
    void runEnded();

    bool isCancelButtonEnabled = true;
    bool isDoneButtonEnabled = false;
    QWidget* list;
    QVBoxLayout* listLayout;
    QList<ToInstallListItemView*> taskRows;
    CustomButtonView* cancel;
    CustomButtonView* done;
};

} // namespace tarn
