#include "components/Accessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QWidget>

#include <mutex>

namespace tarn {
namespace {

QAccessibleInterface* componentInterface(const QString& className, QObject* object) {
    if (!object || !object->isWidgetType()) {
        return nullptr;
    }
    auto* widget = static_cast<QWidget*>(object);
    if (className == QLatin1String("tarn::SpinnerView")) {
        return new QAccessibleWidget(widget, QAccessible::Animation);
    }
    if (className == QLatin1String("tarn::ImageView")) {
        return new QAccessibleWidget(widget, QAccessible::Graphic);
    }
    if (className == QLatin1String("tarn::ToInstallListItemView")) {
        return new QAccessibleWidget(widget, QAccessible::ListItem);
    }
    return nullptr;
}

} // namespace

void installAccessibleFactories() {
    static std::once_flag installed;
    std::call_once(installed, [] { QAccessible::installFactory(&componentInterface); });
}

} // namespace tarn
