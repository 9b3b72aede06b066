#include "screens/LegalNotesScreenView.h"

#include "screens/ViewExt.h"

namespace tarn {

LegalNotesScreenView::LegalNotesScreenView(Coordinator& coordinator, InstallationViewModel& viewModel, QWidget* parent)
    : ConsentScreenView(coordinator, viewModel,
                        {QStringLiteral("legal.title"), QStringLiteral("legal.accept"),
                         &InstallationViewModel::isLegalAccepted, &loadLegalNotice, Coordinator::Screen::deviceConnect},
                        parent) {}

} // namespace tarn
