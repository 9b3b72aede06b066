#pragma once

namespace tarn {

// What the navigation asks of the window system. The application shell implements it; tests
// record the calls.
class WindowHost {
public:
    virtual ~WindowHost() = default;

    // Asks the application to end. The shell's termination check decides whether it does.
    virtual void requestTermination() = 0;
};

} // namespace tarn
