#include "ct/bp_kernel.h"

#include "ct/bp_row.h"
#include "ct/bp_tile.h"
#include "ct/fftw_planner.h"
#include "ct/region_clip.h"

#include <QDebug>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <exception>
#include <limits>
#include <system_error>
#include <thread>

namespace {

using region_clip::clampCeil;
using region_clip::clampTrunc;
using region_clip::halfChord;

constexpr double kPi = 3.14159265358979323846;

// Each filtered row is stored with the zero padding the row routines need:
// [kFront zeros][N values][kBack zeros].
constexpr std::size_t kFront = 8;
constexpr std::size_t kBack = 24;
static_assert(kFront >= kBpRowPadFront && kBack >= kBpRowPadBack, "row padding");

// Grid tiles of the all-projections pass: kTileZ rows by kTileX columns stay in
// cache (64 KB of result) while all projections pass over them.
constexpr int kTileZ = 32;
constexpr int kTileX = 256;

// Rows of the filter and of the pair tables a thread takes at a time.
constexpr int kRowChunk = 16;

} // namespace

struct BpKernel::Impl {
    fftw_complex *fwdIn = nullptr;
    fftw_complex *fwdOut = nullptr;
    fftw_complex *bwdIn = nullptr;
    fftw_complex *bwdOut = nullptr;
    fftw_plan fwd = nullptr;
    fftw_plan bwd = nullptr;
    fftw_complex *spectra = nullptr; // M rows of N, [i][k]
    double *filt = nullptr; // M padded rows of stride values
    std::size_t stride = 0;
    double *pairs = nullptr; // M pair tables of pairStride values, made on first use
    std::size_t pairStride = 0;
    std::vector<std::vector<double>> tiles; // per thread: the block the pair routine works on
    std::vector<BpProjection> proj;
    // Transform buffers of the helper threads of reconstruct (N values each),
    // made on first use; the calling thread uses the four above.
    struct Buffers {
        fftw_complex *fwdIn, *fwdOut, *bwdIn, *bwdOut;
    };
    std::vector<Buffers> helperBuffers;

    double *filtRow(int i) const { return filt + std::size_t(i) * stride + kFront; }
    double *pairRow(int i) const { return pairs + std::size_t(i) * pairStride; }

    Buffers own() const { return { fwdIn, fwdOut, bwdIn, bwdOut }; }

    ~Impl()
    {
        for (const Buffers &b : helperBuffers)
            for (fftw_complex *p : { b.fwdIn, b.fwdOut, b.bwdIn, b.bwdOut })
                FftwPlanner::free(p);
        FftwPlanner::destroy(fwd);
        FftwPlanner::destroy(bwd);
        FftwPlanner::free(fwdIn);
        FftwPlanner::free(fwdOut);
        FftwPlanner::free(bwdIn);
        FftwPlanner::free(bwdOut);
        FftwPlanner::free(spectra);
        FftwPlanner::free(filt);
        FftwPlanner::free(pairs);
    }
};

bool bpRoutineAvailable(BpRoutine r)
{
    switch (r) {
    case BpRoutine::Generic:
        return true;
    case BpRoutine::Avx2Gather:
        return bpRowAddAvx2() != nullptr;
    case BpRoutine::Avx512Window:
        return bpRowAddAvx512() != nullptr;
    case BpRoutine::Avx2Pairs:
        return bpTileAddAvx2() != nullptr;
    }
    return false;
}

const char *bpRoutineName(BpRoutine r)
{
    switch (r) {
    case BpRoutine::Generic:
        return "generic";
    case BpRoutine::Avx2Gather:
        return "avx2";
    case BpRoutine::Avx512Window:
        return "avx512f";
    case BpRoutine::Avx2Pairs:
        return "avx2-pairs";
    }
    return "";
}

BpRoutine bpBestRoutine()
{
    return bpRoutineAvailable(BpRoutine::Avx2Pairs) ? BpRoutine::Avx2Pairs : BpRoutine::Generic;
}

namespace {
std::atomic<int> defaultRoutine { -1 }; // -1: the best one
} // namespace

BpRoutine bpDefaultRoutine()
{
    const int r = defaultRoutine.load(std::memory_order_relaxed);
    return r < 0 ? bpBestRoutine() : BpRoutine(r);
}

