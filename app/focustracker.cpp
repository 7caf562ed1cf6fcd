#include "focustracker.h"

#include "accessibleprogress.h"

#include <QAccessible>
#include <QCoreApplication>
#include <QEvent>

FocusTracker::FocusTracker(QObject* parent) : QObject(parent) {
    QCoreApplication::instance()->installEventFilter(this);
}

void FocusTracker::exposeProgressValue(QQuickItem* ring) {
    exposeProgressBarValue(ring);
}

void FocusTracker::moveAccessibleFocus(QObject* item) {
    if (!item || !QAccessible::isActive())
        return;
    QAccessibleEvent event(item, QAccessible::Focus);
    QAccessible::updateAccessibility(&event);
}

bool FocusTracker::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::KeyPress:
        setKeyboardNavigation(true);
        break;
    case QEvent::MouseButtonPress:
    case QEvent::TouchBegin:
    case QEvent::TabletPress:
        setKeyboardNavigation(false);
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void FocusTracker::setKeyboardNavigation(bool on) {
    if (on == m_keyboardNavigation)
        return;
    m_keyboardNavigation = on;
    emit keyboardNavigationChanged();
}
