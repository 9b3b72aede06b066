#include "components/LinkButton.h"
#include "screens/DeviceDetectedScreenView.h"
#include "screens/DevicePicker.h"
#include "screens/EULAScreenView.h"
#include "screens/InstallationResultScreenView.h"
#include "support/ScreenFixture.h"

#include <QApplication>
#include <QTextBrowser>

namespace tarn::test {
namespace {

// Every kind of control draws the keyboard's focus, so a person using Tab sees where they are (the
// action button's ring is checked with the button).
class KeyboardFocusTest : public ScreenTest {
protected:
    void expectFocusShows(QWidget* control) {
        ASSERT_NE(control, nullptr);
        ASSERT_TRUE(showActive(*stage));
        if (QWidget* focused = QApplication::focusWidget()) {
            focused->clearFocus();
        }
        settle();
        const QImage without = control->grab().toImage();
        control->setFocus(Qt::TabFocusReason);
        settle();
        ASSERT_TRUE(control->hasFocus()) << control->metaObject()->className();
        EXPECT_NE(control->grab().toImage(), without) << control->metaObject()->className();
    }
};

TEST_F(KeyboardFocusTest, DocumentAndAcceptanceBox) {
    auto& licence = showScreen<EULAScreenView>();
    settle();
    expectFocusShows(licence.findChild<QTextBrowser*>());
    expectFocusShows(toggleTitled(licence, QStringLiteral("eula.accept")));
}

TEST_F(KeyboardFocusTest, DevicePicker) {
    loadCatalogue(sampleCatalogue());
    model().deviceSearchStatus = DeviceSearchState::notFound();
    auto& detected = showScreen<DeviceDetectedScreenView>();
    expectFocusShows(detected.picker());
}

TEST_F(KeyboardFocusTest, SupportLink) {
    auto& result = showScreen<InstallationResultScreenView>();
    expectFocusShows(result.findChild<LinkButton*>());
}

} // namespace
} // namespace tarn::test
