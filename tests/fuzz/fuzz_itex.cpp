// ITEX reader: the header (comment length, comment entries, area fallback,
// bytes per pixel) and the pixel block. A file the reader accepts must be
// readable in full, and both storage modes must give the same pixels.
#include "tests/fuzz/fuzz_support.h"

#include "image/img_data.h"
#include "image/level_map.h"

#include <QImage>
#include <cmath>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = fuzz::writeInput(data, size, "input.img");
    FUZZ_CHECK((fileType(path) == ImgFileITEX) == (size >= 2 && data[0] == 'I' && data[1] == 'M'));

    ImgDataITEX mem;
    mem.setFileName(path);
    const bool ok = mem.load();
    ImgDataITEX file;
    file.setFileName(path);
    file.setKeepInMemory(false);
    FUZZ_CHECK(file.load() == ok);
    if (!ok)
        return 0;

    const int w = mem.width();
    const int h = mem.height();
    FUZZ_CHECK(w > 0 && h > 0 && w == file.width() && h == file.height());
    FUZZ_CHECK(mem.bytesPerPixel() == 2 || mem.bytesPerPixel() == 4);
    // An accepted header never claims more pixels than the file holds.
    FUZZ_CHECK(qint64(mem.dataOffset()) + qint64(w) * h * mem.bytesPerPixel() <= qint64(size));

    std::vector<double> a(std::size_t(std::max(w, h)));
    std::vector<double> b(a.size());
    for (int i = 0; i < h; ++i) {
        mem.row(i, a.data());
        file.row(i, b.data());
        for (int j = 0; j < w; ++j)
            FUZZ_CHECK(a[std::size_t(j)] == b[std::size_t(j)]);
    }
    for (int j = 0; j < w; j += std::max(1, w / 7)) {
        mem.column(j, a.data());
        file.column(j, b.data());
        for (int i = 0; i < h; ++i)
            FUZZ_CHECK(a[std::size_t(i)] == b[std::size_t(i)]);
        FUZZ_CHECK(mem.value(j, h - 1) == a[std::size_t(h - 1)]);
    }
    FUZZ_CHECK(mem.value(-1, 0) == 0.0 && mem.value(w, 0) == 0.0 && mem.value(0, h) == 0.0);

    mem.scanMinMax();
    file.scanMinMax();
    FUZZ_CHECK(mem.minMaxValid() && mem.minV() <= mem.maxV());
    FUZZ_CHECK(mem.minV() == file.minV() && mem.maxV() == file.maxV());

    QImage img;
    mem.toImage(img, LevelMap { mem.minV(), mem.maxV(), 0.0, 1.0 });
    FUZZ_CHECK(img.width() == w && img.height() == h);
    return 0;
}
