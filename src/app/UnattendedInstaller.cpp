#include "app/UnattendedInstaller.h"

#include "services/PrintableText.h"
#include "workflow/MainQueue.h"

#include <QEventLoop>
#include <QTextStream>

#include <coroutine>
#include <unistd.h>
#include <utility>

namespace tarn {

namespace {

QString joinedNames(const QStringList& names) {
    return names.join(QStringLiteral(", "));
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

} // namespace

UnattendedInstaller::UnattendedInstaller(InstallationViewModel& model, Options options, QTextStream& out,
                                         QTextStream& err, bool liveProgress)
    : model(model), options(std::move(options)), out(out), err(err), liveProgress(liveProgress) {}

QCoro::Task<ExitCode> UnattendedInstaller::run() {
    if (!options.acceptLicenses) {
        printProblem(QStringLiteral("Installing needs the licence agreement and the legal notes accepted. Read them, "
                                    "then run again with --accept-licenses."));
        co_return ExitCode::usageError;
    }
    printLine(QStringLiteral("T.A.R.N. Installer %1, unattended").arg(QStringLiteral(TARN_VERSION)));

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
    auto run = install(); // named first: see ProcessRunner::runWithAdminPrivileges
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

    printLine(QStringLiteral("Licence agreement and legal notes accepted on the command line."));
    model.isEulaAccepted = true;
    model.isLegalAccepted = true;
    co_await settled;
    if (errorReported) {
        printProblem(QStringLiteral("Could not load the supported-device catalogue: ") + model.fatalErrorMessage());
        co_return ExitCode::failure;
    }
    if (model.supportedDevices().isEmpty()) {
        printProblem(QStringLiteral("The configuration service lists no supported scanner."));
        co_return ExitCode::failure;
    }
    printLine(QStringLiteral("Catalogue loaded: %1 supported scanner models.").arg(model.supportedDevices().size()));
    co_return std::nullopt;
}

QCoro::Task<std::optional<ExitCode>> UnattendedInstaller::chooseDevice() {
    const double seconds = static_cast<double>(model.settings().searchTimeLimit.count()) / 1000;
    printLine(QStringLiteral("Searching for a connected scanner (up to %1 s)...").arg(seconds));
    co_await model.searchForDevice();

    const DeviceSearchState status = model.deviceSearchStatus();
    if (status.is(DeviceSearchState::Case::found)) {
        printLine(QStringLiteral("Scanner detected: ") + status.device()->name);
        co_return std::nullopt;
    }
    if (!status.is(DeviceSearchState::Case::notFound)) {
        printProblem(QStringLiteral("The scanner search could not run: ") + model.fatalErrorMessage());
        co_return ExitCode::failure;
    }
    const QStringList models = model.supportedDeviceNames();
    if (!options.device) {
        printProblem(QStringLiteral("No supported scanner was detected. Connect it, or name its model with --device "
                                    "(one of: %1).")
                             .arg(joinedNames(models)));
        co_return ExitCode::failure;
    }
    // As the model picker does: the first catalogue entry of that name.
    for (const auto& device : model.supportedDevices()) {
        if (device.name == *options.device) {
            model.deviceModel = device;
            printLine(QStringLiteral("No scanner detected; using the catalogue model '%1'.").arg(device.name));
            co_return std::nullopt;
        }
    }
    printProblem(QStringLiteral("--device: the catalogue has no model named '%1'; its models are: %2.")
                         .arg(*options.device, joinedNames(models)));
    co_return ExitCode::usageError;
}

QCoro::Task<std::optional<ExitCode>> UnattendedInstaller::loadApplications() {
    const QString deviceName = model.deviceModel()->name;
    printLine(QStringLiteral("Loading the applications of '%1'...").arg(deviceName));
    co_await model.fetchDeviceApplications();
    if (!model.deviceApplicationsModel()) {
        printProblem(QStringLiteral("Could not load the applications of '%1': %2")
                             .arg(deviceName, model.fatalErrorMessage()));
        co_return ExitCode::failure;
    }
    co_return std::nullopt;
}

// The configuration fetch has already chosen the mandatory applications; the others join them by name.
std::optional<ExitCode> UnattendedInstaller::selectApplications() {
    const QList<TARNDeviceAppConfigurationModel> apps = model.deviceApplicationsModel()->apps;
    switch (options.selection.kind) {
    case ApplicationSelection::Kind::mandatory:
        break;
    case ApplicationSelection::Kind::all:
        model.selectedAppsForInstallation = apps;
        break;
    case ApplicationSelection::Kind::named: {
        QStringList available;
        for (const auto& app : apps) {
            available.append(app.name);
        }
        QStringList unknown;
        for (const auto& name : options.selection.names) {
            if (!available.contains(name)) {
                unknown.append(name);
            }
        }
        if (!unknown.isEmpty()) {
            printProblem(QStringLiteral("--select: no application named %1; this scanner offers: %2.")
                                 .arg(QStringLiteral("'") + unknown.join(QStringLiteral("', '")) + u'\'',
                                      joinedNames(available)));
            return ExitCode::usageError;
        }
        QList<TARNDeviceAppConfigurationModel> chosen;
        for (const auto& app : apps) {
            if (app.mandatory || options.selection.names.contains(app.name)) {
                chosen.append(app);
            }
        }
        model.selectedAppsForInstallation = chosen;
        break;
    }
    }
    if (model.tasksToRun().isEmpty()) {
        printLine(QStringLiteral("Nothing to install: this scanner has no mandatory application and none was "
                                 "selected."));
        return ExitCode::success;
    }
    QStringList names;
    for (const auto& task : model.tasksToRun()) {
        names.append(task.name);
    }
    printLine(QStringLiteral("Installing %1 of %2 applications: %3")
                      .arg(names.size())
                      .arg(apps.size())
                      .arg(joinedNames(names)));
    return std::nullopt;
}

QCoro::Task<ExitCode> UnattendedInstaller::install() {
    rows.clear();
    const Subscription watch =
            model.tasksToRun.subscribe([this](const QList<AppInstallTask>& tasks) { showRows(tasks); });
    std::exception_ptr failure;
    try {
        co_await model.installSelectedApplications();
    } catch (...) {
        failure = std::current_exception();
    }
    // Row updates are posted by the run; they have all landed after one more turn of the main queue.
    co_await nextMainQueueTurn();
    showRows(model.tasksToRun());
    clearProgress();
    if (failure) {
        // Only refused rights end a run early; the workflow has published why.
        printProblem(QStringLiteral("The installation stopped: ") + model.fatalErrorMessage());
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
    printLine(QStringLiteral("Summary: %1 of %2 applications installed or already up to date, %3 failed%4")
                      .arg(done)
                      .arg(tasks.size())
                      .arg(failed.size())
                      .arg(failed.isEmpty() ? QStringLiteral(".") : QStringLiteral(": ") + joinedNames(failed) + u'.'));
    if (!model.isInstallationSuccessful()) {
        printLine(QStringLiteral("Installation failed: a mandatory application could not be installed."));
        return ExitCode::failure;
    }
    if (model.anyOptionalPackageFailedToInstall()) {
        printLine(QStringLiteral("Installation complete, except for optional applications."));
        return ExitCode::optionalFailed;
    }
    printLine(QStringLiteral("Installation complete."));
    return ExitCode::success;
}

// One line per row state change. The run marks a row failed and then gives its text in a second
// update, so a failure without a text waits for the next delivery before it is printed.
void UnattendedInstaller::showRows(const QList<AppInstallTask>& tasks) {
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
            seen.percent = -1;
            if (task.state == ToInstallListItemViewState::failed && !task.errorMessage) {
                failureAwaitingItsText = task.id;
            } else {
                printRowState(index, count, task);
            }
        }
        const int percent = qBound(0, qRound(task.downloadProgress * 100), 100);
        if (liveProgress && task.state == ToInstallListItemViewState::downloading && percent != seen.percent) {
            seen.percent = percent;
            drawProgress(index, count, task, percent);
        }
    }
}

void UnattendedInstaller::printRowState(qsizetype index, qsizetype count, const AppInstallTask& task) {
    QString line = QStringLiteral("[%1/%2] %3: %4").arg(index + 1).arg(count).arg(task.name, caseName(task.state));
    if (task.state == ToInstallListItemViewState::failed && task.errorMessage) {
        line += QStringLiteral(" - ") + *task.errorMessage;
    }
    printLine(line);
}

void UnattendedInstaller::drawProgress(qsizetype index, qsizetype count, const AppInstallTask& task, int percent) {
    constexpr int barWidth = 30;
    const int filled = percent * barWidth / 100;
    const QString bar = QStringLiteral("[%1/%2] %3 [%4%5] %6%")
                                .arg(index + 1)
                                .arg(count)
                                .arg(task.name, QString(filled, u'#'), QString(barWidth - filled, u'-'))
                                .arg(percent, 3);
    clearProgress();
    out << printableText(bar);
    out.flush();
    progressWidth = static_cast<int>(bar.size());
}

void UnattendedInstaller::printLine(const QString& line) {
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
    if (progressWidth > 0) {
        out << '\r' << QString(progressWidth, u' ') << '\r';
        out.flush();
        progressWidth = 0;
    }
}

int runUnattendedInstallation(InstallationViewModel& model, const CommandLineOptions& options, QTextStream& out,
                              QTextStream& err, bool liveProgress) {
    UnattendedInstaller installer(model, UnattendedInstaller::Options::from(options), out, err, liveProgress);
    QEventLoop loop;
    std::optional<ExitCode> exitCode;
    QCoro::connect(installer.run(), &loop, [&](ExitCode code) {
        exitCode = code;
        loop.quit();
    });
    if (exitCode) {
        return static_cast<int>(*exitCode);
    }
    // Left early only when the application is told to exit (a termination signal): its status then.
    const int exitStatus = loop.exec();
    return exitCode ? static_cast<int>(*exitCode) : exitStatus;
}

int runUnattendedInstallation(InstallationViewModel& model, const CommandLineOptions& options) {
    QTextStream out(stdout);
    QTextStream err(stderr);
    return runUnattendedInstallation(model, options, out, err, standardOutputIsTerminal());
}

bool standardOutputIsTerminal() {
    return ::isatty(STDOUT_FILENO) == 1;
}

} // namespace tarn
