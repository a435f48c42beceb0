// Loading and reconstructing a scan from one HDF5 file (DXchange, plain and
// gzip-compressed, one chunk per frame) against the same scan as ITEX files,
// in the same run: the stack load, the sinogram build alone (the reads), and
// sinogram build plus back-projection of every slice in turn, as a range run
// on one calculator does. Counters: resident memory after the load.
#include "ct/bp_kernel.h"
#include "ct/h_sgm.h"
#include "image/img_data.h"
#include "image/img_datas.h"
#include "tools/phantom_scan.h"

#include <hdf5.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <memory>

namespace {

constexpr int width = 1024, height = 32, projections = 720;

struct Files {
    QTemporaryDir dir;
    QStringList itex;
    QString h5, h5gzip;
    bool ok = false;
    Files()
    {
        ScanSettings s;
        s.width = width;
        s.height = height;
        s.projections = projections;
        const PhantomScan scan(s);
        QStringList written;
        ok = scan.writeScan(dir.filePath("itex"), &written)
            && scan.writeScanHdf5(dir.filePath("plain.h5"), false, nullptr)
            && scan.writeScanHdf5(dir.filePath("gzip.h5"), true, nullptr);
        for (const QString &f : written)
            if (QFileInfo(f).fileName().startsWith("proj_"))
                itex << f;
        h5 = dir.filePath("plain.h5");
        h5gzip = dir.filePath("gzip.h5");
    }
};

Files &files()
{
    static Files f;
    return f;
}

double residentBytes()
{
    QFile f("/proc/self/statm");
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> v = f.readAll().split(' ');
    return v.size() > 1 ? v[1].toDouble() * 4096 : 0;
}

// Loads the scan of kind 0 (ITEX files with I0.img and BG.img), 1 (HDF5) or
// 2 (HDF5, gzip) into the stack; the I0 and BG images go into the slots.
bool load(int kind, ImgDatas &stack, std::unique_ptr<ImgData> &i0, std::unique_ptr<ImgData> &bg)
{
    Files &f = files();
    stack.clear();
    if (kind == 0) {
        for (const QString &p : f.itex)
            if (!stack.add(p))
                return false;
        for (auto *slot : { &i0, &bg }) {
            const QString p = f.dir.filePath(slot == &i0 ? "itex/I0.img" : "itex/BG.img");
            slot->reset(createImgData(fileType(p)));
            (*slot)->setFileName(p);
            if (!(*slot)->load())
                return false;
        }
        return true;
    }
    return stack.add(kind == 1 ? f.h5 : f.h5gzip);
}

const char *kindName(int kind) { return kind == 0 ? "itex" : kind == 1 ? "hdf5" : "hdf5-gzip"; }

void BM_Load(benchmark::State &state)
{
    const int kind = int(state.range(0));
    state.SetLabel(kindName(kind));
    if (!files().ok) {
        state.SkipWithError("scan not written");
        return;
    }
    for (auto _ : state) {
        ImgDatas stack;
        std::unique_ptr<ImgData> i0, bg;
        stack.setI0Ref(&i0);
        stack.setBgRef(&bg);
        if (!load(kind, stack, i0, bg) || stack.count() != projections) {
            state.SkipWithError("load failed");
            return;
        }
        state.counters["rss_MB"] = residentBytes() / 1e6;
    }
}
BENCHMARK(BM_Load)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// withKernel 0: sinogram builds only; 1: and the back-projection of each.
void BM_Slices(benchmark::State &state)
{
    const int kind = int(state.range(0));
    const bool withKernel = state.range(1) != 0;
    state.SetLabel(
        QStringLiteral("%1%2").arg(kindName(kind), withKernel ? " + kernel" : "").toStdString());
    ImgDatas stack;
    std::unique_ptr<ImgData> i0, bg;
    stack.setI0Ref(&i0);
    stack.setBgRef(&bg);
    if (!files().ok || !load(kind, stack, i0, bg)) {
        state.SkipWithError("load failed");
        return;
    }
    HSgm h;
    BpKernel kernel;
    int slice = 0;
    for (auto _ : state) {
        // Every slice in turn, as a range run hands them out.
        if (!genSinogram0(&h, &stack, true, width / 2.0, slice)) {
            state.SkipWithError("sinogram failed");
            return;
        }
        if (withKernel) {
            const double e = 2 * (h.width / 2) - 1;
            kernel.reconstruct(h.sgm.get(), h.width, h.rows, 0, 0, e, e, 0.0);
        }
        benchmark::DoNotOptimize(h.sgm.get());
        slice = (slice + 1) % height;
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["rss_MB"] = residentBytes() / 1e6;
}
BENCHMARK(BM_Slices)
    ->Args({ 0, 0 })
    ->Args({ 1, 0 })
    ->Args({ 2, 0 })
    ->Args({ 0, 1 })
    ->Args({ 1, 1 })
    ->Args({ 2, 1 })
    ->Unit(benchmark::kMillisecond);

// A 1800 x 2048 x 2048 16-bit scan (15 GB of pixels) in gzip chunks of 8
// rows of one frame, none written (every pixel the fill value, the file a few
// kilobytes): what loading such a file costs without the disk's part, and
// the first sinogram of a slice (one band of 8 rows of every frame, 59 MB).
// No ITEX baseline: the same scan as files would need the 15 GB on disk.
void BM_LargeScanLoad(benchmark::State &state)
{
    static QTemporaryDir dir;
    const QString path = dir.filePath("large.h5");
    if (!QFile::exists(path)) {
        const hid_t f = H5Fcreate(
            QFile::encodeName(path).constData(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
        const hid_t g = H5Gcreate2(f, "exchange", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
        const hsize_t dims[3] = { 1800, 2048, 2048 }, chunk[3] = { 1, 8, 2048 };
        const hid_t sp = H5Screate_simple(3, dims, nullptr);
        const hid_t dcpl = H5Pcreate(H5P_DATASET_CREATE);
        H5Pset_chunk(dcpl, 3, chunk);
        H5Pset_deflate(dcpl, 1);
        H5Dclose(H5Dcreate2(g, "data", H5T_STD_U16LE, sp, H5P_DEFAULT, dcpl, H5P_DEFAULT));
        H5Pclose(dcpl);
        H5Sclose(sp);
        H5Gclose(g);
        H5Fclose(f);
    }
    const bool withSinogram = state.range(0) != 0;
    state.SetLabel(withSinogram ? "load + sinogram of one slice" : "load");
    const double before = residentBytes();
    for (auto _ : state) {
        ImgDatas stack;
        if (!stack.add(path) || stack.count() != 1800) {
            state.SkipWithError("load failed");
            return;
        }
        if (withSinogram) {
            HSgm h;
            if (!genSinogram0(&h, &stack, true, 1024.0, 1000)) {
                state.SkipWithError("sinogram failed");
                return;
            }
        }
        state.counters["rss_growth_MB"] = (residentBytes() - before) / 1e6;
    }
}
BENCHMARK(BM_LargeScanLoad)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

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
