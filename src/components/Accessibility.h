#pragma once

namespace tarn {

// Gives the custom-painted views their accessible roles where QAbstractButton's push-button role does
// not fit (image, busy indicator, list row, link). Buttons and toggles keep theirs. Safe to call often.
void installAccessibleFactories();

// A widget property holding a list row's current value as a whole percent (an int), or nothing: the
// row's accessible interface reports it as its value, so a screen reader reads "34 %" for a download.
inline constexpr char accessibleValueProperty[] = "tarnAccessibleValue";

} // namespace tarn
