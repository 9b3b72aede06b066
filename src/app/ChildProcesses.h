#pragma once

#include <chrono>

namespace tarn {

// Work nobody awaits, such as the detach of a disk image after its package is installed, may still be
// running when the last row ends. Before the process ends, this runs the event loop until no child
// process is left and the code that waited for them has run, or `limit` passes; answers whether they
// all finished. A disk image is then never left attached by an installer that simply exited.
bool waitForChildProcesses(std::chrono::milliseconds limit = std::chrono::seconds(10));

} // namespace tarn
