#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <utility>
#include <variant>

namespace tarn::osascript {

// How a command is raised to administrator rights.
struct Settings {
    // The elevation command: TARN_SUDO when set, else /usr/bin/sudo.
    QString sudo;
    // Set when TARN_SUDO names the elevation command: it is then used even by root, so tests can drive
    // the whole prompt path with stand-ins.
    bool sudoOverridden = false;
    // The password dialog sudo asks through: TARN_ASKPASS when set, else "askpass" beside this program.
    QString askpass;
    // TARN_SYSTEM_ROOT, carried across sudo (which clears the environment) so the command sees it too.
    QString systemRoot;
    bool runningAsRoot = false;
    // This program, which sudo runs again as administrator to run the command.
    QString self;

    static Settings fromProcess(const QString& programPath);
};

struct Outcome {
    int exitCode = 0;
    QByteArray standardOutput;
    QByteArray standardError;
};

// This program becomes the elevation command (exec, same process): sudo, run without a terminal, keys
// its cached credentials on the process that started it, so only when every sudo of a run has the
// caller as its parent does one password serve them all.
struct Elevation {
    QString program;
    QStringList arguments;
    QList<std::pair<QByteArray, QByteArray>> environment; // set on top of the inherited one
};

// The script runner: "-e STATEMENT" with the one statement ShellScriptStatement accepts. Root runs the
// command with /bin/sh at once, without a prompt; anyone else becomes "sudo -A -p PROMPT -- THIS
// --elevated COMMAND", which asks through the askpass dialog when no grant is cached and then runs this
// program as administrator. "--elevated COMMAND" runs COMMAND with /bin/sh. The command's standard output
// is passed on; when it fails, the exit status is 1 with "execution error: TEXT (STATUS)" on standard
// error. When sudo refuses, its own status and messages are the answer (after the dialog's "execution
// error: User canceled. (-128)" when the user cancelled it), since this process is sudo by then.
std::variant<Outcome, Elevation> run(const QStringList& arguments, const Settings& settings);

// The private option of the administrator's half of a run.
inline constexpr char elevatedOption[] = "--elevated";
// Set for askpass: what it writes to standard error when the user cancels.
inline constexpr char cancelMessageVariable[] = "TARN_ASKPASS_CANCEL_MESSAGE";
inline constexpr char userCanceledMessage[] = "execution error: User canceled. (-128)";

} // namespace tarn::osascript
