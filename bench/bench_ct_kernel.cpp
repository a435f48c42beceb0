// Speed of the back-projection, in pixel updates per second on one core
// (one update = one projection added to one pixel inside the circle):
//   BM_FormulaLoop  the straightforward loop of the formulas (the baseline),
//   BM_Kernel       the kernel's all-projections pass (filtered rows ready),
//                   once per routine this processor runs (third argument: 0
//                   plain loop, 1 AVX2 gathers, 2 AVX-512, 3 AVX2 pair tables;
//                   the one the kernel picks by itself is marked "(chosen)"),
//   BM_WholeSlice   sinogram build from an image stack, transform, filter and
//                   back-projection of one slice,
//   BM_RowRoutine   each row routine this processor runs (0 plain loop, 1 AVX2,
//                   2 AVX-512), projection after projection over the whole grid.
// Rates are taken over the CPU time of the benchmark's one thread, so they are
// per core even on a busy machine. The label names the routine in use.
// Arguments: N (grid size) and M (projections). The "relDiffToFormula" counter
// of BM_Kernel is the largest difference to the formula loop over the largest
// value, measured in the same run.
#include "ct/bp_kernel.h"
#include "ct/bp_row.h"
#include "ct/h_sgm.h"
#include "image/img_data.h"
#include "image/img_datas.h"

#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <cmath>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

// Pixels strictly inside the circle of radius N / 2.
double circlePixels(int n)
{
    const long long h = n / 2;
    long long count = 0;
    for (long long z = 0; z < n; ++z)
        for (long long x = 0; x < n; ++x)
            if ((x - h) * (x - h) + (z - h) * (z - h) < h * h)
                ++count;
    return double(count);
}

// Smooth attenuation rows (a few disks) with noise, width = N + 1.
std::vector<double> makeSinogram(int n, int m)
{
    const int width = n + 1;
    std::vector<double> s(std::size_t(width) * m);
    std::mt19937 gen(1);
    std::normal_distribution<double> noise(0.0, 0.01);
    const double h = n / 2.0;
    for (int i = 0; i < m; ++i) {
        const double t = i * kPi / m;
        for (int j = 0; j < width; ++j) {
            double v = 0;
            const double xs[3] = { 0.0, 0.3 * h, -0.4 * h }, zs[3] = { 0.0, 0.2 * h, -0.1 * h };
            const double rs[3] = { 0.8 * h, 0.15 * h, 0.1 * h };
            for (int d = 0; d < 3; ++d) {
                const double up = xs[d] * std::cos(t) - zs[d] * std::sin(t) + h;
                const double q = j - up;
                if (std::abs(q) < rs[d])
                    v += 0.002 * std::sqrt(rs[d] * rs[d] - q * q);
            }
            s[std::size_t(i) * width + j] = v + noise(gen);
        }
    }
    return s;
}

// One kernel per size with its filtered rows, shared by the benchmarks.
struct Prepared {
    std::unique_ptr<BpKernel> kernel;
    std::vector<double> formula; // result of the formula loop, once measured
};

Prepared &prepared(int n, int m)
{
    static std::map<std::pair<int, int>, Prepared> cache;
    Prepared &p = cache[{ n, m }];
    if (!p.kernel) {
        p.kernel = std::make_unique<BpKernel>(BpNormalisation::Parallel);
        const std::vector<double> s = makeSinogram(n, m);
        p.kernel->reconstruct(s.data(), n + 1, m, 0, 0, n, n, 0.0);
    }
    return p;
}

// The formulas as written: every pixel, a square-root circle test, per projection.
void formulaLoop(const BpKernel &k, std::vector<double> &res)
{
    const int n = k.n(), m = k.m();
    const double h = n / 2.0;
    res.assign(std::size_t(n) * n, 0.0);
    for (int i = 0; i < m; ++i) {
        const double th = i * kPi / m;
        const double c = std::cos(th), s = std::sin(th);
        const double *f = k.filtered(i);
        for (int z = 0; z < n; ++z)
            for (int x = 0; x < n; ++x) {
                if (std::sqrt((x - h) * (x - h) + (z - h) * (z - h)) < h) {
                    const double u = (x - h) * c - (z - h) * s + h;
                    const int kk = int(std::floor(u));
                    if (kk >= 0 && kk < n - 1)
                        res[std::size_t(z) * n + x] += f[kk] + (u - kk) * (f[kk + 1] - f[kk]);
                }
            }
    }
}

constexpr BpRoutine kRoutines[]
    = { BpRoutine::Generic, BpRoutine::Avx2Gather, BpRoutine::Avx512Window, BpRoutine::Avx2Pairs };

std::string routineLabel(BpRoutine r)
{
    std::string label = bpRoutineName(r);
    if (r == bpBestRoutine())
        label += " (chosen)";
    return label;
}

void setRate(benchmark::State &state, int n, int m, BpRoutine r)
{
    const double updates = circlePixels(n) * m;
    state.counters["updates/s/core"]
        = benchmark::Counter(updates * double(state.iterations()), benchmark::Counter::kIsRate);
    state.SetLabel(routineLabel(r));
}

void BM_FormulaLoop(benchmark::State &state)
{
    const int n = int(state.range(0)), m = int(state.range(1));
    Prepared &p = prepared(n, m);
    for (auto _ : state) {
        formulaLoop(*p.kernel, p.formula);
        benchmark::DoNotOptimize(p.formula.data());
    }
    const double updates = circlePixels(n) * m;
    state.counters["updates/s/core"]
        = benchmark::Counter(updates * double(state.iterations()), benchmark::Counter::kIsRate);
    state.SetLabel("formula");
}

