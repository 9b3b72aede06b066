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

class TaskRowTest : public ::testing::Test {
protected:
    void SetUp() override { test::useShippedResources(); }
};

TEST_F(TaskRowTest, StateSelectsIconAndStateText) {
    struct Case {
        RowState state;
        const char* icon;
        bool turning;
        const char* stateText; // nullptr: the name stands alone
        const char* stateColour;
    };
    const Case cases[] = {{RowState::ready, "install-ready", false, nullptr, nullptr},
                          {RowState::downloading, "spinner", true, "Downloading", "LabelDownloadInProgress"},
                          {RowState::installing, "spinner", true, "Installing", "LabelDownloadInProgress"},
                          {RowState::processing, "spinner", true, "Installing", "LabelDownloadInProgress"},
                          {RowState::done, "install-done", false, "Installed", "LabelDownloadDone"},
                          {RowState::failed, "install-failed", false, "Failed", "LabelDownloadFailure"}};
    const QFont bold = theme::font(u"Poppins-Bold", 16);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.icon + std::string(" ") + (c.stateText ? c.stateText : ""));
        const TaskRowPresentation presentation = taskRowPresentation(c.state);
        EXPECT_EQ(presentation.iconName, QString::fromLatin1(c.icon));
        EXPECT_TRUE(theme::hasImage(presentation.iconName));
        EXPECT_EQ(presentation.isIconTurning, c.turning);

        const QList<StyledRun> runs = taskRowText(QStringLiteral("Scan Suite"), c.state).runs();
        ASSERT_EQ(runs.size(), c.stateText ? 2 : 1);
        EXPECT_EQ(runs[0].style.color, theme::color(u"labelText"));
        EXPECT_EQ(runs[0].style.font, bold);
        if (!c.stateText) {
            EXPECT_EQ(runs[0].text, QStringLiteral("Scan Suite"));
            continue;
        }
        EXPECT_EQ(runs[0].text, QStringLiteral("Scan Suite - ")); // name and separator share "labelText"
        EXPECT_EQ(runs[1].text, QString::fromLatin1(c.stateText));
        EXPECT_EQ(runs[1].style.color, theme::color(QString::fromLatin1(c.stateColour)));
        EXPECT_EQ(runs[1].style.font, bold);
    }
}

TEST_F(TaskRowTest, WorkInProgressShowsTheTurningSpinnerInsteadOfAnIcon) {
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

TEST_F(TaskRowTest, NameIsNotLookedUpAndTheRowNamesItselfForAssistiveTools) {
    ToInstallListItemView row(QStringLiteral("button.next"), RowState::downloading);

    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&row);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->role(), QAccessible::ListItem);
    EXPECT_EQ(accessible->text(QAccessible::Name), QStringLiteral("button.next - Downloading"));
    row.setState(RowState::failed);
    EXPECT_EQ(accessible->text(QAccessible::Name), QStringLiteral("button.next - Failed"));
    EXPECT_EQ(row.displayedText(), QStringLiteral("button.next - Failed"));
}

} // namespace
} // namespace tarn
