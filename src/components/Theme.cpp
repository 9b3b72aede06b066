#include "components/Theme.h"

#include <QFile>
#include <QHash>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <memory>

namespace tarn::theme {

using namespace Qt::StringLiterals;

namespace {

struct NamedColor {
    const char* name;
    QRgb value; // with alpha
};

// Calm dark-blue scheme: white text on a navy gradient, one blue accent, green and coral for outcomes.
constexpr NamedColor colorTable[] = {
        {"ButtonPrimaryBackgroundBase", 0xFF3D8BFF},
        {"ButtonPrimaryBackgroundHover", 0xFF5E9FFF},
        {"ButtonPrimaryBackgroundDisabled", 0xFF2A4468},
        {"ButtonPrimaryTextBase", 0xFFFFFFFF},
        {"ButtonPrimaryTextHover", 0xFFFFFFFF},
        {"ButtonPrimaryTextDisabled", 0xFF8193AC},
        {"ButtonPrimaryDestructiveBackgroundBase", 0xFFD9404F},
        {"ButtonPrimaryDestructiveBackgroundHover", 0xFFE85D6A},
        {"ButtonPrimaryDestructiveBackgroundDisabled", 0xFF5A3244},
        {"ButtonPrimaryDestructiveTextBase", 0xFFFFFFFF},
        {"ButtonPrimaryDestructiveTextHover", 0xFFFFFFFF},
        {"ButtonPrimaryDestructiveTextDisabled", 0xFFA58A98},
        {"ButtonSecondaryBackgroundBase", 0xFFE6EEF8},
        {"ButtonSecondaryBackgroundHover", 0xFF8FC8FF},
        {"ButtonSecondaryBackgroundDisabled", 0xFF3F5473},
        {"ButtonSecondaryTextBase", 0xFFFFFFFF},
        {"ButtonSecondaryTextHover", 0xFF8FC8FF},
        {"ButtonSecondaryTextDisabled", 0xFF62748F},
        {"ButtonTernaryBackgroundBase", 0x1FFFFFFF},
        {"ButtonTernaryBackgroundHover", 0x38FFFFFF},
        {"ButtonTernaryBackgroundDisabled", 0x0FFFFFFF},
        {"ButtonTernaryTextBase", 0xFFE6EEF8},
        {"ButtonTernaryTextHover", 0xFFFFFFFF},
        {"ButtonTernaryTextDisabled", 0xFF62748F},
        {"CheckboxTitleDisabled", 0xFF7A8CA6},
        {"LabelTrialSoftware", 0xFFFFC857},
        {"labelText", 0xFFFFFFFF},
        {"LabelDownloadInProgress", 0xFF8FC8FF},
        {"LabelDownloadDone", 0xFF4BDDA1},
        {"LabelDownloadFailure", 0xFFFF7A7A},
        // The download bar under a row and its figures.
        {"DownloadProgressTrack", 0x33FFFFFF},
        {"DownloadProgressDetail", 0xFFB7C7DD},
        {"TitleDeviceDetected", 0xFF6FC3FF},
        {"labelDropdown", 0xFFFFFFFF},
        {"legalContent", 0xFFDCE5F2},
        // Keyboard focus ring of the custom controls.
        {"FocusRing", 0xFFB8DCFF},
};

const NamedColor* findColor(QStringView name) {
    const auto found = std::find_if(std::begin(colorTable), std::end(colorTable),
                                    [&](const NamedColor& entry) { return name == QLatin1String(entry.name); });
    return found == std::end(colorTable) ? nullptr : found;
}

struct WeightName {
    const char* style;
    QFont::Weight weight;
};

constexpr WeightName weightNames[] = {
        {"Thin", QFont::Thin},           {"ExtraLight", QFont::ExtraLight}, {"Light", QFont::Light},
        {"Regular", QFont::Normal},      {"Roman", QFont::Normal},          {"Book", QFont::Normal},
        {"Medium", QFont::Medium},       {"SemiBold", QFont::DemiBold},     {"Bold", QFont::Bold},
        {"ExtraBold", QFont::ExtraBold}, {"Black", QFont::Black},
};

QSvgRenderer* renderer(QStringView name) {
    // Parsed once per image; the GUI thread is the only caller.
    static QHash<QString, std::shared_ptr<QSvgRenderer>> cache;
    const QString key = name.toString();
    auto found = cache.constFind(key);
    if (found == cache.constEnd()) {
        auto parsed = std::make_shared<QSvgRenderer>(imagePath(name));
        found = cache.insert(key, parsed->isValid() ? parsed : nullptr);
    }
    return found->get();
}

QRectF fitted(const QSizeF& natural, const QRectF& target) {
    if (natural.isEmpty()) {
        return target;
    }
    const QSizeF scaled = natural.scaled(target.size(), Qt::KeepAspectRatio);
    return QRectF(target.center() - QPointF(scaled.width() / 2, scaled.height() / 2), scaled);
}

} // namespace

QColor color(QStringView name) {
    const NamedColor* entry = findColor(name);
    return entry ? QColor::fromRgba(entry->value) : QColor();
}

bool hasColor(QStringView name) {
    return findColor(name) != nullptr;
}

QFont font(QStringView postScriptName, qreal size) {
    // "Family-Style" when the part after the last dash names a weight and/or a slant
    // ("Poppins-Medium", "Helvetica-BoldOblique"); otherwise the whole name is the family.
    QString family = postScriptName.toString();
    QFont::Weight weight = QFont::Normal;
    bool italic = false;
    const qsizetype dash = postScriptName.lastIndexOf(u'-');
    if (dash > 0) {
        QStringView style = postScriptName.mid(dash + 1);
        bool slanted = false;
        for (const char* slant : {"Italic", "Oblique"}) {
            if (style.endsWith(QLatin1String(slant))) {
                style.chop(qsizetype(qstrlen(slant)));
                slanted = true;
            }
        }
        const auto named = std::find_if(std::begin(weightNames), std::end(weightNames),
                                        [&](const WeightName& entry) { return style == QLatin1String(entry.style); });
        if (named != std::end(weightNames) || (style.isEmpty() && slanted)) {
            family = postScriptName.left(dash).toString();
            weight = named != std::end(weightNames) ? named->weight : QFont::Normal;
            italic = slanted;
        }
    }

    QFont result(family);
    result.setPixelSize(std::max(1, static_cast<int>(std::lround(size))));
    result.setWeight(weight);
    result.setItalic(italic);
    return result;
}

QString imagePath(QStringView name) {
    return u":/images/%1.svg"_s.arg(name);
}

bool hasImage(QStringView name) {
    return renderer(name) != nullptr;
}

void drawImage(QPainter& painter, QStringView name, const QRectF& target, bool stretch, std::optional<QColor> tint) {
    QSvgRenderer* svg = renderer(name);
    if (!svg || target.isEmpty()) {
        return;
    }
    const QRectF area = stretch ? target : fitted(svg->defaultSize(), target);
    if (!tint) {
        svg->render(&painter, area);
        return;
    }
    // Tinting needs the image's own alpha, so it is drawn into a buffer at the painter's density first.
    const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    QImage buffer((area.size() * ratio).toSize().expandedTo(QSize(1, 1)), QImage::Format_ARGB32_Premultiplied);
    buffer.setDevicePixelRatio(ratio);
    buffer.fill(Qt::transparent);
    {
        QPainter bufferPainter(&buffer);
        bufferPainter.setRenderHint(QPainter::Antialiasing);
        svg->render(&bufferPainter, QRectF(QPointF(0, 0), area.size()));
        bufferPainter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        bufferPainter.fillRect(QRectF(QPointF(0, 0), area.size()), *tint);
    }
    painter.drawImage(area.topLeft(), buffer);
}

} // namespace tarn::theme
