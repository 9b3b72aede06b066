#include "components/DownloadProgressBar.h"

#include "components/Animation.h"
#include "components/Theme.h"

#include <QPainter>
#include <QPainterPath>
#include <QVariantAnimation>

#include <algorithm>

namespace tarn {

DownloadProgressBar::DownloadProgressBar(QWidget* parent)
    : QWidget(parent), animation(repaintingAnimation(this, {1.0, slideMilliseconds, QEasingCurve::InOutSine, -1},
                                                     [this](qreal position) { slidePosition = position; })) {
    setFixedHeight(barHeight);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFixedWidth(sizeHint().width());
}

void DownloadProgressBar::setFraction(std::optional<double> fraction) {
    if (fraction) {
        fraction = std::clamp(*fraction, 0.0, 1.0);
    }
    if (fraction != value) {
        value = fraction;
        updateAnimation();
        update();
    }
}

void DownloadProgressBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track = QRectF(rect());
    const qreal radius = track.height() / 2;
    QPainterPath trackShape;
    trackShape.addRoundedRect(track, radius, radius);
    painter.fillPath(trackShape, theme::color(u"DownloadProgressTrack"));
    painter.setClipPath(trackShape);

    QRectF filled = track;
    if (value) {
        filled.setWidth(track.width() * *value);
    } else {
        // A third of the track, travelling from just outside the left edge to just outside the right.
        const qreal segment = track.width() / 3;
        filled = QRectF(track.left() - segment + (track.width() + segment) * slidePosition, track.top(), segment,
                        track.height());
    }
    if (filled.width() > 0) {
        QPainterPath fill;
        fill.addRoundedRect(filled, radius, radius);
        painter.fillPath(fill, theme::color(u"LabelDownloadInProgress"));
    }
}

void DownloadProgressBar::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    updateAnimation();
}

void DownloadProgressBar::hideEvent(QHideEvent* event) {
    animation->stop();
    QWidget::hideEvent(event);
}

// Slides only while it is seen and has nothing better to show.
void DownloadProgressBar::updateAnimation() {
    if (!value && isVisible()) {
        if (animation->state() != QAbstractAnimation::Running) {
            animation->start();
        }
    } else {
        animation->stop();
    }
}

} // namespace tarn
