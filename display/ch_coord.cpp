#include "display/ch_coord.h"

ChCoord::ChCoord(QObject *parent)
    : QObject(parent)
{
}

void ChCoord::setPixelArea(double x0, double yBottom, double x1, double yTop)
{
    plotArea = Area { x0, x1, yBottom, yTop };
}

void ChCoord::setRange(double x0, double yBottom, double x1, double yTop)
{
    range = Area { x0, x1, yBottom, yTop };
}

double ChCoord::pixelToDataX(double p) const
{
    return range.x0 + (p - plotArea.x0) * (range.x1 - range.x0) / (plotArea.x1 - plotArea.x0);
}

double ChCoord::pixelToDataY(double p) const
{
    return range.yBottom
        + (p - plotArea.yBottom) * (range.yTop - range.yBottom)
        / (plotArea.yTop - plotArea.yBottom);
}

double ChCoord::dataToPixelX(double v) const
{
    return plotArea.x0 + (v - range.x0) * (plotArea.x1 - plotArea.x0) / (range.x1 - range.x0);
}

double ChCoord::dataToPixelY(double v) const
{
    return plotArea.yBottom
        + (v - range.yBottom) * (plotArea.yTop - plotArea.yBottom) / (range.yTop - range.yBottom);
}

double ChCoord::dataLengthToPixelX(double d) const
{
    return d * (plotArea.x1 - plotArea.x0) / (range.x1 - range.x0);
}

double ChCoord::dataLengthToPixelY(double d) const
{
    return d * (plotArea.yTop - plotArea.yBottom) / (range.yTop - range.yBottom);
}
