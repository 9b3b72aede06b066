#pragma once

#include <QObject>

#include <memory>

class QSocketNotifier;

namespace tarn {

// Turns SIGINT, SIGTERM and SIGHUP (a closed terminal) into an orderly end while it lives: every event
// loop of the main thread is left with the exit status 128 + the signal's number, so the code after
// them and the destructors still run (the demo removes its sandbox; an installation run stops after
// its running step, see finishWorkBeforeExit). The same signal a second time takes the default action, so
// a shutdown that hangs can still be interrupted. One at a time; needs an application object.
class TerminationSignals final : public QObject {
    Q_OBJECT
public:
    TerminationSignals();
    ~TerminationSignals() override;

    // The number of the signal received, 0 before any.
    int received() const { return signalNumber; }

private:
    void readSignal();

    std::unique_ptr<QSocketNotifier> notifier;
    int signalNumber = 0;
};

} // namespace tarn
