// Projection files read in place: the memory of a whole 1800-file 2048 x 2048
// scan held by an image stack, and what watching the files (guarded mapped
// reads, a size and time check of every file per sinogram) costs a sinogram
// build for both axis orientations, against the reader without the checks in
// the same run.
//
// The files are sparse (a header and a hole of the pixel block's size), so a
// 15 GB scan costs no disk space; reading a hole gives zeros like any page.
#include "ct/h_sgm.h"
#include "image/img_data.h"
#include "image/img_datas.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <benchmark/benchmark.h>
#include <chrono>
#include <ctime>
#include <map>
#include <memory>

namespace {

// Fields of /proc/self/status in bytes.
std::map<QByteArray, double> status()
{
    std::map<QByteArray, double> out;
    QFile f("/proc/self/status");
    if (!f.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray &line : f.readAll().split('\n')) {
        const QList<QByteArray> parts = line.simplified().split(' ');
        if (parts.size() >= 3 && parts[2] == "kB")
            out[parts[0].chopped(1)] = parts[1].toDouble() * 1024;
    }
    return out;
}

double threadCpuSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + 1e-9 * double(ts.tv_nsec);
}

int openDescriptors() { return int(QDir("/proc/self/fd").entryList(QDir::Files).size()); }

// m sparse ITEX files of w x h 16-bit pixels in one folder, loaded as a stack.
struct SparseScan {
    QTemporaryDir dir;
    ImgDatas stack;
    int w, h;
    qint64 bytes = 0;
    bool ok = true;

    SparseScan(int m, int width, int height)
        : w(width)
        , h(height)
    {
        const QByteArray comment
            = QStringLiteral("Prop_ImageWidth=%1,Prop_ImageHeight=%2,BytesPerPixel=2,")
                  .arg(w)
                  .arg(h)
                  .toLatin1();
        QByteArray head(64, '\0');
        head[0] = 'I';
        head[1] = 'M';
        qToLittleEndian<quint16>(quint16(comment.size()), head.data() + 2);
        head += comment;
        const qint64 size = head.size() + qint64(w) * h * 2;
        for (int k = 0; k < m && ok; ++k) {
            const QString path = dir.filePath(QString::asprintf("p%05d.img", k));
            QFile f(path);
            ok = f.open(QIODevice::WriteOnly) && f.write(head) == head.size() && f.resize(size);
            f.close();
            ok = ok && stack.add(path);
            bytes += size;
        }
    }
};

void BM_ScanMemory(benchmark::State &state)
{
    const int m = int(state.range(0)), n = int(state.range(1));
    auto before = status();
    const int fdsBefore = openDescriptors();
    std::unique_ptr<SparseScan> scan;
    for (auto _ : state) {
        scan = std::make_unique<SparseScan>(m, n, n);
        if (!scan->ok || scan->stack.count() != m) {
            state.SkipWithError("scan not made");
            return;
        }
        // A few slices' sinograms, as a range run of a vertical axis reads them.
        HSgm h;
        for (int slice = 0; slice < 4; ++slice)
            if (!genSinogram0(&h, &scan->stack, true, n / 2, slice * (n / 4))) {
                state.SkipWithError("sinogram not built");
                return;
            }
    }
    auto after = status();
    state.counters["scan_GB"] = double(scan->bytes) / 1e9;
    state.counters["anon_MB"] = (after["RssAnon"] - before["RssAnon"]) / 1e6;
    state.counters["file_MB"] = (after["RssFile"] - before["RssFile"]) / 1e6;
    state.counters["peak_MB"] = after["VmHWM"] / 1e6;
    state.counters["open_fds"] = openDescriptors() - fdsBefore;
}

BENCHMARK(BM_ScanMemory)
    ->Args({ 1800, 2048 })
    ->ArgNames({ "files", "N" })
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

SparseScan &sinogramScan(int m, int n)
{
    static std::map<std::pair<int, int>, std::unique_ptr<SparseScan>> scans;
    auto &s = scans[{ m, n }];
    if (!s)
        s = std::make_unique<SparseScan>(m, n, n);
    return *s;
}

// Sinograms of every 128th line, file checks on and off alternately; the best
// pass of each kind counts.
void BM_SinogramFileChecks(benchmark::State &state)
{
    const int m = int(state.range(0)), n = int(state.range(1));
    const bool vertical = state.range(2) != 0;
    SparseScan &scan = sinogramScan(m, n);
    HSgm h;
    const auto pass = [&](bool checks) {
        // CPU time of this thread, which builds them: steadier than the wall
        // time on a machine shared with other work.
        ImgData::setFileChecks(checks);
        const double t0 = threadCpuSeconds();
        int built = 0;
        for (int slice = 0; slice < n; slice += 128)
            built += genSinogram0(&h, &scan.stack, vertical, n / 2 - 0.5, slice);
        const double s = threadCpuSeconds() - t0;
        return built == (n + 127) / 128 ? s / built : -1.0;
    };
    pass(true); // pages into the cache
    double on = 1e300, off = 1e300;
    for (auto _ : state) {
        for (int k = 0; k < 3; ++k) {
            const double tOff = pass(false), tOn = pass(true);
            if (tOff <= 0 || tOn <= 0) {
                state.SkipWithError("sinogram not built");
                return;
            }
            off = std::min(off, tOff);
            on = std::min(on, tOn);
        }
        state.SetIterationTime(on);
    }
    ImgData::setFileChecks(true);
    state.counters["cpu_ms_per_slice_on"] = on * 1e3;
    state.counters["cpu_ms_per_slice_off"] = off * 1e3;
    state.counters["slower_pct"] = 100.0 * (on / off - 1.0);
}

BENCHMARK(BM_SinogramFileChecks)
    ->Args({ 360, 2048, 1 })
    ->Args({ 360, 2048, 0 })
    ->ArgNames({ "files", "N", "axisV" })
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The check alone: one size and time look-up per file.
void BM_FileCheck(benchmark::State &state)
{
    SparseScan &scan = sinogramScan(360, 2048);
    int ok = 0;
    for (auto _ : state)
        for (int k = 0; k < scan.stack.count(); ++k)
            ok += scan.stack.at(k)->checkFile();
    benchmark::DoNotOptimize(ok);
    state.SetItemsProcessed(state.iterations() * scan.stack.count());
}
BENCHMARK(BM_FileCheck)->Unit(benchmark::kMicrosecond);

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
