#include "services/ProcessRunner.h"

#include "base/Error.h"
#include "base/NextStateChange.h"
#include "services/InstallationError.h"

#include <QProcess>
#include <QStringDecoder>

namespace tarn {

using namespace Qt::StringLiterals;

namespace {

// Standard error as the failure text: exactly as written, or "Unknown error" when it is not UTF-8.
QString failureText(const QByteArray& standardError) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(standardError);
    if (decoder.hasError()) {
        return u"Unknown error"_s;
    }
    return text;
}

} // namespace

ProcessRunner::ProcessRunner(std::shared_ptr<LoggerProtocol> logger, QString scriptRunnerPath)
    : logger(std::move(logger)), scriptRunnerPath(std::move(scriptRunnerPath)) {}

QCoro::Task<std::optional<QByteArray>> ProcessRunner::runProcess(QString launchPath, QStringList arguments) {
    logger->info(u"Executing '%1 %2'"_s.arg(launchPath, arguments.join(u' ')));

    // QProcess drains both pipes from the event loop as data arrives, so a child that fills one pipe
    // while we wait for the other can never stall.
    QProcess process;
    process.setProgram(launchPath);
    process.setArguments(arguments);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.setInputChannelMode(QProcess::ForwardedInputChannel);

    process.start(QIODevice::ReadOnly);
    // The state decides, whatever transitions happened between a change and our resumption.
    while (process.state() != QProcess::NotRunning) {
        co_await NextStateChange(process);
    }
    if (process.error() == QProcess::FailedToStart) {
        throw SystemError(u"Could not start '%1': %2"_s.arg(launchPath, process.errorString()));
    }
    if (process.error() == QProcess::ReadError) {
        throw SystemError(u"Could not read the output of '%1': %2"_s.arg(launchPath, process.errorString()));
    }

    const QByteArray standardOutput = process.readAllStandardOutput();
    const QByteArray standardError = process.readAllStandardError();
    const bool succeeded = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (!succeeded) {
        const QString message = failureText(standardError);
        logger->critical(message);
        throw InstallationError::installationFailed(message);
    }
    co_return standardOutput;
}

QCoro::Task<std::optional<QByteArray>> ProcessRunner::runWithAdminPrivileges(QString command, QStringList arguments,
                                                                             QString prompt) {
    const QString script = adminScript(command + u' ' + arguments.join(u' '), prompt);
    logger->info(u"Executing '%1'"_s.arg(script));
    // Named first [gcc12-await-temporaries].
    auto run = runProcess(scriptRunnerPath, {u"-e"_s, script});
    co_return co_await std::move(run);
}

QString ProcessRunner::adminScript(const QString& commandLine, const QString& prompt) {
    return u"do shell script \"%1\" with administrator privileges with prompt \"%2\""_s.arg(
            escapedForAppleScriptString(commandLine), escapedForAppleScriptString(prompt));
}

QString escapedForAppleScriptString(const QString& text) {
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        if (c == u'\\' || c == u'"') {
            escaped += u'\\';
        }
        escaped += c;
    }
    return escaped;
}

} // namespace tarn
