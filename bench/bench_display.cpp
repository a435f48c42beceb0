// Display image of a 2048 x 2048 detector image through a colour bar: the
// program's toImage next to the straightforward per-pixel loop
// (row() + level() + QImage::setPixel) as the baseline.
#include "display/color_bar.h"
#include "display/disp_a.h"
#include "display/img_disp.h"
#include "image/img_data.h"

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QtEndian>
#include <benchmark/benchmark.h>
#include <memory>
#include <vector>

namespace {
const int side = 2048;

// An ITEX file of side x side pixels with bytesPerPixel 2 or 4.
QString writeItex(const QTemporaryDir &dir, int bytesPerPixel)
{
    const QString path = dir.filePath(QStringLiteral("bench%1.img").arg(bytesPerPixel));
    const QByteArray comment
        = QStringLiteral("Prop_ImageWidth=%1,Prop_ImageHeight=%1,BytesPerPixel=%2,")
              .arg(side)
              .arg(bytesPerPixel)
              .toLatin1();
    QByteArray header(64, '\0');
    header[0] = 'I';
    header[1] = 'M';
    qToLittleEndian<quint16>(quint16(comment.size()), header.data() + 2);
    QByteArray pixels(qsizetype(side) * side * bytesPerPixel, '\0');
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            const quint32 v = quint32(500 + (x * 7 + y * 13) % 40000);
            char *p = pixels.data() + (qsizetype(y) * side + x) * bytesPerPixel;
            if (bytesPerPixel == 2)
                qToLittleEndian<quint16>(quint16(v), p);
            else
                qToLittleEndian<quint32>(v * 3, p);
        }
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(header + comment + pixels);
    return path;
}

struct Fixture {
    QTemporaryDir dir;
    std::unique_ptr<ImgData> img16;
    std::unique_ptr<ImgData> img32;

    static std::unique_ptr<ImgData> load(const QString &path)
    {
        std::unique_ptr<ImgData> img(createImgData(fileType(path)));
        if (img) {
            img->setKeepInMemory(true);
            img->setFileName(path);
            if (!img->load())
                img.reset();
        }
        return img;
    }
    Fixture()
        : img16(load(writeItex(dir, 2)))
        , img32(load(writeItex(dir, 4)))
    {
    }
};

Fixture &fixture()
{
    static Fixture f;
    return f;
}

ImgData *image(int bytesPerPixel)
{
    return bytesPerPixel == 2 ? fixture().img16.get() : fixture().img32.get();
}

// The whole operation an owner runs on a new image or a handle drag.
void BM_ToImageThroughBar(benchmark::State &state)
{
    ImgData *img = image(int(state.range(0)));
    if (!img) {
        state.SkipWithError("image did not load");
        return;
    }
    ColorBar bar;
    QImage out;
    for (auto _ : state) {
        img->toImage(out, bar);
        benchmark::DoNotOptimize(out.constBits());
    }
    state.SetItemsProcessed(state.iterations() * side * side);
}

// Baseline: one row at a time, level() per value, QImage::setPixel per pixel.
void BM_PerPixelSetPixel(benchmark::State &state)
{
    ImgData *img = image(int(state.range(0)));
    if (!img) {
        state.SkipWithError("image did not load");
        return;
    }
    ColorBar bar;
    img->scanMinMax();
    bar.setMinV(img->minV());
    bar.setMaxV(img->maxV());
    std::vector<double> rowBuf(side);
    for (auto _ : state) {
        QImage out(side, side, QImage::Format_Grayscale8);
        for (int i = 0; i < side; ++i) {
            img->row(i, rowBuf.data());
            for (int j = 0; j < side; ++j) {
                const int l = bar.level(rowBuf[std::size_t(j)]);
                out.setPixel(j, i, qRgb(l, l, l));
            }
        }
        benchmark::DoNotOptimize(out.constBits());
    }
    state.SetItemsProcessed(state.iterations() * side * side);
}
// One repaint of a 512 x 512 display showing the whole 2048 x 2048 picture,
// as happens on every mouse move over the image.
void BM_PaintDisplay(benchmark::State &state)
{
    ImgData *img = image(2);
    if (!img) {
        state.SkipWithError("image did not load");
        return;
    }
    ColorBar bar;
    ImgDisp disp;
    disp.resize(512, 512);
    disp.show();
    QApplication::processEvents();
    if (disp.dispA()->size() != QSize(512, 512)) {
        state.SkipWithError("display not laid out");
        return;
    }
    img->toImage(disp.image(), bar);
    disp.newImage();
    QImage target(512, 512, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        disp.dispA()->render(&target);
        benchmark::DoNotOptimize(target.constBits());
    }
}
} // namespace

BENCHMARK(BM_ToImageThroughBar)->Arg(2)->Arg(4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PerPixelSetPixel)->Arg(2)->Arg(4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PaintDisplay)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv); // the colour bar is a widget
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
