#pragma once

#include "base/Published.h"
#include "screens/Coordinator.h"
#include "workflow/InstallationViewModel.h"

#include <QPixmap>
#include <QPointer>
#include <QWidget>

#include <optional>
#include <vector>

class QPropertyAnimation;

namespace tarn {

class ScreenView;

// A new view of `screen`, in its initial state.
ScreenView* makeScreenView(Coordinator::Screen screen, Coordinator& coordinator, InstallationViewModel& viewModel);

// The picture of the screen that is leaving, fading out over the one that arrives. It takes no input,
// so the new screen works from its first moment; the fade never holds the navigation back.
class ScreenTransition final : public QWidget {
    Q_OBJECT
    Q_PROPERTY(qreal opacity READ opacity WRITE setOpacity)
public:
    explicit ScreenTransition(QWidget* parent = nullptr);

    void setPicture(QPixmap picture);
    qreal opacity() const { return pictureOpacity; }
    void setOpacity(qreal opacity);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap picture;
    qreal pictureOpacity = 1;
};

// The content of the installer's window: a freshly built view of the coordinator's current screen
// (the previous view is deleted at once), the connectivity rule on every value the workflow delivers
// for `connectivityError`, the fatal-error rule whenever `fatalErrorMessage` changes, and an
// ease-in-out cross-fade between screens.
class RootView final : public QWidget {
    Q_OBJECT
public:
    static constexpr int transitionMilliseconds = 260;

    RootView(Coordinator& coordinator, InstallationViewModel& viewModel, QWidget* parent = nullptr);

    ScreenView* currentView() const { return view; }
    std::optional<Coordinator::Screen> shownScreen() const { return shown; }
    // Exposed so tests and pictures can finish the fade without waiting for it.
    QPropertyAnimation* transition() const { return fade; }

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void showScreen(Coordinator::Screen screen);
    void applyConnectivityRule(bool isConnectivityLost);
    void applyFatalErrorRule();
    QPixmap pictureOfThisArea();

    Coordinator& coordinator;
    InstallationViewModel& viewModel;
    QPointer<ScreenView> view;
    std::optional<Coordinator::Screen> shown;
    ScreenTransition* overlay;
    QPropertyAnimation* fade;
    std::vector<Subscription> subscriptions;
};

} // namespace tarn
