#pragma once

#include <QProcess>

#include <coroutine>

namespace tarn {

// Suspends until the process reports its next state change. The resumption is queued, so it runs
// outside QProcess's own code and the process may be destroyed as soon as the awaiting code is done.
// (QCoro's signal awaiter trips over the private-signal tag of QProcess's signals.)
class NextStateChange {
public:
    explicit NextStateChange(QProcess& process) : process(process) {}

    bool await_ready() const noexcept { return process.state() == QProcess::NotRunning; }
    void await_suspend(std::coroutine_handle<> awaiting) {
        connection = QObject::connect(
                &process, &QProcess::stateChanged, &process,
                [this, awaiting](QProcess::ProcessState) {
                    QObject::disconnect(connection);
                    awaiting.resume();
                },
                Qt::QueuedConnection);
    }
    void await_resume() const noexcept {}

private:
    QProcess& process;
    QMetaObject::Connection connection;
};

} // namespace tarn
