#pragma once

#include "screens/ConsentScreenView.h"

namespace tarn {

// The legal notice, bound to `isLegalAccepted`.
class LegalNotesScreenView final : public ConsentScreenView {
    Q_OBJECT
public:
    LegalNotesScreenView(Coordinator& coordinator, InstallationViewModel& viewModel, QWidget* parent = nullptr);
};

} // namespace tarn
