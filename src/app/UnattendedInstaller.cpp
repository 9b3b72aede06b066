#include "app/UnattendedInstaller.h"

#include "app/ChildProcesses.h"
#include "base/MainQueue.h"
#include "base/Outcome.h"
#include "base/PrintableText.h"
#include "workflow/ApplicationChoice.h"
#include "workflow/DeviceChoice.h"

#include <QEventLoop>
#include <QTextStream>

#include <coroutine>
#include <sys/ioctl.h>
#include <unistd.h>
#include <utility>

namespace tarn {

using namespace Qt::StringLiterals;

namespace {

QString joinedNames(const QStringList& names) {
    return names.join(u", "_s);
}

QStringList applicationNames(const QList<TARNDeviceAppConfigurationModel>& apps) {
    QStringList names;
    for (const auto& app : apps) {
        names.append(app.name);
    }
    return names;
}

// Suspends one coroutine until `wake()`, which may come from inside a property assignment: the
// coroutine continues on a later turn of the main queue, once, however often it is woken. (Awaiting a
// signal that fires in bursts would queue a resumption per emission.)
class Wakeup {
public:
    void wake() {
        woken = true;
        if (const auto continuation = std::exchange(waiting, nullptr)) {
            postToMainQueue(QCoreApplication::instance(), [continuation] { continuation.resume(); });
        }
    }

