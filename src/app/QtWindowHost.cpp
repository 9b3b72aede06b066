#include "app/QtWindowHost.h"

#include <QCoreApplication>
#include <QLayout>
#include <QMainWindow>
#include <QScreen>

namespace tarn {

QtWindowHost::QtWindowHost(QMainWindow* window, std::shared_ptr<UrlOpener> opener)
    : window(window), opener(std::move(opener)) {}

void QtWindowHost::requestTermination() {
    if (isTerminationGranted()) {
        QCoreApplication::exit(0);
    }
}

void QtWindowHost::setTitle(const QString& title) {
    if (window) {
        window->setWindowTitle(title);
    }
}

void QtWindowHost::setContentSize(const QSize& size) {
    if (!window || !window->centralWidget()) {
        return;
    }
    // The content lies below the menu bar and the toolbar; their height comes on top.
    window->layout()->activate();
    const QSize chrome = window->size() - window->centralWidget()->size();
    window->resize(size + chrome);
}

void QtWindowHost::center() {
    if (!window || !window->screen()) {
        return;
    }
    QRect frame = window->frameGeometry();
    frame.moveCenter(window->screen()->availableGeometry().center());
    window->move(frame.topLeft());
}

void QtWindowHost::openFile(const QUrl& fileURL) {
    opener->open(fileURL);
}

} // namespace tarn
