#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

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

    static Settings fromProcess(const QString& programDirectory);
};

struct Outcome {
    int exitCode = 0;
    QByteArray standardOutput;
    QByteArray standardError;
};

// The script runner: "-e STATEMENT" with the one statement ShellScriptStatement accepts. Root runs the
// command with /bin/sh at once, without a prompt; anyone else through "sudo -A -p PROMPT -- /bin/sh -c
// COMMAND" with the askpass dialog. On success the command's standard output is passed on; on refusal,
// cancellation ("User canceled.") or failure the exit status is 1 with an error text on standard error.
Outcome run(const QStringList& arguments, const Settings& settings);

// The prompt as sudo's -p option takes it: sudo expands %-sequences, so a literal % is doubled.
QString sudoPrompt(const QString& prompt);

// Set for askpass by this program: the file askpass creates when the user cancels, since sudo tells a
// cancelled prompt from a wrong password by nothing but its wording.
inline constexpr char cancelFileVariable[] = "TARN_ASKPASS_CANCEL_FILE";

} // namespace tarn::osascript
