#pragma once

#include <QAbstractButton>

class QPainter;

namespace tarn {

// What the window's buttons share: Return and Enter click them like Space, as the platform's buttons
// do, and they know whether the pointer is over them, which their look follows.
class InteractiveButton : public QAbstractButton {
    Q_OBJECT
public:
    using QAbstractButton::QAbstractButton;

    bool isHovered() const { return hovered; }

protected:
    // Called after the pointer came or went; repaints unless the button has more to do.
    virtual void hoverChanged() { update(); }
    // The keyboard focus ring: a line of the "FocusRing" colour just inside `bounds`.
    static void drawFocusRing(QPainter& painter, const QRectF& bounds, qreal cornerRadius);

    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool hovered = false;
};

} // namespace tarn
