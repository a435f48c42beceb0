// The two reconstruction methods side by side, on one core:
//   BM_Slice      one whole slice from its sinogram (filter, and back-projection
//                 or gridding), N x N from M projections, with the padded ramp;
//                 method 0 = the back-projection (the kernel's chosen routine),
//                 1 = Fourier gridding. Counters: seconds per slice (CPU time
//                 of the benchmark's one thread) after a first slice that is
//                 not timed (its seconds apart), and for the Fourier method
//                 its memory and its RMS difference to the back-projection
//                 inside the circle over the largest value of the slice.
//   BM_RangeRun   a range run of 1 or 2 parallel calculators over a synthetic
//                 scan of ITEX files in a temporary folder with each method
//                 (padded ramp): slices per second (wall) and CPU seconds per
//                 slice of the process.
// The back-projection runs first at each size, so the ratio counter of the
// Fourier run ("faster_than_fbp") compares two numbers of the same run.
#include "ct/bp_kernel.h"
#include "ct/ct_calc2.h"
#include "ct/fourier_recon.h"
#include "ct/range_dispatch.h"
#include "image/img_data.h"
#include "image/img_datas.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QtEndian>

#include <chrono>
#include <cmath>
#include <ctime>
#include <map>
#include <memory>
#include <random>
#include <time.h>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

// Smooth attenuation rows (a few disks) with a little noise, width = N + 1.
std::vector<double> makeSinogram(int n, int m)
{
    const int width = n + 1;
    std::vector<double> s(std::size_t(width) * m);
    std::mt19937 gen(1);
    std::normal_distribution<double> noise(0.0, 0.01);
    const double h = n / 2.0;
    struct Disk {
        double x, z, r, mu;
    };
    const Disk disks[] = { { 0, 0, 0.42 * n, 0.002 }, { 0.15 * n, -0.1 * n, 0.08 * n, 0.01 },
        { -0.2 * n, 0.12 * n, 0.05 * n, -0.001 } };
    for (int i = 0; i < m; ++i) {
        const double th = i * kPi / m;
        for (int j = 0; j < width; ++j) {
            double v = 0;
            for (const Disk &d : disks) {
                const double t = (j - h) - (d.x * std::cos(th) - d.z * std::sin(th));
                if (t * t < d.r * d.r)
                    v += 2 * d.mu * std::sqrt(d.r * d.r - t * t);
            }
            s[std::size_t(i) * width + j] = v + noise(gen);
        }
    }
    return s;
}

const std::vector<double> &sinogramFor(int n, int m)
{
    static std::map<std::pair<int, int>, std::vector<double>> cache;
    auto &s = cache[{ n, m }];
    if (s.empty())
        s = makeSinogram(n, m);
    return s;
}

