#pragma once

#include "services/LoggerProtocol.h"
#include "services/ProcessRunnerProtocol.h"

#include <memory>

namespace tarn {

// Runs tools as child processes and captures what they write. The privileged run hands an AppleScript
// `do shell script` statement to the script runner, whose path is given at construction.
class ProcessRunner final : public ProcessRunnerProtocol {
public:
    ProcessRunner(std::shared_ptr<LoggerProtocol> logger, QString scriptRunnerPath);

    QCoro::Task<std::optional<QByteArray>> runProcess(QString launchPath, QStringList arguments) override;
    QCoro::Task<std::optional<QByteArray>> runWithAdminPrivileges(QString command, QStringList arguments,
                                                                  QString prompt) override;

    // The statement the script runner receives; the command line and the prompt are escaped as
    // AppleScript string literals so that the statement always reads back as exactly what was given.
    static QString adminScript(const QString& commandLine, const QString& prompt);

private:
    std::shared_ptr<LoggerProtocol> logger;
    QString scriptRunnerPath;
};

// A text as the body of an AppleScript string literal: backslashes and double quotes escaped.
QString escapedForAppleScriptString(const QString& text);

} // namespace tarn
