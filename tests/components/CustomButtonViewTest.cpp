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

struct ColourCase {
    Style style;
    State state;
    const char* background; // nullptr: fully transparent
    const char* foreground;
    const char* border;
};

class ButtonColourTest : public ::testing::TestWithParam<ColourCase> {};

TEST_P(ButtonColourTest, StyleAndStateSelectTheNamedAssets) {
    const ColourCase& expected = GetParam();
    const ButtonColors colors = buttonColors(expected.style, expected.state);
    if (expected.background) {
        EXPECT_EQ(colors.background, theme::color(QString::fromLatin1(expected.background)));
    } else {
        EXPECT_EQ(colors.background.alpha(), 0);
    }
    EXPECT_EQ(colors.foreground, theme::color(QString::fromLatin1(expected.foreground)));
    EXPECT_EQ(colors.border, theme::color(QString::fromLatin1(expected.border)));
    EXPECT_TRUE(colors.foreground.isValid() && colors.border.isValid());
}

INSTANTIATE_TEST_SUITE_P(
        Table, ButtonColourTest,
        ::testing::Values(ColourCase{Style::primary, State::base, "ButtonPrimaryBackgroundBase",
                                     "ButtonPrimaryTextBase", "ButtonPrimaryBackgroundBase"},
                          ColourCase{Style::primary, State::hover, "ButtonPrimaryBackgroundHover",
                                     "ButtonPrimaryTextHover", "ButtonPrimaryBackgroundHover"},
                          ColourCase{Style::primary, State::disabled, "ButtonPrimaryBackgroundDisabled",
                                     "ButtonPrimaryTextDisabled", "ButtonPrimaryBackgroundDisabled"},
                          ColourCase{Style::primaryDestructive, State::base, "ButtonPrimaryDestructiveBackgroundBase",
                                     "ButtonPrimaryDestructiveTextBase", "ButtonPrimaryDestructiveBackgroundBase"},
                          ColourCase{Style::primaryDestructive, State::hover, "ButtonPrimaryDestructiveBackgroundHover",
                                     "ButtonPrimaryDestructiveTextHover", "ButtonPrimaryDestructiveBackgroundHover"},
                          ColourCase{Style::primaryDestructive, State::disabled,
                                     "ButtonPrimaryDestructiveBackgroundDisabled",
                                     "ButtonPrimaryDestructiveTextDisabled",
                                     "ButtonPrimaryDestructiveBackgroundDisabled"},
                          ColourCase{Style::secondary, State::base, nullptr, "ButtonSecondaryTextBase",
                                     "ButtonSecondaryBackgroundBase"},
                          ColourCase{Style::secondary, State::hover, nullptr, "ButtonSecondaryTextHover",
                                     "ButtonSecondaryBackgroundHover"},
                          ColourCase{Style::secondary, State::disabled, nullptr, "ButtonSecondaryTextDisabled",
                                     "ButtonSecondaryBackgroundDisabled"},
                          ColourCase{Style::ternary, State::base, "ButtonTernaryBackgroundBase",
                                     "ButtonTernaryTextBase", "ButtonTernaryBackgroundBase"},
                          ColourCase{Style::ternary, State::hover, "ButtonTernaryBackgroundHover",
                                     "ButtonTernaryTextHover", "ButtonTernaryBackgroundHover"},
                          ColourCase{Style::ternary, State::disabled, "ButtonTernaryBackgroundDisabled",
                                     "ButtonTernaryTextDisabled", "ButtonTernaryBackgroundDisabled"}));

TEST(ButtonStateTest, DisabledWinsOverHovered) {
    EXPECT_EQ(buttonVisualState(true, false), State::base);
    EXPECT_EQ(buttonVisualState(true, true), State::hover);
    EXPECT_EQ(buttonVisualState(false, false), State::disabled);
    EXPECT_EQ(buttonVisualState(false, true), State::disabled);
}

TEST(ButtonStateTest, BlendRunsFromStartToTargetChannelByChannel) {
    const ButtonColors from{QColor(0, 0, 0), QColor(0, 0, 0), QColor(0, 0, 0, 0)};
    const ButtonColors to{QColor(200, 100, 50), QColor(255, 255, 255), QColor(0, 0, 0, 255)};
    EXPECT_EQ(blendedColors(from, to, 0), from);
    EXPECT_EQ(blendedColors(from, to, 1), to);
    const ButtonColors half = blendedColors(from, to, 0.5);
    EXPECT_NEAR(half.background.red(), 100, 1);
    EXPECT_NEAR(half.background.green(), 50, 1);
    EXPECT_NEAR(half.border.alpha(), 128, 1);
}

