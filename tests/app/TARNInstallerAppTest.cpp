#include "app/TARNInstallerApp.h"

#include "app/QtWindowHost.h"
#include "components/ImageView.h"
#include "screens/RootView.h"
#include "screens/ScreenView.h"
#include "support/ScreenFixture.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>

namespace tarn::test {
namespace {

using Screen = Coordinator::Screen;
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

    // A successful configuration, so that the success page may open.
    void loadSuccessfulConfiguration() { loadSampleConfiguration(); }

    std::unique_ptr<TARNInstallerApp> shell;
};

TEST_F(TARNInstallerAppTest, WindowOpensAt900By700CentredWithAnEmptyTitle) {
    start();
    EXPECT_TRUE(host->contentSizes.contains(QSize(900, 700)));
    EXPECT_GE(host->centerings, 1);
    EXPECT_TRUE(host->titles.contains(QString()));
    EXPECT_EQ(coordinator.currentScreen(), Screen::welcome);
    EXPECT_NE(app().rootView()->currentView(), nullptr);
}

TEST_F(TARNInstallerAppTest, BecomingActiveAgainRestoresSizeAndPlace) {
    start();
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

TEST_F(TARNInstallerAppTest, CloseButtonOnAWorkingScreenAsksToCancelAndKeepsTheWindow) {
    start();
    EXPECT_FALSE(app().window()->close());
    EXPECT_TRUE(app().window()->isVisible());
    EXPECT_THAT(coordinator.stack, ElementsAre(Screen::welcome, Screen::exit));
    settle();
    EXPECT_EQ(coordinator.currentScreen(), Screen::exit);
    EXPECT_EQ(host->terminations, 0);
}

class CloseOnFinalScreenTest : public TARNInstallerAppTest, public testing::WithParamInterface<Screen> {};

TEST_P(CloseOnFinalScreenTest, KeepsTheScreenAndOpensTheSuccessPageOnce) {
    loadSuccessfulConfiguration();
    start();
    walkTo(GetParam());
    const QList<Screen> history = coordinator.stack;
    EXPECT_CALL(*opener, open(QUrl(QStringLiteral("https://tarn.test/welcome")))).Times(1);
    EXPECT_FALSE(app().window()->close());
    settle();
    EXPECT_TRUE(app().window()->isVisible());
    EXPECT_EQ(coordinator.currentScreen(), GetParam());
    EXPECT_EQ(coordinator.stack, history);
}

INSTANTIATE_TEST_SUITE_P(ExitAndResult, CloseOnFinalScreenTest, testing::Values(Screen::exit, Screen::installResult),
                         [](const auto& info) { return screenName(info.param).toStdString(); });

TEST_F(TARNInstallerAppTest, QuitOnAWorkingScreenAsksFirstAndQuitAgainEnds) {
    start();
    walkTo(Screen::eula);
    app().quitAction()->trigger();
    EXPECT_EQ(host->terminationRequests, 1);
    EXPECT_EQ(host->terminations, 0);
    settle();
    EXPECT_EQ(coordinator.currentScreen(), Screen::exit);

    app().quitAction()->trigger();
    EXPECT_EQ(host->terminations, 1);
}

TEST_F(TARNInstallerAppTest, QuitFromTheSystemGoesThroughTheSameCheck) {
    start();
    walkTo(Screen::eula);
    QEvent quit(QEvent::Quit);
    QCoreApplication::sendEvent(QCoreApplication::instance(), &quit);
    EXPECT_EQ(host->terminations, 0);
    settle();
    EXPECT_EQ(coordinator.currentScreen(), Screen::exit);
}

TEST_F(TARNInstallerAppTest, TerminationBeforeTheWindowAppearsIsGrantedAtOnce) {
    app();
    coordinator.quit();
    EXPECT_EQ(host->terminations, 1);
    EXPECT_THAT(coordinator.stack, ElementsAre(Screen::welcome));
}

TEST_F(TARNInstallerAppTest, MenusHoldQuitEditingTheLogCommandAndWindowOnly) {
    app();
    QStringList entries;
    for (QAction* menuAction : app().window()->menuBar()->actions()) {
        QStringList items;
        for (QAction* item : menuAction->menu()->actions()) {
            items.append(item->text());
        }
        entries.append(menuAction->text() + QStringLiteral(": ") + items.join(QStringLiteral(", ")));
    }
    EXPECT_THAT(entries, ElementsAre("File: Quit T.A.R.N. Installer", "Edit: Copy, Select All", "View: Open Log File",
                                     "Window: Minimize"));
    EXPECT_EQ(app().openLogsAction()->shortcut(), QKeySequence(QKeySequence::Open));
    EXPECT_EQ(app().openLogsAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+O")));
    EXPECT_EQ(app().quitAction()->menuRole(), QAction::QuitRole);
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

TEST_F(TARNInstallerAppTest, ToolbarShowsTheLogoAndCannotBeMovedOrHidden) {
    app();
    const auto toolbars = app().window()->findChildren<QToolBar*>();
    ASSERT_EQ(toolbars.size(), 1);
    EXPECT_FALSE(toolbars.first()->isMovable());
    EXPECT_FALSE(toolbars.first()->toggleViewAction()->isVisible());
    EXPECT_EQ(app().window()->contextMenuPolicy(), Qt::NoContextMenu);
    const auto images = toolbars.first()->findChildren<ImageView*>();
    ASSERT_EQ(images.size(), 1);
    EXPECT_EQ(images.first()->imageName(), QStringLiteral("tarn-logo-window-bar"));
    EXPECT_EQ(images.first()->size(), QSize(82, 28));
}

TEST_F(TARNInstallerAppTest, WholeWindowPicture) {
    start();
    app().window()->resize(900, app().window()->height() - app().window()->centralWidget()->height() + 700);
    settle();
    const QImage picture = app().window()->grab().toImage();
    EXPECT_EQ(app().window()->centralWidget()->size(), QSize(900, 700));
    EXPECT_TRUE(saveRender(picture, QStringLiteral("window-welcome")));
}

} // namespace
} // namespace tarn::test
