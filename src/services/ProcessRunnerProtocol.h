#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <qcoro/qcorotask.h>

#include <optional>

namespace tarn {

// The one way the system starts child processes. Both operations answer the child's standard output
// and throw InstallationError::installationFailed (its standard error as text) for a non-zero exit,
// or a SystemError when the child cannot be started or read. An absent result is a case callers
// handle, although the concrete runner always answers a buffer.
class ProcessRunnerProtocol {
public:
    virtual ~ProcessRunnerProtocol() = default;

    // Runs the executable with the arguments exactly as given, without a shell.
    virtual QCoro::Task<std::optional<QByteArray>> runProcess(QString launchPath, QStringList arguments) = 0;

    // Runs "command arguments..." through the system shell as administrator, behind a password prompt
    // that shows `prompt`. The arguments are joined with spaces and not quoted: a caller passing a path
    // with spaces quotes it for the shell itself.
    virtual QCoro::Task<std::optional<QByteArray>> runWithAdminPrivileges(QString command, QStringList arguments,
                                                                          QString prompt) = 0;
};

} // namespace tarn
