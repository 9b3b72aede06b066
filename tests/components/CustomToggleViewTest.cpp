#include "components/CustomToggleView.h"

#include "components/Theme.h"
#include "support/GuiTestSupport.h"

#include <QAccessible>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace tarn {
namespace {

using namespace Qt::StringLiterals;

TEST(CheckboxImageTest, StateSelectsAShippedImageAndOnlyAnUncheckedEnabledBoxShowsTheHover) {
    for (const bool checked : {false, true}) {
        for (const bool disabled : {false, true}) {
            for (const bool hovered : {false, true}) {
                const QString image = CheckboxToggleStyle{checked, disabled, hovered}.imageName();
                EXPECT_EQ(image, u"checkbox-%1-%2%3"_s.arg(checked ? u"selected"_s : u"deselected"_s,
                                                           disabled ? u"disabled"_s : u"enabled"_s,
                                                           hovered && !checked && !disabled ? u"-hovered"_s : u""_s));
                EXPECT_TRUE(theme::hasImage(image)) << image.toStdString();
            }
        }
    }
}

TEST(ToggleLabelTest, TitleTagAndSubtitleTakeTheirOwnColoursUnlessTheRowIsDisabled) {
    test::useShippedResources();
    const QColor title(250, 250, 250);
    const QColor subtitle(200, 210, 220);
    const QFont bold = theme::font(u"Poppins-Bold", 16);
    ToggleLabelContent content{
            u"Scan Suite"_s, u"Scans to PDF"_s, u"software.type.trial"_s, bold, title, subtitle, false};
    const ToggleLabel enabled = toggleLabel(content);
    const QList<StyledRun> runs = enabled.titleLine.runs();
    ASSERT_EQ(runs.size(), 2);
    EXPECT_EQ(std::tuple(runs[0].text + runs[1].text, runs[0].style.color, runs[1].style.color, runs[1].style.font),
              std::tuple(u"Scan Suite - Trial"_s, title, theme::color(u"LabelTrialSoftware"), std::optional(bold)));
    ASSERT_TRUE(enabled.subtitleLine.has_value());
    EXPECT_EQ(enabled.subtitleLine->string(), u"Scans to PDF"_s);
    EXPECT_EQ(enabled.subtitleLine->styleAt(0), (TextStyle{subtitle, theme::font(u"Poppins-Light", 14), false}));

    content.isDisabled = true;
    const ToggleLabel disabled = toggleLabel(content);
    ASSERT_EQ(disabled.titleLine.runs().size(), 1);
    EXPECT_EQ(disabled.titleLine.styleAt(0).color, theme::color(u"CheckboxTitleDisabled"));
    EXPECT_EQ(disabled.subtitleLine->styleAt(0).color, theme::color(u"CheckboxTitleDisabled"));

    content.titleTag.reset();
    content.subtitle.reset();
    content.title = u"eula.accept"_s;
    const ToggleLabel plain = toggleLabel(content);
    EXPECT_EQ(plain.titleLine.string(), u"I accept the terms of the license agreement"_s);
    EXPECT_FALSE(plain.subtitleLine.has_value());
}

TEST(CustomToggleViewTest, LabelAndKeysFlipItUnlessDisabledTheRowHoversAndItIsAnAccessibleCheckBox) {
    test::useShippedResources();
    CustomToggleView toggle(u"eula.accept"_s);
    toggle.resize(400, toggle.heightForWidth(400));
    QSignalSpy toggled(&toggle, &QAbstractButton::toggled);
    test::sendHoverEnter(toggle);
    EXPECT_EQ(toggle.checkboxStyle().imageName(), u"checkbox-deselected-enabled-hovered"_s);
    test::sendHoverLeave(toggle);
    EXPECT_FALSE(toggle.checkboxStyle().isHovered);

    QTest::mouseClick(&toggle, Qt::LeftButton, {}, QPoint(300, toggle.height() / 2)); // the label, not the box
    toggle.setFocus();
    QTest::keyClick(&toggle, Qt::Key_Space);
    QTest::keyClick(&toggle, Qt::Key_Return);
    EXPECT_EQ(toggled.count(), 3);
    EXPECT_TRUE(toggle.isChecked());
    toggle.setDisabled(true);
    QTest::mouseClick(&toggle, Qt::LeftButton, {}, QPoint(10, toggle.height() / 2));
    QTest::keyClick(&toggle, Qt::Key_Space);
    EXPECT_EQ(toggled.count(), 3);
    EXPECT_EQ(toggle.checkboxStyle().imageName(), u"checkbox-selected-disabled"_s);

    toggle.setSubtitleKey(u"Scans to PDF"_s);
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&toggle);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->role(), QAccessible::CheckBox);
    EXPECT_EQ(accessible->text(QAccessible::Name), u"I accept the terms of the license agreement"_s);
    EXPECT_EQ(accessible->text(QAccessible::Description), u"Scans to PDF"_s);
    EXPECT_TRUE(accessible->state().checked);
    toggle.setChecked(false);
    EXPECT_FALSE(accessible->state().checked);
}

TEST(CustomToggleViewTest, LongSubtitleWrapsAndTheRowGrowsToFitIt) {
    CustomToggleView toggle(u"eula.accept"_s);
    const int oneLine = toggle.heightForWidth(400);
    toggle.setSubtitleKey(u"A long description of an application that cannot fit on one line of a narrow row and so "
                          "has to wrap onto a second and a third line"_s);
    EXPECT_GT(toggle.heightForWidth(400), oneLine);
    EXPECT_GT(toggle.heightForWidth(250), toggle.heightForWidth(400));
}

} // namespace
} // namespace tarn
