#include "app/ChildProcesses.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <sys/wait.h>

namespace tarn {

bool waitForChildProcesses(std::chrono::milliseconds limit) {
    // Asks without reaping: the children belong to their QProcess objects. Any kind of child counts.
    const auto childrenLeft = [] {
        siginfo_t info = {};
        return ::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT | __WALL) == 0;
    };
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (!childrenLeft()) {
            loop.quit();
        }
    });
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    if (childrenLeft()) {
        poll.start(10);
        deadline.start(limit);
        loop.exec();
    }
    // A finished child's awaiting code resumes from a queued call; let that, and what it queues, run.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents();
    return !childrenLeft();
}

} // namespace tarn
