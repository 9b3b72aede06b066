#include "components/SpinnerView.h"

#include "components/Accessibility.h"
#include "components/Animation.h"
#include "components/Resources.h"
#include "components/Theme.h"

#include <QPainter>
#include <QVariantAnimation>

namespace tarn {

SpinnerView::SpinnerView(int size, QWidget* parent)
    : QWidget(parent), side(size),
      animation(repaintingAnimation(this, {360.0, turnMilliseconds, QEasingCurve::Linear, -1},
                                    [this](qreal value) { angle = value; })) {
    installAccessibleFactories();
    setFixedSize(size, size);
    setAccessibleName(localized(u"spinner.accessible.name"));
}

void SpinnerView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QPointF center = QRectF(rect()).center();
    painter.translate(center);
    // Positive angles turn clockwise on screen, where y grows downwards.
    painter.rotate(angle);
    painter.translate(-center);
    theme::drawImage(painter, u"spinner", rect());
}

void SpinnerView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (animation->state() == QAbstractAnimation::Paused) {
        animation->resume();
    } else if (animation->state() == QAbstractAnimation::Stopped) {
        animation->start();
    }
}

void SpinnerView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange) {
        setAccessibleName(localized(u"spinner.accessible.name"));
    }
    QWidget::changeEvent(event);
}

void SpinnerView::hideEvent(QHideEvent* event) {
    if (animation->state() == QAbstractAnimation::Running) {
        animation->pause();
    }
    QWidget::hideEvent(event);
}

} // namespace tarn