bool bpSetDefaultRoutine(BpRoutine r)
{
    if (!bpRoutineAvailable(r))
        return false;
    defaultRoutine.store(int(r), std::memory_order_relaxed);
    return true;
}

namespace {
BpRowAdd rowRoutine(BpRoutine r)
{
    const BpRowAdd fn = r == BpRoutine::Avx2Gather ? bpRowAddAvx2()
        : r == BpRoutine::Avx512Window             ? bpRowAddAvx512()
                                                   : nullptr;
    return fn ? fn : bpRowAddGeneric();
}
} // namespace

BpKernel::BpKernel(BpNormalisation norm)
    : norm_(norm)
    , routine_(bpDefaultRoutine())
{
}

bool BpKernel::setRoutine(BpRoutine r)
{
    if (!bpRoutineAvailable(r))
        return false;
    routine_ = r;
    return true;
}

bool BpKernel::ensurePairs()
{
    if (!d)
        return false;
    if (d->pairs)
        return true;
    d->pairStride = bpPairsStride(n_);
    d->pairs = FftwPlanner::allocReal(d->pairStride * std::size_t(m_));
    if (!d->pairs) {
        qDebug().noquote() << QString("Can't allocate the back-projection buffers : N = %1, M = %2")
                                  .arg(n_)
                                  .arg(m_);
        return false;
    }
    return true;
}

BpKernel::~BpKernel() = default;

void BpKernel::release()
{
    d.reset();
    padded_.release();
    n_ = 0;
    m_ = 0;
    result_.clear();
    result_.shrink_to_fit();
    resultValid_ = false;
}

bool BpKernel::prepare(int n, int m)
{
    release();
    if (n < 2 || n % 2 != 0 || m < 1) {
        qDebug().noquote() << QString(
            "Can't prepare the back-projection for these sizes : N = %1, M = %2")
                                  .arg(n)
                                  .arg(m);
        return false;
    }
    auto impl = std::make_unique<Impl>();
    const std::size_t nn = std::size_t(n);
    impl->stride = kFront + nn + kBack;
    impl->fwdIn = FftwPlanner::allocComplex(nn);
    impl->fwdOut = FftwPlanner::allocComplex(nn);
    impl->bwdIn = FftwPlanner::allocComplex(nn);
    impl->bwdOut = FftwPlanner::allocComplex(nn);
    impl->spectra = FftwPlanner::allocComplex(nn * std::size_t(m));
    impl->filt = FftwPlanner::allocReal(impl->stride * std::size_t(m));
    bool ok
        = impl->fwdIn && impl->fwdOut && impl->bwdIn && impl->bwdOut && impl->spectra && impl->filt;
    if (ok) {
        std::memset(impl->filt, 0, impl->stride * std::size_t(m) * sizeof(double));
        std::memset(impl->spectra, 0, nn * std::size_t(m) * sizeof(fftw_complex));
        impl->fwd = FftwPlanner::planDft1d(n, impl->fwdIn, impl->fwdOut, FFTW_FORWARD);
        impl->bwd = FftwPlanner::planDft1d(n, impl->bwdIn, impl->bwdOut, FFTW_BACKWARD);
        ok = impl->fwd && impl->bwd;
    }
    if (ok) {
        try {
            result_.assign(nn * nn, 0.0);
        } catch (const std::exception &) { // bad_alloc, or length_error beyond max_size()
            ok = false;
        }
    }
    if (!ok) {
        qDebug().noquote()
            << QString("Can't allocate the back-projection buffers : N = %1, M = %2").arg(n).arg(m);
        result_.clear();
        return false;
    }
    d = std::move(impl);
    n_ = n;
    m_ = m;
    resultValid_ = false;
    if (filterKind_ != ReconFilterKind::Ramp && !padded_.prepare(n, filterKind_))
        filterKind_ = ReconFilterKind::Ramp;
    return true;
}

bool BpKernel::setFilter(ReconFilterKind kind)
{
    filterKind_ = kind;
    if (kind == ReconFilterKind::Ramp || !prepared() || padded_.preparedFor(n_, kind))
        return true;
    if (padded_.prepare(n_, kind))
        return true;
    filterKind_ = ReconFilterKind::Ramp;
    return false;
}

bool BpKernel::ensurePrepared(int n, int m)
{
    if (preparedFor(n, m))
        return true;
    return prepare(n, m);
}

double BpKernel::normDivisor() const
{
    return norm_ == BpNormalisation::SingleSlice ? double(n_) * double(m_) : double(n_);
}

