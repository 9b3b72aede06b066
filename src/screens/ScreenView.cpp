#include "screens/ScreenView.h"

#include "components/Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>

namespace tarn {

using namespace Qt::StringLiterals;

ScreenView::ScreenView(Coordinator& coordinator, InstallationViewModel& viewModel, QWidget* parent)
    : QWidget(parent), coordinator(coordinator), viewModel(viewModel) {
    // The window's background shows through every screen.
    setAutoFillBackground(false);
    connect(&viewModel, &InstallationViewModel::changed, this, [this] { refresh(); });
}

void ScreenView::appear() {
    if (appeared) {
        return;
    }
    appeared = true;
    onAppear();
}

void ScreenView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    appear();
}

namespace screen {

QString css(const QColor& color) {
    return u"rgba(%1,%2,%3,%4)"_s.arg(color.red()).arg(color.green()).arg(color.blue()).arg(color.alphaF(), 0, 'f', 3);
}

QVBoxLayout* column(QWidget* screen, const QMargins& margins) {
    auto* layout = new QVBoxLayout(screen);
    layout->setContentsMargins(margins);
    layout->setSpacing(0);
    return layout;
}

QLabel* label(const QString& text, QStringView fontName, qreal size, QStringView colorName) {
    auto* label = new QLabel(text);
    label->setFont(theme::font(fontName, size));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, theme::color(colorName));
    label->setPalette(palette);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QLabel* title(const QString& text, qreal size) {
    auto* title = label(text, u"Poppins-Medium", size);
    title->setAccessibleName(text);
    return title;
}

QLabel* subtitle(const QString& text) {
    return label(text, u"Poppins-Light", 16);
}

CustomButtonView* button(const QString& key, ButtonStyleType style, QSize size) {
    auto* button = new CustomButtonView(key, style);
    button->setFixedSize(size);
    button->setCornerRadius(buttonCornerRadius);
    button->setArrowShown(false);
    return button;
}

BottomBar bottomBar(const QString& nextKey, int preferredSpace) {
    BottomBar bar;
    bar.layout = new QHBoxLayout;
    bar.layout->setContentsMargins(0, 0, 0, 0);
    bar.layout->setSpacing(0);
    bar.cancel = button(u"button.cancel"_s, ButtonStyleType::ternary);
    bar.back = button(u"button.back"_s, ButtonStyleType::secondary);
    bar.next = button(nextKey, ButtonStyleType::primary);
    bar.layout->addWidget(bar.cancel);
    bar.layout->addSpacerItem(new QSpacerItem(preferredSpace, 0, QSizePolicy::Expanding, QSizePolicy::Minimum));
    bar.layout->addWidget(bar.back);
    bar.layout->addSpacing(barButtonGap);
    bar.layout->addWidget(bar.next);
    return bar;
}

QString scrollBarStyleSheet() {
    const QColor handle(255, 255, 255, 64);
    const QColor handleHover(255, 255, 255, 120);
    return u"QScrollBar:vertical { background: transparent; width: 12px; margin: 4px 2px 4px 2px; }"
           "QScrollBar::handle:vertical { background: %1; border-radius: 4px; min-height: 36px; }"
           "QScrollBar::handle:vertical:hover, QScrollBar::handle:vertical:pressed { background: %2; }"
           "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; border: none; }"
           "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }"
           "QScrollBar:horizontal { height: 0; }"_s.arg(css(handle), css(handleHover));
}

QScrollArea* scrollArea(QWidget* content) {
    auto* area = new QScrollArea;
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area->setFocusPolicy(Qt::NoFocus);
    // The viewport and the content are plain widgets, which a style sheet would otherwise paint.
    area->setStyleSheet(u"QScrollArea { background: transparent; border: none; }"
                        "QScrollArea > QWidget#qt_scrollarea_viewport,"
                        " QScrollArea > QWidget#qt_scrollarea_viewport > QWidget"
                        " { background: transparent; }"_s +
                        scrollBarStyleSheet());
    area->viewport()->setAutoFillBackground(false);
    content->setAutoFillBackground(false);
    area->setWidget(content);
    return area;
}

} // namespace screen

} // namespace tarn
