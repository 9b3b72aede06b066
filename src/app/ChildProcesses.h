#pragma once

#include <QString>

#include <chrono>
#include <functional>

namespace tarn {

class InstallationViewModel;

// Runs the main thread's events until `done` answers true or `limit` passes; answers `done()`. Unlike
// QEventLoop::exec it also runs after a termination signal has asked every event loop to end
// (QCoreApplication::exit makes each new one return at once until the application's own loop runs).
bool runEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);

// Work nobody awaits, such as the detach of a disk image after its package is installed, may still be
// running when the last row ends. Before the process ends, this runs the event loop until no child
// process is left and the code that waited for them has run, or `limit` passes; answers whether they
// all finished. A disk image is then never left attached by an installer that simply exited.
bool waitForChildProcesses(std::chrono::milliseconds limit = std::chrono::seconds(10));

// Before the process ends early (a termination signal, or Quit while a run goes on): an installation
// run in progress stops after its running step, which is waited for, with the event loop running, for
// at most `stepLimit`; `say` tells the person why the program does not end at once. The run removes
// its download and gives the administrator grant back; then the children it leaves (the detach of a
// disk image) are waited for. Answers whether everything ended in time.
bool finishWorkBeforeExit(InstallationViewModel& model, const std::function<void(const QString&)>& say,
                          std::chrono::milliseconds stepLimit = std::chrono::minutes(5));

} // namespace tarn
