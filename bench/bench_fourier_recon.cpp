// The two reconstruction methods side by side, on one core:
//   BM_Slice      one whole slice from its sinogram (filter, and back-projection
//                 or gridding), N x N from M projections, with the padded ramp;
//                 method 0 = the back-projection (the kernel's chosen routine),
//                 1 = Fourier gridding. Counters: seconds per slice (CPU time
//                 of the benchmark's one thread), and for the Fourier method
//                 its memory and its RMS difference to the back-projection
//                 inside the circle over the largest value of the slice.
//   BM_RangeRun   a range run of 1 or 2 parallel calculators over a synthetic
//                 scan in memory with each method: slices per second (wall)
//                 and CPU seconds per slice.
// The back-projection runs first at each size, so the ratio counter of the
// Fourier run ("faster_than_fbp") compares two numbers of the same run.
#include "ct/bp_kernel.h"
#include "ct/ct_calc2.h"
#include "ct/fourier_recon.h"
#include "ct/range_dispatch.h"
#include "image/img_data.h"
#include "image/img_datas.h"

#include <benchmark/benchmark.h>

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
    state.counters["MB"] = double(FourierRecon::bytesFor(n)) / 1e6;
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

BENCHMARK_MAIN();
