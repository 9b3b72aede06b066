#include "support/GuiTestSupport.h"

#include "components/Resources.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEnterEvent>
#include <QWidget>

namespace tarn::test {

void useShippedResources(const QLocale& locale) {
    static const bool fontsRegistered = registerFonts();
    (void)fontsRegistered;
    installTranslations(locale);
}

void sendHoverEnter(QWidget& widget) {
    const QPointF inside(widget.width() / 2.0, widget.height() / 2.0);
    QEnterEvent event(inside, inside, widget.mapToGlobal(inside));
    QCoreApplication::sendEvent(&widget, &event);
}

void sendHoverLeave(QWidget& widget) {
    QEvent event(QEvent::Leave);
    QCoreApplication::sendEvent(&widget, &event);
}

bool showActive(QWidget& window) {
    window.show();
    window.activateWindow();
    QApplication::setActiveWindow(&window);
    return processEventsUntil([&] { return window.isActiveWindow(); }, std::chrono::seconds(5));
}

} // namespace tarn::test
