#include "components/InteractiveButton.h"

#include "components/Theme.h"

#include <QKeyEvent>
#include <QPainter>

namespace tarn {

void InteractiveButton::drawFocusRing(QPainter& painter, const QRectF& bounds, qreal cornerRadius) {
    painter.setPen(QPen(theme::color(u"FocusRing"), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(bounds.adjusted(1, 1, -1, -1), cornerRadius, cornerRadius);
}

void InteractiveButton::enterEvent(QEnterEvent* event) {
    hovered = true;
    hoverChanged();
    QAbstractButton::enterEvent(event);
}

void InteractiveButton::leaveEvent(QEvent* event) {
    hovered = false;
    hoverChanged();
    QAbstractButton::leaveEvent(event);
}

void InteractiveButton::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && !event->isAutoRepeat()) {
        click();
        event->accept();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

} // namespace tarn
