#pragma once
// An image display with its colour bar right of the image and the bar's
// control panel under it.
#include "display/img_disp.h"

class ColorBar;
class QGridLayout;

class ImgDispWCBar : public ImgDisp {
    Q_OBJECT
public:
    explicit ImgDispWCBar(QWidget *parent = nullptr);

    ColorBar &colorBar() { return *cBar; }
    const ColorBar &colorBar() const { return *cBar; }

signals:
    void newBar();

protected:
    // The grid under the image (row 1, spanning both columns); the bar's
    // control panel sits at its column 1.
    QGridLayout *lowerLayout() const { return lower; }

private:
    ColorBar *cBar; // child widget "CBar"
    QGridLayout *lower; // owned by the frame's grid
};
