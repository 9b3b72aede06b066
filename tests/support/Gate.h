#pragma once

#include <QObject>
#include <qcoro/qcorosignal.h>
#include <qcoro/qcorotask.h>

namespace tarn::test {

// A switch a test opens by hand; tasks built with `afterGate` finish only then.
class Gate final : public QObject {
    Q_OBJECT
public:
    void open() { Q_EMIT opened(); }
Q_SIGNALS:
    void opened();
};

template <typename T>
QCoro::Task<T> afterGate(Gate* gate, T value) {
    co_await qCoro(gate, &Gate::opened);
    co_return value;
}

inline QCoro::Task<> afterGate(Gate* gate) {
    co_await qCoro(gate, &Gate::opened);
}

} // namespace tarn::test
