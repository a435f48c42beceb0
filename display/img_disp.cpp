#include "display/img_disp.h"

#include "display/disp_a.h"

#include <QDebug>
#include <QPainter>
#include <climits>
#include <cmath>
#include <cstdlib>

namespace {
// Truncation towards zero; a value outside the 32-bit range (or not a number)
// gives the smallest 32-bit integer.
int truncToInt(double v)
{
    if (!(v > double(INT_MIN) - 1.0 && v < double(INT_MAX) + 1.0))
        return INT_MIN;
    return int(v);
}
} // namespace

ImgDisp::ImgDisp(QWidget *parent)
    : DispAWLayout(parent)
    , mouse(dispA()->mouse())
    , coord(dispA()->coord())
{
    connect(this, &DispAWLayout::wheelMoved0, this, &ImgDisp::onWheelMoved);
    connect(this, &DispAWLayout::mouseMoved0, this, &ImgDisp::onMouseMoved);
    connect(this, &DispAWLayout::mousePressed0, this, &ImgDisp::onMousePressed);
    connect(this, &DispAWLayout::mouseReleased0, this, &ImgDisp::onMouseReleased);
    connect(this, &DispAWLayout::drawImage1, this, &ImgDisp::draw);
    setMouseTracking(true);
    dispA()->setMouseTracking(true);
}

void ImgDisp::setRangeFromView()
{
    // The pixel area is refreshed at every paint too; setting it here keeps
    // mouse conversions right between a resize and the next paint.
    const DispA *a = dispA();
    coord.setPixelArea(0, a->height(), a->width(), 0);
    coord.setRange(view_.x(), view_.y() + view_.height(), view_.x() + view_.width(), view_.y());
}

void ImgDisp::onWheelMoved()
{
    const DispA *a = dispA();
    const double w = a->width();
    const double h = a->height();
    if (w <= 0 || h <= 0)
        return;
    setRangeFromView();
    const double f = a->wheelFactor();
    const double px = mouse.pos.x();
    const double py = mouse.pos.y();
    const double dx = coord.pixelToDataX(px);
    const double dy = coord.pixelToDataY(py);
    // Scale the view about the image point under the mouse, which stays put.
    const double nw = view_.width() * f;
    const double nh = view_.height() * f;
    view_ = QRectF(dx - px / w * nw, dy - py / h * nh, nw, nh);
    setRangeFromView();
    emit newS(view_);
    dispA()->update();
}

void ImgDisp::onMouseMoved()
{
    setRangeFromView();
    const double x = coord.pixelToDataX(mouse.pos.x());
    const double y = coord.pixelToDataY(mouse.pos.y());
    emit newPos(truncToInt(x), truncToInt(y));
    if (!mouse.pressed)
        return;
    if (mouse.pressButton == Qt::LeftButton && MouseC::noModifierKeys(mouse.pressModifiers)) {
        // The image follows the mouse.
        view_.translate(
            coord.pixelToDataX(mouse.prevPos.x()) - x, coord.pixelToDataY(mouse.prevPos.y()) - y);
        setRangeFromView();
        emit newS(view_);
    }
    dispA()->update();
}

void ImgDisp::onMousePressed()
{
    setRangeFromView();
    dispA()->update();
}

bool ImgDisp::isClick() const
{
    const QPoint moved = mouse.releasePos - mouse.pressPos;
    return std::abs(moved.x()) <= clickSlop && std::abs(moved.y()) <= clickSlop;
}

void ImgDisp::onMouseReleased()
{
    const MouseC::MStat s = mouse.pressStat();
    // A press released away from where it began was a pan, and a point
    // outside the image (the background of a zoomed-out view) is no point
    // of it: neither picks anything.
    if ((s == MouseC::Left || s == MouseC::Right) && isClick()) {
        setRangeFromView();
        const double x = coord.pixelToDataX(mouse.pos.x());
        const double y = coord.pixelToDataY(mouse.pos.y());
        if (x >= 0 && y >= 0 && x < image_.width() && y < image_.height())
            emit selectedAPoint(x, y, s);
    }
    dispA()->update();
}

void ImgDisp::draw(QPainter *p)
{
    if (image_.isNull())
        return;
    // The view is stretched onto the whole area; parts of it outside the
    // image leave the background showing.
    const DispA *a = dispA();
    p->drawImage(QRectF(0, 0, a->width(), a->height()), image_, view_);
}

void ImgDisp::newImage()
{
    if (qint64(image_.width()) * image_.height() < 1)
        return;
    if (!viewSet_) {
        view_ = QRectF(0, 0, image_.width(), image_.height());
        setRangeFromView();
        viewSet_ = true;
        emit newS(view_);
    }
    dispA()->update();
}

void ImgDisp::resetScale()
{
    view_ = QRectF(0, 0, image_.width(), image_.height());
    setRangeFromView();
    dispA()->update();
}

void ImgDisp::saveImage(QString fname)
{
    const QRect part(truncToInt(view_.x()), truncToInt(view_.y()), truncToInt(view_.width()),
        truncToInt(view_.height()));
    const QImage cut = image_.copy(part);
    if (cut.isNull() || !cut.save(fname))
        qDebug() << "Can not save image" << fname;
}
