#include "components/CustomToggleView.h"

#include "components/Accessibility.h"
#include "components/Resources.h"
#include "components/Theme.h"

#include <QAbstractTextDocumentLayout>
#include <QPainter>
#include <QTextBlock>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>

namespace tarn {

using namespace Qt::StringLiterals;

namespace {

constexpr qreal rowPadding = 10;
// The checkbox sits almost at the row's edge; the few points left keep the focus ring off it.
constexpr qreal checkboxInset = 6;
constexpr qreal checkboxSize = 20;
constexpr qreal checkboxSpacing = 8;
constexpr qreal lineSpacing = 4;
constexpr qreal cornerRadius = 8;

qreal labelLeft() {
    return checkboxInset + checkboxSize + checkboxSpacing;
}

std::unique_ptr<QTextDocument> labelDocument(const ToggleLabel& label, qreal width) {
    auto document = label.titleLine.toDocument();
    if (label.subtitleLine) {
        QTextCursor cursor(document.get());
        cursor.movePosition(QTextCursor::End);
        QTextBlockFormat spaced;
        spaced.setTopMargin(lineSpacing);
        cursor.insertBlock(spaced);
        label.subtitleLine->insertInto(cursor);
    }
    document->setTextWidth(std::max<qreal>(width, 1));
    return document;
}

} // namespace

QString CheckboxToggleStyle::imageName() const {
    if (isChecked) {
        return isDisabled ? u"checkbox-selected-disabled"_s : u"checkbox-selected-enabled"_s;
    }
    if (isDisabled) {
        return u"checkbox-deselected-disabled"_s;
    }
    return isHovered ? u"checkbox-deselected-enabled-hovered"_s : u"checkbox-deselected-enabled"_s;
}

ToggleLabel toggleLabel(const ToggleLabelContent& content) {
    const QColor disabled = theme::color(u"CheckboxTitleDisabled");
    ToggleLabel label;
    label.titleLine = StyledText(localized(content.title),
                                 {content.isDisabled ? disabled : content.titleColor, content.titleFont, false});
    if (content.titleTag) {
        const QColor tagColor = content.isDisabled ? disabled : theme::color(u"LabelTrialSoftware");
        label.titleLine.append(u" - %1"_s.arg(localized(*content.titleTag)), {tagColor, content.titleFont, false});
    }
    if (content.subtitle) {
        label.subtitleLine =
                StyledText(localized(*content.subtitle), {content.isDisabled ? disabled : content.subtitleColor,
                                                          theme::font(u"Poppins-Light", 14), false});
    }
    return label;
}

CustomToggleView::CustomToggleView(const QString& titleKey, QWidget* parent) : InteractiveButton(parent) {
    installAccessibleFactories();
    setCheckable(true);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_Hover);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);

    content.title = titleKey;
    content.titleFont = theme::font(u"Poppins-Regular", 16);
    content.titleColor = theme::color(u"labelText");
    content.subtitleColor = theme::color(u"labelText");
    content.isDisabled = !isEnabled();
    contentChanged();
}

void CustomToggleView::setSubtitleKey(std::optional<QString> key) {
    content.subtitle = std::move(key);
    contentChanged();
}

void CustomToggleView::setTitleTagKey(std::optional<QString> key) {
    content.titleTag = std::move(key);
    contentChanged();
}

void CustomToggleView::setTitleFont(const QFont& font) {
    content.titleFont = font;
    contentChanged();
}

void CustomToggleView::setTitleColor(const QColor& color) {
    content.titleColor = color;
    contentChanged();
}

void CustomToggleView::setSubtitleColor(const QColor& color) {
    content.subtitleColor = color;
    contentChanged();
}

QSize CustomToggleView::sizeHint() const {
    // A long subtitle wraps rather than asking for a window-wide row.
    constexpr qreal preferredLabelWidth = 520;
    const auto document = labelDocument(label(), preferredLabelWidth);
    const qreal width = labelLeft() + std::min(document->idealWidth(), preferredLabelWidth) + rowPadding;
    return QSize(qCeil(width), heightForWidth(qCeil(width)));
}

QSize CustomToggleView::minimumSizeHint() const {
    return QSize(qCeil(labelLeft() + rowPadding + 40), qCeil(checkboxSize + 2 * rowPadding));
}

int CustomToggleView::heightForWidth(int width) const {
    const QSizeF size = labelSize(width - labelLeft() - rowPadding);
    return qCeil(std::max(size.height(), checkboxSize) + 2 * rowPadding);
}

void CustomToggleView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);

    const QRectF bounds = rect();
    const QRectF inner = bounds.adjusted(checkboxInset, rowPadding, -rowPadding, -rowPadding);
    const auto document = labelDocument(label(), inner.width() - checkboxSize - checkboxSpacing);
    const qreal centerY = inner.center().y();

    theme::drawImage(painter, checkboxStyle().imageName(),
                     QRectF(inner.left(), centerY - checkboxSize / 2, checkboxSize, checkboxSize));

    painter.save();
    painter.translate(inner.left() + checkboxSize + checkboxSpacing, centerY - document->size().height() / 2);
    QAbstractTextDocumentLayout::PaintContext context;
    context.palette.setColor(QPalette::Text, theme::color(u"labelText"));
    document->documentLayout()->draw(&painter, context);
    painter.restore();

    if (hasFocus()) {
        drawFocusRing(painter, bounds, cornerRadius);
    }
}

void CustomToggleView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) {
        content.isDisabled = !isEnabled();
        contentChanged();
    } else if (event->type() == QEvent::LanguageChange) {
        contentChanged();
    }
    InteractiveButton::changeEvent(event);
}

void CustomToggleView::contentChanged() {
    const ToggleLabel current = label();
    // The button text is the accessible name; the subtitle describes it.
    setText(current.titleLine.string());
    setAccessibleDescription(current.subtitleLine ? current.subtitleLine->string() : QString());
    updateGeometry();
    update();
}

QSizeF CustomToggleView::labelSize(qreal width) const {
    return labelDocument(label(), width)->size();
}

} // namespace tarn
