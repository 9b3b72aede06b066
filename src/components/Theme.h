#pragma once

#include <QColor>
#include <QFont>
#include <QRectF>
#include <QString>
#include <QStringList>

#include <optional>

class QPainter;

namespace tarn::theme {

// The colour assets, by the names the screens and components use ("labelText",
// "ButtonPrimaryBackgroundHover", ...). An unknown name answers an invalid colour.
QColor color(QStringView name);
bool hasColor(QStringView name);

// A font of the shipped families by its PostScript name ("Poppins-Medium"). Sizes are points in the
// sense of the layout, one point per device-independent pixel, so text keeps its proportion to the
// 900 by 700 window on every screen density.
QFont font(QStringView postScriptName, qreal size);

// The image assets ("connect", "checkbox-selected-enabled", "arrow.right", ...), drawn as vectors.
QString imagePath(QStringView name);
bool hasImage(QStringView name);

// Draws the image into `target`, scaled to fit and centred, or stretched to fill when `stretch` is
// set. With a tint, every opaque pixel of the image takes that colour (for symbol images).
void drawImage(QPainter& painter, QStringView name, const QRectF& target, bool stretch = false,
               std::optional<QColor> tint = std::nullopt);

} // namespace tarn::theme
