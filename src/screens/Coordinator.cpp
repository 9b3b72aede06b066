#include "screens/Coordinator.h"

#include "base/MainQueue.h"
#include "screens/WindowHost.h"

#include <QCoreApplication>

namespace tarn {

Coordinator::Coordinator(std::shared_ptr<WindowHost> windowHost, QObject* parent)
    : QObject(parent), host(std::move(windowHost)) {}

void Coordinator::setWindowHost(std::shared_ptr<WindowHost> windowHost) {
    host = std::move(windowHost);
}

void Coordinator::navigate(Screen screen) {
    postToMainQueue(this, [this, screen] { currentScreen = screen; });
}

void Coordinator::push(Screen screen) {
    navigate(screen);
    stack.append(screen);
}

void Coordinator::pop() {
    if (!stack.isEmpty()) {
        stack.removeLast();
    }
    navigate(stack.isEmpty() ? Screen::welcome : stack.last());
}

void Coordinator::showNetworkingIssue() {
    switch (currentScreen()) {
    case Screen::welcome:
    case Screen::installResult:
    case Screen::exit:
        return;
    default:
        currentScreen = Screen::networkingIssue;
        stack.append(Screen::networkingIssue);
    }
}

void Coordinator::quit() {
    if (host) {
        host->requestTermination();
    } else {
        // exit, not quit: Qt's quit first asks every window to close, and ours never agrees.
        QCoreApplication::exit(0);
    }
}

QString screenName(Coordinator::Screen screen) {
    switch (screen) {
    case Coordinator::Screen::welcome:
        return QStringLiteral("welcome");
    case Coordinator::Screen::eula:
        return QStringLiteral("eula");
    case Coordinator::Screen::legal:
        return QStringLiteral("legal");
    case Coordinator::Screen::deviceSearch:
        return QStringLiteral("deviceSearch");
    case Coordinator::Screen::deviceConnect:
        return QStringLiteral("deviceConnect");
    case Coordinator::Screen::deviceDetected:
        return QStringLiteral("deviceDetected");
    case Coordinator::Screen::appManager:
        return QStringLiteral("appManager");
    case Coordinator::Screen::installer:
        return QStringLiteral("installer");
    case Coordinator::Screen::networkingIssue:
        return QStringLiteral("networkingIssue");
    case Coordinator::Screen::installResult:
        return QStringLiteral("installResult");
    case Coordinator::Screen::exit:
        return QStringLiteral("exit");
    }
    return QStringLiteral("unknown");
}

} // namespace tarn
