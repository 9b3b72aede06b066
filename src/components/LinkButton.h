#pragma once

#include "components/InteractiveButton.h"

namespace tarn {

// A line of underlined text that acts like a web link: the pointing-hand cursor while the pointer is
// over it, a click, Space or Enter activates it, and a focus ring shows when the keyboard is on it.
// Accessible as a link named by its text.
class LinkButton final : public InteractiveButton {
    Q_OBJECT
public:
    // `textKey` is a text id, looked up here and again when the language changes.
    explicit LinkButton(const QString& textKey, QWidget* parent = nullptr);

    QString textKey() const { return key; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QString key;
};

} // namespace tarn
