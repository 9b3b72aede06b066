#include "components/CustomToggleView.h"

#include "components/Theme.h"
#include "support/GuiTestSupport.h"

#include <QAccessible>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace tarn {
namespace {

struct CheckboxCase {
    bool checked;
    bool disabled;
    bool hovered;
    const char* image;
};

class CheckboxImageTest : public ::testing::TestWithParam<CheckboxCase> {};

TEST_P(CheckboxImageTest, StateSelectsTheImage) {
    const CheckboxCase& expected = GetParam();
    EXPECT_EQ((CheckboxToggleStyle{expected.checked, expected.disabled, expected.hovered}.imageName()),
              QString::fromLatin1(expected.image));
    EXPECT_TRUE(theme::hasImage(QString::fromLatin1(expected.image)));
}

INSTANTIATE_TEST_SUITE_P(Table, CheckboxImageTest,
                         ::testing::Values(CheckboxCase{true, true, false, "checkbox-selected-disabled"},
                                           CheckboxCase{true, true, true, "checkbox-selected-disabled"},
                                           CheckboxCase{true, false, false, "checkbox-selected-enabled"},
                                           CheckboxCase{true, false, true, "checkbox-selected-enabled"},
                                           CheckboxCase{false, true, false, "checkbox-deselected-disabled"},
                                           CheckboxCase{false, true, true, "checkbox-deselected-disabled"},
                                           CheckboxCase{false, false, true, "checkbox-deselected-enabled-hovered"},
                                           CheckboxCase{false, false, false, "checkbox-deselected-enabled"}));

class ToggleLabelTest : public ::testing::Test {
protected:
    void SetUp() override { test::useShippedResources(); }

    ToggleLabelContent content(bool disabled) const {
        return {QStringLiteral("Scan Suite"),
                QStringLiteral("Scans straight to searchable PDF"),
                QStringLiteral("software.type.trial"),
                theme::font(u"Poppins-Bold", 16),
                QColor(250, 250, 250),
                QColor(200, 210, 220),
                disabled};
    }
};

TEST_F(ToggleLabelTest, EnabledRowColoursTitleTagAndSubtitleApart) {
    const ToggleLabel label = toggleLabel(content(false));
    const QList<StyledRun> title = label.titleLine.runs();
    ASSERT_EQ(title.size(), 2);
    EXPECT_EQ(title[0].text, QStringLiteral("Scan Suite"));
    EXPECT_EQ(title[0].style.color, QColor(250, 250, 250));
    EXPECT_EQ(title[1].text, QStringLiteral(" - Trial"));
    EXPECT_EQ(title[1].style.color, theme::color(u"LabelTrialSoftware"));
    EXPECT_EQ(title[1].style.font, theme::font(u"Poppins-Bold", 16));

    ASSERT_TRUE(label.subtitleLine.has_value());
    EXPECT_EQ(label.subtitleLine->string(), QStringLiteral("Scans straight to searchable PDF"));
    EXPECT_EQ(label.subtitleLine->styleAt(0).color, QColor(200, 210, 220));
    EXPECT_EQ(label.subtitleLine->styleAt(0).font, theme::font(u"Poppins-Light", 14));
}

TEST_F(ToggleLabelTest, DisabledRowDrawsTitleTagAndSubtitleInTheDisabledColour) {
    const ToggleLabel label = toggleLabel(content(true));
    const QColor disabled = theme::color(u"CheckboxTitleDisabled");
    ASSERT_EQ(label.titleLine.runs().size(), 1); // one colour, so one run
    EXPECT_EQ(label.titleLine.string(), QStringLiteral("Scan Suite - Trial"));
    EXPECT_EQ(label.titleLine.styleAt(0).color, disabled);
    EXPECT_EQ(label.subtitleLine->styleAt(0).color, disabled);
}

TEST_F(ToggleLabelTest, WithoutTagOrSubtitleOnlyTheTitleShows) {
    ToggleLabelContent plain = content(false);
    plain.titleTag.reset();
    plain.subtitle.reset();
    plain.title = QStringLiteral("eula.accept");
    const ToggleLabel label = toggleLabel(plain);
    EXPECT_EQ(label.titleLine.string(), QStringLiteral("I accept the terms of the license agreement"));
    EXPECT_FALSE(label.subtitleLine.has_value());
}

class CustomToggleViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::useShippedResources();
        toggle.resize(400, toggle.heightForWidth(400));
    }

    CustomToggleView toggle{QStringLiteral("eula.accept")};
};

TEST_F(CustomToggleViewTest, ClickKeysAndTapFlipTheCheckedState) {
    QSignalSpy toggled(&toggle, &QAbstractButton::toggled);
    QTest::mouseClick(&toggle, Qt::LeftButton, {}, QPoint(300, toggle.height() / 2)); // on the label, not the box
    EXPECT_TRUE(toggle.isChecked());
    toggle.setFocus();
    QTest::keyClick(&toggle, Qt::Key_Space);
    EXPECT_FALSE(toggle.isChecked());
    QTest::keyClick(&toggle, Qt::Key_Return);
    EXPECT_TRUE(toggle.isChecked());
    EXPECT_EQ(toggled.count(), 3);
}

TEST_F(CustomToggleViewTest, DisabledRowIgnoresTapsAndKeys) {
    toggle.setChecked(true);
    toggle.setDisabled(true);
    QTest::mouseClick(&toggle, Qt::LeftButton, {}, QPoint(10, toggle.height() / 2));
    QTest::keyClick(&toggle, Qt::Key_Space);
    EXPECT_TRUE(toggle.isChecked());
    EXPECT_EQ(toggle.checkboxStyle().imageName(), QStringLiteral("checkbox-selected-disabled"));
    EXPECT_EQ(toggle.label().titleLine.styleAt(0).color, theme::color(u"CheckboxTitleDisabled"));
}

TEST_F(CustomToggleViewTest, HoverChangesOnlyTheUncheckedImage) {
    test::sendHoverEnter(toggle);
    EXPECT_EQ(toggle.checkboxStyle().imageName(), QStringLiteral("checkbox-deselected-enabled-hovered"));
    toggle.setChecked(true);
    EXPECT_EQ(toggle.checkboxStyle().imageName(), QStringLiteral("checkbox-selected-enabled"));
    test::sendHoverLeave(toggle);
    toggle.setChecked(false);
    EXPECT_EQ(toggle.checkboxStyle().imageName(), QStringLiteral("checkbox-deselected-enabled"));
}

TEST_F(CustomToggleViewTest, AccessibleAsACheckBoxNamedByItsTitle) {
    toggle.setSubtitleKey(QStringLiteral("Scans to PDF"));
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&toggle);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->role(), QAccessible::CheckBox);
    EXPECT_EQ(accessible->text(QAccessible::Name), QStringLiteral("I accept the terms of the license agreement"));
    EXPECT_EQ(accessible->text(QAccessible::Description), QStringLiteral("Scans to PDF"));
    EXPECT_FALSE(accessible->state().checked);
    toggle.setChecked(true);
    EXPECT_TRUE(accessible->state().checked);
}

TEST_F(CustomToggleViewTest, LongSubtitleWrapsAndTheRowGrowsToFitIt) {
    const int oneLine = toggle.heightForWidth(400);
    toggle.setSubtitleKey(QStringLiteral("A long description of an application that cannot fit on one line of a narrow "
                                         "row and so has to wrap onto a second and a third line"));
    EXPECT_GT(toggle.heightForWidth(400), oneLine);
    EXPECT_GT(toggle.heightForWidth(250), toggle.heightForWidth(400));
}

} // namespace
} // namespace tarn
