#pragma once
// The painting area of every picture. It paints a white background and hands
// its painter to the listeners in three layers (background, image, overlays);
// it records mouse activity in its MouseC and keeps the last wheel turn.
#include "display/ch_coord.h"
#include "display/mouse_c.h"

#include <QFrame>

#include <QPainter>

class DispA : public QFrame {
    Q_OBJECT
public:
    explicit DispA(QWidget *parent = nullptr);

    ChCoord &coord() { return coord_; }
    const ChCoord &coord() const { return coord_; }
    MouseC &mouse() { return mouse_; }
    const MouseC &mouse() const { return mouse_; }
    // Notches of the last wheel turn (one notch of a standard wheel is 1.0,
    // positive away from the user) and the zoom factor it stands for.
    double wheelSteps() const { return wheelSteps_; }
    double wheelFactor() const { return wheelFactor_; }

signals:
    void drawImage0(QPainter *p);
    void drawImage1(QPainter *p);
    void drawImage2(QPainter *p);
    void mouseMoved0();
    void mousePressed0();
    void mouseReleased0();
    void mouseDoubleClicked0();
    void wheelMoved0();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    ChCoord coord_;
    MouseC mouse_;
    double wheelSteps_ = 0.0;
    double wheelFactor_ = 1.0;
};
