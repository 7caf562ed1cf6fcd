#pragma once
// Keyboard and screen reader focus for the wizard's QML, element FocusTracker
// of the module installator 1.0 (one in the main window).

#include <QObject>

class QQuickItem;

class FocusTracker : public QObject {
    Q_OBJECT
    // True from a key press on, false again after a pointer press: focus is
    // drawn only for people who move it with the keyboard, so that a mouse
    // user sees the pages as they are.
    Q_PROPERTY(bool keyboardNavigation READ keyboardNavigation NOTIFY keyboardNavigationChanged)

public:
    // Watches the whole application's input from now on.
    explicit FocusTracker(QObject* parent = nullptr);

    bool keyboardNavigation() const { return m_keyboardNavigation; }

    // Tells assistive technology that its focus is now on item (a page's
    // title), without taking the keyboard focus from where it is: a screen
    // reader reads the new page's title, and keys still go to its button.
    Q_INVOKABLE void moveAccessibleFocus(QObject* item);

    // Gives a progress ring the screen reader view of a progress bar with its
    // minimum, maximum and current value, which Qt Quick's own lacks.
    Q_INVOKABLE void exposeProgressValue(QQuickItem* ring);

signals:
    void keyboardNavigationChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setKeyboardNavigation(bool on);

    bool m_keyboardNavigation = false;
};
