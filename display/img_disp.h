#pragma once
// An image display: an 8-bit grey picture drawn from a view rectangle of the
// image stretched onto the whole area, zoomed about the mouse by the wheel,
// panned by a plain left drag, with point picking by click and saving of the
// visible part. The owner fills image() and then calls newImage().
#include "display/disp_a_w_layout.h"
#include "display/mouse_c.h"

#include <QImage>
#include <QRectF>

class ChCoord;

class ImgDisp : public DispAWLayout {
    Q_OBJECT
public:
    explicit ImgDisp(QWidget *parent = nullptr);

    QImage &image() { return image_; }
    const QImage &image() const { return image_; }
    // Part of the image shown, in image pixels (x right, y down).
    const QRectF &view() const { return view_; }
    // A press released at most this many pixels (in x and in y) from where
    // it began is a click; farther away it was a pan.
    static constexpr int clickSlop = 4;
    bool viewSet() const { return viewSet_; }

signals:
    void newPos(int ix, int iy);
    void newS(QRectF s);
    void selectedAPoint(double x, double y, MouseC::MStat s);

public slots:
    void onWheelMoved();
    void onMouseMoved();
    void onMousePressed();
    void onMouseReleased();
    void draw(QPainter *p);
    void newImage();
    void resetScale();
    void saveImage(QString fname);

protected:
    // Whether the last press and release were a click rather than a pan.
    bool isClick() const;
    // Makes the area's mapping cover the view: pixel (0, 0) is image point
    // (view.x, view.y), the bottom-right corner (view.x + w, view.y + h).
    void setRangeFromView();

    MouseC &mouse;
    ChCoord &coord;

private:
    bool viewSet_ = false;
    QRectF view_;
    QImage image_;
};
