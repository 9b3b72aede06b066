#pragma once

#include <QWidget>

#include <optional>

class QVariantAnimation;

namespace tarn {

// The thin bar under a downloading row: filled to the fraction, or, without a known length, a short
// segment sliding along the track so that the row still shows that something moves.
class DownloadProgressBar : public QWidget {
    Q_OBJECT
public:
    static constexpr int barHeight = 6;
    static constexpr int slideMilliseconds = 1400;

    explicit DownloadProgressBar(QWidget* parent = nullptr);

    // From 0 to 1, or none for an indeterminate bar.
    void setFraction(std::optional<double> fraction);

    QSize sizeHint() const override { return QSize(240, barHeight); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void updateAnimation();

    std::optional<double> value;
    qreal slidePosition = 0;
    QVariantAnimation* animation;
};

} // namespace tarn
