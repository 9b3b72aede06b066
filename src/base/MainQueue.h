#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>

#include <coroutine>
#include <functional>

namespace tarn {

// Runs `job` on a later turn of the context's thread's event loop, after every job posted before it.
// A job whose context is destroyed first never runs.
inline void postToMainQueue(QObject* context, std::function<void()> job) {
    QMetaObject::invokeMethod(context, std::move(job), Qt::QueuedConnection);
}

// `co_await nextMainQueueTurn()` resumes the coroutine from a job posted to the main queue, so every
// job posted before the await has run when it continues. The application object is the context: it
// outlives every caller, so the coroutine is always resumed (callers check their own lifetime after).
class MainQueueTurn {
public:
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> continuation) const {
        postToMainQueue(QCoreApplication::instance(), [continuation] { continuation.resume(); });
    }
    void await_resume() const noexcept {}
};

inline MainQueueTurn nextMainQueueTurn() {
    return {};
}

} // namespace tarn
