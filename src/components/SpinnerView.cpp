#include "components/SpinnerView.h"

#include "components/Accessibility.h"
#include "components/Resources.h"
#include "components/Theme.h"

#include <QPainter>
#include <QVariantAnimation>

namespace tarn {

SpinnerView::SpinnerView(int size, QWidget* parent)
    : QWidget(parent), side(size), animation(new QVariantAnimation(this)) {
    installAccessibleFactories();
    setFixedSize(size, size);
    setAccessibleName(localized(u"spinner.accessible.name"));

    animation->setStartValue(0.0);
    animation->setEndValue(360.0);
    animation->setDuration(turnMilliseconds);
    animation->setEasingCurve(QEasingCurve::Linear);
    animation->setLoopCount(-1);
    connect(animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        angle = value.toReal();
        update();
    });
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
