#include "components/ToInstallListItemView.h"

#include "components/ImageView.h"
#include "components/SpinnerView.h"
#include "components/Theme.h"
#include "support/GuiTestSupport.h"

#include <QAccessible>
#include <QVariantAnimation>
#include <gtest/gtest.h>

namespace tarn {
namespace {

using RowState = ToInstallListItemViewState;

struct RowCase {
    RowState state;
    const char* icon;
    bool turning;
    const char* stateText; // nullptr: the name stands alone
    const char* stateColour;
};

class TaskRowTest : public ::testing::TestWithParam<RowCase> {
protected:
    void SetUp() override { test::useShippedResources(); }
};

TEST_P(TaskRowTest, StateSelectsIconAndStateText) {
    const RowCase& expected = GetParam();
    const TaskRowPresentation presentation = taskRowPresentation(expected.state);
    EXPECT_EQ(presentation.iconName, QString::fromLatin1(expected.icon));
    EXPECT_EQ(presentation.isIconTurning, expected.turning);

    const QList<StyledRun> runs = taskRowText(QStringLiteral("Scan Suite"), expected.state).runs();
    const QFont bold = theme::font(u"Poppins-Bold", 16);
    ASSERT_FALSE(runs.isEmpty());
    EXPECT_EQ(runs[0].style.color, theme::color(u"labelText"));
    EXPECT_EQ(runs[0].style.font, bold);
    if (!expected.stateText) {
        EXPECT_EQ(runs.size(), 1);
        EXPECT_EQ(runs[0].text, QStringLiteral("Scan Suite"));
        return;
    }
    ASSERT_EQ(runs.size(), 2);
    EXPECT_EQ(runs[0].text, QStringLiteral("Scan Suite - ")); // name and separator share "labelText"
    EXPECT_EQ(runs[1].text, QString::fromLatin1(expected.stateText));
    EXPECT_EQ(runs[1].style.color, theme::color(QString::fromLatin1(expected.stateColour)));
    EXPECT_EQ(runs[1].style.font, bold);
}

INSTANTIATE_TEST_SUITE_P(
        Table, TaskRowTest,
        ::testing::Values(RowCase{RowState::ready, "install-ready", false, nullptr, nullptr},
                          RowCase{RowState::downloading, "spinner", true, "Downloading", "LabelDownloadInProgress"},
                          RowCase{RowState::installing, "spinner", true, "Installing", "LabelDownloadInProgress"},
                          RowCase{RowState::processing, "spinner", true, "Installing", "LabelDownloadInProgress"},
                          RowCase{RowState::done, "install-done", false, "Installed", "LabelDownloadDone"},
                          RowCase{RowState::failed, "install-failed", false, "Failed", "LabelDownloadFailure"}));

class ToInstallListItemViewTest : public ::testing::Test {
protected:
    void SetUp() override { test::useShippedResources(); }
};

TEST_F(ToInstallListItemViewTest, WorkInProgressShowsTheTurningSpinnerInsteadOfAnIcon) {
    ToInstallListItemView row(QStringLiteral("Scan Suite"), RowState::ready);
    row.show();
    EXPECT_TRUE(row.icon()->isVisible());
    EXPECT_FALSE(row.spinner()->isVisible());
    EXPECT_EQ(row.icon()->imageName(), QStringLiteral("install-ready"));

    row.setState(RowState::processing);
    EXPECT_FALSE(row.icon()->isVisible());
    EXPECT_TRUE(row.spinner()->isVisible());
    EXPECT_EQ(row.spinner()->rotation()->state(), QAbstractAnimation::Running);
    EXPECT_EQ(row.displayedText(), QStringLiteral("Scan Suite - Installing"));

    row.setState(RowState::done);
    EXPECT_TRUE(row.icon()->isVisible());
    EXPECT_EQ(row.icon()->imageName(), QStringLiteral("install-done"));
    EXPECT_NE(row.spinner()->rotation()->state(), QAbstractAnimation::Running);
}

TEST_F(ToInstallListItemViewTest, NameIsShownAsItIsNotLookedUp) {
    ToInstallListItemView row(QStringLiteral("button.next"), RowState::failed);
    EXPECT_EQ(row.displayedText(), QStringLiteral("button.next - Failed"));
}

TEST_F(ToInstallListItemViewTest, CarriesTheDownloadProgressAndNamesItselfForAssistiveTools) {
    ToInstallListItemView row(QStringLiteral("Scan Suite"), RowState::downloading, 0.25);
    EXPECT_DOUBLE_EQ(row.downloadProgress(), 0.25);
    row.setDownloadProgress(0.75);
    EXPECT_DOUBLE_EQ(row.downloadProgress(), 0.75);

    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&row);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->role(), QAccessible::ListItem);
    EXPECT_EQ(accessible->text(QAccessible::Name), QStringLiteral("Scan Suite - Downloading"));
    row.setState(RowState::done);
    EXPECT_EQ(accessible->text(QAccessible::Name), QStringLiteral("Scan Suite - Installed"));
}

} // namespace
} // namespace tarn
