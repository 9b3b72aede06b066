#pragma once

#include "components/InteractiveButton.h"
#include "components/StyledText.h"

#include <QColor>

#include <optional>

class QVariantAnimation;

namespace tarn {

enum class ButtonStyleType { primary, primaryDestructive, secondary, ternary };

// Disabled wins over hovered.
enum class ButtonVisualState { base, hover, disabled };
ButtonVisualState buttonVisualState(bool isEnabled, bool isHovered);

struct ButtonColors {
    QColor background;
    QColor foreground; // caption and arrow
    QColor border;

    friend bool operator==(const ButtonColors&, const ButtonColors&) = default;
};

// The colour assets of a style in a state; a secondary button is an outline on a transparent face.
ButtonColors buttonColors(ButtonStyleType style, ButtonVisualState state);
// The colours `progress` (0 to 1) of the way from `from` to `to`, channel by channel.
ButtonColors blendedColors(const ButtonColors& from, const ButtonColors& to, qreal progress);

// The rounded action button of every screen: a caption (a text id, or styled text drawn as it is),
// an optional trailing arrow, colours by style and state, and a hover colour change that eases in
// and out. Clicks, Space and Enter act only while the button is enabled.
class CustomButtonView : public InteractiveButton {
    Q_OBJECT
public:
    static constexpr int hoverAnimationMilliseconds = 180;

    explicit CustomButtonView(const QString& textKey, ButtonStyleType style = ButtonStyleType::primary,
                              QWidget* parent = nullptr);

    void setTextKey(const QString& key);
    QString textKey() const { return key; }

    // When present, drawn instead of the caption, with its own fonts and colours.
    void setAttributedString(std::optional<StyledText> styled);

    void setArrowShown(bool shown);

    void setCornerRadius(qreal radius);

    ButtonVisualState visualState() const { return buttonVisualState(isEnabled(), isHovered()); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void hoverChanged() override;

private:
    void animateTo(const ButtonColors& target);
    void snapTo(const ButtonColors& target);
    void updateAccessibleText();
    QSizeF contentSize() const;

    QString key;
    std::optional<StyledText> styledCaption;
    ButtonStyleType styleType;
    bool arrowShown = false;
    qreal radius = 32;
    ButtonColors shownColors;
    ButtonColors animationStart;
    ButtonColors animationTarget;
    QVariantAnimation* animation;
};

} // namespace tarn