class CustomButtonViewTest : public ::testing::Test {
protected:
    void SetUp() override { test::useShippedResources(); }

    static QImage render(CustomButtonView& button, QColor behind = QColor(10, 30, 60)) {
        QImage image(button.size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(behind);
        button.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
        return image;
    }
};

TEST_F(CustomButtonViewTest, DisabledButtonUnderThePointerShowsDisabledColoursAndIgnoresClicks) {
    CustomButtonView button(QStringLiteral("button.next"));
    button.resize(155, 56);
    button.setEnabled(false);
    QSignalSpy clicks(&button, &QAbstractButton::clicked);

    test::sendHoverEnter(button);
    button.hoverAnimation()->setCurrentTime(CustomButtonView::hoverAnimationMilliseconds);

    EXPECT_TRUE(button.isHovered());
    EXPECT_EQ(button.visualState(), State::disabled);
    EXPECT_EQ(button.displayedColors(), buttonColors(Style::primary, State::disabled));
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_EQ(clicks.count(), 0);
}

TEST_F(CustomButtonViewTest, HoverColoursEaseInAndOutWithoutJumping) {
    CustomButtonView button(QStringLiteral("button.next"));
    const ButtonColors base = buttonColors(Style::primary, State::base);
    const ButtonColors hover = buttonColors(Style::primary, State::hover);

    test::sendHoverEnter(button);
    EXPECT_EQ(button.hoverAnimation()->state(), QAbstractAnimation::Running);
    EXPECT_EQ(button.displayedColors(), base);
    EXPECT_EQ(button.hoverAnimation()->easingCurve().type(), QEasingCurve::InOutQuad);

    button.hoverAnimation()->setCurrentTime(CustomButtonView::hoverAnimationMilliseconds / 2);
    const QColor midway = button.displayedColors().background;
    EXPECT_NE(midway, base.background);
    EXPECT_NE(midway, hover.background);

    button.hoverAnimation()->setCurrentTime(CustomButtonView::hoverAnimationMilliseconds);
    EXPECT_EQ(button.displayedColors(), hover);

    // Leaving half-way back starts from what is shown, not from the hover colours.
    test::sendHoverLeave(button);
    button.hoverAnimation()->setCurrentTime(CustomButtonView::hoverAnimationMilliseconds / 2);
    test::sendHoverEnter(button);
    EXPECT_NE(button.displayedColors(), hover);
    button.hoverAnimation()->setCurrentTime(CustomButtonView::hoverAnimationMilliseconds);
    EXPECT_EQ(button.displayedColors(), hover);
}

TEST_F(CustomButtonViewTest, EnablingChangesColoursAtOnce) {
    CustomButtonView button(QStringLiteral("button.next"), Style::secondary);
    button.setEnabled(false);
    EXPECT_EQ(button.displayedColors(), buttonColors(Style::secondary, State::disabled));
    button.setEnabled(true);
    EXPECT_EQ(button.hoverAnimation()->state(), QAbstractAnimation::Stopped);
    EXPECT_EQ(button.displayedColors(), buttonColors(Style::secondary, State::base));
}

TEST_F(CustomButtonViewTest, SpaceAndEnterClickOnlyWhileEnabled) {
    CustomButtonView button(QStringLiteral("button.next"));
    QSignalSpy clicks(&button, &QAbstractButton::clicked);
    button.setFocus();

    QTest::keyClick(&button, Qt::Key_Space);
    QTest::keyClick(&button, Qt::Key_Return);
    QTest::keyClick(&button, Qt::Key_Enter);
    EXPECT_EQ(clicks.count(), 3);

    button.setEnabled(false);
    QTest::keyClick(&button, Qt::Key_Space);
    QTest::keyClick(&button, Qt::Key_Return);
    EXPECT_EQ(clicks.count(), 3);
}

TEST_F(CustomButtonViewTest, TabReachesTheButtonAndItShowsItsFocus) {
    QWidget window;
    auto* layout = new QHBoxLayout(&window);
    auto* back = new CustomButtonView(QStringLiteral("button.back"), Style::secondary);
    auto* next = new CustomButtonView(QStringLiteral("button.next"));
    layout->addWidget(back);
    layout->addWidget(next);
    back->setFixedSize(155, 56);
    next->setFixedSize(155, 56);
    ASSERT_TRUE(test::showActive(window));

    const QImage unfocused = render(*next);
    back->setFocus(Qt::TabFocusReason);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), next);
    EXPECT_NE(render(*next), unfocused);

    QSignalSpy clicks(next, &QAbstractButton::clicked);
    QTest::keyClick(next, Qt::Key_Space);
    EXPECT_EQ(clicks.count(), 1);

    // A mouse click acts without taking the focus, as the platform's buttons do.
    QTest::mouseClick(back, Qt::LeftButton);
    EXPECT_EQ(QApplication::focusWidget(), next);
}

