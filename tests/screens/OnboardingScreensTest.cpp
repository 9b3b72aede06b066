#include "screens/EULAScreenView.h"
#include "screens/LegalNotesScreenView.h"
#include "screens/ViewExt.h"
#include "support/ScreenFixture.h"

#include <QApplication>
#include <QTextBrowser>

namespace tarn::test {
namespace {

using Screen = Coordinator::Screen;
using testing::_;
using testing::ElementsAre;

using OnboardingScreensTest = ScreenTest;

TEST_F(OnboardingScreensTest, AcceptanceBoxBindsTheConsentAndNextFollowsIt) {
    auto& licence = showScreen<EULAScreenView>();
    const auto& bar = licence.buttons();
    EXPECT_FALSE(bar.next->isEnabled());

    click(toggleTitled(licence, QStringLiteral("eula.accept")));
    EXPECT_TRUE(model().isEulaAccepted());
    EXPECT_TRUE(bar.next->isEnabled());

    click(toggleTitled(licence, QStringLiteral("eula.accept")));
    EXPECT_FALSE(model().isEulaAccepted());
    EXPECT_FALSE(bar.next->isEnabled());

    // The flag set elsewhere shows in the box.
    model().isEulaAccepted = true;
    EXPECT_TRUE(toggleTitled(licence, QStringLiteral("eula.accept"))->isChecked());
    EXPECT_TRUE(bar.next->isEnabled());
}

TEST_F(OnboardingScreensTest, EachTickOfTheSecondConsentStartsACatalogueFetch) {
    model().isEulaAccepted = true;
    auto& legal = showScreen<LegalNotesScreenView>();
    EXPECT_CALL(*rest, fetchVerifiedBody(catalogueUrl(), _, _))
            .Times(2)
            .WillRepeatedly(ReturnTask(catalogueJson(sampleCatalogue())));

    for (int tick = 0; tick < 3; ++tick) {
        click(toggleTitled(legal, QStringLiteral("legal.accept")));
        settle();
    }
    EXPECT_TRUE(model().isLegalAccepted());
    EXPECT_EQ(model().supportedDeviceNames().size(), 3);
}

// Start, Next and Cancel are walked in the whole flow; Back only here.
TEST_F(OnboardingScreensTest, BackFromTheLegalNoticeReturnsToTheLicence) {
    coordinator.push(Screen::eula);
    coordinator.push(Screen::legal);
    settle();
    click(showScreen<LegalNotesScreenView>().buttons().back);
    settle();
    EXPECT_THAT(coordinator.stack, ElementsAre(Screen::welcome, Screen::eula));
}

TEST_F(OnboardingScreensTest, TabReachesEveryEnabledControl) {
    auto& licence = showScreen<EULAScreenView>();
    ASSERT_TRUE(showActive(*stage));
    settle();

    QList<QWidget*> visited;
    for (int step = 0; step < 8; ++step) {
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : stage.get(), Qt::Key_Tab);
        if (QWidget* focused = QApplication::focusWidget(); focused && !visited.contains(focused)) {
            visited.append(focused);
        }
    }
    EXPECT_TRUE(visited.contains(licence.findChild<QTextBrowser*>()));
    EXPECT_TRUE(visited.contains(toggleTitled(licence, QStringLiteral("eula.accept"))));
    EXPECT_TRUE(visited.contains(licence.buttons().cancel));
    EXPECT_TRUE(visited.contains(licence.buttons().back));
    EXPECT_FALSE(visited.contains(licence.buttons().next)) << "a disabled button is skipped";
}

} // namespace
} // namespace tarn::test
