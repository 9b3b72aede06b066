#pragma once

namespace tarn {

// The state of one row of the installation task list, as the run sets it and the row draws it.
enum class ToInstallListItemViewState { ready, downloading, installing, failed, done, processing };

} // namespace tarn
