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

using namespace Qt::StringLiterals;
using RowState = ToInstallListItemViewState;

// The row as drawn for each state: the icon, or the turning spinner while work is in progress, and the
// name (not looked up as a text id) with the state in its own colour.
TEST(TaskRowTest, StateSelectsIconSpinnerAndStateText) {
    test::useShippedResources();
    struct Case {
        RowState state;
        const char* icon;
        const char* stateText; // nullptr: the name stands alone
        const char* stateColour;
    };
    const Case cases[] = {{RowState::ready, "install-ready", nullptr, nullptr},
                          {RowState::downloading, "spinner", "Downloading", "LabelDownloadInProgress"},
                          {RowState::installing, "spinner", "Installing", "LabelDownloadInProgress"},
                          {RowState::processing, "spinner", "Installing", "LabelDownloadInProgress"},
                          {RowState::done, "install-done", "Installed", "LabelDownloadDone"},
                          {RowState::failed, "install-failed", "Failed", "LabelDownloadFailure"}};
    const QFont bold = theme::font(u"Poppins-Bold", 16);
    ToInstallListItemView row(u"button.next"_s, RowState::ready);
    row.show();
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&row);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->role(), QAccessible::ListItem);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.icon + std::string(" ") + (c.stateText ? c.stateText : ""));
        const bool turning = QLatin1String(c.icon) == QLatin1String("spinner");
        const QString text = c.stateText ? u"button.next - %1"_s.arg(QLatin1String(c.stateText)) : u"button.next"_s;
        EXPECT_TRUE(theme::hasImage(QString::fromLatin1(c.icon)));
        row.setState(c.state);
        EXPECT_EQ(row.icon()->isVisible(), !turning);
        EXPECT_TRUE(turning || row.icon()->imageName() == QLatin1String(c.icon));
        EXPECT_EQ(row.spinner()->findChild<QVariantAnimation*>()->state() == QAbstractAnimation::Running, turning);
        EXPECT_EQ(row.displayedText(), text);
        EXPECT_EQ(accessible->text(QAccessible::Name), text);

        const QList<StyledRun> runs = taskRowText(u"button.next"_s, c.state).runs();
        ASSERT_EQ(runs.size(), c.stateText ? 2 : 1);
        EXPECT_EQ(runs[0].style, (TextStyle{theme::color(u"labelText"), bold, false})); // with the separator
        if (c.stateText) {
            EXPECT_EQ(runs[1].style, (TextStyle{theme::color(QString::fromLatin1(c.stateColour)), bold, false}));
        }
    }
}

TEST(TaskRowTest, DownloadFiguresUseTheLocaleAndTheUnitOfTheTotal) {
    constexpr qint64 MB = 1'000'000;
    const std::tuple<QLocale::Language, qint64, std::optional<qint64>, const char*> cases[] = {
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
    for (const auto& [language, received, total, text] : cases) {
        test::useShippedResources(QLocale(language));
        EXPECT_EQ(downloadProgressText({received, total}, QLocale(language)), QString::fromUtf8(text));
    }
    test::useShippedResources();
}

TEST(TaskRowTest, ThrottleLetsOneUpdatePerIntervalAndOwesTheRest) {
    using std::chrono::milliseconds;
    std::chrono::steady_clock::time_point now{};
    UpdateThrottle throttle(milliseconds(100), [&now] { return now; });
    // Time passed before each ask, and the delay answered.
    const std::pair<int, int> steps[] = {{0, 0}, {30, 70}, {69, 1}, {1, 0}, {0, 100}};
    for (const auto& [passed, delay] : steps) {
        now += milliseconds(passed);
        EXPECT_EQ(throttle.delayBeforeUpdate(), milliseconds(delay)) << passed; // a refusal restarts nothing
    }
    throttle.reset();
    EXPECT_EQ(throttle.delayBeforeUpdate(), milliseconds(0));
}

TEST(TaskRowTest, DownloadingRowShowsBarFiguresAndValueAndHidesThemAfterwards) {
    test::useShippedResources();
    constexpr qint64 total = 418'000'000;
    ToInstallListItemView row(u"Scan Suite"_s, RowState::processing);
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
    EXPECT_EQ(row.displayedProgressText(), u"34 % · 142 of 418 MB"_s);
    const QString owed = u"50 % · 210 of 418 MB"_s;
    while (row.displayedProgressText() != owed && elapsed.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    }
    EXPECT_EQ(row.displayedProgressText(), owed) << "the owed value is drawn";
    EXPECT_GE(elapsed.elapsed(), ToInstallListItemView::redrawInterval.count() / 2);
    // The bar is filled to just past its middle.
    const QImage bar = row.progressBar()->grab().toImage();
    const QRgb filled = theme::color(u"LabelDownloadInProgress").rgb();
    EXPECT_EQ(bar.pixelColor(110, 3).rgb(), filled);
    EXPECT_NE(bar.pixelColor(135, 3).rgb(), filled);
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&row);
    ASSERT_NE(accessible->valueInterface(), nullptr);
    EXPECT_EQ(accessible->text(QAccessible::Value), u"50 %"_s);
    EXPECT_EQ(accessible->valueInterface()->currentValue(), QVariant(50));
    // The first value is announced at once; the later ones wait for the longer announcement interval.
    EXPECT_EQ(announced, QList<int>{34});

    row.setState(RowState::installing);
    row.setDownload({500, std::nullopt});
    EXPECT_FALSE(row.progressBar()->isVisible());
    EXPECT_EQ(row.displayedProgressText(), QString());
    EXPECT_FALSE(accessible->valueInterface()->currentValue().isValid());
    row.setState(RowState::downloading); // a new download without a length: bytes and a sliding bar
    EXPECT_EQ(row.displayedProgressText(), u"500 bytes received"_s);
    EXPECT_EQ(row.progressBar()->findChild<QVariantAnimation*>()->state(), QAbstractAnimation::Running);
}

} // namespace
} // namespace tarn
