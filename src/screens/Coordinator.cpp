#include "screens/Coordinator.h"

#include "base/MainQueue.h"
#include "screens/WindowHost.h"

#include <QCoreApplication>

#include <array>

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
    // In the order of Coordinator::Screen.
    static constexpr std::array<QStringView, 11> names{
            u"welcome",    u"eula",      u"legal",           u"deviceSearch",  u"deviceConnect", u"deviceDetected",
            u"appManager", u"installer", u"networkingIssue", u"installResult", u"exit"};
    const auto index = static_cast<std::size_t>(screen);
    return index < names.size() ? names[index].toString() : u"unknown"_s;
}

} // namespace tarn
