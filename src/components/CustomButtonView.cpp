#include "components/CustomButtonView.h"

#include "components/Accessibility.h"
#include "components/Animation.h"
#include "components/Resources.h"
#include "components/Theme.h"

#include <QAbstractTextDocumentLayout>
#include <QPainter>
#include <QPainterPath>
#include <QTextDocument>
#include <QVariantAnimation>

#include <algorithm>
#include <array>

namespace tarn {

using namespace Qt::StringLiterals;

namespace {

constexpr qreal strokeWidth = 4;
constexpr qreal horizontalPadding = 24;
constexpr qreal verticalPadding = 12;
constexpr qreal arrowSize = 16;
constexpr qreal arrowSpacing = 8;

// The parts of the colour assets' names, in the order of the enumerations.
constexpr std::array<QStringView, 4> styleNames{u"Primary", u"PrimaryDestructive", u"Secondary", u"Ternary"};
constexpr std::array<QStringView, 3> stateNames{u"Base", u"Hover", u"Disabled"};

QColor assetColor(ButtonStyleType style, QStringView part, ButtonVisualState state) {
    return theme::color(u"Button%1%2%3"_s.arg(styleNames.at(static_cast<std::size_t>(style)), part,
                                              stateNames.at(static_cast<std::size_t>(state))));
}

QColor blended(const QColor& from, const QColor& to, qreal progress) {
    const auto mix = [progress](float a, float b) { return a + (b - a) * static_cast<float>(progress); };
    return QColor::fromRgbF(mix(from.redF(), to.redF()), mix(from.greenF(), to.greenF()), mix(from.blueF(), to.blueF()),
                            mix(from.alphaF(), to.alphaF()));
}

QFont captionFont() {
    return theme::font(u"Poppins-Bold", 16);
}

} // namespace

ButtonVisualState buttonVisualState(bool isEnabled, bool isHovered) {
    if (!isEnabled) {
        return ButtonVisualState::disabled;
    }
    return isHovered ? ButtonVisualState::hover : ButtonVisualState::base;
}

ButtonColors buttonColors(ButtonStyleType style, ButtonVisualState state) {
    const QColor background = assetColor(style, u"Background", state);
    const QColor text = assetColor(style, u"Text", state);
    if (style == ButtonStyleType::secondary) {
        return {QColor(Qt::transparent), text, background};
    }
    return {background, text, background};
}

ButtonColors blendedColors(const ButtonColors& from, const ButtonColors& to, qreal progress) {
    if (progress <= 0) {
        return from;
    }
    if (progress >= 1) {
        return to;
    }
    return {blended(from.background, to.background, progress), blended(from.foreground, to.foreground, progress),
            blended(from.border, to.border, progress)};
}

CustomButtonView::CustomButtonView(const QString& textKey, ButtonStyleType style, QWidget* parent)
    : InteractiveButton(parent), styleType(style),
      animation(repaintingAnimation(
              this, {1.0, hoverAnimationMilliseconds, QEasingCurve::InOutQuad},
              [this](qreal progress) { shownColors = blendedColors(animationStart, animationTarget, progress); })) {
    installAccessibleFactories();
    // Like the platform's buttons, a click does not take the focus; Tab does.
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_Hover);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

    snapTo(buttonColors(styleType, visualState()));
    setTextKey(textKey);
}

void CustomButtonView::setTextKey(const QString& textKey) {
    key = textKey;
    updateAccessibleText();
}

void CustomButtonView::setAttributedString(std::optional<StyledText> styled) {
    styledCaption = std::move(styled);
    updateAccessibleText();
}

void CustomButtonView::setArrowShown(bool shown) {
    arrowShown = shown;
    updateGeometry();
    update();
}

void CustomButtonView::setCornerRadius(qreal cornerRadius) {
    radius = cornerRadius;
    update();
}

QSize CustomButtonView::sizeHint() const {
    const QSizeF content = contentSize();
    return QSize(qCeil(content.width() + 2 * horizontalPadding),
                 std::max(56, qCeil(content.height() + 2 * verticalPadding)));
}

QSize CustomButtonView::minimumSizeHint() const {
    return QSize(qCeil(2 * horizontalPadding), qCeil(2 * verticalPadding + arrowSize));
}

