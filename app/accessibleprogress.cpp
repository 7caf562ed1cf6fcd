#include "accessibleprogress.h"

#include <QAccessibleObject>
#include <QQuickItem>
#include <QQuickWindow>

namespace {

class AccessibleProgressRing : public QAccessibleObject, public QAccessibleValueInterface {
public:
    explicit AccessibleProgressRing(QQuickItem* ring) : QAccessibleObject(ring) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ValueInterface ? static_cast<QAccessibleValueInterface*>(this)
                                                   : nullptr;
    }

    QWindow* window() const override { return item()->window(); }
    // Qt Quick hangs an accessible item under its nearest accessible
    // ancestor item, or under the window; a parent that does not list the
    // ring as its child makes a screen reader take the ring for a dead one.
    QAccessibleInterface* parent() const override {
        for (QQuickItem* up = item()->parentItem(); up; up = up->parentItem()) {
            if (QAccessibleInterface* ancestor = QAccessible::queryAccessibleInterface(up))
                return ancestor;
        }
        return item()->window() ? QAccessible::queryAccessibleInterface(item()->window()) : nullptr;
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessible::Role role() const override { return QAccessible::ProgressBar; }

    QAccessible::State state() const override {
        QAccessible::State state;
        state.invisible = !item()->isVisible();
        state.readOnly = true;
        return state;
    }

    QRect rect() const override {
        QQuickWindow* window = item()->window();
        if (!window)
            return QRect();
        const QRectF scene =
            item()->mapRectToScene(QRectF(0, 0, item()->width(), item()->height()));
        return QRect(window->mapToGlobal(scene.topLeft().toPoint()), scene.size().toSize());
    }

    // What the QML sets as Accessible.name and Accessible.description.
    QString text(QAccessible::Text kind) const override {
        QObject* attached = accessibleAttached();
        if (!attached)
            return QString();
        switch (kind) {
        case QAccessible::Name:
            return attached->property("name").toString();
        case QAccessible::Description:
            return attached->property("description").toString();
        default:
            return QString();
        }
    }

    QVariant currentValue() const override { return item()->property("value"); }
    // Read only: the transfer sets the value.
    void setCurrentValue(const QVariant&) override {}
    QVariant maximumValue() const override { return item()->property("maximumValue"); }
    QVariant minimumValue() const override { return item()->property("minimumValue"); }
    QVariant minimumStepSize() const override { return QVariant(); }

private:
    QQuickItem* item() const { return static_cast<QQuickItem*>(object()); }

    QObject* accessibleAttached() const {
        for (QObject* child : object()->children()) {
            if (child->inherits("QQuickAccessibleAttached"))
                return child;
        }
        return nullptr;
    }
};

} // namespace

void exposeProgressBarValue(QQuickItem* ring) {
    if (!ring)
        return;
    // Qt Quick makes its view of an item when the item is created; the view
    // is replaced in the cache that every query of the item goes through.
    if (QAccessibleInterface* current = QAccessible::queryAccessibleInterface(ring))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(current));
    QAccessible::registerAccessibleInterface(new AccessibleProgressRing(ring));
}
