#include "screens/EULAScreenView.h"
#include "screens/LegalNotesScreenView.h"
#include "screens/ViewExt.h"
#include "screens/WelcomeScreenView.h"
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

    click(licence.acceptance());
    EXPECT_TRUE(model().isEulaAccepted());
    EXPECT_TRUE(bar.next->isEnabled());

    click(licence.acceptance());
    EXPECT_FALSE(model().isEulaAccepted());
    EXPECT_FALSE(bar.next->isEnabled());

    // The flag set elsewhere shows in the box.
    model().isEulaAccepted = true;
    EXPECT_TRUE(licence.acceptance()->isChecked());
    EXPECT_TRUE(bar.next->isEnabled());
}

TEST_F(OnboardingScreensTest, EachTickOfTheSecondConsentStartsACatalogueFetch) {
    model().isEulaAccepted = true;
    auto& legal = showScreen<LegalNotesScreenView>();
    EXPECT_CALL(*rest, fetchVerifiedBody(catalogueUrl(), _, _))
            .Times(2)
            .WillRepeatedly(ReturnTask(catalogueJson(sampleCatalogue())));

    for (int tick = 0; tick < 3; ++tick) {
        click(legal.acceptance());
        settle();
    }
    EXPECT_TRUE(model().isLegalAccepted());
    EXPECT_EQ(model().supportedDeviceNames().size(), 3);
}

TEST_F(OnboardingScreensTest, StartAndBarButtonsNavigate) {
    click(showScreen<WelcomeScreenView>().startButton());
    settle();
    EXPECT_EQ(coordinator.currentScreen(), Screen::eula);
    coordinator.push(Screen::legal);
    settle();
    model().isLegalAccepted = true;
    auto& legal = showScreen<LegalNotesScreenView>();

    click(legal.buttons().next);
    settle();
    EXPECT_THAT(coordinator.stack, ElementsAre(Screen::welcome, Screen::eula, Screen::legal, Screen::deviceConnect));
    coordinator.pop();
    settle();

    click(legal.buttons().cancel);
    settle();
    EXPECT_EQ(coordinator.currentScreen(), Screen::exit);
    coordinator.pop();
    settle();

    click(legal.buttons().back);
    settle();
    EXPECT_EQ(coordinator.currentScreen(), Screen::eula);
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
    EXPECT_TRUE(visited.contains(licence.documentView()));
    EXPECT_TRUE(visited.contains(licence.acceptance()));
    EXPECT_TRUE(visited.contains(licence.buttons().cancel));
    EXPECT_TRUE(visited.contains(licence.buttons().back));
    EXPECT_FALSE(visited.contains(licence.buttons().next)) << "a disabled button is skipped";
}

} // namespace
} // namespace tarn::test
