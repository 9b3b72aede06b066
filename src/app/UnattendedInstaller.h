#pragma once

#include "app/CommandLine.h"
#include "app/RunReport.h"
#include "app/TerminalProgress.h"
#include "workflow/InstallationViewModel.h"

#include <QHash>
#include <QTextStream>
#include <QUuid>
#include <qcoro/qcorotask.h>

#include <optional>

namespace tarn {

// Drives one InstallationViewModel from consent to outcome without windows, through the same published
// state and operations the screens use: for administrators who install on many machines, and the proof
// that the workflow needs no screen. Prints one line per step and per row state change, a live progress
// line for the running download when asked to (a terminal), and a summary (only the summary and errors
// when quiet); records the run for its JSON report; answers the exit code.
class UnattendedInstaller final {
public:
    struct Options {
        bool acceptLicenses = false;
        ApplicationSelection selection;
        std::optional<QString> device;
        bool quiet = false;
        std::optional<QString> reportFile;
        // Where the report's installed versions come from; none leaves them unknown.
        std::shared_ptr<PkgUtilHelperProtoco> receipts;
        RunReport::Clock clock = &std::chrono::steady_clock::now;
        int terminalColumns = 0; // the width of the terminal, 0 when unknown

        static Options from(const CommandLineOptions& options,
                            std::shared_ptr<PkgUtilHelperProtoco> receipts = nullptr) {
            return {options.acceptLicenses, options.selection, options.device,
                    options.quiet,          options.report,    std::move(receipts)};
        }
    };

    UnattendedInstaller(InstallationViewModel& model, Options options, QTextStream& out, QTextStream& err,
                        bool liveProgress);

    QCoro::Task<ExitCode> run();

    // The report of the run so far, ending with `exitCode`; written to the options' file, if any.
    // A file that cannot be written is an error on `err`: a run that would exit 0 or 3 then exits 4.
    int writeReport(int exitCode);

private:
    struct RowSeen {
        ToInstallListItemViewState state = ToInstallListItemViewState::ready;
    };

    // Each step answers the exit code to stop with, or nothing to go on.
    QCoro::Task<std::optional<ExitCode>> loadCatalogue();
    QCoro::Task<std::optional<ExitCode>> chooseDevice();
    QCoro::Task<std::optional<ExitCode>> loadApplications();
    std::optional<ExitCode> selectApplications();
    QStringList unknownApplicationNames(const QList<TARNDeviceAppConfigurationModel>& apps) const;
    QCoro::Task<> recordInstalledVersions();
    QCoro::Task<ExitCode> install();
    ExitCode summarise();

    void showRows(const QList<AppInstallTask>& tasks);
    void printRowState(qsizetype index, qsizetype count, const AppInstallTask& task);
    void drawProgress(const QString& line);
    void printLine(const QString& line);
    // A line that even --quiet prints: the summary, and the failures with their texts.
    void printOutcome(const QString& line);
    void printProblem(const QString& line);
    void clearProgress();

    InstallationViewModel& model;
    Options options;
    QTextStream& out;
    QTextStream& err;
    bool liveProgress;
    QHash<QUuid, RowSeen> rows;
    std::optional<QUuid> failureAwaitingItsText;
    bool progressShown = false;
    TerminalProgress terminal;
    RunReport report;
};

// Runs the unattended installation on a local event loop and answers the process's exit code.
int runUnattendedInstallation(InstallationViewModel& model, const UnattendedInstaller::Options& options,
                              QTextStream& out, QTextStream& err, bool liveProgress);

// The same on standard output and standard error, with a live progress line when the output is a
// terminal: what `tarn-installer --unattended` runs once it has built the workflow.
int runUnattendedInstallation(InstallationViewModel& model, const CommandLineOptions& options,
                              std::shared_ptr<PkgUtilHelperProtoco> receipts = nullptr);

} // namespace tarn
