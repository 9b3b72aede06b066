#include "services/SystemPermissionsManager.h"

#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>

namespace tarn {

namespace {

// How a shell would report a child killed by a signal.
constexpr int signalStatusBase = 128;

} // namespace

SystemPermissionsManager::SystemPermissionsManager(std::shared_ptr<LoggerProtocol> logger, QString sudoPath,
                                                   QString askpassPath)
    : logger(std::move(logger)), sudoPath(std::move(sudoPath)), askpassPath(std::move(askpassPath)) {}

bool SystemPermissionsManager::requestAdminPrivileges() {
    const Run validation = run({QStringLiteral("-A"), QStringLiteral("-v")}, true);
    if (!validation.started) {
        logger->critical(QStringLiteral("Authorization create failed: ") + QString::number(validation.status));
        return false;
    }
    authRef = true;
    if (validation.status != 0) {
        // Cancelled in the dialog, wrong password too often, or not an administrator.
        logger->critical(QStringLiteral("Authorization copy rights failed: ") + QString::number(validation.status));
        return false;
    }
    return true;
}

void SystemPermissionsManager::releaseAuthorization() {
    if (authRef) {
        run({QStringLiteral("-k")}, false);
    }
}

SystemPermissionsManager::Run SystemPermissionsManager::run(const QStringList& arguments, bool withAskpass) const {
    QProcess process;
    process.setProgram(sudoPath);
    process.setArguments(arguments);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (withAskpass) {
        environment.insert(QStringLiteral("SUDO_ASKPASS"), askpassPath);
    }
    process.setProcessEnvironment(environment);
    // Credentials come only from the dialog, never from a terminal, and nothing it prints is needed.
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());

    process.start();
    if (!process.waitForStarted(-1)) {
        const QFileInfo command(sudoPath);
        return {false, command.exists() ? cannotExecuteStatus : notFoundStatus};
    }
    process.waitForFinished(-1);
    if (process.exitStatus() == QProcess::CrashExit) {
        return {true, signalStatusBase + process.exitCode()};
    }
    return {true, process.exitCode()};
}

} // namespace tarn