void BpKernel::transformRow(int i, const double *samples)
{
    if (!d || i < 0 || i >= m_ || !samples)
        return;
    if (filterKind_ != ReconFilterKind::Ramp) {
        std::memcpy(d->filtRow(i), samples, std::size_t(n_) * sizeof(double));
        return;
    }
    rampTransform(i, samples, d->fwdIn, d->fwdOut);
}

// The plans are executed on the given buffers (fftw_execute_dft): the
// kernel's own ones or a helper thread's, all from fftw_malloc and so aligned
// alike, which gives every row the same arithmetic whichever thread does it.
void BpKernel::rampTransform(int i, const double *samples, Complex *in, Complex *out)
{
    for (int k = 0; k < n_; ++k) {
        in[k][0] = samples[k];
        in[k][1] = 0.0;
    }
    fftw_execute_dft(d->fwd, in, out);
    std::memcpy(
        d->spectra + std::size_t(i) * std::size_t(n_), out, std::size_t(n_) * sizeof(fftw_complex));
}

void BpKernel::filterRow(int i)
{
    if (!d || i < 0 || i >= m_)
        return;
    if (filterKind_ != ReconFilterKind::Ramp) {
        // The plain ramp's backward DFT is N times the convolution.
        padded_.apply(d->filtRow(i), d->filtRow(i), double(n_) / normDivisor());
        return;
    }
    rampFilter(i, d->bwdIn, d->bwdOut);
}

void BpKernel::rampFilter(int i, Complex *in, Complex *out)
{
    const int n = n_;
    const double twoPi = 2.0 * kPi;
    const fftw_complex *sp = d->spectra + std::size_t(i) * std::size_t(n);
    // Ramp |frequency| in units of 2pi / N: bins 0 ... N/2 - 1 rise, bins
    // N/2 ... N - 1 mirror bins N/2 ... 1; bin N/2 gets pi.
    for (int k = 0; k < n / 2; ++k) {
        const double w = double(k) * twoPi / double(n);
        in[k][0] = sp[k][0] * w;
        in[k][1] = sp[k][1] * w;
    }
    for (int mm = 1; mm <= n / 2; ++mm) {
        const double w = double(mm) * twoPi / double(n);
        in[n - mm][0] = sp[n - mm][0] * w;
        in[n - mm][1] = sp[n - mm][1] * w;
    }
    fftw_execute_dft(d->bwd, in, out);
    const double norm = normDivisor();
    double *f = d->filtRow(i);
    for (int k = 0; k < n; ++k)
        f[k] = out[k][0] / norm;
}

const double *BpKernel::filtered(int i) const
{
    if (!d || i < 0 || i >= m_)
        return nullptr;
    return d->filtRow(i);
}

const double *BpKernel::spectrum(int i) const
{
    if (!d || i < 0 || i >= m_)
        return nullptr;
    return &d->spectra[std::size_t(i) * std::size_t(n_)][0];
}

void BpKernel::clearResult()
{
    std::fill(result_.begin(), result_.end(), 0.0);
    resultValid_ = false;
}

bool BpKernel::scanResult()
{
    if (result_.empty())
        return false;
    double mn = std::numeric_limits<double>::max();
    double mx = std::numeric_limits<double>::lowest();
    for (double v : result_) {
        if (v < mn)
            mn = v;
        if (v > mx)
            mx = v;
    }
    resultMin_ = mn;
    resultMax_ = mx;
    return true;
}

namespace {

// Pixel range [xa, xb] of grid row z strictly inside the circle and inside
// [xLo, xHi); empty when xa > xb.
struct RowSpan {
    int xa;
    int xb;
};

RowSpan rowSpan(int n, int z, int xLo, int xHi)
{
    const long long h = n / 2;
    const long long dz = z - h;
    const long long r2 = h * h - dz * dz;
    if (r2 <= 0)
        return { 1, 0 };
    const long long t = halfChord(r2);
    const int xa = std::max<int>(int(h - t), xLo);
    const int xb = std::min<int>(int(h + t), xHi - 1);
    return { xa, xb };
}

} // namespace

namespace {
bool usableOffset(double angleOffsetDeg)
{
    if (std::isfinite(angleOffsetDeg))
        return true;
    qDebug() << "Angle offset is not a finite number :" << angleOffsetDeg;
    return false;
}
} // namespace

