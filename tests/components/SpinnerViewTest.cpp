#include "components/SpinnerView.h"

#include "support/GuiTestSupport.h"

#include <QVariantAnimation>
#include <gtest/gtest.h>

namespace tarn {
namespace {

QImage render(SpinnerView& spinner) {
    QImage image(spinner.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    spinner.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

TEST(SpinnerViewTest, TurnsOncePerSecondWhileShownAndResumesWhereItPaused) {
    SpinnerView spinner;
    EXPECT_EQ(spinner.rotation()->state(), QAbstractAnimation::Stopped);
    spinner.show();
    ASSERT_EQ(spinner.rotation()->state(), QAbstractAnimation::Running);
    spinner.rotation()->setCurrentTime(250);
    EXPECT_DOUBLE_EQ(spinner.rotationAngle(), 90);
    spinner.rotation()->setCurrentTime(SpinnerView::turnMilliseconds * 3 + 500);
    EXPECT_DOUBLE_EQ(spinner.rotationAngle(), 180);

    spinner.rotation()->setCurrentTime(400);
    spinner.hide();
    EXPECT_EQ(spinner.rotation()->state(), QAbstractAnimation::Paused);
    spinner.show();
    EXPECT_EQ(spinner.rotation()->state(), QAbstractAnimation::Running);
    EXPECT_EQ(spinner.rotation()->currentTime(), 400);
}

TEST(SpinnerViewTest, TurnsClockwise) {
    SpinnerView spinner;
    spinner.show();
    // The arc's head is at twelve o'clock and its tail fades out at three.
    const QImage start = render(spinner);
    EXPECT_GT(qAlpha(start.pixel(24, 4)), 200);
    EXPECT_LT(qAlpha(start.pixel(44, 24)), 120);

    spinner.rotation()->setCurrentTime(250); // a quarter turn: the head is now at three o'clock
    const QImage quarter = render(spinner);
    EXPECT_GT(qAlpha(quarter.pixel(44, 24)), 200);
    EXPECT_LT(qAlpha(quarter.pixel(24, 44)), 120);
}

} // namespace
} // namespace tarn
