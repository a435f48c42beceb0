// The display image of an image file and of a stack member through a colour
// bar. They live here because they take the bar widget; the pixel loop itself
// is the image library's GUI-free toImage(QImage&, const LevelMap&).
#include "display/color_bar.h"
#include "image/img_data.h"
#include "image/img_datas.h"

#include <QImage>

void ImgData::toImage(QImage &image, ColorBar &bar)
{
    if (!ready())
        return;
    scanMinMax();
    // An image without pixels has no extremes to hand to the bar.
    if (!bar.isFixed() && minMaxValid() && minV() <= maxV()) {
        bar.setMinV(minV());
        bar.setMaxV(maxV());
    }
    toImage(image, bar.levelMap());
}

bool ImgDatas::makeImage(int index, QImage &image, ColorBar &bar)
{
    ImgData *img = at(index);
    if (!img)
        return false;
    img->toImage(image, bar);
    emit imageUpdated();
    return true;
}