namespace {

// Grid blocks of the pair routine's all-projections pass: kPairTileZ rows by
// kPairTileX columns are copied into a contiguous buffer (256 KB) while every
// projection passes over them, two at a time.
constexpr int kPairTileZ = 64;
constexpr int kPairTileX = 512;
static_assert(kPairTileZ <= kBpTileMax && kPairTileX <= kBpTileMax, "pair tile size");

// The grid rows zLo <= z < zHi within columns [xLo, xHi), cut into blocks of at
// most tz x tx pixels that hold at least one pixel inside the circle; for each,
// `fn(tx0, tz0, cols, rows, xa, xb)` with the spans of its rows.
template <typename Fn>
void forEachBlock(int n, int xLo, int zLo, int xHi, int zHi, int tz, int tx, Fn fn)
{
    std::vector<RowSpan> spans(static_cast<std::size_t>(tz));
    std::vector<int> xa(static_cast<std::size_t>(tz)), xb(static_cast<std::size_t>(tz));
    for (int z0 = zLo; z0 < zHi; z0 += tz) {
        const int rows = std::min(tz, zHi - z0);
        int rowMin = n, rowMax = -1;
        for (int r = 0; r < rows; ++r) {
            spans[std::size_t(r)] = rowSpan(n, z0 + r, xLo, xHi);
            if (spans[std::size_t(r)].xa <= spans[std::size_t(r)].xb) {
                rowMin = std::min(rowMin, spans[std::size_t(r)].xa);
                rowMax = std::max(rowMax, spans[std::size_t(r)].xb);
            }
        }
        for (int x0 = rowMin; x0 <= rowMax; x0 += tx) {
            const int cols = std::min(tx, rowMax - x0 + 1);
            bool any = false;
            for (int r = 0; r < rows; ++r) {
                xa[std::size_t(r)] = std::max(spans[std::size_t(r)].xa, x0);
                xb[std::size_t(r)] = std::min(spans[std::size_t(r)].xb, x0 + cols - 1);
                any = any || xa[std::size_t(r)] <= xb[std::size_t(r)];
            }
            if (any)
                fn(x0, z0, cols, rows, xa.data(), xb.data());
        }
    }
}

// The blocks of forEachBlock as a list, so that threads can share them out.
struct BlockList {
    struct Block {
        int x0, z0, cols, rows;
        std::size_t span; // first row's entry in xa and xb
    };
    std::vector<Block> blocks;
    std::vector<int> xa, xb; // the rows' spans, block after block

    BlockList(int n, int xLo, int zLo, int xHi, int zHi, int tz, int tx)
    {
        forEachBlock(n, xLo, zLo, xHi, zHi, tz, tx,
            [&](int bx, int bz, int cols, int rows, const int *a, const int *b) {
                blocks.push_back({ bx, bz, cols, rows, xa.size() });
                xa.insert(xa.end(), a, a + rows);
                xb.insert(xb.end(), b, b + rows);
            });
    }
};

// Calls fn(block, worker) once for every block 0 ... count - 1, on the calling
// thread (worker 0) and up to threads - 1 helper threads (workers 1, 2, ...),
// which take the next block as soon as they are free. A helper that cannot be
// started leaves its share to the others. Returns once every block is done.
template <typename Fn> void shareBlocks(int count, int threads, Fn fn)
{
    const int helpers = std::min(threads, count) - 1;
    if (helpers <= 0) {
        for (int b = 0; b < count; ++b)
            fn(b, 0);
        return;
    }
    std::atomic<int> next { 0 };
    auto work = [&](int worker) {
        for (int b = next.fetch_add(1); b < count; b = next.fetch_add(1))
            fn(b, worker);
    };
    std::vector<std::thread> pool;
    pool.reserve(std::size_t(helpers));
    for (int w = 1; w <= helpers; ++w) {
        try {
            pool.emplace_back(work, w);
        } catch (const std::system_error &) {
            break;
        }
    }
    work(0);
    for (std::thread &t : pool)
        t.join();
}

} // namespace

