#include "osascript/Osascript.h"

#include "osascript/ShellScriptStatement.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace tarn::osascript {

namespace {

constexpr int failureStatus = 1;
constexpr int syntaxErrorNumber = -2741;
const QString shell = u"/bin/sh"_s;

// The prompt as sudo's -p option takes it: sudo expands %-sequences, so a literal % is doubled.
QString sudoPrompt(const QString& prompt) {
    QString escaped = prompt;
    return escaped.replace(u'%', u"%%"_s);
}

Outcome failure(const QString& text) {
    return {failureStatus, {}, (text + u'\n').toUtf8()};
}

Outcome executionError(const QString& message, int number) {
    return failure(u"execution error: %1 (%2)"_s.arg(message).arg(number));
}

// The administrator's half: the command itself, its failure put in the script runner's words.
Outcome runCommand(const QString& command) {
    QProcess process;
    process.setProgram(shell);
    process.setArguments({u"-c"_s, command});
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(QIODevice::ReadOnly);
    if (!process.waitForStarted(-1)) {
        return executionError(u"Cannot run '%1': %2"_s.arg(shell, process.errorString()), -1);
    }
    process.waitForFinished(-1);
    const QByteArray standardOutput = process.readAllStandardOutput();
    const QString standardError = QString::fromUtf8(process.readAllStandardError()).trimmed();

    if (process.exitStatus() != QProcess::NormalExit) {
        return executionError(u"The command was terminated."_s, -1);
    }
    if (process.exitCode() == 0) {
        return {0, standardOutput, {}};
    }
    return executionError(standardError.isEmpty() ? u"The command exited with a non-zero status."_s : standardError,
                          process.exitCode());
}

Elevation elevation(const ShellScriptStatement& statement, const Settings& settings) {
    Elevation elevated{settings.sudo, {u"-A"_s, u"-p"_s, sudoPrompt(statement.prompt)}, {}};
    if (!settings.systemRoot.isEmpty()) {
        elevated.arguments.append(u"--preserve-env=TARN_SYSTEM_ROOT"_s);
    }
    elevated.arguments << u"--"_s << settings.self << QString::fromLatin1(elevatedOption) << statement.command;
    elevated.environment.append(std::pair<QByteArray, QByteArray>("SUDO_ASKPASS", QFile::encodeName(settings.askpass)));
    elevated.environment.append(std::pair<QByteArray, QByteArray>(cancelMessageVariable, userCanceledMessage));
    return elevated;
}

} // namespace

Settings Settings::fromProcess(const QString& programPath) {
    Settings settings;
    const QString sudo = qEnvironmentVariable("TARN_SUDO");
    settings.sudoOverridden = !sudo.isEmpty();
    settings.sudo = settings.sudoOverridden ? sudo : u"/usr/bin/sudo"_s;
    const QString askpass = qEnvironmentVariable("TARN_ASKPASS");
    settings.askpass = askpass.isEmpty() ? QFileInfo(programPath).dir().filePath(u"askpass"_s)
                                         : QFileInfo(askpass).absoluteFilePath();
    settings.systemRoot = qEnvironmentVariable("TARN_SYSTEM_ROOT");
    settings.runningAsRoot = ::geteuid() == 0;
    settings.self = QFileInfo(programPath).absoluteFilePath();
    return settings;
}

std::variant<Outcome, Elevation> run(const QStringList& arguments, const Settings& settings) {
    if (arguments.size() == 2 && arguments.first() == QLatin1String(elevatedOption)) {
        return runCommand(arguments[1]);
    }
    if (arguments.size() != 2 || arguments.first() != QLatin1String("-e")) {
        return failure(u"usage: osascript -e STATEMENT"_s);
    }
    ShellScriptStatement statement;
    try {
        statement = parseShellScriptStatement(arguments[1]);
    } catch (const StatementError& error) {
        if (error.kind() == StatementError::Kind::syntax) {
            return failure(u"syntax error: %1 (%2)"_s.arg(error.reason()).arg(syntaxErrorNumber));
        }
        return failure(u"osascript: %1"_s.arg(error.reason()));
    }
    if (settings.runningAsRoot && !settings.sudoOverridden) {
        return runCommand(statement.command);
    }
    return elevation(statement, settings);
}

} // namespace tarn::osascript
