#include "components/ImageView.h"

#include "components/Accessibility.h"
#include "components/Theme.h"

#include <QPainter>

namespace tarn {

ImageView::ImageView(const QString& imageName, QSize frame, QWidget* parent)
    : QWidget(parent), name(imageName), frame(frame) {
    installAccessibleFactories();
    setFixedSize(frame);
}

void ImageView::setImageName(const QString& imageName) {
    if (name != imageName) {
        name = imageName;
        update();
    }
}

void ImageView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    theme::drawImage(painter, name, rect());
}

} // namespace tarn
