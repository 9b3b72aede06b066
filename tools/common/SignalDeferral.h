#pragma once

#include "common/ToolError.h"

namespace tarn::tool {

// A termination request (SIGINT, SIGTERM or SIGHUP) that a tool deferred, raised where stopping
// leaves nothing behind: what unwinds with it rolls the tool's work back and removes its staging.
class Interrupted : public ToolError {
public:
    explicit Interrupted(int signalNumber);

    int signalNumber() const { return number; }
    // What a shell reports for a process ended by the signal, so that callers still see it.
    int exitStatus() const { return 128 + number; }

private:
    int number;
};

// While it lives, SIGINT, SIGTERM and SIGHUP no longer end the tool wherever it is (a terminal's
// Ctrl+C reaches every tool of the chain at once): the first one is recorded. The tool stops at its
// next `checkpoint`, before anything is committed, and a step without checkpoints (a commit, a
// detach, a privileged command being waited for) always runs to its end. One per process; the
// previous handling comes back when it ends.
class SignalDeferral {
public:
    SignalDeferral();
    ~SignalDeferral();
    SignalDeferral(const SignalDeferral&) = delete;
    SignalDeferral& operator=(const SignalDeferral&) = delete;

    // The first signal received, 0 before any.
    static int received();
    // A point where stopping is safe: throws `Interrupted` once a signal was received.
    static void checkpoint(const char* point);
    // A point inside a step that must not be cut; only the test gate below stops here.
    static void passing(const char* point);
};

// The test gate: with TARN_TOOL_GATE set to "POINT:FIFO", reaching POINT writes "POINT\n" into the
// FIFO and then waits until something has been written into it and closed again, so that a test
// knows the tool is there and can signal it. Without the variable (always, outside tests) it does
// nothing.
void waitAtGate(const char* point);

} // namespace tarn::tool
