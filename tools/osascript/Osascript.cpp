#include "osascript/Osascript.h"

#include "osascript/ShellScriptStatement.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <unistd.h>

namespace tarn::osascript {

namespace {

constexpr int failureStatus = 1;
constexpr int userCanceledNumber = -128;
constexpr int syntaxErrorNumber = -2741;
const QString shell = QStringLiteral("/bin/sh");

Outcome failure(const QString& text) {
    return {failureStatus, {}, (text + u'\n').toUtf8()};
}

Outcome executionError(const QString& message, int number) {
    return failure(QStringLiteral("execution error: %1 (%2)").arg(message).arg(number));
}

struct Invocation {
    QString program;
    QStringList arguments;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
};

Invocation invocation(const ShellScriptStatement& statement, const Settings& settings, const QString& cancelFile) {
    if (settings.runningAsRoot && !settings.sudoOverridden) {
        return {shell, {QStringLiteral("-c"), statement.command}};
    }
    Invocation elevated{settings.sudo, {QStringLiteral("-A"), QStringLiteral("-p"), sudoPrompt(statement.prompt)}};
    if (!settings.systemRoot.isEmpty()) {
        elevated.arguments.append(QStringLiteral("--preserve-env=TARN_SYSTEM_ROOT"));
    }
    elevated.arguments << QStringLiteral("--") << shell << QStringLiteral("-c") << statement.command;
    elevated.environment.insert(QStringLiteral("SUDO_ASKPASS"), settings.askpass);
    elevated.environment.insert(QString::fromLatin1(cancelFileVariable), cancelFile);
    return elevated;
}

Outcome runStatement(const ShellScriptStatement& statement, const Settings& settings) {
    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        return executionError(QStringLiteral("Cannot create a temporary folder."), -1);
    }
    const QString cancelFile = scratch.filePath(QStringLiteral("cancelled"));
    const Invocation call = invocation(statement, settings, cancelFile);

    QProcess process;
    process.setProgram(call.program);
    process.setArguments(call.arguments);
    process.setProcessEnvironment(call.environment);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(QIODevice::ReadOnly);
    if (!process.waitForStarted(-1)) {
        return executionError(QStringLiteral("Cannot run '%1': %2").arg(call.program, process.errorString()), -1);
    }
    process.waitForFinished(-1);
    const QByteArray standardOutput = process.readAllStandardOutput();
    const QString standardError = QString::fromUtf8(process.readAllStandardError()).trimmed();

    if (process.exitStatus() != QProcess::NormalExit) {
        return executionError(QStringLiteral("The command was terminated."), -1);
    }
    if (process.exitCode() == 0) {
        return {0, standardOutput, {}};
    }
    if (QFileInfo::exists(cancelFile)) {
        return executionError(QStringLiteral("User canceled."), userCanceledNumber);
    }
    return executionError(standardError.isEmpty() ? QStringLiteral("The command exited with a non-zero status.")
                                                  : standardError,
                          process.exitCode());
}

} // namespace

Settings Settings::fromProcess(const QString& programDirectory) {
    Settings settings;
    const QString sudo = qEnvironmentVariable("TARN_SUDO");
    settings.sudoOverridden = !sudo.isEmpty();
    settings.sudo = settings.sudoOverridden ? sudo : QStringLiteral("/usr/bin/sudo");
    const QString askpass = qEnvironmentVariable("TARN_ASKPASS");
    settings.askpass = askpass.isEmpty() ? QDir(programDirectory).filePath(QStringLiteral("askpass"))
                                         : QFileInfo(askpass).absoluteFilePath();
    settings.systemRoot = qEnvironmentVariable("TARN_SYSTEM_ROOT");
    settings.runningAsRoot = ::geteuid() == 0;
    return settings;
}

QString sudoPrompt(const QString& prompt) {
    QString escaped = prompt;
    return escaped.replace(u'%', QStringLiteral("%%"));
}

Outcome run(const QStringList& arguments, const Settings& settings) {
    if (arguments.size() != 2 || arguments.first() != QLatin1String("-e")) {
        return failure(QStringLiteral("usage: osascript -e STATEMENT"));
    }
    ShellScriptStatement statement;
    try {
        statement = parseShellScriptStatement(arguments[1]);
    } catch (const StatementError& error) {
        if (error.kind() == StatementError::Kind::syntax) {
            return failure(QStringLiteral("syntax error: %1 (%2)").arg(error.reason()).arg(syntaxErrorNumber));
        }
        return failure(QStringLiteral("osascript: ") + error.reason());
    }
    return runStatement(statement, settings);
}

} // namespace tarn::osascript
