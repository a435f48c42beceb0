#pragma once
// Sends real mouse and wheel events to a widget, with modifier keys, the way
// the window system delivers them.
#include <QApplication>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QWidget>

namespace testmouse {

inline void send(QWidget *w, QEvent::Type type, QPointF pos, Qt::MouseButton button,
    Qt::MouseButtons buttons, Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    QMouseEvent e(type, pos, w->mapToGlobal(pos), button, buttons, mods);
    QApplication::sendEvent(w, &e);
}

inline void move(QWidget *w, QPointF pos, Qt::MouseButtons buttons = Qt::NoButton,
    Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    send(w, QEvent::MouseMove, pos, Qt::NoButton, buttons, mods);
}

inline void press(QWidget *w, QPointF pos, Qt::MouseButton b = Qt::LeftButton,
    Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    send(w, QEvent::MouseButtonPress, pos, b, b, mods);
}

inline void release(QWidget *w, QPointF pos, Qt::MouseButton b = Qt::LeftButton,
    Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    send(w, QEvent::MouseButtonRelease, pos, b, Qt::NoButton, mods);
}

inline void click(QWidget *w, QPointF pos, Qt::MouseButton b = Qt::LeftButton,
    Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    press(w, pos, b, mods);
    release(w, pos, b, mods);
}

// angleDelta in eighths of a degree: 120 is one notch away from the user.
inline void wheel(QWidget *w, QPointF pos, int angleDelta)
{
    QWheelEvent e(pos, w->mapToGlobal(pos), QPoint(), QPoint(0, angleDelta), Qt::NoButton,
        Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &e);
}

} // namespace testmouse
