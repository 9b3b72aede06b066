#include "app/TARNInstallerApp.h"

#include "app/QtWindowHost.h"
#include "components/ImageView.h"
#include "components/Resources.h"
#include "components/Theme.h"
#include "screens/RootView.h"
#include "screens/ScreenView.h"
#include "screens/ViewExt.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>

namespace tarn {

using namespace Qt::StringLiterals;

namespace {

// Runs a standard editing slot ("copy", "selectAll") on the widget that has the keyboard, if it has one.
void editFocusedWidget(const char* slot) {
    if (QWidget* focused = QApplication::focusWidget()) {
        QMetaObject::invokeMethod(focused, slot);
    }
}

} // namespace

InstallerWindow::InstallerWindow(QWidget* parent) : QMainWindow(parent) {
    // One window, no docks to tab and no toolbar menu to hide the logo with.
    setDockOptions(QMainWindow::AnimatedDocks);
    setContextMenuPolicy(Qt::NoContextMenu);
    setUnifiedTitleAndToolBarOnMac(true);
}

void InstallerWindow::closeEvent(QCloseEvent* event) {
    if (delegate && !delegate->windowShouldClose()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

void InstallerWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && delegate && host) {
        delegate->windowDidBecomeMain(*host);
    }
}

void InstallerWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!hasAppeared) {
        hasAppeared = true;
        if (onFirstAppearance) {
            onFirstAppearance();
        }
    }
}

bool WindowDelegate::windowShouldClose() {
    if (mainApp) {
        mainApp->handleCloseRequest();
    }
    return false;
}

void WindowDelegate::windowDidBecomeMain(WindowHost& window) {
    window.setTitle(TARNInstallerApp::windowTitle());
    window.setContentSize(TARNInstallerApp::windowContentSize);
    window.center();
}

bool AppDelegate::applicationShouldTerminate() {
    return !mainApp || mainApp->handleCloseRequest();
}

void LogCommands::openLogFile(WindowHost& host) const {
    if (!viewModel) {
        return;
    }
    const std::optional<QUrl> location = viewModel->logFileURL();
    if (!location) {
        return;
    }
    host.openFile(QUrl::fromLocalFile(location->toLocalFile()));
}

TARNInstallerApp::TARNInstallerApp(Coordinator& coordinator, InstallationViewModel& viewModel,
                                   std::shared_ptr<WindowHost> windowHost, QObject* parent)
    : QObject(parent), coordinator(coordinator), viewModel(viewModel), mainWindow(std::make_unique<InstallerWindow>()),
      host(std::move(windowHost)) {
    if (!host) {
        host = std::make_shared<QtWindowHost>(mainWindow.get());
    }
    host->setTerminationCheck([this] { return appDelegate.applicationShouldTerminate(); });
    coordinator.setWindowHost(host);
    logCommands.viewModel = &viewModel;
    // The window never closes, so the application never ends by losing its last window.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    // A quit asked for by the system (session end, the dock) goes through the same check as Quit.
    QCoreApplication::instance()->installEventFilter(this);

    root = new RootView(coordinator, viewModel);
    mainWindow->setCentralWidget(withBackground(root));
    mainWindow->onFirstAppearance = [this] { configureMainWindow(); };
    buildToolbar();
    buildMenus();
}

TARNInstallerApp::~TARNInstallerApp() {
    QCoreApplication::instance()->removeEventFilter(this);
    coordinator.setWindowHost(nullptr);
    // The window goes before the navigation and the workflow it shows.
    mainWindow.reset();
}

void TARNInstallerApp::show() {
    if (!mainWindow->isVisible()) {
        host->setContentSize(windowContentSize);
        host->center();
    }
    mainWindow->show();
    mainWindow->raise();
    mainWindow->activateWindow();
}

int TARNInstallerApp::run() {
    show();
    return QCoreApplication::exec();
}

// Linux desktops show no application name of their own in the window list, task switcher or to
// screen readers; the window's title is the only name they have.
QString TARNInstallerApp::windowTitle() {
    return localized(u"window.title");
}

