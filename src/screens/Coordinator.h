#pragma once

#include "base/Published.h"

#include <QList>
#include <QObject>
#include <QString>

#include <memory>

namespace tarn {

class WindowHost;

// The navigation of the guided flow: which screen is shown and the history that Back, No and Retry
// return through. Screen changes by navigate (and so push and pop) land one turn of the event loop
// later, while the history changes at once; showNetworkingIssue changes both at once.
class Coordinator : public QObject {
    Q_OBJECT
public:
    enum class Screen {
        welcome,
        eula,
        legal,
        deviceSearch,
        deviceConnect,
        deviceDetected,
        appManager,
        installer,
        networkingIssue,
        installResult,
        exit
    };

    // Without a window host, quit() ends the application at once.
    explicit Coordinator(std::shared_ptr<WindowHost> windowHost = nullptr, QObject* parent = nullptr);

    void setWindowHost(std::shared_ptr<WindowHost> windowHost);

    QList<Screen> stack{Screen::welcome};
    Published<Screen> currentScreen{Screen::welcome};

    void navigate(Screen screen);
    void push(Screen screen);
    void pop();
    void showNetworkingIssue();
    void quit();

private:
    std::shared_ptr<WindowHost> host;
};

// "welcome", "deviceSearch" ... for logs and test output.
QString screenName(Coordinator::Screen screen);

} // namespace tarn
