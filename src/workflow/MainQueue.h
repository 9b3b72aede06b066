#pragma once

#include <QMetaObject>
#include <QObject>

#include <functional>

namespace tarn {

// Runs `job` on a later turn of the context's thread's event loop, after every job posted before it.
// A job whose context is destroyed first never runs.
inline void postToMainQueue(QObject* context, std::function<void()> job) {
    QMetaObject::invokeMethod(context, std::move(job), Qt::QueuedConnection);
}

} // namespace tarn
