#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QMutexLocker>

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

} // namespace tarn::test
