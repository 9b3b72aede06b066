#pragma once

#include "app/CommandLine.h"
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
// bar when asked to (a terminal), and a summary; answers the exit code.
class UnattendedInstaller final {
public:
    struct Options {
        bool acceptLicenses = false;
        ApplicationSelection selection;
        std::optional<QString> device;

        static Options from(const CommandLineOptions& options) {
            return {options.acceptLicenses, options.selection, options.device};
        }
    };

    UnattendedInstaller(InstallationViewModel& model, Options options, QTextStream& out, QTextStream& err,
                        bool liveProgress);

    QCoro::Task<ExitCode> run();

private:
    struct RowSeen {
        ToInstallListItemViewState state = ToInstallListItemViewState::ready;
        int percent = -1;
    };

    // Each step answers the exit code to stop with, or nothing to go on.
    QCoro::Task<std::optional<ExitCode>> loadCatalogue();
    QCoro::Task<std::optional<ExitCode>> chooseDevice();
    QCoro::Task<std::optional<ExitCode>> loadApplications();
    std::optional<ExitCode> selectApplications();
    QCoro::Task<ExitCode> install();
    ExitCode summarise();

    void showRows(const QList<AppInstallTask>& tasks);
    void printRowState(qsizetype index, qsizetype count, const AppInstallTask& task);
    void drawProgress(qsizetype index, qsizetype count, const AppInstallTask& task, int percent);
    void printLine(const QString& line);
    void printProblem(const QString& line);
    void clearProgress();

    InstallationViewModel& model;
    Options options;
    QTextStream& out;
    QTextStream& err;
    bool liveProgress;
    QHash<QUuid, RowSeen> rows;
    std::optional<QUuid> failureAwaitingItsText;
    int progressWidth = 0;
};

// Runs the unattended installation on a local event loop and answers the process's exit code.
int runUnattendedInstallation(InstallationViewModel& model, const CommandLineOptions& options, QTextStream& out,
                              QTextStream& err, bool liveProgress);

// The same on standard output and standard error, with a progress bar when the output is a terminal:
// what `tarn-installer --unattended` runs once it has built the workflow.
int runUnattendedInstallation(InstallationViewModel& model, const CommandLineOptions& options);

// Whether standard output is a terminal, where a live progress bar can redraw itself.
bool standardOutputIsTerminal();

} // namespace tarn
