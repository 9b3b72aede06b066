#include "components/Accessibility.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QLocale>
#include <QWidget>

#include <mutex>

namespace tarn {

using namespace Qt::StringLiterals;

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

// A task row: a list item whose value, while it downloads, is its percentage.
class AccessibleTaskRow final : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit AccessibleTaskRow(QWidget* row) : QAccessibleWidget(row, QAccessible::ListItem) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ValueInterface ? static_cast<QAccessibleValueInterface*>(this)
                                                   : QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text kind) const override {
        const QVariant percent = currentValue();
        if (kind == QAccessible::Value && percent.isValid()) {
            const QLocale locale;
            return u"%1 %2"_s.arg(locale.toString(percent.toInt()), locale.percent());
        }
        return QAccessibleWidget::text(kind);
    }

    QVariant currentValue() const override { return widget()->property(accessibleValueProperty); }
    void setCurrentValue(const QVariant&) override {} // read-only
    QVariant maximumValue() const override { return 100; }
    QVariant minimumValue() const override { return 0; }
    QVariant minimumStepSize() const override { return 1; }
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
        return new AccessibleTaskRow(widget);
    }
    return nullptr;
}

} // namespace

void installAccessibleFactories() {
    static std::once_flag installed;
    std::call_once(installed, [] { QAccessible::installFactory(&componentInterface); });
}

} // namespace tarn
