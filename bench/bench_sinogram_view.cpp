// The Sinogram panel's two pictures of a 2045-sample, 900-projection sinogram:
// the full-turn grey picture next to the straightforward per-pixel loop
// (level() + QImage::setPixel) as the baseline, and the Fourier view (2-D FFT
// of the doubled sinogram) next to filling its input alone.
#include "ct/h_sgm.h"
#include "ct/sinogram.h"
#include "image/level_map.h"

#include <QImage>
#include <benchmark/benchmark.h>
#include <cmath>

namespace {
const int width = 2045;
const int rows = 900;

HSgm &sinogram()
{
    static HSgm h;
    if (!h.built()) {
        h.resize(width, rows);
        for (int k = 0; k < rows; ++k)
            for (int j = 0; j < width; ++j) {
                h.rawRow(k)[j] = 1000.0 + 500.0 * std::sin(0.01 * j + 0.02 * k);
                h.sgmRow(k)[j] = 0.0;
            }
    }
    return h;
}

const LevelMap map { 500.0, 1500.0, 0.0, 1.0 };

void BM_FullTurnImage(benchmark::State &state)
{
    const HSgm &h = sinogram();
    for (auto _ : state) {
        QImage img = Sinogram::fullTurnImage(h, map);
        benchmark::DoNotOptimize(img.constBits());
    }
    state.SetItemsProcessed(state.iterations() * width * 2 * rows);
}
BENCHMARK(BM_FullTurnImage)->Unit(benchmark::kMillisecond);

void BM_FullTurnImageSetPixelBaseline(benchmark::State &state)
{
    const HSgm &h = sinogram();
    for (auto _ : state) {
        QImage img(width, 2 * rows, QImage::Format_Grayscale8);
        for (int k = 0; k < rows; ++k)
            for (int j = 0; j < width; ++j) {
                const int l = map.level(h.rawRow(k)[j]);
                img.setPixel(j, k, qRgb(l, l, l));
                img.setPixel(width - 1 - j, rows + k, qRgb(l, l, l));
            }
        benchmark::DoNotOptimize(img.constBits());
    }
    state.SetItemsProcessed(state.iterations() * width * 2 * rows);
}
BENCHMARK(BM_FullTurnImageSetPixelBaseline)->Unit(benchmark::kMillisecond);

void BM_FourierMagnitudes(benchmark::State &state)
{
    const HSgm &h = sinogram();
    for (auto _ : state) {
        std::vector<double> mag = Sinogram::fourierMagnitudes(h);
        benchmark::DoNotOptimize(mag.data());
    }
    state.SetItemsProcessed(state.iterations() * width * 2 * rows);
}
BENCHMARK(BM_FourierMagnitudes)->Unit(benchmark::kMillisecond);

// Baseline: only filling the doubled complex input the transform starts from.
void BM_FourierInputFillBaseline(benchmark::State &state)
{
    const HSgm &h = sinogram();
    const double s = 1.0 / (2.0 * width * rows);
    for (auto _ : state) {
        std::vector<double> in(std::size_t(width) * 2 * rows * 2);
        for (int k = 0; k < rows; ++k) {
            const double *r = h.rawRow(k);
            double *top = in.data() + std::size_t(k) * width * 2;
            double *bottom = in.data() + std::size_t(rows + k) * width * 2;
            for (int j = 0; j < width; ++j) {
                top[2 * j] = r[j] * s;
                bottom[2 * (width - 1 - j)] = r[j] * s;
            }
        }
        benchmark::DoNotOptimize(in.data());
    }
    state.SetItemsProcessed(state.iterations() * width * 2 * rows);
}
BENCHMARK(BM_FourierInputFillBaseline)->Unit(benchmark::kMillisecond);
} // namespace

BENCHMARK_MAIN();
