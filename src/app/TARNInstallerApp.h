#pragma once

#include "screens/Coordinator.h"
#include "screens/WindowHost.h"
#include "workflow/InstallationViewModel.h"

#include <QMainWindow>
#include <QObject>

#include <functional>
#include <memory>

class QAction;

namespace tarn {

class RootView;
class TARNInstallerApp;
class WindowDelegate;

// The one window of the installer. Its close button only asks the window delegate, which never lets
// it close; becoming the active window tells the delegate too.
class InstallerWindow final : public QMainWindow {
    Q_OBJECT
public:
    explicit InstallerWindow(QWidget* parent = nullptr);

    // None until the shell has configured the window: until then it behaves like any window.
    WindowDelegate* delegate = nullptr;
    WindowHost* host = nullptr;
    // Runs once, the first time the window is shown.
    std::function<void()> onFirstAppearance;

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    bool hasAppeared = false;
};

// Decides what the window's close button and activation do.
class WindowDelegate {
public:
    TARNInstallerApp* mainApp = nullptr;

    // Never lets the window close; with the shell attached, the close button is a close request.
    bool windowShouldClose();
    // Brings the window back to its title, size and place whenever it becomes active.
    void windowDidBecomeMain(WindowHost& window);
};

// Decides whether a termination request ends the application.
class AppDelegate {
public:
    TARNInstallerApp* mainApp = nullptr;

    // Granted at once until the shell is attached; then the shell's close request decides.
    bool applicationShouldTerminate();
};

// The View menu's command: opens this run's log file with the desktop's default application.
class LogCommands {
public:
    InstallationViewModel* viewModel = nullptr;

    // Nothing happens without a workflow or without a log file.
    void openLogFile(WindowHost& host) const;
};

// The application shell: one main window with the full-window background, the toolbar logo and the
// root view of the guided flow, trimmed menus with the log command, and the rules for closing and
// quitting. It shows a workflow and a navigation made by the caller, which outlive it.
class TARNInstallerApp final : public QObject {
    Q_OBJECT
public:
    static constexpr QSize windowContentSize{900, 700};
    static constexpr QSize logoSize{82, 28};
    // "T.A.R.N. Installer", translated.
    static QString windowTitle();

    // Without a window host the shell makes one over its own window; either way the host becomes
    // the coordinator's, so that quit() reaches the termination check.
    TARNInstallerApp(Coordinator& coordinator, InstallationViewModel& viewModel,
                     std::shared_ptr<WindowHost> windowHost = nullptr, QObject* parent = nullptr);
    ~TARNInstallerApp() override;

    // Opens the window at 900 by 700, centred.
    void show();
    // Opens the window and runs the event loop until a termination request is granted; answers the
    // exit code.
    int run();

    // Whether the application may close now. On a working screen it brings up the cancel
    // confirmation and answers false; on the confirmation and result screens it opens the success
    // page (under the workflow's own conditions) and answers true.
    bool handleCloseRequest();
    // Attaches the delegates and clears the title; runs when the window first appears.
    void configureMainWindow();

    InstallerWindow* window() const { return mainWindow.get(); }
    RootView* rootView() const { return root; }
    WindowHost& windowHost() const { return *host; }
    QAction* openLogsAction() const { return openLogs; }
    QAction* quitAction() const { return quit; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildMenus();
    void buildToolbar();

    Coordinator& coordinator;
    InstallationViewModel& viewModel;
    std::unique_ptr<InstallerWindow> mainWindow;
    std::shared_ptr<WindowHost> host;
    WindowDelegate windowDelegate;
    AppDelegate appDelegate;
    LogCommands logCommands;
    RootView* root = nullptr;
    QAction* openLogs = nullptr;
    QAction* quit = nullptr;
};

} // namespace tarn
