#pragma once

#include "components/InteractiveButton.h"
#include "components/StyledText.h"

#include <QColor>
#include <QFont>

#include <optional>

namespace tarn {

// The checkbox image for a state: hovering changes only the unchecked, enabled image.
struct CheckboxToggleStyle {
    bool isChecked = false;
    bool isDisabled = false;
    bool isHovered = false;

    QString imageName() const;
};

// The two lines of a toggle row with their colours and fonts: the title (and its tag after " - "),
// then the subtitle. A disabled row draws every text in "CheckboxTitleDisabled".
struct ToggleLabel {
    StyledText titleLine;
    std::optional<StyledText> subtitleLine;
};

struct ToggleLabelContent {
    QString title;
    std::optional<QString> subtitle;
    std::optional<QString> titleTag;
    QFont titleFont;
    QColor titleColor;
    QColor subtitleColor;
    bool isDisabled = false;
};

// Texts are text ids, looked up here; an id without a text shows itself (an application's name).
ToggleLabel toggleLabel(const ToggleLabelContent& content);

// One selectable row: a checkbox image and a label. Checked state is the button's; toggled(bool)
// reports every change. A disabled row ignores clicks and keys and shows the disabled colours.
class CustomToggleView : public InteractiveButton {
    Q_OBJECT
public:
    explicit CustomToggleView(const QString& titleKey, QWidget* parent = nullptr);

    void setSubtitleKey(std::optional<QString> key);
    void setTitleTagKey(std::optional<QString> key);
    void setTitleFont(const QFont& font);
    void setTitleColor(const QColor& color);
    void setSubtitleColor(const QColor& color);
    void setDisabled(bool isDisabled) { setEnabled(!isDisabled); }
    bool isDisabled() const { return !isEnabled(); }

    CheckboxToggleStyle checkboxStyle() const { return {isChecked(), isDisabled(), isHovered()}; }
    ToggleLabel label() const { return toggleLabel(content); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void contentChanged();
    QSizeF labelSize(qreal width) const;

    ToggleLabelContent content;
};

} // namespace tarn
