#include "display/raw_disp.h"

RawDisp::RawDisp(QWidget *parent)
    : ImgDispWPV(parent)
{
}
