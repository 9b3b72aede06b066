#include "support/GuiTestSupport.h"

#include "components/Resources.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QEnterEvent>
#include <QWidget>

namespace tarn::test {

using namespace Qt::StringLiterals;

void useShippedResources(const QLocale& locale) {
    static const bool fontsRegistered = registerFonts();
    (void)fontsRegistered;
    installTranslations(locale);
}

bool saveRender(const QImage& image, const QString& name) {
    const QString directory = QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(u"../renders"_s);
    return !image.isNull() && QDir().mkpath(directory) &&
           image.save(QDir::cleanPath(directory) + u'/' + name + u".png"_s);
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
