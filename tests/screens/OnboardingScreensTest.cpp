#include "components/LinkButton.h"
#include "screens/DeviceDetectedScreenView.h"
#include "screens/DevicePicker.h"
#include "screens/EULAScreenView.h"
#include "screens/InstallationResultScreenView.h"
#include "support/ScreenFixture.h"

#include <QApplication>
#include <QSet>
#include <QTextBrowser>

namespace tarn::test {
namespace {

class OnboardingScreensTest : public ScreenTest {
protected:
    // Whether `control`, on the active stage, takes the keyboard's focus and draws it.
    bool showsFocus(QWidget* control) {
        if (!control || !showActive(*stage)) {
            return false;
        }
        if (QWidget* focused = QApplication::focusWidget()) {
            focused->clearFocus();
        }
        settle();
        const QImage without = control->grab().toImage();
        control->setFocus(Qt::TabFocusReason);
        settle();
        return control->hasFocus() && control->grab().toImage() != without;
    }
};

TEST_F(OnboardingScreensTest, AcceptanceBoxBindsTheConsentAndNextFollowsIt) {
    auto& licence = showScreen<EULAScreenView>();
    CustomToggleView* accept = toggleTitled(licence, u"eula.accept"_s);
    for (const bool accepted : {true, false}) {
        click(accept);
        EXPECT_EQ(model().isEulaAccepted(), accepted);
        EXPECT_EQ(licence.buttons().next->isEnabled(), accepted);
    }
    model().isEulaAccepted = true; // set elsewhere, it shows in the box
    EXPECT_TRUE(accept->isChecked());
    EXPECT_TRUE(licence.buttons().next->isEnabled());
}

// Every kind of control draws the keyboard's focus, so a person using Tab sees where they are (the
// action button's ring is checked with the button).
TEST_F(OnboardingScreensTest, TabReachesEveryEnabledControlAndEachKindShowsItsFocus) {
    auto& licence = showScreen<EULAScreenView>();
    ASSERT_TRUE(showActive(*stage));
    settle();
    QSet<QWidget*> visited;
    for (int step = 0; step < 8; ++step) {
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : stage.get(), Qt::Key_Tab);
        visited.insert(QApplication::focusWidget());
    }
    auto* document = licence.findChild<QTextBrowser*>();
    CustomToggleView* accept = toggleTitled(licence, u"eula.accept"_s);
    for (QWidget* control :
         std::initializer_list<QWidget*>{document, accept, licence.buttons().cancel, licence.buttons().back}) {
        EXPECT_TRUE(visited.contains(control)) << control->metaObject()->className();
    }
    EXPECT_FALSE(visited.contains(licence.buttons().next)) << "a disabled button is skipped";
    EXPECT_TRUE(showsFocus(document));
    EXPECT_TRUE(showsFocus(accept));

    loadCatalogue(sampleCatalogue());
    model().deviceSearchStatus = DeviceSearchState::notFound();
    EXPECT_TRUE(showsFocus(showScreen<DeviceDetectedScreenView>().picker()));
    EXPECT_TRUE(showsFocus(showScreen<InstallationResultScreenView>().findChild<LinkButton*>()));
}

} // namespace
} // namespace tarn::test
