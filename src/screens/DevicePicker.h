#pragma once

#include <QComboBox>

namespace tarn {

// The drop-down of scanner models on the detected screen, drawn for the dark theme: the entries and
// the current one in "Poppins-Regular" 16 and "labelDropdown", a rounded face, a focus ring for the
// keyboard and a chevron.
class DevicePicker final : public QComboBox {
    Q_OBJECT
public:
    static constexpr int pickerWidth = 300;
    static constexpr int faceHeight = 52;

    explicit DevicePicker(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace tarn
