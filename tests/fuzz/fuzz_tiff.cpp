// TIFF reader: whatever libtiff makes of the directory (sizes, strips, tiles,
// sample kinds, compression), an accepted image must be readable in full
// and never sized beyond what the reader takes.
#include "tests/fuzz/fuzz_support.h"

#include "image/img_data.h"
#include "image/level_map.h"

#include <QImage>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = fuzz::writeInput(data, size, "input.tif");
    const ImgFileType type = fileType(path);
    std::unique_ptr<ImgData> img(createImgData(type));
    FUZZ_CHECK((img != nullptr) == (type != ImgFileUnknown));
    if (!img || type != ImgFileTIFF)
        return 0;
    img->setFileName(path);
    if (!img->load())
        return 0;

    const int w = img->width();
    const int h = img->height();
    FUZZ_CHECK(w > 0 && h > 0);
    // Compressed pixels may expand by any ratio; the header's size is bounded.
    FUZZ_CHECK(qint64(w) * h <= (qint64(1) << 30));
    if (qint64(w) * h > (qint64(1) << 24))
        return 0; // decoded and accepted; walking it would only cost time
    std::vector<double> buf(std::size_t(std::max(w, h)));
    for (int i = 0; i < h; ++i)
        img->row(i, buf.data());
    for (int j = 0; j < w; j += std::max(1, w / 5))
        img->column(j, buf.data());
    img->scanMinMax();
    FUZZ_CHECK(img->minMaxValid());
    QImage out;
    img->toImage(out, LevelMap { img->minV(), img->maxV(), 0.0, 1.0 });
    FUZZ_CHECK(out.width() == w && out.height() == h);
    return 0;
}
