#include "screens/LegalNotesScreenView.h"

namespace tarn {

LegalNotesScreenView::LegalNotesScreenView(Coordinator& coordinator, InstallationViewModel& viewModel, QWidget* parent)
    : ConsentScreenView(coordinator, viewModel, legalContent, parent) {}

} // namespace tarn
