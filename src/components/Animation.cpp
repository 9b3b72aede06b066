#include "components/Animation.h"

#include <QVariantAnimation>
#include <QWidget>

namespace tarn {

QVariantAnimation* repaintingAnimation(QWidget* owner, const AnimationCurve& curve, std::function<void(qreal)> apply) {
    auto* animation = new QVariantAnimation(owner);
    animation->setStartValue(0.0);
    animation->setEndValue(curve.end);
    animation->setDuration(curve.milliseconds);
    animation->setEasingCurve(curve.easing);
    animation->setLoopCount(curve.loopCount);
    QObject::connect(animation, &QVariantAnimation::valueChanged, owner,
                     [owner, apply = std::move(apply)](const QVariant& value) {
                         apply(value.toReal());
                         owner->update();
                     });
    return animation;
}

} // namespace tarn
