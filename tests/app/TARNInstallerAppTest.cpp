#include "app/TARNInstallerApp.h"

#include "app/QtWindowHost.h"
#include "screens/RootView.h"
#include "screens/ScreenView.h"
#include "support/ScreenFixture.h"

#include <QAction>

namespace tarn::test {
namespace {

using Screen = Coordinator::Screen;
using testing::Each;
using testing::ElementsAre;

class TARNInstallerAppTest : public ScreenTest {
protected:
    TARNInstallerAppTest() { goOnline(); }

    TARNInstallerApp& app() {
        if (!shell) {
            shell = std::make_unique<TARNInstallerApp>(coordinator, model(), host);
        }
        return *shell;
    }

    // The window open and active, as after start-up.
    void start() {
        app().show();
        ASSERT_TRUE(showActive(*app().window()));
        settle();
    }

    void walkTo(Screen screen) {
        coordinator.push(screen);
        settle();
    }

    std::unique_ptr<TARNInstallerApp> shell;
};

// The title names the window for the window list, task switchers and screen readers.
TEST_F(TARNInstallerAppTest, WindowOpensAt900By700CentredWithItsTitleAndIsRestoredWhenActiveAgain) {
    start();
    EXPECT_TRUE(host->contentSizes.contains(QSize(900, 700)));
    EXPECT_GE(host->centerings, 1);
    ASSERT_FALSE(host->titles.isEmpty());
    EXPECT_THAT(host->titles, Each(QStringLiteral("T.A.R.N. Installer")));
    EXPECT_EQ(coordinator.currentScreen(), Screen::welcome);

    host->contentSizes.clear();
    host->centerings = 0;
    app().window()->resize(1400, 1000);
    QWidget other;
    ASSERT_TRUE(showActive(other));
    ASSERT_TRUE(showActive(*app().window()));
    EXPECT_THAT(host->contentSizes, ElementsAre(QSize(900, 700)));
    EXPECT_EQ(host->centerings, 1);
}

TEST_F(TARNInstallerAppTest, QtHostGivesTheContentTheSizeAskedForBelowMenusAndToolbar) {
    QtWindowHost qtHost(app().window());
    qtHost.setContentSize(QSize(900, 700));
    app().window()->show();
    settle();
    EXPECT_EQ(app().window()->centralWidget()->size(), QSize(900, 700));
    EXPECT_GT(app().window()->height(), 700);
    qtHost.setTitle(QStringLiteral("x"));
    EXPECT_EQ(app().window()->windowTitle(), QStringLiteral("x"));
}

TEST_F(TARNInstallerAppTest, CloseQuitOrASystemQuitOnAWorkingScreenAsksToCancelAndKeepsTheWindow) {
    const std::pair<const char*, std::function<void()>> ways[]{
            {"close", [this] { EXPECT_FALSE(app().window()->close()); }},
            {"Quit", [this] { app().quitAction()->trigger(); }},
            {"system quit", [] {
                 QEvent quit(QEvent::Quit);
                 QCoreApplication::sendEvent(QCoreApplication::instance(), &quit);
             }}};
    start();
    for (const auto& [name, ask] : ways) {
        SCOPED_TRACE(name);
        walkTo(Screen::eula);
        ask();
        settle();
        EXPECT_TRUE(app().window()->isVisible());
        EXPECT_EQ(coordinator.currentScreen(), Screen::exit);
        EXPECT_EQ(host->terminations, 0);
    }
    app().quitAction()->trigger();
    EXPECT_EQ(host->terminations, 1) << "Quit on the cancel confirmation ends";
}

struct FinalScreenCase {
    Screen screen;
    bool runFinished;
};

class CloseOnFinalScreenTest : public TARNInstallerAppTest, public testing::WithParamInterface<FinalScreenCase> {};

// Cancelling before any run must not celebrate an installation that never happened.
TEST_P(CloseOnFinalScreenTest, KeepsTheScreenAndOpensTheSuccessPageOnceOnlyAfterARun) {
    loadSampleConfiguration();
    if (GetParam().runFinished) {
        finishEmptyRun();
    }
    start();
    walkTo(GetParam().screen);
    const QList<Screen> history = coordinator.stack;
    EXPECT_CALL(*opener, open(QUrl(QStringLiteral("https://tarn.test/welcome")))).Times(GetParam().runFinished ? 1 : 0);
    EXPECT_FALSE(app().window()->close());
    app().quitAction()->trigger();
    settle();
    EXPECT_TRUE(app().window()->isVisible());
    EXPECT_EQ(coordinator.currentScreen(), GetParam().screen);
    EXPECT_EQ(coordinator.stack, history);
}

INSTANTIATE_TEST_SUITE_P(ExitAndResult, CloseOnFinalScreenTest,
                         testing::Values(FinalScreenCase{Screen::exit, false}, FinalScreenCase{Screen::exit, true},
                                         FinalScreenCase{Screen::installResult, false},
                                         FinalScreenCase{Screen::installResult, true}),
                         [](const auto& info) {
                             return screenName(info.param.screen).toStdString() +
                                    (info.param.runFinished ? "AfterARun" : "BeforeAnyRun");
                         });

TEST_F(TARNInstallerAppTest, TerminationBeforeTheWindowAppearsIsGrantedAtOnce) {
    app();
    coordinator.quit();
    EXPECT_EQ(host->terminations, 1);
    EXPECT_THAT(coordinator.stack, ElementsAre(Screen::welcome));
}

TEST_F(TARNInstallerAppTest, LogCommandOpensTheLogFileWhenThereIsOne) {
    logger->fileURL = QUrl::fromLocalFile(QStringLiteral("/var/tmp/tarn/2024-05-01.log"));
    start();
    QTest::keyClick(app().window(), Qt::Key_O, Qt::ControlModifier);
    EXPECT_THAT(host->openedFiles, ElementsAre(QUrl::fromLocalFile(QStringLiteral("/var/tmp/tarn/2024-05-01.log"))));

    logger->fileURL.reset();
    app().openLogsAction()->trigger();
    EXPECT_EQ(host->openedFiles.size(), 1) << "nothing to open, nothing reported";

    LogCommands withoutWorkflow;
    withoutWorkflow.openLogFile(*host);
    EXPECT_EQ(host->openedFiles.size(), 1);
}

} // namespace
} // namespace tarn::test