bool TARNInstallerApp::handleCloseRequest() {
    const Coordinator::Screen current = coordinator.currentScreen();
    if (current != Coordinator::Screen::exit && current != Coordinator::Screen::installResult) {
        coordinator.push(Coordinator::Screen::exit);
        return false;
    }
    viewModel.openSuccessUrl();
    return true;
}

void TARNInstallerApp::configureMainWindow() {
    windowDelegate.mainApp = this;
    appDelegate.mainApp = this;
    mainWindow->delegate = &windowDelegate;
    mainWindow->host = host.get();
    host->setTitle(windowTitle());
}

bool TARNInstallerApp::eventFilter(QObject* watched, QEvent* event) {
    if (watched == QCoreApplication::instance() && event->type() == QEvent::Quit) {
        event->ignore();
        host->requestTermination();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void TARNInstallerApp::buildToolbar() {
    auto* toolbar = new QToolBar;
    toolbar->setObjectName(u"logoBar"_s);
    toolbar->setMovable(false);
    toolbar->setFloatable(false);
    toolbar->toggleViewAction()->setVisible(false);
    toolbar->setStyleSheet(
            u"QToolBar { background: #0B1F3D; border: none;"
            " border-bottom: 1px solid %1; padding: 0; spacing: 0; }"_s.arg(screen::css(QColor(255, 255, 255, 20))));

    auto* item = new QWidget;
    auto* row = new QHBoxLayout(item);
    row->setContentsMargins(18, 8, 18, 8);
    auto* logo = new ImageView(u"tarn-logo-window-bar"_s, logoSize);
    logo->setAccessibleName(u"T.A.R.N."_s);
    row->addWidget(logo, 0, Qt::AlignVCenter);
    row->addStretch(1);
    toolbar->addWidget(item);
    mainWindow->addToolBar(Qt::TopToolBarArea, toolbar);
}

void TARNInstallerApp::buildMenus() {
    QMenuBar* bar = mainWindow->menuBar();
    bar->setFont(theme::font(u"Poppins-Regular", 13));
    bar->setStyleSheet(u"QMenuBar { background: #0B1F3D; color: #DCE5F2; }"
                       "QMenuBar::item { padding: 4px 10px; background: transparent; }"
                       "QMenuBar::item:selected { background: %1; border-radius: 4px; }"
                       "QMenu { background: #102B52; color: #FFFFFF; border: 1px solid %2;"
                       " padding: 4px; }"
                       "QMenu::item { padding: 6px 28px 6px 14px; border-radius: 4px; }"
                       "QMenu::item:selected { background: #3D8BFF; }"_s.arg(screen::css(QColor(255, 255, 255, 30)),
                                                                             screen::css(QColor(255, 255, 255, 40))));

    QMenu* file = bar->addMenu(localized(u"menu.file"));
    quit = file->addAction(localized(u"menu.quit"));
    quit->setShortcut(QKeySequence::Quit);
    quit->setMenuRole(QAction::QuitRole);
    connect(quit, &QAction::triggered, this, [this] { host->requestTermination(); });

    QMenu* edit = bar->addMenu(localized(u"menu.edit"));
    QAction* copy = edit->addAction(localized(u"menu.copy"));
    copy->setShortcut(QKeySequence::Copy);
    connect(copy, &QAction::triggered, this, [] { editFocusedWidget("copy"); });
    QAction* selectAll = edit->addAction(localized(u"menu.select.all"));
    selectAll->setShortcut(QKeySequence::SelectAll);
    connect(selectAll, &QAction::triggered, this, [] { editFocusedWidget("selectAll"); });

    QMenu* view = bar->addMenu(localized(u"menu.view"));
    openLogs = view->addAction(localized(u"menu.open.logs"));
    openLogs->setShortcut(QKeySequence::Open);
    connect(openLogs, &QAction::triggered, this, [this] { logCommands.openLogFile(*host); });

    QMenu* windows = bar->addMenu(localized(u"menu.window"));
    QAction* minimize = windows->addAction(localized(u"menu.minimize"));
    minimize->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
    connect(minimize, &QAction::triggered, mainWindow.get(), &QWidget::showMinimized);

    for (QMenu* menu : {file, edit, view, windows}) {
        menu->setFont(bar->font());
    }
}

} // namespace tarn