void CustomButtonView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);

    const QRectF bounds = rect();
    const qreal corner = std::min({radius, bounds.height() / 2, bounds.width() / 2});
    QPainterPath shape;
    shape.addRoundedRect(bounds, corner, corner);
    // The stroke is centred on the outline and clipped by the shape, so its inner half is the border.
    painter.setClipPath(shape);
    painter.fillPath(shape, shownColors.background);
    painter.strokePath(shape, QPen(shownColors.border, strokeWidth));

    if (hasFocus()) {
        const qreal inset = strokeWidth + 1.5;
        const QRectF ring = bounds.adjusted(inset, inset, -inset, -inset);
        const qreal ringCorner = std::max<qreal>(0, corner - inset);
        QPainterPath focusPath;
        focusPath.addRoundedRect(ring, ringCorner, ringCorner);
        painter.strokePath(focusPath, QPen(theme::color(u"FocusRing"), 2));
    }

    const qreal available = bounds.width() - 2 * horizontalPadding - (arrowShown ? arrowSize + arrowSpacing : 0);
    const QSizeF content = contentSize();
    const qreal captionWidth = std::min(content.width() - (arrowShown ? arrowSize + arrowSpacing : 0), available);
    const qreal totalWidth = captionWidth + (arrowShown ? arrowSize + arrowSpacing : 0);
    qreal x = bounds.center().x() - totalWidth / 2;
    const qreal centerY = bounds.center().y();

    if (styledCaption) {
        const auto document = styledCaption->toDocument();
        document->setDefaultFont(captionFont());
        const QSizeF size = document->size();
        painter.save();
        painter.translate(x, centerY - size.height() / 2);
        painter.setClipRect(QRectF(0, 0, captionWidth, size.height()), Qt::IntersectClip);
        QAbstractTextDocumentLayout::PaintContext context;
        context.palette.setColor(QPalette::Text, shownColors.foreground);
        document->documentLayout()->draw(&painter, context);
        painter.restore();
    } else {
        painter.setFont(captionFont());
        painter.setPen(shownColors.foreground);
        // Elide only what really does not fit: rounding the measured width down must not cut a letter.
        const bool fits = content.width() - (arrowShown ? arrowSize + arrowSpacing : 0) <= available;
        const QString caption =
                fits ? text() : painter.fontMetrics().elidedText(text(), Qt::ElideRight, qFloor(available));
        painter.drawText(QRectF(x, bounds.top(), captionWidth + 2, bounds.height()), Qt::AlignLeft | Qt::AlignVCenter,
                         caption);
    }
    x += captionWidth;

    if (arrowShown) {
        x += arrowSpacing;
        theme::drawImage(painter, u"arrow.right", QRectF(x, centerY - arrowSize / 2, arrowSize, arrowSize), false,
                         shownColors.foreground);
    }
}

void CustomButtonView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) {
        snapTo(buttonColors(styleType, visualState()));
    } else if (event->type() == QEvent::LanguageChange) {
        updateAccessibleText();
    }
    InteractiveButton::changeEvent(event);
}

void CustomButtonView::hoverChanged() {
    animateTo(buttonColors(styleType, visualState()));
}

void CustomButtonView::animateTo(const ButtonColors& target) {
    if (target == animationTarget) {
        return;
    }
    animation->stop();
    animationStart = shownColors;
    animationTarget = target;
    animation->start();
}

void CustomButtonView::snapTo(const ButtonColors& target) {
    animation->stop();
    animationStart = animationTarget = shownColors = target;
    update();
}

void CustomButtonView::updateAccessibleText() {
    setText(styledCaption ? styledCaption->string() : localized(key));
    updateGeometry();
    update();
}

QSizeF CustomButtonView::contentSize() const {
    QSizeF caption;
    if (styledCaption) {
        const auto document = styledCaption->toDocument();
        document->setDefaultFont(captionFont());
        caption = document->size();
    } else {
        const QFontMetricsF metrics(captionFont());
        caption = QSizeF(metrics.horizontalAdvance(text()), metrics.height());
    }
    if (arrowShown) {
        caption.rwidth() += arrowSpacing + arrowSize;
        caption.rheight() = std::max(caption.height(), arrowSize);
    }
    return caption;
}

} // namespace tarn
