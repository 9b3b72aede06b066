#include "components/Accessibility.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QWidget>

#include <mutex>

namespace tarn {
namespace {

// A link that a screen reader can follow: named by its text, with the press action.
class AccessibleLink final : public QAccessibleWidget {
public:
    explicit AccessibleLink(QAbstractButton* button) : QAccessibleWidget(button, QAccessible::Link) {}

    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Name && widget()->accessibleName().isEmpty()) {
            return static_cast<QAbstractButton*>(widget())->text();
        }
        return QAccessibleWidget::text(kind);
    }
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& actionName) override {
        if (actionName == pressAction()) {
            static_cast<QAbstractButton*>(widget())->click();
        }
    }
};

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
    if (className == QLatin1String("tarn::LinkButton")) {
        return new AccessibleLink(static_cast<QAbstractButton*>(widget));
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
