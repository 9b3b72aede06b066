#pragma once

#include "screens/ConsentScreenView.h"

namespace tarn {

// The end-user licence agreement, bound to `isEulaAccepted`.
class EULAScreenView final : public ConsentScreenView {
    Q_OBJECT
public:
    EULAScreenView(Coordinator& coordinator, InstallationViewModel& viewMoldel, QWidget* parent = nullptr);
};

} // namespace tarn
