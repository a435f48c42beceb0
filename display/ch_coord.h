#pragma once
// Linear mapping between widget pixels and data coordinates. The data range
// covers the whole plot area (no margins); either axis may run backwards.
#include <QObject>

class ChCoord : public QObject {
    Q_OBJECT
public:
    struct Area {
        double x0 = 0.0;
        double x1 = 1.0;
        double yBottom = 0.0;
        double yTop = 1.0;
    };

    explicit ChCoord(QObject *parent = nullptr);

    void setPixelArea(double x0, double yBottom, double x1, double yTop);
    void setRange(double x0, double yBottom, double x1, double yTop);

    double pixelToDataX(double p) const;
    double pixelToDataY(double p) const;
    double dataToPixelX(double v) const;
    double dataToPixelY(double v) const;
    double dataLengthToPixelX(double d) const;
    double dataLengthToPixelY(double d) const;

    Area plotArea; // widget pixels onto which the data range maps
    Area range; // data values at the area's left, right, bottom and top edges
};
