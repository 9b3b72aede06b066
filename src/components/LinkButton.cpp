#include "components/LinkButton.h"

#include "components/Accessibility.h"
#include "components/Resources.h"
#include "components/Theme.h"

#include <QKeyEvent>
#include <QPainter>

namespace tarn {
namespace {

constexpr int focusPadding = 4;

} // namespace

LinkButton::LinkButton(const QString& textKey, QWidget* parent) : QAbstractButton(parent), key(textKey) {
    installAccessibleFactories();
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    QFont face = theme::font(u"Poppins-Light", 16);
    face.setUnderline(true);
    setFont(face);
    setText(localized(key));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize LinkButton::sizeHint() const {
    const QFontMetrics metrics(font());
    return QSize(metrics.horizontalAdvance(text()) + 2 * focusPadding, metrics.height() + 2 * focusPadding);
}

void LinkButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setFont(font());
    painter.setPen(theme::color(u"labelText"));
    painter.drawText(rect().adjusted(focusPadding, focusPadding, -focusPadding, -focusPadding), Qt::AlignCenter,
                     text());
    if (hasFocus()) {
        painter.setPen(QPen(theme::color(u"FocusRing"), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 6, 6);
    }
}

void LinkButton::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && !event->isAutoRepeat()) {
        click();
        event->accept();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void LinkButton::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange) {
        setText(localized(key));
        updateGeometry();
    }
    QAbstractButton::changeEvent(event);
}

} // namespace tarn
