#include "screens/DevicePicker.h"

#include "components/Theme.h"
#include "screens/ScreenView.h"

#include <QAbstractItemView>
#include <QListView>
#include <QPainter>

namespace tarn {

using namespace Qt::StringLiterals;
namespace {

constexpr qreal chevronSize = 18;
constexpr qreal chevronInset = 18;

} // namespace

DevicePicker::DevicePicker(QWidget* parent) : QComboBox(parent) {
    setFixedSize(pickerWidth, faceHeight);
    setFocusPolicy(Qt::StrongFocus);
    setFont(theme::font(u"Poppins-Regular", 16));
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    // A plain list view lets the style sheet draw the entries, with their padding and selection colour.
    auto* list = new QListView(this);
    list->setFont(font());
    setView(list);

    const QString text = screen::css(theme::color(u"labelDropdown"));
    const QString focus = screen::css(theme::color(u"FocusRing"));
    const QString accent = screen::css(theme::color(u"ButtonPrimaryBackgroundBase"));
    setStyleSheet(u"QComboBox { color: %1; background: %2; border: 2px solid %3; border-radius: 14px;"
                  " padding: 0 44px 0 18px; }"
                  "QComboBox:hover { border-color: %4; }"
                  "QComboBox:focus { border-color: %5; }"
                  "QComboBox:disabled { color: %6; border-color: %7; }"
                  "QComboBox::drop-down { border: none; width: 44px; }"
                  "QComboBox::down-arrow { image: none; }"
                  "QComboBox QAbstractItemView { color: %1; background: #102B52; border: 1px solid %3;"
                  " outline: none; padding: 6px; selection-background-color: %8;"
                  " selection-color: #FFFFFF; }"
                  "QComboBox QAbstractItemView::item { min-height: 36px; padding: 0 12px;"
                  " border-radius: 8px; }"
                  "QComboBox QAbstractItemView::item:selected { background: %8; }"_s.arg(
                          text, screen::css(QColor(255, 255, 255, 18)), screen::css(QColor(255, 255, 255, 46)),
                          screen::css(QColor(255, 255, 255, 110)), focus,
                          screen::css(theme::color(u"CheckboxTitleDisabled")), screen::css(QColor(255, 255, 255, 24)),
                          accent) +
                  screen::scrollBarStyleSheet());
}

void DevicePicker::paintEvent(QPaintEvent* event) {
    QComboBox::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor color = isEnabled() ? theme::color(u"labelDropdown") : theme::color(u"CheckboxTitleDisabled");
    const QRectF chevron(width() - chevronInset - chevronSize, (height() - chevronSize) / 2.0, chevronSize,
                         chevronSize);
    theme::drawImage(painter, u"chevron-down", chevron, false, color);
}

} // namespace tarn
