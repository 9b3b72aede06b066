#include "components/LinkButton.h"

#include "components/Accessibility.h"
#include "components/Resources.h"
#include "components/Theme.h"

#include <QPainter>

namespace tarn {
namespace {

constexpr int focusPadding = 4;

} // namespace

LinkButton::LinkButton(const QString& textKey, QWidget* parent) : InteractiveButton(parent), key(textKey) {
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
        drawFocusRing(painter, rect(), 6);
    }
}

void LinkButton::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange) {
        setText(localized(key));
        updateGeometry();
    }
    InteractiveButton::changeEvent(event);
}

} // namespace tarn
