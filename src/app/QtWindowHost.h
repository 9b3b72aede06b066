#pragma once

#include "screens/WindowHost.h"
#include "services/UrlOpener.h"

#include <QPointer>

#include <memory>

class QMainWindow;

namespace tarn {

// The window host over a Qt main window. A granted termination ends the event loop at once: Qt's own
// quit would first ask every window to close, and the installer's window never agrees.
class QtWindowHost final : public WindowHost {
public:
    explicit QtWindowHost(QMainWindow* window,
                          std::shared_ptr<UrlOpener> opener = std::make_shared<DesktopUrlOpener>());

    void requestTermination() override;
    void setTitle(const QString& title) override;
    void setContentSize(const QSize& size) override;
    void center() override;
    void openFile(const QUrl& fileURL) override;

private:
    QPointer<QMainWindow> window;
    std::shared_ptr<UrlOpener> opener;
};

} // namespace tarn
