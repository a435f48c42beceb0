// Range runs of the parallel calculators on a synthetic scan held in memory,
// with 1 and with 2 calculators (slices per second, scaling efficiency, peak
// memory of one calculator), with the pair back-projection and with the
// earlier gather routine, and the writing of one CT image data file of a
// 2048 x 2048 slice next to a QTextStream and an snprintf baseline.
#include "ct/bp_kernel.h"
#include "ct/ct_calc2.h"
#include "ct/float_tiff.h"
#include "ct/range_dispatch.h"
#include "ct/saving_data.h"
#include "image/img_data.h"
#include "image/img_datas.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QTimer>
#include <QtEndian>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <vector>

namespace {

// Resident and peak resident memory of the process in bytes (Linux).
void memoryNow(double &rss, double &hwm)
{
    rss = hwm = 0;
    QFile f("/proc/self/status");
    if (!f.open(QIODevice::ReadOnly))
        return;
    for (const QByteArray &line : f.readAll().split('\n')) {
        const QList<QByteArray> parts = line.simplified().split(' ');
        if (parts.size() >= 2 && parts[0] == "VmRSS:")
            rss = parts[1].toDouble() * 1024;
        if (parts.size() >= 2 && parts[0] == "VmHWM:")
            hwm = parts[1].toDouble() * 1024;
    }
}

// A scan of m projections, nDet pixels across the axis at its middle and
// `slices` detector lines along it: a centred disk and an off-centre one per
// line. With a vertical axis the lines are image rows (images nDet x slices),
// with a horizontal one image columns (images slices x nDet).
struct Scan {
    QTemporaryDir dir;
    ImgDatas stack;
    int nDet;
    int slices;
    double cor;
    bool vertical;

