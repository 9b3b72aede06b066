#pragma once

#include "screens/PackageChoice.h"
#include "screens/ScreenView.h"
#include "workflow/ApplicationChoice.h"

#include <QList>

class QLabel;
class QStackedWidget;
class QVBoxLayout;

namespace tarn {

class CustomToggleView;
class SpinnerView;

// Loads the device's application configuration and lists its applications, mandatory ones checked
// and locked; the user's choice goes to the workflow when Download is pressed. The screen's own
// ApplicationChoice is the source of truth while it is shown; the workflow's selection only seeds it.
class PackageManagerScreenView final : public ScreenView {
    Q_OBJECT
public:
    static constexpr int imageWidth = 128;
    static constexpr int imageHeight = 44;
    static constexpr int margin = 100;
    static constexpr int trailingLeadingMargin = 100;
    static constexpr int topMargin = 100;
    static constexpr int bottomMargin = 48;
    static constexpr int spaceBetweenCancelBack = 200;
    static constexpr int rowSpacing = 5;
    static constexpr QSize downloadMinimumSize{250, 56};

    PackageManagerScreenView(Coordinator& coordinator, InstallationViewModel& viewModel, QWidget* parent = nullptr);

    const ApplicationChoice& choice() const { return selections; }
    // The rows in list order, each with the entry it shows.
    QList<std::pair<TARNDeviceAppConfigurationModel, CustomToggleView*>> rows() const { return shownRows; }
    bool isLoading() const;
    SpinnerView* spinner() const { return loadingSpinner; }
    QString deviceName() const;
    QLabel* titleLabel() const { return title; }
    const screen::BottomBar& buttons() const { return bar; }

protected:
    void onAppear() override;
    void refresh() override;

private:
    void rebuildRows(const QList<TARNDeviceAppConfigurationModel>& applications);
    void showChoice();
    void download();

    // Looked up once, when the screen is made.
    const QString uknownDevice;
    bool isDisabled = false;
    bool isButtonEnabled = true;
    ApplicationChoice selections;

    QLabel* title;
    QStackedWidget* pages;
    SpinnerView* loadingSpinner;
    QWidget* list;
    QVBoxLayout* listLayout;
    QList<std::pair<TARNDeviceAppConfigurationModel, CustomToggleView*>> shownRows;
    screen::BottomBar bar;
};

} // namespace tarn
