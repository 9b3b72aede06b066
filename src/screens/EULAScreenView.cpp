#include "screens/EULAScreenView.h"

namespace tarn {

EULAScreenView::EULAScreenView(Coordinator& coordinator, InstallationViewModel& viewMoldel, QWidget* parent)
    : ConsentScreenView(coordinator, viewMoldel, eulaContent, parent) {}

} // namespace tarn
