#pragma once

namespace tarn {

// Gives the custom-painted views that are not buttons their accessible roles (image, busy
// indicator, list row). Buttons and toggles get theirs from QAbstractButton. Safe to call often.
void installAccessibleFactories();

} // namespace tarn
