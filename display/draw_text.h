#pragma once
// Draws a text rotated and, on request, scaled to fit a box.
#include <QColor>
#include <QFont>
#include <QObject>
#include <QRectF>

#include <QPainter>

class DrawText : public QObject {
    Q_OBJECT
public:
    // The text box, centred on screen at (cx, cy), with `length` along the
    // text and `thickness` across it.
    struct Box {
        double cx = 0.0;
        double cy = 0.0;
        double length = 0.0;
        double thickness = 0.0;
    };

    explicit DrawText(QObject *parent = nullptr);

    // Rotates the painter by `angle` degrees and draws `text` into the box with
    // the alignment `flags`. With `fit` the font size is chosen so that the
    // text fills the box (at most `maxPointSize` when that is positive).
    // Returns the text's bounding rectangle measured at 10 points (empty
    // without `fit`).
    QRectF drawFitted(QPainter *painter, double angle, const Box &box, const QFont &font, int flags,
        bool fit, const QString &text, double maxPointSize, bool fill, const QColor &fillColour);

    // Point size drawFitted uses for a text that measures `measured` at 10
    // points in a box of `length` by `thickness`.
    static double fittedPointSize(
        const QSizeF &measured, double length, double thickness, double maxPointSize);
};
