#include "components/ToInstallListItemView.h"

#include "components/DownloadProgressBar.h"
#include "components/ImageView.h"
#include "components/SpinnerView.h"
#include "components/Theme.h"
#include "support/GuiTestSupport.h"

#include <QAccessible>
#include <QCoreApplication>
#include <QElapsedTimer>
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
    EXPECT_EQ(row.spinner()->findChild<QVariantAnimation*>()->state(), QAbstractAnimation::Running);
    EXPECT_EQ(row.displayedText(), QStringLiteral("Scan Suite - Installing"));

    row.setState(RowState::done);
    EXPECT_TRUE(row.icon()->isVisible());
    EXPECT_EQ(row.icon()->imageName(), QStringLiteral("install-done"));
    EXPECT_NE(row.spinner()->findChild<QVariantAnimation*>()->state(), QAbstractAnimation::Running);
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

TEST_F(TaskRowTest, DownloadFiguresUseTheLocaleAndTheUnitOfTheTotal) {
    struct Case {
        QLocale::Language language;
        qint64 received;
        std::optional<qint64> total;
        const char* text;
    };
    constexpr qint64 MB = 1'000'000;
    const Case cases[] = {
            {QLocale::English, 142'300'000, 418 * MB, "34 % · 142 of 418 MB"},
            {QLocale::English, 1'400 * MB, 2'100 * MB, "66 % · 1.4 of 2.1 GB"},
            {QLocale::English, 418 * MB - 1, 418 * MB, "99 % · 418 of 418 MB"}, // 100 only when complete
            {QLocale::English, 999, 999, "100 % · 999 of 999 bytes"},
            {QLocale::English, 500 * MB, 418 * MB, "100 % · 418 of 418 MB"}, // more than announced
            {QLocale::English, 142'300'000, std::nullopt, "142.3 MB received"},
            {QLocale::English, 0, 0, "0 bytes received"}, // an announced length of 0 gives no fraction
            {QLocale::German, 1'400 * MB, 2'100 * MB, "66 % · 1,4 von 2,1 GB"},
            {QLocale::German, 142'300'000, std::nullopt, "142,3 MB empfangen"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const QLocale locale(c.language);
        test::useShippedResources(locale);
        EXPECT_EQ(downloadProgressText({c.received, c.total}, locale), QString::fromUtf8(c.text));
    }
    test::useShippedResources();
}

TEST_F(TaskRowTest, ThrottleLetsOneUpdatePerIntervalAndOwesTheRest) {
    using std::chrono::milliseconds;
    std::chrono::steady_clock::time_point now{};
    UpdateThrottle throttle(milliseconds(100), [&now] { return now; });
    EXPECT_EQ(throttle.delayBeforeUpdate(), milliseconds(0));
    now += milliseconds(30);
    EXPECT_EQ(throttle.delayBeforeUpdate(), milliseconds(70));
    now += milliseconds(69);
    EXPECT_EQ(throttle.delayBeforeUpdate(), milliseconds(1)) << "a refused update does not restart the interval";
    now += milliseconds(1);
    EXPECT_EQ(throttle.delayBeforeUpdate(), milliseconds(0));
    EXPECT_EQ(throttle.delayBeforeUpdate(), milliseconds(100));
    throttle.reset();
    EXPECT_EQ(throttle.delayBeforeUpdate(), milliseconds(0));
}

TEST_F(TaskRowTest, DownloadingRowShowsBarFiguresAndValueAndHidesThemAfterwards) {
    constexpr qint64 total = 418'000'000;
    ToInstallListItemView row(QStringLiteral("Scan Suite"), RowState::processing);
    QList<int> announced;
    QObject::connect(&row, &ToInstallListItemView::valueAnnounced,
                     [&announced](int percent) { announced.append(percent); });
    row.show();
    EXPECT_FALSE(row.progressBar()->isVisible());

    row.setDownload({142'300'000, total});
    row.setState(RowState::downloading);
    QElapsedTimer elapsed;
    elapsed.start();
    row.setDownload({200'000'000, total}); // within the interval: owed, not drawn yet
    row.setDownload({210'000'000, total});
    EXPECT_TRUE(row.progressBar()->isVisible());
    EXPECT_EQ(row.displayedProgressText(), QStringLiteral("34 % · 142 of 418 MB"));
    while (row.displayedProgressText() != QStringLiteral("50 % · 210 of 418 MB") && elapsed.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    }
    EXPECT_EQ(row.displayedProgressText(), QStringLiteral("50 % · 210 of 418 MB")) << "the owed value is drawn";
    EXPECT_GE(elapsed.elapsed(), ToInstallListItemView::redrawInterval.count() / 2);
    // The bar is filled to just past its middle.
    const QImage bar = row.progressBar()->grab().toImage();
    const QRgb filled = theme::color(u"LabelDownloadInProgress").rgb();
    EXPECT_EQ(bar.pixelColor(110, 3).rgb(), filled);
    EXPECT_NE(bar.pixelColor(135, 3).rgb(), filled);
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&row);
    ASSERT_NE(accessible->valueInterface(), nullptr);
    EXPECT_EQ(accessible->text(QAccessible::Value), QStringLiteral("50 %"));
    EXPECT_EQ(accessible->valueInterface()->currentValue(), QVariant(50));
    // The first value is announced at once; the later ones wait for the longer announcement interval.
    EXPECT_EQ(announced, QList<int>{34});

    row.setState(RowState::installing);
    row.setDownload({500, std::nullopt});
    EXPECT_FALSE(row.progressBar()->isVisible());
    EXPECT_EQ(row.displayedProgressText(), QString());
    EXPECT_FALSE(accessible->valueInterface()->currentValue().isValid());

    row.setState(RowState::downloading); // a new download without a length: bytes and a sliding bar
    EXPECT_EQ(row.displayedProgressText(), QStringLiteral("500 bytes received"));
    EXPECT_EQ(row.progressBar()->findChild<QVariantAnimation*>()->state(), QAbstractAnimation::Running)
            << "the bar slides while the length is unknown";
}

} // namespace
} // namespace tarn
