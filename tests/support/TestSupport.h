#pragma once

#include "services/LoggerProtocol.h"
#include "support/QtPrinters.h"

#include <QEventLoop>
#include <QMutex>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <qcoro/qcorotask.h>

#include <chrono>
#include <coroutine>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>

namespace tarn::test {

// Runs a task to its end on a nested event loop and answers its result; its exception, if any, is
// rethrown here. (QCoro::waitFor swallows exceptions and then never returns, so it is not used.)
// A task that does not finish within `limit` aborts the test binary rather than hang it.
template <typename T>
T waitFor(QCoro::Task<T>&& task, std::chrono::milliseconds limit = std::chrono::seconds(120)) {
    QEventLoop loop;
    bool finished = false;
    std::exception_ptr error;
    std::optional<std::conditional_t<std::is_void_v<T>, bool, T>> result;
    auto run = [&]() -> QCoro::Task<> {
        try {
            if constexpr (std::is_void_v<T>) {
                co_await std::move(task);
                result.emplace(true);
            } else {
                result.emplace(co_await std::move(task));
            }
        } catch (...) {
            error = std::current_exception();
        }
        finished = true;
        loop.quit();
    };
    auto runner = run();
    if (!finished) {
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [] { qFatal("a task awaited by a test never finished"); });
        guard.start(limit);
        loop.exec();
    }
    if (error) {
        std::rethrow_exception(error);
    }
    if constexpr (!std::is_void_v<T>) {
        return std::move(*result);
    }
}

// Spins the event loop until `condition` holds or `timeout` passes; answers whether it held.
bool processEventsUntil(const std::function<bool()>& condition,
                        std::chrono::milliseconds timeout = std::chrono::seconds(20));

// Runs every job already posted to the event loop (and those they post), without waiting for timers.
void drainPostedEvents();

// Collects log lines as "[INFO] message" and "[CRITICAL] message", from any thread.
class RecordingLogger final : public LoggerProtocol {
public:
    std::optional<QUrl> logFileURL() const override { return fileURL; }
    void info(const QString& message) override;
    void critical(const QString& message) override;

    QStringList lines() const;
    QStringList criticalLines() const;
    void clear();

    std::optional<QUrl> fileURL;

private:
    mutable QMutex mutex;
    QStringList recorded;
};

// A task that is already finished with `value`.
template <typename T>
QCoro::Task<T> readyTask(T value) {
    co_return value;
}

inline QCoro::Task<> readyTask() {
    co_return;
}

// A task that fails with `error` when awaited.
template <typename T, typename E>
QCoro::Task<T> failingTask(E error) {
    co_await std::suspend_never{};
    throw error;
}

// gmock actions for methods that return tasks.
template <typename T>
auto ReturnTask(T value) {
    return [value](auto&&...) { return readyTask<T>(value); };
}

inline auto ReturnVoidTask() {
    return [](auto&&...) { return readyTask(); };
}

template <typename T, typename E>
auto ThrowTask(E error) {
    return [error](auto&&...) { return failingTask<T>(error); };
}

// Writes an executable shell script into `directory` and answers its path.
QString writeScript(const QTemporaryDir& directory, const QString& name, const QString& body);

// How a child process that a test signalled ended.
struct SignalledRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// A named pipe a child process stops at: the stand-in tools' test gate (TARN_TOOL_GATE), or a command
// that writes a line into it and then reads it. The test learns that the child is there, signals it,
// and lets it go on; no test sleeps to guess when a child got somewhere.
class ProcessGate {
public:
    ProcessGate();

    QString fifo() const { return directory.filePath(QStringLiteral("gate")); }
    // The value of TARN_TOOL_GATE that stops a tool at `point`.
    QString at(const char* point) const { return QLatin1String(point) + u':' + fifo(); }

    // Runs `program` until it reaches the gate, sends `signal` there (to its whole process group, as a
    // terminal's Ctrl+C does, when `wholeGroup`), lets it go on and waits for its end. A child the
    // signal ended reports 128 + the signal, as a shell would; one that never reached the gate, -1.
    SignalledRun runSignalled(const QString& program, const QStringList& arguments,
                              const QProcessEnvironment& environment, int signal, bool wholeGroup = false,
                              std::chrono::milliseconds limit = std::chrono::minutes(3)) const;

private:
    QTemporaryDir directory;
};

} // namespace tarn::test
