#pragma once

#include <QSize>
#include <QString>
#include <QUrl>

#include <functional>
#include <utility>

namespace tarn {

// What the navigation and the application shell ask of the window system: ending the application,
// the main window's title, size and place, and opening a file with the desktop's default
// application. The shell implements it over Qt; tests record the calls.
class WindowHost {
public:
    virtual ~WindowHost() = default;

    // Asks the application to end. It ends only when the termination check grants it.
    virtual void requestTermination() = 0;

    virtual void setTitle(const QString& title) = 0;
    // The size of the window's content, below its toolbar and menus.
    virtual void setContentSize(const QSize& size) = 0;
    // Centres the window on its screen.
    virtual void center() = 0;
    // Hands a file to the desktop's default application for it, without waiting.
    virtual void openFile(const QUrl& fileURL) = 0;

    // The shell's answer to a termination request. Until one is set, every request is granted.
    void setTerminationCheck(std::function<bool()> check) { terminationCheck = std::move(check); }

protected:
    bool isTerminationGranted() const { return !terminationCheck || terminationCheck(); }

private:
    std::function<bool()> terminationCheck;
};

} // namespace tarn