    Scan(int n, int m, int rows, bool axisVertical = true)
        : nDet(n + 3)
        , slices(rows)
        , cor((n + 3) / 2)
        , vertical(axisVertical)
    {
        const int imgW = vertical ? nDet : rows;
        const int imgH = vertical ? rows : nDet;
        const QByteArray comment
            = QStringLiteral("Prop_ImageWidth=%1,Prop_ImageHeight=%2,BytesPerPixel=2")
                  .arg(imgW)
                  .arg(imgH)
                  .toLatin1();
        QByteArray head(64, '\0');
        head[0] = 'I';
        head[1] = 'M';
        qToLittleEndian<quint16>(quint16(comment.size()), head.data() + 2);
        const double r = 0.4 * n, r2 = 0.1 * n;
        for (int k = 0; k < m; ++k) {
            const double c = std::cos(k * M_PI / m);
            QByteArray body(qsizetype(nDet) * rows * 2, '\0');
            for (int y = 0; y < rows; ++y)
                for (int x = 0; x < nDet; ++x) {
                    const double t = x - cor, t2 = t - 0.2 * n * c;
                    double p = t * t < r * r ? 2e-3 * (1 + y) * std::sqrt(r * r - t * t) : 0;
                    p += t2 * t2 < r2 * r2 ? 4e-3 * std::sqrt(r2 * r2 - t2 * t2) : 0;
                    const qsizetype at
                        = vertical ? qsizetype(y) * nDet + x : qsizetype(x) * rows + y;
                    qToLittleEndian<quint16>(
                        quint16(std::lround(60000 * std::exp(-p))), body.data() + 2 * at);
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

// One range run over every row of the scan with `count` calculators, each in
// a thread of its own; returns the wall time in seconds (negative on failure).
double rangeRun(Scan &scan, int count)
{
    CtRunParams p;
    p.calcCt2 = true;
    p.autoExec = true;
    p.rotAxIsV = scan.vertical;
    p.cor = scan.cor;
    p.sliceFrom = 0;
    p.sliceTo = scan.slices - 1;
    p.sliceStep = 1;
    p.threads = count;

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

std::map<std::pair<int, int>, double> oneCalcRate; // slices/s with 1 calculator, by N and routine

void BM_RangeRun(benchmark::State &state)
{
    const int n = int(state.range(0)), m = int(state.range(1)), rows = int(state.range(2));
    const int count = int(state.range(3));
    // The calculators' back-projection: 1 AVX2 gathers (the earlier routine),
    // 3 AVX2 pair tables.
    const BpRoutine routine = state.range(4) == 1 ? BpRoutine::Avx2Gather : BpRoutine::Avx2Pairs;
    if (!bpSetDefaultRoutine(routine)) {
        state.SkipWithError("this processor lacks the routine's instructions");
        return;
    }
    state.SetLabel(bpRoutineName(routine));
    Scan &scan = scanFor(n, m, rows);
    double rss0, hwm0, rss1, hwm1;
    memoryNow(rss0, hwm0);
    double rate = 0;
    double cpuPerSlice = 0;
    for (auto _ : state) {
        // Process CPU time: on a machine shared with other work the wall time
        // of two calculators says little, their CPU time per slice says whether
        // working side by side costs them anything.
        const std::clock_t c0 = std::clock();
        const double secs = rangeRun(scan, count);
        cpuPerSlice = double(std::clock() - c0) / CLOCKS_PER_SEC / rows;
        if (secs <= 0) {
            state.SkipWithError("range run did not finish");
            return;
        }
        state.SetIterationTime(secs);
        rate = rows / secs;
    }
    memoryNow(rss1, hwm1);
    state.counters["slices_per_s"] = rate;
    state.counters["cpu_s_per_slice"] = cpuPerSlice;
    bpSetDefaultRoutine(bpBestRoutine());
    if (count == 1) {
        oneCalcRate[{ n, int(routine) }] = rate;
        // The first run of a size: the rise of the peak is one calculator's memory.
        state.counters["peak_MB_per_calc"] = std::max(0.0, hwm1 - std::max(rss0, hwm0)) / 1e6;
    } else if (oneCalcRate.count({ n, int(routine) })) {
        state.counters["efficiency_pct"]
            = 100.0 * rate / (count * oneCalcRate[{ n, int(routine) }]);
    }
    // Kernel, sinogram and grid of one calculator by their sizes: spectra
    // (16 B) and filtered rows (8 B) per projection sample, with the pair
    // routine its pair tables (16 B), an N x N grid, the two sinogram arrays
    // (2 x 8 B per sample) and the result image.
    const double w = n + 1;
    const double perSample = routine == BpRoutine::Avx2Pairs ? 40.0 : 24.0;
    state.counters["model_MB_per_calc"]
        = (perSample * m * n + 8.0 * n * n + 16.0 * m * w + 1.0 * n * n) / 1e6;
}

// The pair routine first, so that the first run of a size shows its memory;
// then the earlier gather routine as the baseline of the same run.
BENCHMARK(BM_RangeRun)
    ->Args({ 1024, 720, 16, 1, 3 })
    ->Args({ 1024, 720, 16, 2, 3 })
    ->Args({ 1024, 720, 16, 1, 1 })
    ->Args({ 1024, 720, 16, 2, 1 })
    ->Args({ 2048, 1800, 4, 1, 3 })
    ->Args({ 2048, 1800, 4, 2, 3 })
    ->Args({ 2048, 1800, 4, 1, 1 })
    ->Args({ 2048, 1800, 4, 2, 1 })
    ->ArgNames({ "N", "M", "slices", "calcs", "routine" })
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

// What watching the projection files costs a range run, for both axis
// orientations: the same run with the file checks on (guarded mapped reads,
// a size and time check of every file per slice) and off (the reader as it
// was before: unguarded reads, no checks). Runs alternate on and off so that
// the load of a shared machine falls on both alike.
Scan &scanFor(int n, int m, int rows, bool vertical)
{
    static std::map<std::pair<int, bool>, std::unique_ptr<Scan>> scans;
    auto &s = scans[{ n, vertical }];
    if (!s)
        s = std::make_unique<Scan>(n, m, rows, vertical);
    return *s;
}

void BM_RangeRunFileChecks(benchmark::State &state)
{
    const int n = int(state.range(0)), m = int(state.range(1)), rows = int(state.range(2));
    const bool vertical = state.range(3) != 0;
    const int pairs = int(state.range(4));
    Scan &scan = scanFor(n, m, rows, vertical);
    // Wall time and process CPU time (both calculators): on a machine shared
    // with other work the CPU time is the steadier of the two.
    double on = 1e300, off = 1e300, cpuOn = 1e300, cpuOff = 1e300;
    const auto run = [&](bool checks, double &wall, double &cpu) {
        ImgData::setFileChecks(checks);
        const std::clock_t c0 = std::clock();
        const double t = rangeRun(scan, 2);
        const double c = double(std::clock() - c0) / CLOCKS_PER_SEC;
        if (t <= 0)
            return false;
        wall = std::min(wall, t);
        cpu = std::min(cpu, c);
        return true;
    };
    for (auto _ : state) {
        // Pairs of runs, off then on; the best run of each kind counts.
        for (int k = 0; k < pairs; ++k) {
            if (!run(false, off, cpuOff) || !run(true, on, cpuOn)) {
                state.SkipWithError("range run did not finish");
                return;
            }
        }
        state.SetIterationTime(on);
    }
    ImgData::setFileChecks(true);
    state.counters["wall_s_on"] = on;
    state.counters["wall_s_off"] = off;
    state.counters["cpu_s_on"] = cpuOn;
    state.counters["cpu_s_off"] = cpuOff;
    state.counters["cpu_slower_pct"] = 100.0 * (cpuOn / cpuOff - 1.0);
}

BENCHMARK(BM_RangeRunFileChecks)
    ->Args({ 512, 720, 16, 1, 3 })
    ->Args({ 512, 720, 16, 0, 3 })
    ->Args({ 2048, 1800, 2, 1, 1 })
    ->Args({ 2048, 1800, 2, 0, 1 })
    ->ArgNames({ "N", "M", "slices", "axisV", "pairs" })
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

// A 2048 x 2048 result grid with values that need every number form.
const std::vector<double> &grid2048()
{
    static std::vector<double> g = [] {
        std::vector<double> v(size_t(2048) * 2048);
        for (size_t i = 0; i < v.size(); ++i)
            v[i] = std::sin(double(i) * 1e-3) * 12.5 + double(i % 7) * 1e-3;
        return v;
    }();
    return g;
}

void BM_DataFileToChars(benchmark::State &state)
{
    const std::vector<double> &g = grid2048();
    qsizetype bytes = 0;
    for (auto _ : state) {
        QByteArray text = makeCtImgData(g.data(), 2048, 0, 0, 2048, 2048, CtImgDataLimits());
        bytes = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["MB"] = double(bytes) / 1e6;
    state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_DataFileToChars)->Unit(benchmark::kMillisecond);

// Baseline: the same lines through QTextStream with 6 significant digits.
void BM_DataFileQTextStream(benchmark::State &state)
{
    const std::vector<double> &g = grid2048();
    qsizetype bytes = 0;
    for (auto _ : state) {
        QByteArray text;
        QTextStream out(&text);
        out.setRealNumberPrecision(6);
        out << "#VRLO-CTImg\n";
        for (int z = 0; z < 2048; ++z)
            for (int x = 0; x < 2048; ++x) {
                const double v = g[size_t(z) * 2048 + x];
                out << x << '\t' << z << '\t' << (10.0 + (v < -10 || v > 10 ? 0 : v)) << '\n';
            }
        out.flush();
        bytes = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["MB"] = double(bytes) / 1e6;
    state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_DataFileQTextStream)->Unit(benchmark::kMillisecond);

// Baseline: snprintf with %d and %g into one buffer.
void BM_DataFileSnprintf(benchmark::State &state)
{
    const std::vector<double> &g = grid2048();
    qsizetype bytes = 0;
    for (auto _ : state) {
        QByteArray text;
        text.reserve(qsizetype(2048) * 2048 * 20);
        char line[64];
        for (int z = 0; z < 2048; ++z)
            for (int x = 0; x < 2048; ++x) {
                const double v = g[size_t(z) * 2048 + x];
                const int len = std::snprintf(
                    line, sizeof line, "%d\t%d\t%g\n", x, z, 10.0 + (v < -10 || v > 10 ? 0 : v));
                text.append(line, len);
            }
        bytes = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["MB"] = double(bytes) / 1e6;
    state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_DataFileSnprintf)->Unit(benchmark::kMillisecond);

// A slice as saved to disk, per kind: the float TIFF (values rounded to float
// and written by libtiff) against the data file (text made and written).
void BM_SaveFloatTiff(benchmark::State &state)
{
    const std::vector<double> &g = grid2048();
    QTemporaryDir dir;
    const QString path = dir.filePath("slice.tif");
    for (auto _ : state) {
        const std::vector<float> values = floatGrid(g.data(), 2048, 2048);
        if (!writeFloatTiff(path, values.data(), 2048, 2048))
            state.SkipWithError("TIFF not written");
    }
    state.counters["MB"] = double(QFileInfo(path).size()) / 1e6;
}
BENCHMARK(BM_SaveFloatTiff)->Unit(benchmark::kMillisecond);

void BM_SaveDataFile(benchmark::State &state)
{
    const std::vector<double> &g = grid2048();
    QTemporaryDir dir;
    const QString path = dir.filePath("slice.dat");
    for (auto _ : state) {
        const QByteArray text = makeCtImgData(g.data(), 2048, 0, 0, 2048, 2048, CtImgDataLimits());
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size())
            state.SkipWithError("data file not written");
    }
    state.counters["MB"] = double(QFileInfo(path).size()) / 1e6;
}
BENCHMARK(BM_SaveDataFile)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
