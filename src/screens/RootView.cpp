#include "screens/RootView.h"

#include "screens/CancelInstallationScreenView.h"
#include "screens/ConnectDeviceScreenView.h"
#include "screens/DeviceDetectedScreenView.h"
#include "screens/DeviceSearchScreeView.h"
#include "screens/EULAScreenView.h"
#include "screens/InstallManagerScreenView.h"
#include "screens/InstallationResultScreenView.h"
#include "screens/LegalNotesScreenView.h"
#include "screens/NoConnectionScreenView.h"
#include "screens/PackageManagerScreenView.h"
#include "screens/WelcomeScreenView.h"

#include <QApplication>
#include <QPainter>
#include <QPropertyAnimation>
#include <QVBoxLayout>

namespace tarn {

ScreenView* makeScreenView(Coordinator::Screen screen, Coordinator& coordinator, InstallationViewModel& viewModel) {
    using Screen = Coordinator::Screen;
    switch (screen) {
    case Screen::welcome:
        return new WelcomeScreenView(coordinator, viewModel);
    case Screen::eula:
        return new EULAScreenView(coordinator, viewModel);
    case Screen::legal:
        return new LegalNotesScreenView(coordinator, viewModel);
    case Screen::deviceSearch:
        return new DeviceSearchScreeView(coordinator, viewModel);
    case Screen::deviceConnect:
        return new ConnectDeviceScreenView(coordinator, viewModel);
    case Screen::deviceDetected:
        return new DeviceDetectedScreenView(coordinator, viewModel);
    case Screen::appManager:
        return new PackageManagerScreenView(coordinator, viewModel);
    case Screen::installer:
        return new InstallManagerScreenView(coordinator, viewModel);
    case Screen::networkingIssue:
        return new NoConnectionScreenView(coordinator, viewModel);
    case Screen::installResult:
        return new InstallationResultScreenView(coordinator, viewModel);
    case Screen::exit:
        return new CancelInstallationScreenView(coordinator, viewModel);
    }
    return new WelcomeScreenView(coordinator, viewModel);
}

ScreenTransition::ScreenTransition(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    hide();
}

void ScreenTransition::setPicture(QPixmap newPicture) {
    picture = std::move(newPicture);
    update();
}

void ScreenTransition::setOpacity(qreal opacity) {
    pictureOpacity = opacity;
    update();
}

void ScreenTransition::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setOpacity(pictureOpacity);
    painter.drawPixmap(rect(), picture);
}

RootView::RootView(Coordinator& coordinator, InstallationViewModel& viewModel, QWidget* parent)
    : QWidget(parent), coordinator(coordinator), viewModel(viewModel), overlay(new ScreenTransition(this)),
      fade(new QPropertyAnimation(overlay, "opacity", this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    setFocusPolicy(Qt::ClickFocus);

    fade->setDuration(transitionMilliseconds);
    fade->setStartValue(1.0);
    fade->setEndValue(0.0);
    fade->setEasingCurve(QEasingCurve::InOutQuad);
    connect(fade, &QPropertyAnimation::finished, this, [this] {
        overlay->hide();
        overlay->setPicture(QPixmap());
    });

    subscriptions.push_back(
            coordinator.currentScreen.subscribe([this](Coordinator::Screen screen) { showScreen(screen); }));
    subscriptions.push_back(viewModel.connectivityError.subscribe(
            [this](bool isConnectivityLost) { applyConnectivityRule(isConnectivityLost); }));
    // Only a text that differs from the one before counts as a new error.
    auto previousError = std::make_shared<QString>(viewModel.fatalErrorMessage());
    subscriptions.push_back(viewModel.fatalErrorMessage.subscribe([this, previousError](const QString& message) {
        if (message != *previousError) {
            *previousError = message;
            applyFatalErrorRule();
        }
    }));
}

void RootView::showScreen(Coordinator::Screen screen) {
    if (shown == screen) {
        return;
    }
    const bool animate = view && isVisible();
    if (animate) {
        overlay->setPicture(pictureOfThisArea());
    }
    // The old view goes at once: its subscriptions end with it, and its tasks find it gone. The
    // keyboard, if it was on the old view, waits here for the next Tab.
    const bool hadKeyboard = view && view->isAncestorOf(QApplication::focusWidget());
    delete view.data();
    if (hadKeyboard) {
        setFocus(Qt::OtherFocusReason);
    }

    shown = screen;
    view = makeScreenView(screen, coordinator, viewModel);
    layout()->addWidget(view);
    view->show();
    view->appear();

    if (animate) {
        fade->stop();
        overlay->setGeometry(rect());
        overlay->setOpacity(1.0);
        overlay->show();
        overlay->raise();
        fade->start();
    }
}

void RootView::applyConnectivityRule(bool isConnectivityLost) {
    using Screen = Coordinator::Screen;
    const Screen current = coordinator.currentScreen();
    if (current == Screen::welcome) {
        return;
    }
    if (isConnectivityLost) {
        if (current != Screen::networkingIssue) {
            coordinator.showNetworkingIssue();
        }
    } else if (current == Screen::networkingIssue) {
        coordinator.pop();
    }
}

void RootView::applyFatalErrorRule() {
    if (!viewModel.fatalErrorMessage().isEmpty() && viewModel.shouldProcessFatalError()) {
        coordinator.push(Coordinator::Screen::installResult);
    }
}

QPixmap RootView::pictureOfThisArea() {
    // The window paints the background; the picture must carry it, or the fade would show through.
    QWidget* top = window();
    return top->grab(QRect(mapTo(top, QPoint(0, 0)), size()));
}

void RootView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Holding the keyboard here keeps Qt from putting it, with a focus ring, on the first control of
    // a window that opens; Tab moves on into the screen.
    if (!window()->focusWidget()) {
        setFocus(Qt::OtherFocusReason);
    }
}

void RootView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    overlay->setGeometry(rect());
}

} // namespace tarn
