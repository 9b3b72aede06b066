#pragma once

#include <QWidget>

class QVariantAnimation;

namespace tarn {

// The busy indicator: the "spinner" image turning clockwise once a second, linearly, from the first
// time it is shown for as long as it exists. Paused while hidden.
class SpinnerView : public QWidget {
    Q_OBJECT
public:
    static constexpr int turnMilliseconds = 1000;

    explicit SpinnerView(int size = 48, QWidget* parent = nullptr);

    QSize sizeHint() const override { return QSize(side, side); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    int side;
    qreal angle = 0;
    QVariantAnimation* animation;
};

} // namespace tarn
