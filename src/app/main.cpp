#include "app/ChildProcesses.h"
#include "app/CommandLine.h"
#include "app/TARNInstallerApp.h"
#include "app/TerminationSignals.h"
#include "app/UnattendedInstaller.h"
#include "base/Error.h"
#include "components/Resources.h"
#include "demo/DemoEnvironment.h"
#include "screens/Coordinator.h"
#include "services/SSLValidator.h"
#include "workflow/InstallationViewModel.h"
#include "workflow/SystemServices.h"

#include <QApplication>
#include <QCoreApplication>
#include <QIcon>
#include <QMessageBox>
#include <QTextStream>

#include <cstdio>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

QStringList argumentsOf(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments.append(QString::fromLocal8Bit(argv[i]));
    }
    return arguments;
}

// This machine's services, with the command line's USB tree and extra trust anchors.
tarn::SystemServiceOptions serviceOptionsFor(const tarn::CommandLineOptions& options) {
    tarn::SystemServiceOptions services;
    if (options.usbRoot) {
        services.usbRoot = *options.usbRoot;
    }
    if (options.caBundle) {
        services.extraAuthorities = tarn::SSLValidator::loadCertificateBundle(*options.caBundle);
    }
    return services;
}

// The demo's outside world, then the same unattended run against it. Ctrl+C ends the run early and the
// demo still removes its sandbox.
int runDemoUnattended(const tarn::CommandLineOptions& options) {
    const tarn::TerminationSignals interruption;
    tarn::demo::DemoEnvironment demo;
    if (!options.quiet) {
        QTextStream out(stdout);
        out << demo.summary().join(u'\n') << '\n';
        out.flush();
    }
    const tarn::InstallationServices services = demo.services();
    tarn::InstallationViewModel model(services, demo.settings());
    demo.simulateScannerFor(model);
    const int exitStatus = tarn::runUnattendedInstallation(model, options, services.pkgHelper);
    if (interruption.received() == 0) {
        tarn::waitForChildProcesses();
    }
    return exitStatus;
}

int runUnattended(const tarn::CommandLineOptions& options) {
    tarn::installTranslations();
    if (options.demo) {
        return runDemoUnattended(options);
    }
    const tarn::TerminationSignals interruption;
    const tarn::InstallationServices services = tarn::makeSystemServices(serviceOptionsFor(options));
    tarn::InstallationViewModel model(services, tarn::settingsFor(options));
    const int exitStatus = tarn::runUnattendedInstallation(model, options, services.pkgHelper);
    if (interruption.received() == 0) {
        tarn::waitForChildProcesses();
    }
    return exitStatus;
}

// The guided installer window; with --demo, against the demo's outside world, which outlives it.
int runWindow(const tarn::CommandLineOptions& options) {
    tarn::registerFonts();
    tarn::installTranslations();
    const tarn::TerminationSignals interruption;
    std::unique_ptr<tarn::demo::DemoEnvironment> demo;
    std::unique_ptr<tarn::InstallationViewModel> model;
    if (options.demo) {
        demo = std::make_unique<tarn::demo::DemoEnvironment>();
        QTextStream(stdout) << demo->summary().join(u'\n') << '\n';
        model = std::make_unique<tarn::InstallationViewModel>(demo->services(), demo->settings());
        demo->simulateScannerFor(*model);
    } else {
        model = std::make_unique<tarn::InstallationViewModel>(tarn::makeSystemServices(serviceOptionsFor(options)),
                                                              tarn::settingsFor(options));
    }
    tarn::Coordinator coordinator;
    int exitStatus = 0;
    {
        tarn::TARNInstallerApp app(coordinator, *model);
        exitStatus = app.run();
    }
    // Quit or a signal while a run goes on: it stops after its running step and gives its grant back.
    tarn::finishWorkBeforeExit(*model, [](const QString& line) { QTextStream(stderr) << line << '\n'; });
    return exitStatus;
}

} // namespace

int main(int argc, char* argv[]) {
    const QStringList arguments = argumentsOf(argc, argv);
    const auto parsed = tarn::parseCommandLine(arguments);
    QTextStream out(stdout);
    QTextStream err(stderr);
    if (const auto* usage = std::get_if<tarn::UsageError>(&parsed)) {
        err << "tarn-installer: " << usage->message << "\nTry 'tarn-installer --help'.\n";
        return static_cast<int>(tarn::ExitCode::usageError);
    }
    auto options = std::get<tarn::CommandLineOptions>(parsed);
    if (options.showHelp) {
        out << tarn::usageText();
        return 0;
    }
    if (options.showVersion) {
        out << "tarn-installer " << TARN_VERSION << '\n';
        return 0;
    }

    // The demo brings its own outside world; everything else takes the site's settings the command line left open.
    if (!options.demo) {
        const auto site = tarn::readSiteConfiguration(tarn::siteConfigurationPath());
        if (const auto* error = std::get_if<tarn::ConfigurationError>(&site)) {
            err << "tarn-installer: " << error->message << '\n';
            err.flush();
            if (!options.unattended) {
                // Started from the desktop's menu, the window has nobody reading its terminal.
                const QApplication application(argc, argv);
                QMessageBox::critical(nullptr, u"T.A.R.N. Installer"_s, error->message);
            }
            return static_cast<int>(tarn::ExitCode::usageError);
        }
        options = tarn::withSiteConfiguration(options, std::get<tarn::SiteConfiguration>(site));
    }

    // The unattended mode needs no display; the window does.
    std::unique_ptr<QCoreApplication> application;
    if (options.unattended) {
        application = std::make_unique<QCoreApplication>(argc, argv);
    } else {
        application = std::make_unique<QApplication>(argc, argv);
        // The desktop matches the window to its entry, and so to its name and icon, by this id (Wayland) or
        // the application name (X11); the icon comes from the theme where the package installs it.
        QGuiApplication::setDesktopFileName(u"example.tarn.Installer"_s);
        QApplication::setWindowIcon(QIcon::fromTheme(u"example.tarn.Installer"_s));
    }
    QCoreApplication::setApplicationName(u"tarn-installer"_s);
    QCoreApplication::setApplicationVersion(QStringLiteral(TARN_VERSION));

    try {
        if (options.unattended) {
            return runUnattended(options);
        }
        return runWindow(options);
    } catch (const std::exception& error) {
        err << "tarn-installer: " << tarn::localizedDescription(error) << '\n';
        return static_cast<int>(tarn::ExitCode::failure);
    }
}
