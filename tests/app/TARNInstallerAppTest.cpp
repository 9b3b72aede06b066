#include "app/TARNInstallerApp.h"

#include "app/QtWindowHost.h"
#include "screens/RootView.h"
#include "screens/ScreenView.h"
#include "support/ScreenFixture.h"

#include <QAction>

namespace tarn::test {
namespace {

using testing::Each;
using testing::ElementsAre;

class TARNInstallerAppTest : public ScreenTest {
protected:
    TARNInstallerAppTest() { goOnline(); }

    // The window open and active, as after start-up.
    void start() {
        app.show();
        ASSERT_TRUE(showActive(*app.window()));
        settle();
    }

    TARNInstallerApp app{coordinator, model(), host};
};

// The title names the window for the window list, task switchers and screen readers.
TEST_F(TARNInstallerAppTest, WindowOpensAt900By700CentredWithItsTitleAndIsRestoredWhenActiveAgain) {
    coordinator.quit();
    EXPECT_EQ(host->terminations, 1) << "before the window appears, granted at once";
    start();
    EXPECT_TRUE(host->contentSizes.contains(QSize(900, 700)));
    EXPECT_GE(host->centerings, 1);
    ASSERT_FALSE(host->titles.isEmpty());
    EXPECT_THAT(host->titles, Each(u"T.A.R.N. Installer"_s));

    host->contentSizes.clear();
    host->centerings = 0;
    app.window()->resize(1400, 1000);
    QWidget other;
    ASSERT_TRUE(showActive(other));
    ASSERT_TRUE(showActive(*app.window()));
    EXPECT_THAT(host->contentSizes, ElementsAre(QSize(900, 700)));
    EXPECT_EQ(host->centerings, 1);

    QtWindowHost qtHost(app.window());
    qtHost.setContentSize(QSize(900, 700));
    settle();
    EXPECT_EQ(app.window()->centralWidget()->size(), QSize(900, 700));
    EXPECT_GT(app.window()->height(), 700) << "below the menus";
    qtHost.setTitle(u"x"_s);
    EXPECT_EQ(app.window()->windowTitle(), u"x"_s);
}

TEST_F(TARNInstallerAppTest, CloseQuitOrASystemQuitOnAWorkingScreenAsksToCancelAndKeepsTheWindow) {
    const std::pair<const char*, std::function<void()>> ways[]{
            {"close", [this] { EXPECT_FALSE(app.window()->close()); }},
            {"Quit", [this] { app.quitAction()->trigger(); }},
            {"system quit", [] {
                 QEvent quit(QEvent::Quit);
                 QCoreApplication::sendEvent(QCoreApplication::instance(), &quit);
             }}};
    start();
    for (const auto& [name, ask] : ways) {
        SCOPED_TRACE(name);
        walkTo({Screen::eula});
        ask();
        settle();
        EXPECT_TRUE(app.window()->isVisible());
        EXPECT_EQ(coordinator.currentScreen(), Screen::exit);
        EXPECT_EQ(host->terminations, 0);
    }
    app.quitAction()->trigger();
    EXPECT_EQ(host->terminations, 1) << "Quit on the cancel confirmation ends";
    click(buttonWithKey(*app.rootView()->currentView(), u"button.yes"_s));
    EXPECT_EQ(host->terminations, 2) << "and so does Yes";
}

// On the confirmation and the result, close and Quit end the program on that screen and ask for the
// success page, which the workflow opens once and only after a successful run.
TEST_F(TARNInstallerAppTest, OnTheFinalScreensCloseAndQuitStayAndAskForTheSuccessPage) {
    loadSampleConfiguration();
    start();
    model().selectedAppsForInstallation = QList<TARNDeviceAppConfigurationModel>(); // an empty run, finished
    test::waitFor(model().installSelectedApplications());
    EXPECT_CALL(*opener, open(QUrl(u"https://tarn.test/welcome"_s)));
    for (const Screen screen : {Screen::exit, Screen::installResult}) {
        SCOPED_TRACE(screenName(screen).toStdString());
        walkTo({screen});
        const QList<Screen> history = coordinator.stack;
        EXPECT_FALSE(app.window()->close());
        app.quitAction()->trigger();
        settle();
        EXPECT_TRUE(app.window()->isVisible());
        EXPECT_EQ(coordinator.stack, history);
    }
}

TEST_F(TARNInstallerAppTest, LogCommandOpensTheLogFileWhenThereIsOne) {
    const QUrl log = QUrl::fromLocalFile(u"/var/tmp/tarn/2024-05-01.log"_s);
    logger->fileURL = log;
    start();
    QTest::keyClick(app.window(), Qt::Key_O, Qt::ControlModifier);
    EXPECT_THAT(host->openedFiles, ElementsAre(log));
    logger->fileURL.reset();
    app.openLogsAction()->trigger();
    LogCommands().openLogFile(*host); // without a workflow
    EXPECT_EQ(host->openedFiles.size(), 1) << "nothing to open, nothing reported";
}

} // namespace
} // namespace tarn::test