    auto operator co_await() {
        struct Awaiter {
            Wakeup& wakeup;
            bool await_ready() const noexcept { return wakeup.woken; }
            void await_suspend(std::coroutine_handle<> continuation) noexcept { wakeup.waiting = continuation; }
            void await_resume() const noexcept {}
        };
        return Awaiter{*this};
    }

private:
    bool woken = false;
    std::coroutine_handle<> waiting;
};

// Whether standard output is a terminal, where a live progress bar can redraw itself.
bool standardOutputIsTerminal() {
    return ::isatty(STDOUT_FILENO) == 1;
}

// The terminal's width in columns, 0 when standard output is none or does not say.
int standardOutputColumns() {
    winsize size{};
    return ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

} // namespace

UnattendedInstaller::UnattendedInstaller(InstallationViewModel& model, Options options, QTextStream& out,
                                         QTextStream& err, bool liveProgress)
    : model(model), options(std::move(options)), out(out), err(err), liveProgress(liveProgress && !this->options.quiet),
      terminal(this->options.clock), report(model.settings().serviceBaseUrl, this->options.clock) {}

QCoro::Task<ExitCode> UnattendedInstaller::run() {
    if (!options.acceptLicenses) {
        printProblem(u"Installing needs the licence agreement and the legal notes accepted. Read them, "
                     "then run again with --accept-licenses."_s);
        co_return ExitCode::usageError;
    }
    printLine(u"T.A.R.N. Installer %1, unattended"_s.arg(QStringLiteral(TARN_VERSION)));

    if (auto stop = co_await loadCatalogue()) {
        co_return *stop;
    }
    if (auto stop = co_await chooseDevice()) {
        co_return *stop;
    }
    if (auto stop = co_await loadApplications()) {
        co_return *stop;
    }
    if (auto stop = selectApplications()) {
        co_return *stop;
    }
    auto run = install(); // Named first [gcc12-await-temporaries].
    co_return co_await std::move(run);
}

// The consents start the catalogue fetch, as they do behind the licence screens; the outcome shows as
// either a new catalogue or a new error text.
QCoro::Task<std::optional<ExitCode>> UnattendedInstaller::loadCatalogue() {
    bool armed = false;
    bool errorReported = false;
    Wakeup settled;
    const Subscription catalogue = model.supportedDeviceList.subscribe([&](const TARNDevicesListModel&) {
        if (armed) {
            settled.wake();
        }
    });
    const Subscription error = model.fatalErrorMessage.subscribe([&](const QString&) {
        if (armed) {
            errorReported = true;
            settled.wake();
        }
    });
    armed = true;

    printLine(u"Licence agreement and legal notes accepted on the command line."_s);
    model.isEulaAccepted = true;
    model.isLegalAccepted = true;
    co_await settled;
    if (errorReported) {
        printProblem(u"Could not load the supported-device catalogue: %1"_s.arg(model.fatalErrorMessage()));
        co_return ExitCode::failure;
    }
    if (model.supportedDevices().isEmpty()) {
        printProblem(u"The configuration service lists no supported scanner."_s);
        co_return ExitCode::failure;
    }
    printLine(u"Catalogue loaded: %1 supported scanner models."_s.arg(model.supportedDevices().size()));
    co_return std::nullopt;
}

QCoro::Task<std::optional<ExitCode>> UnattendedInstaller::chooseDevice() {
    const double seconds = static_cast<double>(model.settings().searchTimeLimit.count()) / 1000;
    printLine(u"Searching for a connected scanner (up to %1 s)..."_s.arg(seconds));
    co_await model.searchForDevice();

    const DeviceSearchState status = model.deviceSearchStatus();
    if (status.is(DeviceSearchState::Case::found)) {
        printLine(u"Scanner detected: %1"_s.arg(status.device()->name));
        report.deviceChosen(status.device()->name, RunReport::DeviceChoice::detected);
        co_return std::nullopt;
    }
    if (!status.is(DeviceSearchState::Case::notFound)) {
        printProblem(u"The scanner search could not run: %1"_s.arg(model.fatalErrorMessage()));
        co_return ExitCode::failure;
    }
    const QStringList models = model.supportedDeviceNames();
    if (!options.device) {
        printProblem(u"No supported scanner was detected. Connect it, or name its model with --device "
                     "(one of: %1)."_s.arg(joinedNames(models)));
        co_return ExitCode::failure;
    }
    if (const auto device = deviceForSelection(*options.device, model.supportedDevices(), model.deviceModel())) {
        model.deviceModel = device;
        printLine(u"No scanner detected; using the catalogue model '%1'."_s.arg(device->name));
        report.deviceChosen(device->name, RunReport::DeviceChoice::commandLine);
        co_return std::nullopt;
    }
    printProblem(u"--device: the catalogue has no model named '%1'; its models are: %2."_s.arg(*options.device,
                                                                                               joinedNames(models)));
    co_return ExitCode::usageError;
}

QCoro::Task<std::optional<ExitCode>> UnattendedInstaller::loadApplications() {
    const QString deviceName = model.deviceModel()->name;
    printLine(u"Loading the applications of '%1'..."_s.arg(deviceName));
    co_await model.fetchDeviceApplications();
    if (!model.deviceApplicationsModel()) {
        printProblem(u"Could not load the applications of '%1': %2"_s.arg(deviceName, model.fatalErrorMessage()));
        co_return ExitCode::failure;
    }
    co_return std::nullopt;
}

// The configuration fetch has already chosen the mandatory applications; the others join them as the
// package screen's toggles would add them.
std::optional<ExitCode> UnattendedInstaller::selectApplications() {
    const QList<TARNDeviceAppConfigurationModel> apps = model.deviceApplicationsModel()->apps;
    if (const QStringList unknown = unknownApplicationNames(apps); !unknown.isEmpty()) {
        printProblem(u"--select: no application named '%1'; this scanner offers: %2."_s.arg(
                unknown.join(u"', '"_s), joinedNames(applicationNames(apps))));
        return ExitCode::usageError;
    }
    if (options.selection.kind != ApplicationSelection::Kind::mandatory) {
        ApplicationChoice choice;
        choice.seed(model.selectedAppsForInstallation());
        for (const auto& app : apps) {
            if (options.selection.kind == ApplicationSelection::Kind::all ||
                options.selection.names.contains(app.name)) {
                choice.setChosen(app, true);
            }
        }
        model.selectedAppsForInstallation = choice.chosenApplications();
    }
    if (model.tasksToRun().isEmpty()) {
        printOutcome(u"Nothing to install: this scanner has no mandatory application and none was selected."_s);
        return ExitCode::success;
    }
    QStringList names;
    for (const auto& task : model.tasksToRun()) {
        names.append(task.name);
    }
    printLine(u"Installing %1 of %2 applications: %3"_s.arg(QString::number(names.size()), QString::number(apps.size()),
                                                            joinedNames(names)));
    return std::nullopt;
}

QStringList UnattendedInstaller::unknownApplicationNames(const QList<TARNDeviceAppConfigurationModel>& apps) const {
    const QStringList available = applicationNames(apps);
    QStringList unknown;
    for (const auto& name : options.selection.names) {
        if (!available.contains(name)) {
            unknown.append(name);
        }
    }
    return unknown;
}

// Only for the report: the run's own check decides, and logs, what gets installed.
QCoro::Task<> UnattendedInstaller::recordInstalledVersions() {
    if (!options.reportFile || !options.receipts) {
        co_return;
    }
    const QList<AppInstallTask> tasks = model.tasksToRun();
    for (const AppInstallTask& task : tasks) {
        report.installedVersionFound(task.pkgId, co_await options.receipts->installedVersion(task.pkgId));
    }
}

QCoro::Task<ExitCode> UnattendedInstaller::install() {
    co_await recordInstalledVersions();
    rows.clear();
    const Subscription watch =
            model.tasksToRun.subscribe([this](const QList<AppInstallTask>& tasks) { showRows(tasks); });
    const Outcome<void> outcome = co_await outcomeOf(model.installSelectedApplications());
    // Row updates are posted by the run; they have all landed after one more turn of the main queue.
    co_await nextMainQueueTurn();
    showRows(model.tasksToRun());
    clearProgress();
    if (outcome.failed()) {
        // Only refused rights end a run early; the workflow has published why.
        printProblem(u"The installation stopped: %1"_s.arg(model.fatalErrorMessage()));
    }
    co_return summarise();
}

ExitCode UnattendedInstaller::summarise() {
    const QList<AppInstallTask> tasks = model.tasksToRun();
    qsizetype done = 0;
    QStringList failed;
    for (const auto& task : tasks) {
        if (task.state == ToInstallListItemViewState::done) {
            ++done;
        } else if (task.state == ToInstallListItemViewState::failed) {
            failed.append(task.name);
        }
    }
    printOutcome(u"Summary: %1 of %2 applications installed or already up to date, %3 failed%4"_s.arg(done)
                         .arg(tasks.size())
                         .arg(failed.size())
                         .arg(failed.isEmpty() ? u"."_s : u": %1."_s.arg(joinedNames(failed))));
    if (!model.isInstallationSuccessful()) {
        printOutcome(u"Installation failed: a mandatory application could not be installed."_s);
        return ExitCode::failure;
    }
    if (model.anyOptionalPackageFailedToInstall()) {
        printOutcome(u"Installation complete, except for optional applications."_s);
        return ExitCode::optionalFailed;
    }
    printOutcome(u"Installation complete."_s);
    return ExitCode::success;
}

// One line per row state change. The run marks a row failed and then gives its text in a second
// update, so a failure without a text waits for the next delivery before it is printed.
void UnattendedInstaller::showRows(const QList<AppInstallTask>& tasks) {
    report.observe(tasks);
    const qsizetype count = tasks.size();
    for (qsizetype index = 0; index < count; ++index) {
        const AppInstallTask& task = tasks[index];
        if (failureAwaitingItsText == task.id) {
            failureAwaitingItsText.reset();
            printRowState(index, count, task);
        }
    }
    const bool firstSight = rows.isEmpty();
    for (qsizetype index = 0; index < count; ++index) {
        const AppInstallTask& task = tasks[index];
        RowSeen& seen = rows[task.id];
        if (firstSight) {
            seen.state = task.state;
            continue;
        }
        if (task.state != seen.state) {
            seen.state = task.state;
            if (task.state == ToInstallListItemViewState::failed && !task.errorMessage) {
                failureAwaitingItsText = task.id;
            } else {
                printRowState(index, count, task);
            }
        }
        if (liveProgress && task.state == ToInstallListItemViewState::downloading) {
            if (const auto line = terminal.update(index, count, task.name, task.download)) {
                drawProgress(*line);
            }
        }
    }
}

void UnattendedInstaller::printRowState(qsizetype index, qsizetype count, const AppInstallTask& task) {
    QString line = u"[%1/%2] %3: %4"_s.arg(index + 1).arg(count).arg(task.name, caseName(task.state));
    if (task.state == ToInstallListItemViewState::failed) {
        if (task.errorMessage) {
            line += u" - %1"_s.arg(*task.errorMessage);
        }
        printOutcome(line);
        return;
    }
    printLine(line);
}

void UnattendedInstaller::drawProgress(const QString& line) {
    out << TerminalProgress::redraw(printableText(line), options.terminalColumns);
    out.flush();
    progressShown = true;
}

void UnattendedInstaller::printLine(const QString& line) {
    if (options.quiet) {
        return;
    }
    printOutcome(line);
}

void UnattendedInstaller::printOutcome(const QString& line) {
    clearProgress();
    out << printableText(line) << '\n';
    out.flush();
}

void UnattendedInstaller::printProblem(const QString& line) {
    clearProgress();
    err << printableText(line) << '\n';
    err.flush();
}

void UnattendedInstaller::clearProgress() {
    if (progressShown) {
        out << TerminalProgress::clear();
        out.flush();
        progressShown = false;
    }
}

int UnattendedInstaller::writeReport(int exitCode) {
    if (!options.reportFile) {
        return exitCode;
    }
    report.observe(model.tasksToRun());
    if (const auto problem = report.writeTo(*options.reportFile, exitCode)) {
        printProblem(u"Could not write the report to '%1': %2"_s.arg(*options.reportFile, *problem));
        // A management tool that asked for a report must not read success without one, nor a failed
        // installation into a machine that is fine; a failing run keeps its own, more telling code.
        if (exitCode == static_cast<int>(ExitCode::success) || exitCode == static_cast<int>(ExitCode::optionalFailed)) {
            return static_cast<int>(ExitCode::reportFailed);
        }
    }
    return exitCode;
}

int runUnattendedInstallation(InstallationViewModel& model, const UnattendedInstaller::Options& options,
                              QTextStream& out, QTextStream& err, bool liveProgress) {
    UnattendedInstaller installer(model, options, out, err, liveProgress);
    QEventLoop loop;
    std::optional<ExitCode> exitCode;
    QCoro::connect(installer.run(), &loop, [&](ExitCode code) {
        exitCode = code;
        loop.quit();
    });
    if (exitCode) {
        return installer.writeReport(static_cast<int>(*exitCode));
    }
    // Left early only when the application is told to exit (a termination signal): its status then,
    // once a run in progress has stopped after its running step (the rows still show meanwhile).
    const int exitStatus = loop.exec();
    if (exitCode) {
        return installer.writeReport(static_cast<int>(*exitCode));
    }
    const bool wasInstalling = model.isInstallationRunning();
    finishWorkBeforeExit(model, [&err](const QString& line) {
        err << line << '\n';
        err.flush();
    });
    if (wasInstalling) {
        // The run has stopped: the rows' last states and the summary are printed while the installer lives.
        runEventsUntil([&exitCode] { return exitCode.has_value(); }, std::chrono::seconds(10));
    }
    return installer.writeReport(exitStatus);
}

int runUnattendedInstallation(InstallationViewModel& model, const CommandLineOptions& options,
                              std::shared_ptr<PkgUtilHelperProtoco> receipts) {
    QTextStream out(stdout);
    QTextStream err(stderr);
    auto unattended = UnattendedInstaller::Options::from(options, std::move(receipts));
    unattended.terminalColumns = standardOutputColumns();
    return runUnattendedInstallation(model, unattended, out, err, standardOutputIsTerminal());
}

} // namespace tarn
