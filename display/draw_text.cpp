#include "display/draw_text.h"

#include <QPainter>
#include <cmath>

DrawText::DrawText(QObject *parent)
    : QObject(parent)
{
}

double DrawText::fittedPointSize(
    const QSizeF &measured, double length, double thickness, double maxPointSize)
{
    const double kw = measured.width() == 0 ? 1.0 : length / measured.width();
    const double kh = measured.height() == 0 ? 1.0 : thickness / measured.height();
    double t = 10.0 * std::min(kw, kh);
    if (maxPointSize > 0 && maxPointSize < t)
        t = maxPointSize;
    return t;
}

QRectF DrawText::drawFitted(QPainter *painter, double angle, const Box &box, const QFont &font,
    int flags, bool fit, const QString &text, double maxPointSize, bool fill,
    const QColor &fillColour)
{
    const double length = std::fabs(box.length);
    const double thickness = std::fabs(box.thickness);

    // The text rectangle lives in the rotated system; its centre is the image
    // of (cx, cy) under the inverse rotation, so on screen it is at (cx, cy).
    const double rad = angle * 3.141592653 / 180.0;
    const double c = std::cos(rad);
    const double s = std::sin(rad);
    const double qx = c * box.cx + s * box.cy;
    const double qy = -s * box.cx + c * box.cy;
    const QRectF textRect(qx - length / 2, qy - thickness / 2, length, thickness);

    painter->save();
    painter->rotate(angle);

    QRectF measured;
    bool drawable = true;
    if (fit) {
        QFont f(font);
        f.setPointSizeF(10);
        painter->setFont(f);
        measured = painter->boundingRect(QRectF(0, 0, 5000, 5000), flags, text);
        const double t = fittedPointSize(measured.size(), length, thickness, maxPointSize);
        // A box without extent leaves nothing to draw into.
        if (t > 0 && std::isfinite(t)) {
            f.setPointSizeF(t);
            painter->setFont(f);
        } else {
            drawable = false;
        }
    } else {
        painter->setFont(font);
    }
    if (fill)
        painter->fillRect(textRect, fillColour);
    if (drawable)
        painter->drawText(textRect, flags, text);

    painter->restore();
    return measured;
}
