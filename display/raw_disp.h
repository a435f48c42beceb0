#pragma once
// The main window's display of the measured raw projections.
#include "display/img_disp_wpv.h"

class RawDisp : public ImgDispWPV {
    Q_OBJECT
public:
    explicit RawDisp(QWidget *parent = nullptr);
};
