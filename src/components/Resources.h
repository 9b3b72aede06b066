#pragma once

#include "base/Localization.h"

namespace tarn {

// Makes the shipped Poppins faces available under the names the screens use ("Poppins-Medium" ...).
// Answers whether every face was registered. Call once after the application object exists.
bool registerFonts();

} // namespace tarn