void BpKernel::backProject(int i, double x0, double z0, double x1, double z1, double angleOffsetDeg)
{
    if (!d || i < 0 || i >= m_ || !usableOffset(angleOffsetDeg))
        return;
    const int n = n_;
    const int xLo = clampTrunc(x0, 0, n);
    const int zLo = clampTrunc(z0, 0, n);
    const int xHi = clampCeil(x1, 0, n);
    const int zHi = clampCeil(z1, 0, n);
    const double theta = angleOffsetDeg * kPi / 180.0 + double(i) * kPi / double(m_);
    const double c = std::cos(theta);
    const double s = std::sin(theta);
    const double h = double(n) / 2.0;
    const double *f = d->filtRow(i);
    const BpTileAdd tileAdd = routine_ == BpRoutine::Avx2Pairs ? bpTileAddAvx2() : nullptr;
    if (tileAdd && ensurePairs()) {
        // One projection: the grid rows are updated where they are.
        bpFillPairs(f, n, d->pairRow(i));
        BpProjection p;
        p.c = c;
        p.s = s;
        p.pairs = d->pairRow(i);
        forEachBlock(n, xLo, zLo, xHi, zHi, kBpTileMax, kBpTileMax,
            [&](int bx, int bz, int cols, int rows, const int *xa, const int *xb) {
                BpTileRows t;
                t.base = result_.data() + std::size_t(bz) * std::size_t(n) + std::size_t(bx);
                t.stride = n;
                t.x0 = bx;
                t.z0 = bz;
                t.cols = cols;
                t.rows = rows;
                t.xa = xa;
                t.xb = xb;
                tileAdd(t, &p, 1, h, n);
            });
        resultValid_ = true;
        return;
    }
    const BpRowAdd add = rowRoutine(routine_);
    for (int z = zLo; z < zHi; ++z) {
        const RowSpan sp = rowSpan(n, z, xLo, xHi);
        if (sp.xa > sp.xb)
            continue;
        add(result_.data() + std::size_t(z) * std::size_t(n), sp.xa, sp.xb, h, c,
            (double(z) - h) * s, f, n);
    }
    resultValid_ = true;
}

void BpKernel::backProjectAll(double x0, double z0, double x1, double z1, double angleOffsetDeg)
{
    if (!d || !usableOffset(angleOffsetDeg))
        return;
    const int n = n_;
    const int m = m_;
    const int xLo = clampTrunc(x0, 0, n);
    const int zLo = clampTrunc(z0, 0, n);
    const int xHi = clampCeil(x1, 0, n);
    const int zHi = clampCeil(z1, 0, n);
    // cos and sin once per projection.
    std::vector<double> cs(static_cast<std::size_t>(m)), sn(static_cast<std::size_t>(m));
    for (int i = 0; i < m; ++i) {
        const double theta = angleOffsetDeg * kPi / 180.0 + double(i) * kPi / double(m);
        cs[std::size_t(i)] = std::cos(theta);
        sn[std::size_t(i)] = std::sin(theta);
    }
    const double h = double(n) / 2.0;
    const BpTileAdd tileAdd = routine_ == BpRoutine::Avx2Pairs ? bpTileAddAvx2() : nullptr;
    if (tileAdd && ensurePairs()) {
        d->proj.resize(std::size_t(m));
        shareBlocks((m + kRowChunk - 1) / kRowChunk, threads_, [&](int chunk, int) {
            const int end = std::min(m, (chunk + 1) * kRowChunk);
            for (int i = chunk * kRowChunk; i < end; ++i) {
                bpFillPairs(d->filtRow(i), n, d->pairRow(i));
                d->proj[std::size_t(i)].c = cs[std::size_t(i)];
                d->proj[std::size_t(i)].s = sn[std::size_t(i)];
                d->proj[std::size_t(i)].pairs = d->pairRow(i);
            }
        });
        const BlockList list(n, xLo, zLo, xHi, zHi, kPairTileZ, kPairTileX);
        const int count = int(list.blocks.size());
        const int workers = std::max(1, std::min(threads_, count));
        d->tiles.resize(std::size_t(workers));
        for (std::vector<double> &tile : d->tiles)
            tile.resize(std::size_t(kPairTileZ) * kPairTileX);
        double *res = result_.data();
        const BpProjection *proj = d->proj.data();
        shareBlocks(count, workers, [&](int b, int worker) {
            const BlockList::Block &blk = list.blocks[std::size_t(b)];
            const int bx = blk.x0;
            const int bz = blk.z0;
            const int rows = blk.rows;
            const int *xa = list.xa.data() + blk.span;
            const int *xb = list.xb.data() + blk.span;
            double *buf = d->tiles[std::size_t(worker)].data();
            // The block goes into a contiguous buffer, so that its rows do
            // not compete for the same cache sets, and back.
            for (int r = 0; r < rows; ++r)
                if (xa[r] <= xb[r])
                    std::memcpy(buf + std::size_t(r) * kPairTileX + (xa[r] - bx),
                        res + std::size_t(bz + r) * std::size_t(n) + xa[r],
                        std::size_t(xb[r] - xa[r] + 1) * sizeof(double));
            BpTileRows t;
            t.base = buf;
            t.stride = kPairTileX;
            t.x0 = bx;
            t.z0 = bz;
            t.cols = blk.cols;
            t.rows = rows;
            t.xa = xa;
            t.xb = xb;
            tileAdd(t, proj, m, h, n);
            for (int r = 0; r < rows; ++r)
                if (xa[r] <= xb[r])
                    std::memcpy(res + std::size_t(bz + r) * std::size_t(n) + xa[r],
                        buf + std::size_t(r) * kPairTileX + (xa[r] - bx),
                        std::size_t(xb[r] - xa[r] + 1) * sizeof(double));
        });
        resultValid_ = true;
        return;
    }
    const BpRowAdd add = rowRoutine(routine_);
    const BlockList list(n, xLo, zLo, xHi, zHi, kTileZ, kTileX);
    double *res = result_.data();
    shareBlocks(int(list.blocks.size()), threads_, [&](int b, int) {
        const BlockList::Block &blk = list.blocks[std::size_t(b)];
        const int *xa = list.xa.data() + blk.span;
        const int *xb = list.xb.data() + blk.span;
        for (int i = 0; i < m; ++i) {
            const double c = cs[std::size_t(i)];
            const double s = sn[std::size_t(i)];
            const double *f = d->filtRow(i);
            for (int r = 0; r < blk.rows; ++r) {
                if (xa[r] > xb[r])
                    continue;
                const int z = blk.z0 + r;
                add(res + std::size_t(z) * std::size_t(n), xa[r], xb[r], h, c, (double(z) - h) * s,
                    f, n);
            }
        }
    });
    resultValid_ = true;
}

