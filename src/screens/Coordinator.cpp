#include "screens/Coordinator.h"

#include "base/MainQueue.h"
#include "screens/WindowHost.h"

#include <QCoreApplication>

namespace tarn {

using namespace Qt::StringLiterals;

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
        return u"welcome"_s;
    case Coordinator::Screen::eula:
        return u"eula"_s;
    case Coordinator::Screen::legal:
        return u"legal"_s;
    case Coordinator::Screen::deviceSearch:
        return u"deviceSearch"_s;
    case Coordinator::Screen::deviceConnect:
        return u"deviceConnect"_s;
    case Coordinator::Screen::deviceDetected:
        return u"deviceDetected"_s;
    case Coordinator::Screen::appManager:
        return u"appManager"_s;
    case Coordinator::Screen::installer:
        return u"installer"_s;
    case Coordinator::Screen::networkingIssue:
        return u"networkingIssue"_s;
    case Coordinator::Screen::installResult:
        return u"installResult"_s;
    case Coordinator::Screen::exit:
        return u"exit"_s;
    }
    return u"unknown"_s;
}

} // namespace tarn
