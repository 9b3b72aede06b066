#include "app/ChildProcesses.h"

#include "workflow/InstallationViewModel.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <sys/wait.h>

namespace tarn {

using namespace Qt::StringLiterals;

bool runEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const QDeadlineTimer deadline(limit);
    // Wakes the dispatcher now and then, so that the deadline is seen without any other event.
    QTimer wake;
    wake.start(10);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return done();
}

bool waitForChildProcesses(std::chrono::milliseconds limit) {
    // Asks without reaping: the children belong to their QProcess objects. Any kind of child counts.
    const auto childrenLeft = [] {
        siginfo_t info = {};
        return ::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT | __WALL) == 0;
    };
    if (childrenLeft()) {
        runEventsUntil([&] { return !childrenLeft(); }, limit);
    }
    // A finished child's awaiting code resumes from a queued call; let that, and what it queues, run.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents();
    return !childrenLeft();
}

bool finishWorkBeforeExit(InstallationViewModel& model, const std::function<void(const QString&)>& say,
                          std::chrono::milliseconds stepLimit) {
    bool stopped = true;
    if (model.isInstallationRunning()) {
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(stepLimit).count();
        say(u"Stopping: waiting up to %1 s for the running installation step to end, then "
            "cleaning up (interrupt again to stop at once)."_s.arg(seconds));
        bool ended = false;
        QCoro::connect(model.stopInstallation(), &model, [&ended] { ended = true; });
        stopped = runEventsUntil([&ended] { return ended; }, stepLimit);
        if (!stopped) {
            say(u"The running installation step did not end in time; exiting without it."_s);
        }
    }
    return waitForChildProcesses() && stopped;
}

} // namespace tarn
