#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QMutexLocker>
#include <QProcess>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarn::test {

bool processEventsUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    QDeadlineTimer deadline(timeout);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
    }
    return true;
}

void drainPostedEvents() {
    for (int round = 0; round < 100; ++round) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

void RecordingLogger::info(const QString& message) {
    QMutexLocker lock(&mutex);
    recorded.append(QStringLiteral("[INFO] ") + message);
}

void RecordingLogger::critical(const QString& message) {
    QMutexLocker lock(&mutex);
    recorded.append(QStringLiteral("[CRITICAL] ") + message);
}

QStringList RecordingLogger::lines() const {
    QMutexLocker lock(&mutex);
    return recorded;
}

QStringList RecordingLogger::criticalLines() const {
    QMutexLocker lock(&mutex);
    QStringList critical;
    for (const auto& line : recorded) {
        if (line.startsWith(QStringLiteral("[CRITICAL] "))) {
            critical.append(line);
        }
    }
    return critical;
}

void RecordingLogger::clear() {
    QMutexLocker lock(&mutex);
    recorded.clear();
}

QString writeScript(const QTemporaryDir& directory, const QString& name, const QString& body) {
    const QString path = directory.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return {};
    }
    file.write("#!/bin/sh\n");
    file.write(body.toUtf8());
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup);
    return path;
}

ProcessGate::ProcessGate() {
    ::mkfifo(QFile::encodeName(fifo()).constData(), 0600);
}

SignalledRun ProcessGate::runSignalled(const QString& program, const QStringList& arguments,
                                       const QProcessEnvironment& environment, int signal, bool wholeGroup,
                                       std::chrono::milliseconds limit) const {
    const QByteArray path = QFile::encodeName(fifo());
    // Opened without waiting for a writer; a line arrives once the tool is at the gate.
    const int reader = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setChildProcessModifier([] { ::setpgid(0, 0); });
    process.start(program, arguments);
    bool atGate = false;
    QElapsedTimer waited;
    waited.start();
    while (!atGate && reader >= 0 && waited.elapsed() < limit.count() && !process.waitForFinished(0)) {
        pollfd ready{reader, POLLIN, 0};
        if (::poll(&ready, 1, 50) > 0 && (ready.revents & POLLIN)) {
            char byte = 0;
            while (::read(reader, &byte, 1) == 1) {
                atGate = atGate || byte == '\n';
            }
        }
    }
    if (reader >= 0) {
        ::close(reader);
    }
    if (!atGate) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    ::kill(wholeGroup ? -static_cast<pid_t>(process.processId()) : static_cast<pid_t>(process.processId()), signal);
    // The tool opens the gate for reading next, unless the signal ended it; never wait for a reader
    // that will not come.
    while (waited.elapsed() < limit.count() && !process.waitForFinished(0)) {
        if (const int writer = ::open(path.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC); writer >= 0) {
            [[maybe_unused]] const ssize_t written = ::write(writer, "go\n", 3);
            ::close(writer);
            break;
        }
        ::poll(nullptr, 0, 10);
    }
    if (!process.waitForFinished(static_cast<int>(limit.count()))) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : 128 + signal,
            process.readAllStandardOutput().toStdString(), process.readAllStandardError().toStdString()};
}

} // namespace tarn::test
