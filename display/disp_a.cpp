#include "display/disp_a.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

DispA::DispA(QWidget *parent)
    : QFrame(parent)
{
    setFrameShape(QFrame::StyledPanel);
    setMouseTracking(true);
}

void DispA::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    // Pixel y grows downwards from the top edge.
    coord_.setPixelArea(0, height(), width(), 0);
    emit drawImage0(&p);
    emit drawImage1(&p);
    emit drawImage2(&p);
}

void DispA::mouseMoveEvent(QMouseEvent *event)
{
    // Alt held lets the mouse travel without disturbing the display.
    if (event->modifiers().testFlag(Qt::AltModifier)) {
        event->ignore();
        return;
    }
    mouse_.recordMove(event);
    emit mouseMoved0();
    update();
}

void DispA::mousePressEvent(QMouseEvent *event)
{
    mouse_.recordPress(event);
    emit mousePressed0();
}

void DispA::mouseReleaseEvent(QMouseEvent *event)
{
    mouse_.recordRelease(event);
    emit mouseReleased0();
}

void DispA::mouseDoubleClickEvent(QMouseEvent *event)
{
    mouse_.recordDoubleClick(event);
    emit mouseDoubleClicked0();
}

void DispA::wheelEvent(QWheelEvent *event)
{
    // A purely sideways turn (tilted wheel, horizontal swipe) carries no
    // vertical steps; it must not count as a turn away from the user.
    if (event->angleDelta().y() == 0) {
        event->ignore();
        return;
    }
    // angleDelta is in eighths of a degree; a standard notch is 15 degrees.
    wheelSteps_ = event->angleDelta().y() * 0.125 / 15.0;
    wheelFactor_ = wheelSteps_ < 0 ? 1.1 : 0.9090909090909091;
    emit wheelMoved0();
}
