#include "base/TaskCancellation.h"

#include <qcoro/qcorotimer.h>

namespace tarn {

void TaskCancellation::cancel() {
    cancelled = true;
    // Restarting with no delay fires the timeout the sleeper awaits, which is how it is woken.
    if (timer.isActive()) {
        timer.start(0);
    }
}

QCoro::Task<> TaskCancellation::sleep(std::chrono::milliseconds duration) {
    if (cancelled) {
        co_return;
    }
    timer.setSingleShot(true);
    timer.start(duration);
    co_await timer;
}

} // namespace tarn
