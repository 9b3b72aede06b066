#include "services/SystemPermissionsManager.h"

#include "base/NextStateChange.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

namespace tarn {

using namespace Qt::StringLiterals;

namespace {

// How a shell would report a child killed by a signal.
constexpr int signalStatusBase = 128;
// Long enough for `sudo -k`, which asks nothing; short enough not to hold up the end of the program.
constexpr int releaseWaitMilliseconds = 5000;

// sudo expands %-sequences in its prompt, so a literal % is doubled.
QString sudoPrompt(QString prompt) {
    return prompt.replace(u'%', u"%%"_s);
}

// Why sudo said no, from what the dialog reported: it asks only when sudo lets this account act as
// administrator at all, and it asks again after every wrong password.
AdminRights refusal(const QByteArray& report) {
    const QList<QByteArray> answers = report.split('\n');
    qsizetype count = 0;
    QByteArray last;
    for (const QByteArray& line : answers) {
        if (!line.isEmpty()) {
            ++count;
            last = line;
        }
    }
    if (count == 0) {
        return AdminRights::notPermitted;
    }
    return last == "cancelled" ? AdminRights::cancelled : AdminRights::wrongPassword;
}

void quietProcess(QProcess& process, const QString& program, const QStringList& arguments) {
    process.setProgram(program);
    process.setArguments(arguments);
    // Credentials come only from the dialog, never from a terminal, and nothing sudo prints is needed.
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
}

} // namespace

SystemPermissionsManager::SystemPermissionsManager(std::shared_ptr<LoggerProtocol> logger, QString sudoPath,
                                                   QString askpassPath)
    : logger(std::move(logger)), sudoPath(std::move(sudoPath)), askpassPath(std::move(askpassPath)) {}

SystemPermissionsManager::~SystemPermissionsManager() {
    if (release && release->state() != QProcess::NotRunning) {
        release->waitForFinished(releaseWaitMilliseconds);
    }
}

QCoro::Task<AdminRights> SystemPermissionsManager::requestAdminPrivileges() {
    // A release of the run before must not end the grant this request is about to make.
    while (release && release->state() != QProcess::NotRunning) {
        co_await NextStateChange(*release);
    }
    const QTemporaryDir scratch;
    const QString report = scratch.filePath(u"answers"_s);
    QProcess process;
    quietProcess(process, sudoPath, {u"-A"_s, u"-p"_s, sudoPrompt(qtTrId("permissions.prompt")), u"-v"_s});
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"SUDO_ASKPASS"_s, askpassPath);
    environment.insert(u"TARN_ASKPASS_REPORT"_s, report);
    process.setProcessEnvironment(environment);

    // Without the dialog sudo could only fail, and would say so as if this account were refused.
    if (!scratch.isValid() || !QFileInfo(askpassPath).isExecutable()) {
        const int status = QFileInfo::exists(askpassPath) ? cannotExecuteStatus : notFoundStatus;
        logger->critical(u"Authorization create failed: %1"_s.arg(status));
        co_return AdminRights::unavailable;
    }
    process.start();
    while (process.state() != QProcess::NotRunning) {
        co_await NextStateChange(process);
    }
    if (process.error() == QProcess::FailedToStart) {
        const int status = QFileInfo::exists(sudoPath) ? cannotExecuteStatus : notFoundStatus;
        logger->critical(u"Authorization create failed: %1"_s.arg(status));
        co_return AdminRights::unavailable;
    }
    authRef = true;
    const bool crashed = process.exitStatus() == QProcess::CrashExit;
    const int status = crashed ? signalStatusBase + process.exitCode() : process.exitCode();
    if (status == 0) {
        co_return AdminRights::granted;
    }
    logger->critical(u"Authorization copy rights failed: %1"_s.arg(status));
    if (crashed) {
        co_return AdminRights::failed;
    }
    QFile answers(report);
    co_return refusal(answers.open(QIODevice::ReadOnly) ? answers.readAll() : QByteArray());
}

void SystemPermissionsManager::releaseAuthorization() {
    if (!authRef) {
        return;
    }
    if (release && release->state() != QProcess::NotRunning) {
        return; // no request since, so no grant that this release would not end
    }
    release = std::make_unique<QProcess>();
    quietProcess(*release, sudoPath, {u"-k"_s});
    release->start();
}

} // namespace tarn
