#pragma once

#include <QEasingCurve>

#include <functional>

class QVariantAnimation;
class QWidget;

namespace tarn {

struct AnimationCurve {
    qreal end = 1; // the value runs from 0 to here
    int milliseconds = 0;
    QEasingCurve::Type easing = QEasingCurve::Linear;
    int loopCount = 1; // -1: for ever
};

// An animation owned by `owner` that hands each value to `apply` and repaints the owner.
QVariantAnimation* repaintingAnimation(QWidget* owner, const AnimationCurve& curve, std::function<void(qreal)> apply);

} // namespace tarn