TEST_F(CustomButtonViewTest, AccessibleAsAButtonNamedByItsCaption) {
    CustomButtonView button(QStringLiteral("button.next"));
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&button);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->role(), QAccessible::Button);
    EXPECT_EQ(accessible->text(QAccessible::Name), QStringLiteral("Next"));

    button.setAttributedString(StyledText(QStringLiteral("Download (2 apps)")));
    EXPECT_EQ(accessible->text(QAccessible::Name), QStringLiteral("Download (2 apps)"));
    button.setEnabled(false);
    EXPECT_TRUE(accessible->state().disabled);
}

TEST_F(CustomButtonViewTest, CaptionFollowsALanguageChange) {
    CustomButtonView button(QStringLiteral("button.next"));
    button.show();
    installTranslations(QLocale(QLocale::German, QLocale::Germany));
    test::drainPostedEvents();
    EXPECT_EQ(button.text(), QStringLiteral("Weiter"));
}

TEST_F(CustomButtonViewTest, OutlineIsTheInnerHalfOfAFourPointStroke) {
    const QColor behind(10, 30, 60);
    for (const Style style : {Style::primary, Style::secondary, Style::ternary}) {
        CustomButtonView button(QStringLiteral("button.back"), style);
        button.resize(155, 56);
        const QImage image = render(button, behind);
        const ButtonColors colors = buttonColors(style, State::base);
        const auto over = [&](std::initializer_list<QColor> layers) {
            // What colours with alpha look like drawn one over the other on the backdrop.
            QImage pixel(1, 1, QImage::Format_ARGB32_Premultiplied);
            pixel.fill(behind);
            QPainter painter(&pixel);
            for (const QColor& layer : layers) {
                painter.fillRect(0, 0, 1, 1, layer);
            }
            painter.end();
            return QColor(pixel.pixel(0, 0));
        };
        const int middle = image.height() / 2;
        // x = 1 lies in the 2-point band the clip leaves of the stroke; x = 3 is past it.
        EXPECT_EQ(QColor(image.pixel(1, middle)), over({colors.background, colors.border})) << int(style);
        EXPECT_EQ(QColor(image.pixel(3, middle)), over({colors.background})) << int(style);
        EXPECT_EQ(QColor(image.pixel(14, middle)), over({colors.background})) << int(style);
    }
}

TEST_F(CustomButtonViewTest, SecondaryFaceLetsTheBackdropThroughInEveryState) {
    const QColor behind(10, 30, 60);
    CustomButtonView button(QStringLiteral("button.back"), Style::secondary);
    button.resize(155, 56);
    for (const bool enabled : {true, false}) {
        button.setEnabled(enabled);
        test::sendHoverEnter(button);
        button.hoverAnimation()->setCurrentTime(CustomButtonView::hoverAnimationMilliseconds);
        EXPECT_EQ(QColor(render(button, behind).pixel(14, 28)), behind);
        test::sendHoverLeave(button);
        button.hoverAnimation()->setCurrentTime(CustomButtonView::hoverAnimationMilliseconds);
        EXPECT_EQ(QColor(render(button, behind).pixel(14, 28)), behind);
    }
}

TEST_F(CustomButtonViewTest, ArrowAndStyledCaptionWidenTheButton) {
    CustomButtonView plain(QStringLiteral("welcome.button.text"));
    CustomButtonView arrowed(QStringLiteral("welcome.button.text"));
    arrowed.setArrowShown(true);
    EXPECT_GT(arrowed.sizeHint().width(), plain.sizeHint().width());

    CustomButtonView styled(QStringLiteral("button.download"));
    StyledText caption(QStringLiteral("Download "), {std::nullopt, theme::font(u"Poppins-Bold", 16), false});
    caption.append(QStringLiteral("(12 apps)"), {std::nullopt, theme::font(u"Poppins-Light", 16), false});
    styled.setAttributedString(caption);
    EXPECT_EQ(styled.text(), QStringLiteral("Download (12 apps)"));
    EXPECT_GT(styled.sizeHint().width(), plain.sizeHint().width());
}

} // namespace
} // namespace tarn
