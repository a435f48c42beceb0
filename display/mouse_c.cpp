#include "display/mouse_c.h"

#include <QMouseEvent>

namespace {
QPoint truncatedPos(const QMouseEvent *event)
{
    const QPointF p = event->position();
    return QPoint(int(p.x()), int(p.y()));
}
} // namespace

MouseC::MouseC(QObject *parent)
    : QObject(parent)
{
}

MouseC::MStat MouseC::mStat(Qt::MouseButton button, Qt::KeyboardModifiers modifiers)
{
    // Indexed by Shift | Ctrl << 1 | Alt << 2; the codes order the key
    // combinations by how many keys are held.
    static const int byKeys[8] = { 0, 1, 2, 4, 3, 5, 6, 7 };
    const int keys = (modifiers.testFlag(Qt::ShiftModifier) ? 1 : 0)
        | (modifiers.testFlag(Qt::ControlModifier) ? 2 : 0)
        | (modifiers.testFlag(Qt::AltModifier) ? 4 : 0);
    if (button == Qt::LeftButton)
        return MStat(byKeys[keys]);
    if (button == Qt::RightButton)
        return MStat(8 + byKeys[keys]);
    return OtherButton;
}

bool MouseC::noModifierKeys(Qt::KeyboardModifiers modifiers)
{
    return !(modifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier));
}

void MouseC::recordMove(const QMouseEvent *event)
{
    prevPos = pos;
    pos = truncatedPos(event);
    button = event->button();
    modifiers = event->modifiers();
    emit mMoved();
}

void MouseC::recordPress(const QMouseEvent *event)
{
    prevPos = pos;
    pos = pressPos = truncatedPos(event);
    pressed = true;
    button = pressButton = event->button();
    modifiers = pressModifiers = event->modifiers();
    emit mPressed();
}

void MouseC::recordRelease(const QMouseEvent *event)
{
    prevPos = pos;
    pos = releasePos = truncatedPos(event);
    pressed = false;
    button = releaseButton = event->button();
    modifiers = releaseModifiers = event->modifiers();
    emit mReleased();
}

void MouseC::recordDoubleClick(const QMouseEvent *event)
{
    // pos and prevPos stay: a following move measures from before the click.
    dClickPos = truncatedPos(event);
    button = dClickButton = event->button();
    modifiers = dClickModifiers = event->modifiers();
    emit mDClicked();
}
