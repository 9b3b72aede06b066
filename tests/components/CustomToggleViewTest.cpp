#include "components/CustomToggleView.h"

#include "components/Theme.h"
#include "support/GuiTestSupport.h"

#include <QAccessible>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace tarn {
namespace {

TEST(CheckboxImageTest, StateSelectsAShippedImage) {
    struct Case {
        bool checked;
        bool disabled;
        const char* image;
        const char* hoveredImage;
    };
    const Case cases[] = {{true, true, "selected-disabled", "selected-disabled"},
                          {true, false, "selected-enabled", "selected-enabled"},
                          {false, true, "deselected-disabled", "deselected-disabled"},
                          {false, false, "deselected-enabled", "deselected-enabled-hovered"}};
    for (const Case& c : cases) {
        for (const bool hovered : {false, true}) {
            const QString image = CheckboxToggleStyle{c.checked, c.disabled, hovered}.imageName();
            EXPECT_EQ(image, QStringLiteral("checkbox-") + QLatin1String(hovered ? c.hoveredImage : c.image))
                    << c.checked << c.disabled << hovered;
            EXPECT_TRUE(theme::hasImage(image)) << image.toStdString();
        }
    }
}

TEST(ToggleLabelTest, TitleTagAndSubtitleTakeTheirOwnColoursUnlessTheRowIsDisabled) {
    test::useShippedResources();
    ToggleLabelContent content{QStringLiteral("Scan Suite"),
                               QStringLiteral("Scans straight to searchable PDF"),
                               QStringLiteral("software.type.trial"),
                               theme::font(u"Poppins-Bold", 16),
                               QColor(250, 250, 250),
                               QColor(200, 210, 220),
                               false};
    const ToggleLabel enabled = toggleLabel(content);
    const QList<StyledRun> title = enabled.titleLine.runs();
    ASSERT_EQ(title.size(), 2);
    EXPECT_EQ(title[0].text, QStringLiteral("Scan Suite"));
    EXPECT_EQ(title[0].style.color, QColor(250, 250, 250));
    EXPECT_EQ(title[1].text, QStringLiteral(" - Trial"));
    EXPECT_EQ(title[1].style.color, theme::color(u"LabelTrialSoftware"));
    EXPECT_EQ(title[1].style.font, theme::font(u"Poppins-Bold", 16));
    ASSERT_TRUE(enabled.subtitleLine.has_value());
    EXPECT_EQ(enabled.subtitleLine->string(), QStringLiteral("Scans straight to searchable PDF"));
    EXPECT_EQ(enabled.subtitleLine->styleAt(0).color, QColor(200, 210, 220));
    EXPECT_EQ(enabled.subtitleLine->styleAt(0).font, theme::font(u"Poppins-Light", 14));

    content.isDisabled = true;
    const ToggleLabel disabled = toggleLabel(content);
    ASSERT_EQ(disabled.titleLine.runs().size(), 1); // one colour, so one run
    EXPECT_EQ(disabled.titleLine.string(), QStringLiteral("Scan Suite - Trial"));
    EXPECT_EQ(disabled.titleLine.styleAt(0).color, theme::color(u"CheckboxTitleDisabled"));
    EXPECT_EQ(disabled.subtitleLine->styleAt(0).color, theme::color(u"CheckboxTitleDisabled"));

    content.titleTag.reset();
    content.subtitle.reset();
    content.title = QStringLiteral("eula.accept");
    const ToggleLabel plain = toggleLabel(content);
    EXPECT_EQ(plain.titleLine.string(), QStringLiteral("I accept the terms of the license agreement"));
    EXPECT_FALSE(plain.subtitleLine.has_value());
}

class CustomToggleViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::useShippedResources();
        toggle.resize(400, toggle.heightForWidth(400));
    }

    CustomToggleView toggle{QStringLiteral("eula.accept")};
};

TEST_F(CustomToggleViewTest, ClickOnTheLabelAndKeysFlipTheStateUnlessDisabled) {
    QSignalSpy toggled(&toggle, &QAbstractButton::toggled);
    QTest::mouseClick(&toggle, Qt::LeftButton, {}, QPoint(300, toggle.height() / 2)); // the label, not the box
    EXPECT_TRUE(toggle.isChecked());
    toggle.setFocus();
    QTest::keyClick(&toggle, Qt::Key_Space);
    EXPECT_FALSE(toggle.isChecked());
    QTest::keyClick(&toggle, Qt::Key_Return);
    EXPECT_TRUE(toggle.isChecked());
    EXPECT_EQ(toggled.count(), 3);

    toggle.setDisabled(true);
    QTest::mouseClick(&toggle, Qt::LeftButton, {}, QPoint(10, toggle.height() / 2));
    QTest::keyClick(&toggle, Qt::Key_Space);
    EXPECT_TRUE(toggle.isChecked());
    EXPECT_EQ(toggle.checkboxStyle().imageName(), QStringLiteral("checkbox-selected-disabled"));
    EXPECT_EQ(toggle.label().titleLine.styleAt(0).color, theme::color(u"CheckboxTitleDisabled"));
}

TEST_F(CustomToggleViewTest, PointerOverTheRowShowsInTheUncheckedImage) {
    test::sendHoverEnter(toggle);
    EXPECT_EQ(toggle.checkboxStyle().imageName(), QStringLiteral("checkbox-deselected-enabled-hovered"));
    test::sendHoverLeave(toggle);
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
