#include "components/CustomButtonView.h"

#include "components/Resources.h"
#include "components/Theme.h"
#include "support/GuiTestSupport.h"
#include "support/TestSupport.h"

#include <QAccessible>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <QVariantAnimation>
#include <gtest/gtest.h>

namespace tarn {
namespace {

using namespace Qt::StringLiterals;
using Style = ButtonStyleType;
using State = ButtonVisualState;

TEST(ButtonColourTest, EachStyleAndPointerStateSelectsItsNamedColoursAndDisabledWinsOverHover) {
    const std::pair<Style, QString> styles[] = {{Style::primary, u"ButtonPrimary"_s},
                                                {Style::primaryDestructive, u"ButtonPrimaryDestructive"_s},
                                                {Style::secondary, u"ButtonSecondary"_s},
                                                {Style::ternary, u"ButtonTernary"_s}};
    const std::tuple<bool, bool, QString> states[] = {{true, false, u"Base"_s},
                                                      {true, true, u"Hover"_s},
                                                      {false, false, u"Disabled"_s},
                                                      {false, true, u"Disabled"_s}};
    for (const auto& [style, family] : styles) {
        for (const auto& [enabled, hovered, state] : states) {
            SCOPED_TRACE((family + state).toStdString() + (hovered ? " hovered" : ""));
            const QColor face = theme::color(family + u"Background"_s + state);
            const ButtonColors colors = buttonColors(style, buttonVisualState(enabled, hovered));
            ASSERT_TRUE(face.isValid());
            EXPECT_EQ(colors.background, style == Style::secondary ? QColor(Qt::transparent) : face);
            EXPECT_EQ(colors.border, face);
            EXPECT_EQ(colors.foreground, theme::color(family + u"Text"_s + state));
        }
    }
}

class CustomButtonViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::useShippedResources();
        button.resize(155, 56);
    }

    static QImage render(CustomButtonView& button) {
        QImage image(button.size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::black);
        button.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
        return image;
    }
    // Whether the face left of the caption is drawn, over black, as `state` should.
    bool drawnAs(State state) {
        QImage pixel(1, 1, QImage::Format_ARGB32_Premultiplied);
        pixel.fill(Qt::black);
        QPainter(&pixel).fillRect(0, 0, 1, 1, buttonColors(Style::primary, state).background);
        const QColor expected = pixel.pixelColor(0, 0);
        const QColor drawn = render(button).pixelColor(16, button.height() / 2);
        return std::abs(drawn.red() - expected.red()) <= 2 && std::abs(drawn.green() - expected.green()) <= 2 &&
               std::abs(drawn.blue() - expected.blue()) <= 2;
    }
    QVariantAnimation& hover() { return *button.findChild<QVariantAnimation*>(); }
    void hoverAt(int milliseconds) { hover().setCurrentTime(milliseconds); }

    static constexpr int fade = CustomButtonView::hoverAnimationMilliseconds;
    CustomButtonView button{u"button.next"_s};
};

TEST_F(CustomButtonViewTest, HoverColoursEaseInAndOutWithoutJumpingAndDisabledShowsNoHover) {
    test::sendHoverEnter(button);
    EXPECT_EQ(hover().state(), QAbstractAnimation::Running);
    EXPECT_TRUE(drawnAs(State::base));
    hoverAt(fade / 2);
    EXPECT_FALSE(drawnAs(State::base) || drawnAs(State::hover)) << "midway";
    hoverAt(fade);
    EXPECT_TRUE(drawnAs(State::hover));
    // Entering again half-way back starts from what is shown, not from the hover colours.
    test::sendHoverLeave(button);
    hoverAt(fade / 2);
    test::sendHoverEnter(button);
    EXPECT_FALSE(drawnAs(State::hover));
    hoverAt(fade);
    EXPECT_TRUE(drawnAs(State::hover));

    // Disabled under the pointer: the disabled colours, no click, no key.
    button.setEnabled(false);
    hoverAt(fade);
    EXPECT_TRUE(drawnAs(State::disabled));
    QSignalSpy clicks(&button, &QAbstractButton::clicked);
    QTest::mouseClick(&button, Qt::LeftButton);
    QTest::keyClick(&button, Qt::Key_Space);
    QTest::keyClick(&button, Qt::Key_Return);
    EXPECT_EQ(clicks.count(), 0);
    // Enabling again changes the colours at once, without a fade.
    test::sendHoverLeave(button);
    hoverAt(fade);
    button.setEnabled(true);
    EXPECT_EQ(hover().state(), QAbstractAnimation::Stopped);
    EXPECT_TRUE(drawnAs(State::base));
}

// Tab's order over a screen's buttons is proven with the screens.
TEST_F(CustomButtonViewTest, FocusedButtonShowsItsFocusAndActsOnSpaceAndEnterAndAClickTakesNoFocus) {
    ASSERT_TRUE(test::showActive(button));
    button.clearFocus();
    const QImage unfocused = render(button);
    button.setFocus(Qt::TabFocusReason);
    EXPECT_NE(render(button), unfocused);
    QSignalSpy clicks(&button, &QAbstractButton::clicked);
    for (const Qt::Key key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter}) {
        QTest::keyClick(&button, key);
    }
    EXPECT_EQ(clicks.count(), 3);
    // A mouse click acts without taking the focus, as the platform's buttons do.
    button.clearFocus();
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_EQ(clicks.count(), 4);
    EXPECT_FALSE(button.hasFocus());
}

TEST_F(CustomButtonViewTest, AccessibleNameFollowsTheCaptionAndTheLanguage) {
    button.show();
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&button);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->role(), QAccessible::Button);
    EXPECT_EQ(accessible->text(QAccessible::Name), u"Next"_s);
    button.setEnabled(false);
    EXPECT_TRUE(accessible->state().disabled);
    installTranslations(QLocale(QLocale::German, QLocale::Germany));
    test::drainPostedEvents();
    EXPECT_EQ(button.text(), u"Weiter"_s);
    button.setAttributedString(StyledText(u"Download (2 apps)"_s));
    EXPECT_EQ(accessible->text(QAccessible::Name), u"Download (2 apps)"_s);
}

} // namespace
} // namespace tarn
