#pragma once

namespace tarn {

// Gives the custom-painted views their accessible roles where QAbstractButton's push-button role does
// not fit (image, busy indicator, list row, link). Buttons and toggles keep theirs. Safe to call often.
void installAccessibleFactories();

} // namespace tarn
