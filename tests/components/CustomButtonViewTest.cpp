#include "components/CustomButtonView.h"

#include "components/Resources.h"
#include "components/Theme.h"
#include "support/GuiTestSupport.h"
#include "support/TestSupport.h"

#include <QAccessible>
#include <QHBoxLayout>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <QVariantAnimation>
#include <gtest/gtest.h>

namespace tarn {
namespace {

using Style = ButtonStyleType;
using State = ButtonVisualState;

TEST(ButtonColourTest, EachStyleAndPointerStateSelectsItsNamedColoursAndDisabledWinsOverHover) {
    struct StyleCase {
        Style style;
        const char* family;
        bool seeThroughFace;
    };
    struct StateCase {
        bool enabled;
        bool hovered;
        const char* state;
    };
    const StyleCase styles[] = {{Style::primary, "ButtonPrimary", false},
                                {Style::primaryDestructive, "ButtonPrimaryDestructive", false},
                                {Style::secondary, "ButtonSecondary", true},
                                {Style::ternary, "ButtonTernary", false}};
    const StateCase states[] = {
            {true, false, "Base"}, {true, true, "Hover"}, {false, false, "Disabled"}, {false, true, "Disabled"}};
    for (const StyleCase& style : styles) {
        for (const StateCase& state : states) {
            SCOPED_TRACE(std::string(style.family) + state.state + (state.hovered ? " hovered" : ""));
            const QString family = QString::fromLatin1(style.family);
            const QColor face = theme::color(family + QStringLiteral("Background") + QLatin1String(state.state));
            const ButtonColors colors = buttonColors(style.style, buttonVisualState(state.enabled, state.hovered));
            ASSERT_TRUE(face.isValid());
            EXPECT_EQ(colors.background, style.seeThroughFace ? QColor(Qt::transparent) : face);
            EXPECT_EQ(colors.border, face);
            EXPECT_EQ(colors.foreground, theme::color(family + QStringLiteral("Text") + QLatin1String(state.state)));
        }
    }
}

class CustomButtonViewTest : public ::testing::Test {
protected:
    void SetUp() override { test::useShippedResources(); }

    static QImage render(CustomButtonView& button) {
        QImage image(button.size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::black);
        button.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
        return image;
    }

    // The face as drawn, left of the caption, and the face a style and state should draw, over black.
    static QColor drawnFace(CustomButtonView& button) { return render(button).pixelColor(16, button.height() / 2); }
    static QColor face(State state) {
        QImage pixel(1, 1, QImage::Format_ARGB32_Premultiplied);
        pixel.fill(Qt::black);
        QPainter(&pixel).fillRect(0, 0, 1, 1, buttonColors(Style::primary, state).background);
        return pixel.pixelColor(0, 0);
    }
    static bool alike(const QColor& a, const QColor& b) {
        return std::abs(a.red() - b.red()) <= 2 && std::abs(a.green() - b.green()) <= 2 &&
               std::abs(a.blue() - b.blue()) <= 2;
    }

    static QVariantAnimation& hover(CustomButtonView& button) { return *button.findChild<QVariantAnimation*>(); }
    static void finishHover(CustomButtonView& button) {
        hover(button).setCurrentTime(CustomButtonView::hoverAnimationMilliseconds);
    }
};

TEST_F(CustomButtonViewTest, DisabledButtonUnderThePointerShowsDisabledColoursAndIgnoresClicksAndKeys) {
    CustomButtonView button(QStringLiteral("button.next"));
    button.resize(155, 56);
    button.setEnabled(false);
    QSignalSpy clicks(&button, &QAbstractButton::clicked);
    test::sendHoverEnter(button);
    finishHover(button);
    EXPECT_TRUE(alike(drawnFace(button), face(State::disabled)));
    QTest::mouseClick(&button, Qt::LeftButton);
    QTest::keyClick(&button, Qt::Key_Space);
    QTest::keyClick(&button, Qt::Key_Return);
    EXPECT_EQ(clicks.count(), 0);

    // Enabling again changes the colours at once, without a fade.
    test::sendHoverLeave(button);
    finishHover(button);
    button.setEnabled(true);
    EXPECT_EQ(hover(button).state(), QAbstractAnimation::Stopped);
    EXPECT_TRUE(alike(drawnFace(button), face(State::base)));
}

TEST_F(CustomButtonViewTest, HoverColoursEaseInAndOutWithoutJumping) {
    CustomButtonView button(QStringLiteral("button.next"));
    button.resize(155, 56);
    ASSERT_FALSE(alike(face(State::base), face(State::hover)));

    test::sendHoverEnter(button);
    EXPECT_EQ(hover(button).state(), QAbstractAnimation::Running);
    EXPECT_TRUE(alike(drawnFace(button), face(State::base)));
    hover(button).setCurrentTime(CustomButtonView::hoverAnimationMilliseconds / 2);
    const QColor midway = drawnFace(button);
    EXPECT_FALSE(alike(midway, face(State::base)));
    EXPECT_FALSE(alike(midway, face(State::hover)));
    finishHover(button);
    EXPECT_TRUE(alike(drawnFace(button), face(State::hover)));

    // Leaving half-way back starts from what is shown, not from the hover colours.
    test::sendHoverLeave(button);
    hover(button).setCurrentTime(CustomButtonView::hoverAnimationMilliseconds / 2);
    test::sendHoverEnter(button);
    EXPECT_FALSE(alike(drawnFace(button), face(State::hover)));
    finishHover(button);
    EXPECT_TRUE(alike(drawnFace(button), face(State::hover)));
}

TEST_F(CustomButtonViewTest, TabReachesTheButtonWhichShowsItsFocusAndActsOnSpaceAndEnter) {
    QWidget window;
    auto* layout = new QHBoxLayout(&window);
    auto* back = new CustomButtonView(QStringLiteral("button.back"), Style::secondary);
    auto* next = new CustomButtonView(QStringLiteral("button.next"));
    for (CustomButtonView* button : {back, next}) {
        button->setFixedSize(155, 56);
        layout->addWidget(button);
    }
    ASSERT_TRUE(test::showActive(window));

    const QImage unfocused = render(*next);
    back->setFocus(Qt::TabFocusReason);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), next);
    EXPECT_NE(render(*next), unfocused);

    QSignalSpy clicks(next, &QAbstractButton::clicked);
    for (const Qt::Key key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter}) {
        QTest::keyClick(next, key);
    }
    EXPECT_EQ(clicks.count(), 3);

    // A mouse click acts without taking the focus, as the platform's buttons do.
    QTest::mouseClick(back, Qt::LeftButton);
    EXPECT_EQ(QApplication::focusWidget(), next);
}

TEST_F(CustomButtonViewTest, AccessibleNameFollowsTheCaptionAndTheLanguage) {
    CustomButtonView button(QStringLiteral("button.next"));
    button.show();
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&button);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->role(), QAccessible::Button);
    EXPECT_EQ(accessible->text(QAccessible::Name), QStringLiteral("Next"));
    button.setEnabled(false);
    EXPECT_TRUE(accessible->state().disabled);

    installTranslations(QLocale(QLocale::German, QLocale::Germany));
    test::drainPostedEvents();
    EXPECT_EQ(button.text(), QStringLiteral("Weiter"));

    button.setAttributedString(StyledText(QStringLiteral("Download (2 apps)")));
    EXPECT_EQ(accessible->text(QAccessible::Name), QStringLiteral("Download (2 apps)"));
}

} // namespace
} // namespace tarn