// CPU seconds of the calling thread.
double threadCpu()
{
    timespec t {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

std::map<std::pair<int, int>, double> fbpSeconds; // by (N, M), this run
std::map<std::pair<int, int>, std::vector<double>> fbpResult;

void BM_Slice(benchmark::State &state)
{
    const int n = int(state.range(0)), m = int(state.range(1));
    const bool fourier = state.range(2) != 0;
    const std::vector<double> &sgm = sinogramFor(n, m);
    const int width = n + 1;
    BpKernel bp(BpNormalisation::Parallel);
    FourierRecon fr(BpNormalisation::Parallel);
    const ReconFilterKind kind = ReconFilterKind::RampPadded;
    if (!bp.setFilter(kind)) {
        state.SkipWithError("no filter");
        return;
    }
    // Plans, buffers and tables are made before the timing, as a calculator
    // keeps them from slice to slice.
    const bool ok = fourier ? fr.prepare(n, kind) : bp.ensurePrepared(n, m);
    if (!ok) {
        state.SkipWithError("cannot prepare");
        return;
    }
    state.SetLabel(fourier ? "fourier" : bpRoutineName(bp.routine()));
    // One slice before the timing: a calculator reuses its buffers and tables
    // from slice to slice, so what the first slice makes is not a per-slice
    // cost.
    const double warm0 = threadCpu();
    const bool warm = fourier ? fr.reconstruct(sgm.data(), width, m, 0, 0, n, n, 0.0, kind)
                              : bp.reconstruct(sgm.data(), width, m, 0, 0, n, n, 0.0);
    // The first slice's CPU seconds (with the buffers' first touch and, for
    // the Fourier method, the points' places).
    state.counters["first_slice_s"] = threadCpu() - warm0;
    if (!warm) {
        state.SkipWithError("reconstruction failed");
        return;
    }
    const double cpu0 = threadCpu();
    for (auto _ : state) {
        const bool done = fourier ? fr.reconstruct(sgm.data(), width, m, 0, 0, n, n, 0.0, kind)
                                  : bp.reconstruct(sgm.data(), width, m, 0, 0, n, n, 0.0);
        if (!done) {
            state.SkipWithError("reconstruction failed");
            return;
        }
        benchmark::DoNotOptimize(fourier ? fr.result() : bp.result());
    }
    const double secs = (threadCpu() - cpu0) / double(state.iterations());
    state.counters["cpu_s_per_slice"] = secs;
    const std::pair<int, int> key { n, m };
    if (!fourier) {
        fbpSeconds[key] = secs;
        fbpResult[key].assign(bp.result(), bp.result() + std::size_t(n) * n);
        return;
    }
    if (fbpSeconds.count(key))
        state.counters["faster_than_fbp"] = fbpSeconds[key] / secs;
    state.counters["MB"] = double(FourierRecon::bytesFor(n, m)) / 1e6;
    // VORLO_BENCH_DUMP names a folder for the Fourier slices (N x N doubles,
    // fourier_N.raw), to compare builds.
    const QString dump = qEnvironmentVariable("VORLO_BENCH_DUMP");
    if (!dump.isEmpty()) {
        QFile f(dump + QStringLiteral("/fourier_%1.raw").arg(n));
        if (f.open(QIODevice::WriteOnly))
            f.write(reinterpret_cast<const char *>(fr.result()), qint64(sizeof(double)) * n * n);
    }
    auto it = fbpResult.find(key);
    if (it != fbpResult.end()) {
        double big = 0, sum = 0;
        long cnt = 0;
        const long long h = n / 2;
        for (int z = 0; z < n; ++z)
            for (int x = 0; x < n; ++x) {
                if ((x - h) * (x - h) + (z - h) * (z - h) >= h * h)
                    continue;
                const std::size_t i = std::size_t(z) * n + x;
                const double d = fr.result()[i] - it->second[i];
                big = std::max(big, std::fabs(it->second[i]));
                sum += d * d;
                ++cnt;
            }
        state.counters["rmsDiffToFbp"] = cnt && big > 0 ? std::sqrt(sum / cnt) / big : 0.0;
    }
}

// The back-projection first at each size (the baseline), then Fourier.
void sliceSizes(benchmark::internal::Benchmark *b)
{
    for (auto nm : { std::pair<int, int>(512, 360), std::pair<int, int>(1024, 720),
             std::pair<int, int>(2048, 1800) })
        for (int method : { 0, 1 })
            b->Args({ nm.first, nm.second, method });
}

} // namespace

BENCHMARK(BM_Slice)
    ->Apply(sliceSizes)
    ->ArgNames({ "N", "M", "fourier" })
    ->MinTime(2.0)
    ->Unit(benchmark::kMillisecond);

namespace {

// A scan of m projections held in ITEX files: nDet = N + 3 pixels across the
// axis, `rows` detector rows (one slice each), two disks per row.
struct Scan {
    QTemporaryDir dir;
    ImgDatas stack;
    int nDet;
    int rows;
    double cor;

    Scan(int n, int m, int slices)
        : nDet(n + 3)
        , rows(slices)
        , cor((n + 3) / 2)
    {
        const QByteArray comment
            = QStringLiteral("Prop_ImageWidth=%1,Prop_ImageHeight=%2,BytesPerPixel=2")
                  .arg(nDet)
                  .arg(rows)
                  .toLatin1();
        QByteArray head(64, '\0');
        head[0] = 'I';
        head[1] = 'M';
        qToLittleEndian<quint16>(quint16(comment.size()), head.data() + 2);
        const double r = 0.4 * n, r2 = 0.1 * n;
        for (int k = 0; k < m; ++k) {
            const double c = std::cos(k * kPi / m);
            QByteArray body(qsizetype(nDet) * rows * 2, '\0');
            for (int y = 0; y < rows; ++y)
                for (int x = 0; x < nDet; ++x) {
                    const double t = x - cor, t2 = t - 0.2 * n * c;
                    double p = t * t < r * r ? 2e-3 * (1 + y) * std::sqrt(r * r - t * t) : 0;
                    p += t2 * t2 < r2 * r2 ? 4e-3 * std::sqrt(r2 * r2 - t2 * t2) : 0;
                    qToLittleEndian<quint16>(quint16(std::lround(60000 * std::exp(-p))),
                        body.data() + 2 * (qsizetype(y) * nDet + x));
                }
            const QString path = dir.filePath(QString::asprintf("p%05d.img", k));
            QFile f(path);
            if (f.open(QIODevice::WriteOnly))
                f.write(head + comment + body);
            f.close();
            stack.add(path);
        }
    }
};

Scan &scanFor(int n, int m, int rows)
{
    static std::map<int, std::unique_ptr<Scan>> scans;
    auto &s = scans[n];
    if (!s)
        s = std::make_unique<Scan>(n, m, rows);
    return *s;
}

// One range run over every row with `count` calculators in threads of their
// own and the method given; the wall time in seconds (negative on failure).
double rangeRun(Scan &scan, int count, ReconMethod method)
{
    CtRunParams p;
    p.calcCt2 = true;
    p.autoExec = true;
    p.rotAxIsV = true;
    p.cor = scan.cor;
    p.sliceFrom = 0;
    p.sliceTo = scan.rows - 1;
    p.sliceStep = 1;
    p.threads = count;
    p.filter = ReconFilterKind::RampPadded;
    p.method = method;
    std::vector<std::unique_ptr<QThread>> threads;
    std::vector<CtCalc2 *> calcs;
    RangeDispatch dispatch;
    dispatch.setCalculatorCount(count);
    for (int i = 0; i < count; ++i) {
        threads.push_back(std::make_unique<QThread>());
        auto *c = new CtCalc2;
        c->setImgDatas(&scan.stack);
        c->setRunParams(p);
        c->moveToThread(threads.back().get());
        QObject::connect(
            c, &CtCalc2::calcFinished, &dispatch, [&dispatch, i] { dispatch.calcFinished(i); });
        calcs.push_back(c);
        threads.back()->start();
    }
    QObject::connect(&dispatch, &RangeDispatch::startCt, &dispatch,
        [&calcs](int i, bool v, double cor, int slice, bool show) {
            calcs[size_t(i)]->startCt(calcs[size_t(i)], v, cor, slice, show);
        });
    QEventLoop loop;
    bool done = false;
    QObject::connect(&dispatch, &RangeDispatch::finished, &loop, [&] {
        done = true;
        loop.quit();
    });
    QTimer::singleShot(600000, &loop, &QEventLoop::quit);
    const auto t0 = std::chrono::steady_clock::now();
    dispatch.startRange(p, false);
    if (!done)
        loop.exec();
    const double secs
        = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    for (size_t i = 0; i < calcs.size(); ++i) {
        threads[i]->quit();
        threads[i]->wait();
        delete calcs[i];
    }
    return done ? secs : -1.0;
}

void BM_RangeRun(benchmark::State &state)
{
    const int n = int(state.range(0)), m = int(state.range(1)), rows = int(state.range(2));
    const int count = int(state.range(3));
    const ReconMethod method = state.range(4) ? ReconMethod::Fourier : ReconMethod::Fbp;
    state.SetLabel(reconMethodName(method).toStdString());
    Scan &scan = scanFor(n, m, rows);
    double rate = 0, cpuPerSlice = 0;
    for (auto _ : state) {
        // Process CPU time: the calculators' threads together.
        const std::clock_t c0 = std::clock();
        const double secs = rangeRun(scan, count, method);
        cpuPerSlice = double(std::clock() - c0) / CLOCKS_PER_SEC / rows;
        if (secs <= 0) {
            state.SkipWithError("range run did not finish");
            return;
        }
        state.SetIterationTime(secs);
        rate = rows / secs;
    }
    state.counters["slices_per_s"] = rate;
    state.counters["cpu_s_per_slice"] = cpuPerSlice;
}

} // namespace

// Back-projection first, then Fourier, at each size and count.
BENCHMARK(BM_RangeRun)
    ->Args({ 1024, 720, 8, 1, 0 })
    ->Args({ 1024, 720, 8, 1, 1 })
    ->Args({ 1024, 720, 8, 2, 0 })
    ->Args({ 1024, 720, 8, 2, 1 })
    ->Args({ 2048, 1800, 2, 1, 0 })
    ->Args({ 2048, 1800, 2, 1, 1 })
    ->ArgNames({ "N", "M", "slices", "calcs", "fourier" })
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

int main(int argc, char **argv)
{
    // The range run's calculators and dispatcher need an application object
    // for their queued calls.
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
