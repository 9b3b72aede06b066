#include "screens/EULAScreenView.h"

#include "screens/ViewExt.h"

namespace tarn {

EULAScreenView::EULAScreenView(Coordinator& coordinator, InstallationViewModel& viewMoldel, QWidget* parent)
    : ConsentScreenView(coordinator, viewMoldel,
                        {QStringLiteral("eula.title"), QStringLiteral("eula.accept"),
                         &InstallationViewModel::isEulaAccepted, &loadEULA, Coordinator::Screen::legal},
                        parent) {}

} // namespace tarn
