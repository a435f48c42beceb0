// Speed of the automatic centre of rotation and of the stripe suppression on
// one core, for a 2048-wide slice of 1800 projections of the standard phantom
// (centre 30 % of the half-width right of the middle, fractional):
//   BM_SinogramPass  one pass that sums the sinogram (the baseline: the memory
//                    traffic every method pays at least once),
//   BM_FindCentre    the centroid-sinusoid fit on the attenuation sinogram,
//   BM_FindCorOfSlice what the Find CoR button does: the slice's sinogram built
//                    from an image stack on disk (the files cached by the first
//                    pass), then the fit,
//   BM_RingRemoval   stripe detection and correction of the same sinogram
//                    (a fresh copy each time; the copy is not timed).
// The "error" counter is found minus true centre, in pixels.
#include "ct/cor_finder.h"
#include "ct/ring_removal.h"
#include "image/img_datas.h"
#include "tools/phantom.h"

#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <cmath>
#include <memory>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Scan {
    int width = 0, rows = 0;
    double cor = 0;
    std::vector<double> sgm; // rows x width, [projection][pixel]
};

const Scan &scan(int width, int rows)
{
    static std::unique_ptr<Scan> s;
    if (!s || s->width != width || s->rows != rows) {
        s = std::make_unique<Scan>();
        s->width = width;
        s->rows = rows;
        s->cor = (width - 1) / 2.0 + 0.3 * width / 2.0 + 0.37;
        const Phantom p = Phantom::standard(std::min(s->cor, width - 1 - s->cor), 64);
        s->sgm.resize(std::size_t(width) * rows);
        for (int i = 0; i < rows; ++i)
            for (int u = 0; u < width; ++u)
                s->sgm[std::size_t(i) * width + u] = p.lineIntegral(u - s->cor, 0, i * kPi / rows);
    }
    return *s;
}

void BM_SinogramPass(benchmark::State &state)
{
    const Scan &s = scan(int(state.range(0)), int(state.range(1)));
    for (auto _ : state) {
        double sum = 0;
        for (double v : s.sgm)
            sum += v;
        benchmark::DoNotOptimize(sum);
    }
}

void BM_FindCentre(benchmark::State &state)
{
    const Scan &s = scan(int(state.range(0)), int(state.range(1)));
    CorFinderResult r;
    for (auto _ : state) {
        r = findCentre(s.sgm.data(), s.width, s.rows);
        benchmark::DoNotOptimize(&r);
        benchmark::ClobberMemory();
    }
    if (!r.ok)
        state.SkipWithError("no centre");
    state.counters["error"] = r.centre - s.cor;
}

// The scan as ITEX images of width x 2 pixels, counts 60000 exp(-attenuation).
bool writeStack(const QTemporaryDir &dir, ImgDatas &stack, const Scan &s)
{
    const int w = s.width, h = 2;
    const QByteArray comment = QString("Prop_ImageWidth=%1,Prop_ImageHeight=%2,BytesPerPixel=2,")
                                   .arg(w)
                                   .arg(h)
                                   .toLatin1();
    for (int k = 0; k < s.rows; ++k) {
        QByteArray data(64, '\0');
        data[0] = 'I';
        data[1] = 'M';
        qToLittleEndian<quint16>(quint16(comment.size()), data.data() + 2);
        data += comment;
        QByteArray px(w * h * 2, '\0');
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const double v = 60000.0 * std::exp(-s.sgm[std::size_t(k) * w + x]);
                qToLittleEndian<quint16>(quint16(std::lround(v)), px.data() + 2 * (y * w + x));
            }
        data += px;
        const QString path = dir.filePath(QString("p%1.img").arg(k, 5, 10, QChar('0')));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size())
            return false;
        f.close();
        if (!stack.add(path))
            return false;
    }
    return true;
}

void BM_FindCorOfSlice(benchmark::State &state)
{
    const Scan &s = scan(int(state.range(0)), int(state.range(1)));
    QTemporaryDir dir;
    ImgDatas stack;
    if (!dir.isValid() || !writeStack(dir, stack, s)) {
        state.SkipWithError("cannot write the image stack");
        return;
    }
    double cor = 0;
    for (auto _ : state) {
        if (!findCorOfSlice(&stack, true, 1, cor))
            state.SkipWithError("no centre");
        benchmark::DoNotOptimize(cor);
    }
    // Without I0 the attenuation is ln(1 / I): a constant offset of -ln 60000
    // that the finder must not mind less than the counts' rounding.
    state.counters["error"] = cor - s.cor;
}

void BM_RingRemoval(benchmark::State &state)
{
    const Scan &s = scan(int(state.range(0)), int(state.range(1)));
    std::vector<double> work;
    int found = 0;
    for (auto _ : state) {
        state.PauseTiming();
        work = s.sgm;
        for (int i = 0; i < s.rows; ++i)
            work[std::size_t(i) * s.width + 700] -= std::log(1.03);
        state.ResumeTiming();
        found = removeRings(work.data(), s.width, s.rows, int(state.range(2))).stripes;
        benchmark::DoNotOptimize(work.data());
    }
    state.counters["stripes"] = found;
}

} // namespace

BENCHMARK(BM_SinogramPass)->Args({ 2048, 1800 })->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindCentre)->Args({ 2048, 1800 })->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindCorOfSlice)->Args({ 2048, 1800 })->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RingRemoval)->Args({ 2048, 1800, 11 })->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
