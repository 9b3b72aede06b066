#pragma once

#include <QTimer>
#include <qcoro/qcorotask.h>

#include <chrono>

namespace tarn {

// Cooperative cancellation of one main-thread task: a flag the task checks, and a sleep that ends
// early once the flag is raised. A QCoro task cannot be stopped from outside, so this is how one
// task ends another. Main thread only; must outlive the sleep in progress.
class TaskCancellation {
public:
    bool isCancelled() const { return cancelled; }

    // Raises the flag; a sleep in progress ends on the next turn of the event loop.
    void cancel();

    // Sleeps for `duration`, less when cancelled meanwhile; returns at once when already cancelled.
    QCoro::Task<> sleep(std::chrono::milliseconds duration);

private:
    bool cancelled = false;
    QTimer timer;
};

} // namespace tarn
