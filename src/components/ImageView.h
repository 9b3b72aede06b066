#pragma once

#include <QWidget>

namespace tarn {

// One image asset, scaled to fit its frame and centred, sharp at every screen density.
class ImageView : public QWidget {
    Q_OBJECT
public:
    explicit ImageView(const QString& imageName, QSize frame, QWidget* parent = nullptr);

    void setImageName(const QString& name);
    QString imageName() const { return name; }

    QSize sizeHint() const override { return frame; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString name;
    QSize frame;
};

} // namespace tarn