bool BpKernel::reconstruct(const double *sgm, int width, int rows, double x0, double z0, double x1,
    double z1, double angleOffsetDeg)
{
    if (!sgm || width <= 0 || rows <= 0)
        return false;
    if (!ensurePrepared(gridSizeFor(width), rows))
        return false;
    clearResult();
    const int workers = filterKind_ == ReconFilterKind::Ramp ? helpersReady(threads_ - 1) + 1 : 1;
    if (workers > 1) {
        // Rows are independent: chunks of them go to the threads, each with
        // its own transform buffers.
        shareBlocks((rows + kRowChunk - 1) / kRowChunk, workers, [&](int chunk, int worker) {
            const Impl::Buffers b
                = worker == 0 ? d->own() : d->helperBuffers[std::size_t(worker - 1)];
            const int end = std::min(rows, (chunk + 1) * kRowChunk);
            for (int i = chunk * kRowChunk; i < end; ++i) {
                rampTransform(i, sgm + std::size_t(i) * std::size_t(width), b.fwdIn, b.fwdOut);
                rampFilter(i, b.bwdIn, b.bwdOut);
            }
        });
    } else {
        for (int i = 0; i < rows; ++i)
            transformRow(i, sgm + std::size_t(i) * std::size_t(width));
        for (int i = 0; i < rows; ++i)
            filterRow(i);
    }
    backProjectAll(x0, z0, x1, z1, angleOffsetDeg);
    return true;
}

int BpKernel::helpersReady(int helpers)
{
    if (!d || helpers < 1)
        return 0;
    const std::size_t nn = std::size_t(n_);
    while (d->helperBuffers.size() < std::size_t(helpers)) {
        Impl::Buffers b { FftwPlanner::allocComplex(nn), FftwPlanner::allocComplex(nn),
            FftwPlanner::allocComplex(nn), FftwPlanner::allocComplex(nn) };
        if (!b.fwdIn || !b.fwdOut || !b.bwdIn || !b.bwdOut) {
            for (fftw_complex *p : { b.fwdIn, b.fwdOut, b.bwdIn, b.bwdOut })
                FftwPlanner::free(p);
            break; // fewer helpers
        }
        d->helperBuffers.push_back(b);
    }
    return std::min(helpers, int(d->helperBuffers.size()));
}