void BM_Kernel(benchmark::State &state)
{
    const int n = int(state.range(0)), m = int(state.range(1));
    const BpRoutine r = kRoutines[state.range(2)];
    if (!bpRoutineAvailable(r)) {
        state.SkipWithError("this processor lacks the routine's instructions");
        return;
    }
    Prepared &p = prepared(n, m);
    BpKernel &k = *p.kernel;
    k.setRoutine(r);
    for (auto _ : state) {
        k.clearResult();
        k.backProjectAll(0, 0, n, n, 0.0);
        benchmark::DoNotOptimize(k.result());
    }
    setRate(state, n, m, r);
    if (p.formula.empty())
        formulaLoop(k, p.formula);
    double d = 0, scale = 0;
    for (std::size_t i = 0; i < p.formula.size(); ++i) {
        d = std::max(d, std::abs(k.result()[i] - p.formula[i]));
        scale = std::max(scale, std::abs(p.formula[i]));
    }
    state.counters["relDiffToFormula"] = d / scale;
}

// M ITEX images of (N + 3) x 2 pixels: with the axis at the middle pixel the
// sinogram rows have N + 1 samples and the grid is N x N.
bool writeStack(const QTemporaryDir &dir, ImgDatas &stack, int n, int m)
{
    const int w = n + 3, h = 2;
    const QByteArray comment = QString("Prop_ImageWidth=%1,Prop_ImageHeight=%2,BytesPerPixel=2,")
                                   .arg(w)
                                   .arg(h)
                                   .toLatin1();
    const std::vector<double> s = makeSinogram(n, m);
    for (int k = 0; k < m; ++k) {
        QByteArray data(64, '\0');
        data[0] = 'I';
        data[1] = 'M';
        qToLittleEndian<quint16>(quint16(comment.size()), data.data() + 2);
        data += comment;
        QByteArray px(w * h * 2, '\0');
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const int j = std::min(std::max(x - 1, 0), n);
                const double v = 60000.0 * std::exp(-s[std::size_t(k) * (n + 1) + j]);
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

void BM_WholeSlice(benchmark::State &state)
{
    const int n = int(state.range(0)), m = int(state.range(1));
    QTemporaryDir dir;
    ImgDatas stack;
    if (!dir.isValid() || !writeStack(dir, stack, n, m)) {
        state.SkipWithError("cannot write the image stack");
        return;
    }
    const double cor = (n + 2) / 2.0;
    HSgm sgm;
    BpKernel k(BpNormalisation::Parallel);
    // A calculator keeps its kernel across slices: plans are made once per size.
    k.prepare(n, m);
    for (auto _ : state) {
        genSinogram0(&sgm, &stack, true, cor, 1);
        k.reconstruct(sgm.sgm.get(), sgm.width, sgm.rows, 0, 0, n, n, 0.0);
        benchmark::DoNotOptimize(k.result());
    }
    if (sgm.width != n + 1 || k.n() != n)
        state.SkipWithError("unexpected sinogram width");
    setRate(state, n, m, k.routine());
}

void BM_RowRoutine(benchmark::State &state)
{
    const int n = int(state.range(0)), m = int(state.range(1));
    const int which = int(state.range(2));
    const BpRowAdd fn = which == 0 ? bpRowAddGeneric()
        : which == 1               ? bpRowAddAvx2()
                                   : bpRowAddAvx512();
    if (!fn) {
        state.SkipWithError("this processor lacks the routine's instructions");
        return;
    }
    Prepared &p = prepared(n, m);
    const BpKernel &k = *p.kernel;
    const double h = n / 2.0;
    const long long hi = n / 2;
    std::vector<double> grid(std::size_t(n) * n);
    for (auto _ : state) {
        std::fill(grid.begin(), grid.end(), 0.0);
        for (int i = 0; i < m; ++i) {
            const double th = i * kPi / m;
            const double c = std::cos(th), s = std::sin(th);
            for (int z = 0; z < n; ++z) {
                const long long dz = z - hi, r2 = hi * hi - dz * dz;
                if (r2 <= 0)
                    continue;
                long long t = (long long)std::sqrt(double(r2));
                while (t > 0 && t * t >= r2)
                    --t;
                fn(grid.data() + std::size_t(z) * n, int(hi - t), int(hi + t), h, c, (z - h) * s,
                    k.filtered(i), n);
            }
        }
        benchmark::DoNotOptimize(grid.data());
    }
    const double updates = circlePixels(n) * m;
    state.counters["updates/s/core"]
        = benchmark::Counter(updates * double(state.iterations()), benchmark::Counter::kIsRate);
    state.SetLabel(which == 0 ? "generic" : which == 1 ? "avx2" : "avx512f");
}

void sizes(benchmark::internal::Benchmark *b)
{
    b->Args({ 512, 360 })->Args({ 1024, 720 })->Args({ 2048, 1800 });
    b->Unit(benchmark::kMillisecond);
}

} // namespace

// Every routine at every size.
void routinesAndSizes(benchmark::internal::Benchmark *b)
{
    for (auto nm : { std::pair<int, int> { 512, 360 }, { 1024, 720 }, { 2048, 1800 } })
        for (int r = 0; r < 4; ++r)
            b->Args({ nm.first, nm.second, r });
    b->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_FormulaLoop)->Apply(sizes)->Iterations(1);
BENCHMARK(BM_Kernel)->Apply(routinesAndSizes);
BENCHMARK(BM_WholeSlice)->Apply(sizes);
BENCHMARK(BM_RowRoutine)
    ->Args({ 1024, 720, 0 })
    ->Args({ 1024, 720, 1 })
    ->Args({ 1024, 720, 2 })
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
