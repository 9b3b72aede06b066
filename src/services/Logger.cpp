#include "services/Logger.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>

namespace tarn {

using namespace Qt::StringLiterals;

namespace {

const QString logFolderName = u"T.A.R.N. Installer"_s;

QString prefix(LogLevel level) {
    return level == LogLevel::critical ? u"[CRITICAL] "_s : u"[INFO] "_s;
}

// The system log shows the level twice, as its format string puts it before the prefixed text.
QString systemLogFormatPrefix(LogLevel level) {
    return level == LogLevel::critical ? u"[CRITICAL]: "_s : u"[INFO]: "_s;
}

} // namespace

Logger::Logger() : Logger(std::make_shared<JournalLogSink>(), std::make_shared<SystemLoggerEnvironment>()) {}

Logger::Logger(std::shared_ptr<SystemLogSink> systemLog, std::shared_ptr<LoggerEnvironment> environment)
    : systemLog(std::move(systemLog)), environment(std::move(environment)) {
    logSubsystem = this->environment->bundleIdentifier().value_or(u"com.tarn.installer"_s);
    setUpLogFile();
    logMachineDescription();
}

void Logger::info(const QString& message) {
    log(LogLevel::info, message);
}

void Logger::critical(const QString& message) {
    log(LogLevel::critical, message);
}

QString Logger::cpuDescription(std::uint32_t cpuType) {
    return cpuType == cpuTypeArm64 ? u"Apple Silicon (ARM64)"_s : u"Intel (x86_64)"_s;
}

void Logger::setUpLogFile() {
    const QStringList supportDirectories = environment->applicationSupportDirectories();
    if (supportDirectories.isEmpty()) {
        return;
    }
    const QString supportDirectory = supportDirectories.first();
    QString logDirectory = QDir(supportDirectory).filePath(logFolderName);
    // A plain file in the folder's place counts as a folder that cannot be made: lines written into
    // it would all be lost.
    if (!QFileInfo(logDirectory).isDir() && !QDir().mkpath(logDirectory)) {
        logDirectory = supportDirectory;
    }
    const QString fileName = u"installer_%1.log"_s.arg(environment->now().date().toString(u"yyyy-MM-dd"_s));
    fileURL = QUrl::fromLocalFile(QDir(logDirectory).filePath(fileName));
}

void Logger::logMachineDescription() {
    QString freeSpace;
    const FreeDiskSpace disk = environment->freeDiskSpace();
    if (!disk.attributesReadable) {
        info(u"Could not read free disk space information."_s);
    } else if (disk.freeBytes) {
        const double gibibytes = static_cast<double>(*disk.freeBytes) * 9.313225746154785e-10;
        freeSpace = u"%1 GB"_s.arg(QString::asprintf("%.2f", gibibytes));
    }
    info(u"OS Version: %1, CPU: %2, Free disk space: %3"_s.arg(environment->operatingSystemDescription(),
                                                               cpuDescription(environment->cpuType()), freeSpace));
}

void Logger::log(LogLevel level, const QString& message) {
    const QString prefixed = prefix(level) + message;
    systemLog->write(level, logSubsystem, u"Application"_s, systemLogFormatPrefix(level) + prefixed);
    appendToFile(prefixed);
}

void Logger::appendToFile(const QString& prefixedMessage) {
    if (!fileURL) {
        return;
    }
    const QDateTime utc = environment->now().toUTC();
    const QByteArray line = u"%1 +0000: %2\n"_s.arg(utc.toString(u"yyyy-MM-dd HH:mm:ss"_s), prefixedMessage).toUtf8();
    QMutexLocker lock(&fileMutex);
    // Append mode creates the file on the first line of the day and never replaces what another
    // process appended meanwhile; one unbuffered write keeps the line whole.
    QFile file(fileURL->toLocalFile());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        return; // this line is lost; the next message tries again
    }
    file.write(line);
}

} // namespace tarn
