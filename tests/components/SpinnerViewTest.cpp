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

// The arc's head starts at twelve o'clock and its tail fades out at three.
TEST(SpinnerViewTest, TurnsClockwiseOncePerSecondWhileShownAndResumesWhereItPaused) {
    SpinnerView spinner;
    auto* turning = spinner.findChild<QVariantAnimation*>();
    ASSERT_NE(turning, nullptr);
    EXPECT_EQ(turning->state(), QAbstractAnimation::Stopped);
    spinner.show();
    ASSERT_EQ(turning->state(), QAbstractAnimation::Running);
    const QImage start = render(spinner);
    EXPECT_GT(qAlpha(start.pixel(24, 4)), 200);
    EXPECT_LT(qAlpha(start.pixel(44, 24)), 120);

    turning->setCurrentTime(250); // a quarter turn: the head is now at three o'clock
    const QImage quarter = render(spinner);
    EXPECT_GT(qAlpha(quarter.pixel(44, 24)), 200);
    EXPECT_LT(qAlpha(quarter.pixel(24, 44)), 120);
    turning->setCurrentTime(SpinnerView::turnMilliseconds * 3 + 500); // three and a half turns: six o'clock
    EXPECT_GT(qAlpha(render(spinner).pixel(24, 44)), 200);

    turning->setCurrentTime(400);
    spinner.hide();
    EXPECT_EQ(turning->state(), QAbstractAnimation::Paused);
    spinner.show();
    EXPECT_EQ(turning->state(), QAbstractAnimation::Running);
    EXPECT_EQ(turning->currentTime(), 400);
}

} // namespace
} // namespace tarn
