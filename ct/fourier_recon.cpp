#include "ct/fourier_recon.h"

#include "ct/fftw_planner.h"
#include "ct/region_clip.h"

#include <QDebug>
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif
#ifdef __linux__
#include <sys/mman.h>
#endif
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

using region_clip::clampCeil;
using region_clip::clampTrunc;
using region_clip::halfChord;

constexpr double kPi = 3.14159265358979323846;
constexpr int kW = FourierRecon::kernelWidth;
// Kernel table samples per grid cell (linear interpolation between them is
// within about 2e-7 of the kernel).
constexpr int kTableRes = 4096;
// Largest N accepted: a grid of 65536^2 / 2 complex values (32 GiB) is beyond
// any machine this runs on, and the indexes stay within int.
constexpr int kMaxN = 16384;
// Grid rows per band: points are spread band by band, so that the rows being
// written stay in the processor's second-level cache.
constexpr int kBandRows = 8;
constexpr std::uintptr_t kHugePage = std::uintptr_t(2) << 20;

// Complex values per grid row: at least G/2 + 1, padded so that one row
// starts 1024 ... 1152 bytes after the previous one modulo 4 KiB. With the
// plain length (a multiple of 4 KiB plus 16 bytes for the usual G) the four
// rows a point touches alias in the processor's store-to-load check, which
// stalls every update.
int rowLength(int g)
{
    int s = g / 2 + 1;
    while ((std::size_t(s) * 16) % 4096 < 1024 || (std::size_t(s) * 16) % 4096 > 1152)
        ++s;
    return s;
}

bool smooth7(long long v)
{
    for (int f : { 2, 3, 5, 7 })
        while (v % f == 0)
            v /= f;
    return v == 1;
}

// Modified Bessel function of the first kind, order 0 (power series; the
// arguments here are below 40, where it converges to rounding in < 60 terms).
double besselI0(double x)
{
    const double q = x * x / 4.0;
    double term = 1.0, sum = 1.0;
    for (int k = 1; k < 200; ++k) {
        term *= q / (double(k) * double(k));
        sum += term;
        if (term < sum * 1e-17)
            break;
    }
    return sum;
}

double kbBeta(int n, int g)
{
    const double s = double(g) / double(n);
    const double a = (double(kW) / s) * (s - 0.5);
    return kPi * std::sqrt(std::max(a * a - 0.8, 1.0));
}

double kbValue(double beta, double t)
{
    const double r = 2.0 * t / double(kW);
    if (std::fabs(r) > 1.0)
        return 0.0;
    return besselI0(beta * std::sqrt(1.0 - r * r));
}

double kbTransform(double beta, double xi)
{
    const double a = kPi * double(kW) * xi;
    const double d = beta * beta - a * a;
    if (d > 0.0) {
        const double r = std::sqrt(d);
        return double(kW) * std::sinh(r) / r;
    }
    if (d < 0.0) {
        const double r = std::sqrt(-d);
        return double(kW) * std::sin(r) / r;
    }
    return double(kW);
}

double sincSquared(double x)
{
    if (x == 0.0)
        return 1.0;
    const double a = std::sin(kPi * x) / (kPi * x);
    return a * a;
}

} // namespace

FourierRecon::FourierRecon(BpNormalisation norm)
    : norm_(norm)
{
}

FourierRecon::~FourierRecon() { release(); }

int FourierRecon::gridLengthFor(int n)
{
    if (n < 2 || n > kMaxN)
        return 0;
    long long g = std::max(2LL * n, 16LL);
    while (g % 2 != 0 || !smooth7(g))
        ++g;
    return int(g);
}

std::size_t FourierRecon::bytesFor(int n, int m)
{
    const int g = gridLengthFor(n);
    if (g == 0 || m < 1)
        return 0;
    const int p = ReconFilter::paddedLengthFor(n);
    const std::size_t bins = std::size_t(p / 2 + 1);
    const std::size_t grid = std::size_t(g) * std::size_t(rowLength(g)) * 16;
    const std::size_t result = std::size_t(n) * std::size_t(n) * 8;
    const std::size_t rows = std::size_t(p) * 8 + bins * 16;
    const std::size_t tables = bins * 32 + std::size_t(n) * 8 + std::size_t(kTableRes + 2) * kW * 8
        + std::size_t(g / kBandRows + 2) * 8 * 2;
    // Up to two points per bin and projection (position and value), and the
    // projections' steps.
    const std::size_t points = std::size_t(m) * bins * 2 * 32 + std::size_t(m) * 32;
    return grid + result + rows + tables + points;
}

double FourierRecon::kernelValue(int n, double t)
{
    const int g = gridLengthFor(n);
    return g ? kbValue(kbBeta(n, g), t) : 0.0;
}

double FourierRecon::kernelTransform(int n, double xi)
{
    const int g = gridLengthFor(n);
    return g ? kbTransform(kbBeta(n, g), xi) : 0.0;
}

void FourierRecon::release()
{
    FftwPlanner::destroy(rowPlan_);
    FftwPlanner::destroy(colPlan_);
    FftwPlanner::destroy(lowRowsPlan_);
    FftwPlanner::destroy(highRowsPlan_);
    FftwPlanner::free(row_);
    FftwPlanner::free(rowSpec_);
    FftwPlanner::free(grid_);
    rowPlan_ = colPlan_ = lowRowsPlan_ = highRowsPlan_ = nullptr;
    row_ = rowSpec_ = grid_ = nullptr;
    weight_.clear();
    deapod_.clear();
    table_.clear();
    result_.clear();
    result_.shrink_to_fit();
    for (auto *v : { &dirs_, &points_ })
        std::vector<double>().swap(*v);
    std::vector<std::size_t>().swap(start_);
    n_ = m_ = p_ = g_ = rowLen_ = kmax_ = 0;
    resultValid_ = false;
}

bool FourierRecon::prepare(int n, ReconFilterKind kind)
{
    release();
    const int g = gridLengthFor(n);
    const int p = n >= 2 ? ReconFilter::paddedLengthFor(n) : 0;
    if (n < 2 || n % 2 != 0 || g == 0 || p == 0) {
        qDebug().noquote() << QString("Can't grid a slice of %1 pixels : wrong size").arg(n);
        return false;
    }
    const int rowLen = rowLength(g);
    const std::size_t cells = std::size_t(g) * std::size_t(rowLen);
    grid_ = reinterpret_cast<double *>(FftwPlanner::allocComplex(cells));
    row_ = FftwPlanner::allocReal(std::size_t(p));
    rowSpec_ = reinterpret_cast<double *>(FftwPlanner::allocComplex(std::size_t(p / 2 + 1)));
    bool ok = grid_ && row_ && rowSpec_;
#ifdef __linux__
    // Spreading walks the grid across its rows: with 4 KiB pages nearly every
    // point needs another page-table walk. Large pages, where the system
    // gives them, take most of that away (only a hint: failure changes nothing).
    if (grid_)
        madvise(reinterpret_cast<void *>(
                    (reinterpret_cast<std::uintptr_t>(grid_) + kHugePage - 1) & ~(kHugePage - 1)),
            cells * 16 > kHugePage ? cells * 16 - kHugePage : 0, MADV_HUGEPAGE);
#endif
    if (ok) {
        double *row = row_;
        fftw_complex *rowSpectrum = reinterpret_cast<fftw_complex *>(rowSpec_);
        fftw_complex *grid = reinterpret_cast<fftw_complex *>(grid_);
        double *out = grid_;
        rowPlan_ = FftwPlanner::planLocked(
            [&] { return fftw_plan_dft_r2c_1d(p, row, rowSpectrum, FFTW_ESTIMATE); });
        // The inverse 2-D transform in two steps, in place, so that only the
        // N output rows that are kept are made: first every column jx = 0 ...
        // G/2 along z (complex, length G, stride rowLen), then the rows
        // Z = 0 ... N/2 - 1 and G - N/2 ... G - 1 along x (complex to real,
        // rowLen complex values in, 2 rowLen doubles out).
        const int len[1] = { g };
        const int cols = g / 2 + 1;
        const int rowsKept = n / 2;
        colPlan_ = FftwPlanner::planLocked([&] {
            return fftw_plan_many_dft(1, len, cols, grid, nullptr, rowLen, 1, grid, nullptr, rowLen,
                1, FFTW_BACKWARD, FFTW_ESTIMATE);
        });
        fftw_complex *upper = grid + std::size_t(g - rowsKept) * std::size_t(rowLen);
        double *upperOut = out + std::size_t(g - rowsKept) * std::size_t(rowLen) * 2;
        lowRowsPlan_ = FftwPlanner::planLocked([&] {
            return fftw_plan_many_dft_c2r(1, len, rowsKept, grid, nullptr, 1, rowLen, out, nullptr,
                1, 2 * rowLen, FFTW_ESTIMATE);
        });
        highRowsPlan_ = FftwPlanner::planLocked([&] {
            return fftw_plan_many_dft_c2r(1, len, rowsKept, upper, nullptr, 1, rowLen, upperOut,
                nullptr, 1, 2 * rowLen, FFTW_ESTIMATE);
        });
        ok = rowPlan_ && colPlan_ && lowRowsPlan_ && highRowsPlan_;
    }
    if (ok) {
        try {
            result_.assign(std::size_t(n) * std::size_t(n), 0.0);
        } catch (const std::bad_alloc &) {
            ok = false;
        }
    }
    std::vector<double> h;
    if (ok && kind != ReconFilterKind::Ramp) {
        h = ReconFilter::response(kind, p);
        ok = h.size() == std::size_t(p) && h[1] != 0.0;
    }
    if (!ok) {
        qDebug().noquote() << QString("Can't prepare the Fourier method for a %1 x %1 grid").arg(n);
        release();
        return false;
    }
    n_ = n;
    p_ = p;
    g_ = g;
    rowLen_ = rowLen;
    kind_ = kind;
    // Bins 1 ... kmax spread with their replicas; an even P adds its Nyquist
    // bin (main band only: its replica is its own mirror).
    kmax_ = p / 2;
    const double hc = double(n) / 2.0;
    weight_.assign(std::size_t(kmax_ + 1) * 4, 0.0);
    for (int k = 0; k <= kmax_; ++k) {
        const double hk
            = kind == ReconFilterKind::Ramp ? 2.0 * kPi * double(k) / double(p) : h[std::size_t(k)];
        const double nu = double(k) / double(p);
        const double main = sincSquared(nu);
        const double rep = (2 * k == p) ? 0.0 : sincSquared(nu - 1.0);
        // The shift by h puts the row's sample h (the axis) at the origin; h
        // is a whole number, so the replica shares the phase.
        const double ph = 2.0 * kPi * std::fmod(double(k) * hc, double(p)) / double(p);
        const double re = hk * std::cos(ph) / double(p), im = hk * std::sin(ph) / double(p);
        double *w = weight_.data() + 4 * std::size_t(k);
        w[0] = re * main;
        w[1] = im * main;
        w[2] = re * rep;
        w[3] = im * rep;
    }
    beta_ = kbBeta(n, g);
    deapod_.resize(std::size_t(n));
    for (int x = 0; x < n; ++x)
        deapod_[std::size_t(x)] = 1.0 / kbTransform(beta_, (double(x) - hc) / double(g));
    // Row r: the W tap weights phi(f - W/2 + q) of a point whose first tap lies
    // f = r / tableRes cells above its lower reach.
    table_.resize(std::size_t(kTableRes + 2) * kW);
    for (int r = 0; r <= kTableRes + 1; ++r)
        for (int q = 0; q < kW; ++q)
            table_[std::size_t(r) * kW + q]
                = kbValue(beta_, double(r) / kTableRes - 0.5 * kW + double(q));
    return true;
}

void FourierRecon::spreadWrapped(
    int jx0, int jz0, const double *wx, const double *wz, double vr, double vi)
{
    const int g = g_;
    const int half = g / 2;
    const std::size_t stride = std::size_t(rowLen_) * 2;
    auto wrap = [g](int j) { return ((j % g) + g) % g; };
    for (int r = 0; r < kW; ++r) {
        const int jz = jz0 + r;
        for (int q = 0; q < kW; ++q) {
            const double w = wx[q] * wz[r];
            if (w == 0.0)
                continue;
            const int jx = wrap(jx0 + q);
            double re = vr * w, im = vi * w;
            int col = jx, row = wrap(jz);
            if (jx == 0 || jx == half) {
                // The real transform reads the real part of these columns'
                // sums: a tap stands for itself and its mirror at once.
                re *= 2.0;
                im *= 2.0;
            } else if (jx > half) {
                // Negative frequency: its mirror (-jx, -jz), conjugated.
                col = g - jx;
                row = wrap(-jz);
                im = -im;
            }
            double *cell = grid_ + std::size_t(row) * stride + std::size_t(col) * 2;
            cell[0] += re;
            cell[1] += im;
        }
    }
}

#if defined(__x86_64__) || defined(__i386__)
// The fast path of spreading with AVX2 and FMA: one grid row of a point's W = 4
// taps is four complex values, two 256-bit registers. Points whose taps reach
// jx <= 0 or jx >= G/2 are returned through `rest` for the general path.
static_assert(kW == 4, "the vector path holds one row of taps in two registers");
__attribute__((target("avx2,fma"))) std::size_t spreadAvx2(const double *pts, std::size_t count,
    const double *tab, double *grid, int g, std::size_t stride, std::vector<std::size_t> &rest)
{
    const int half = g / 2;
    std::size_t done = 0;
    for (std::size_t o = 0; o < count; ++o, pts += 4) {
        const double ax = pts[0], az = pts[1];
        const double bx = ax - 0.5 * kW, bz = az - 0.5 * kW;
        int jx = int(bx), jz = int(bz);
        if (double(jx) < bx)
            ++jx;
        if (double(jz) < bz)
            ++jz;
        if (jx < 1 || jx + kW - 1 > half - 1) {
            rest.push_back(o);
            continue;
        }
        const double fx = (double(jx) - bx) * kTableRes, fz = (double(jz) - bz) * kTableRes;
        int rx = int(fx), rz = int(fz);
        rx = rx < 0 ? 0 : (rx > kTableRes ? kTableRes : rx);
        rz = rz < 0 ? 0 : (rz > kTableRes ? kTableRes : rz);
        const double *tx = tab + std::size_t(rx) * kW;
        const double *tz = tab + std::size_t(rz) * kW;
        const __m256d tx0 = _mm256_loadu_pd(tx), tx1 = _mm256_loadu_pd(tx + kW);
        const __m256d wx
            = _mm256_fmadd_pd(_mm256_set1_pd(fx - double(rx)), _mm256_sub_pd(tx1, tx0), tx0);
        const __m256d tz0 = _mm256_loadu_pd(tz), tz1 = _mm256_loadu_pd(tz + kW);
        const __m256d wz
            = _mm256_fmadd_pd(_mm256_set1_pd(fz - double(rz)), _mm256_sub_pd(tz1, tz0), tz0);
        // (w0, w0, w1, w1) and (w2, w2, w3, w3): each weight on a complex pair.
        const __m256d wxLo = _mm256_permute4x64_pd(wx, 0x50);
        const __m256d wxHi = _mm256_permute4x64_pd(wx, 0xFA);
        const __m256d v = _mm256_setr_pd(pts[2], pts[3], pts[2], pts[3]);
        alignas(32) double wzs[4];
        _mm256_store_pd(wzs, wz);
        double *base = grid + std::size_t(jx) * 2;
        for (int r = 0; r < kW; ++r) {
            int row = jz + r;
            if (row < 0)
                row += g;
            else if (row >= g)
                row -= g;
            double *cell = base + std::size_t(row) * stride;
            const __m256d vr = _mm256_mul_pd(v, _mm256_set1_pd(wzs[r]));
            _mm256_storeu_pd(cell, _mm256_fmadd_pd(vr, wxLo, _mm256_loadu_pd(cell)));
            _mm256_storeu_pd(cell + 4, _mm256_fmadd_pd(vr, wxHi, _mm256_loadu_pd(cell + 4)));
        }
        ++done;
    }
    return done;
}
#endif

void FourierRecon::spreadAll(std::size_t count)
{
    const int g = g_;
    const int half = g_ / 2;
    const std::size_t stride = std::size_t(rowLen_) * 2;
    const double *tab = table_.data();
    double *const grid = grid_;
    // The first tap j0 = ceil(a - W/2) and the W weights.
    const auto taps = [tab](double a, int &j0, double *w) {
        const double b = a - 0.5 * kW;
        int j = int(b);
        if (double(j) < b)
            ++j;
        j0 = j;
        const double fr = (double(j) - b) * kTableRes;
        int r = int(fr);
        r = r < 0 ? 0 : (r > kTableRes ? kTableRes : r);
        const double d = fr - double(r);
        const double *t0 = tab + std::size_t(r) * kW;
        const double *t1 = t0 + kW;
        for (int q = 0; q < kW; ++q)
            w[q] = t0[q] + d * (t1[q] - t0[q]);
    };
#if defined(__x86_64__) || defined(__i386__)
    if (vectorSpread_) {
        std::vector<std::size_t> rest;
        spreadAvx2(points_.data(), count, tab, grid, g, stride, rest);
        for (std::size_t o : rest) {
            const double *pt = points_.data() + 4 * o;
            int jx0, jz0;
            double wx[kW], wz[kW];
            taps(pt[0], jx0, wx);
            taps(pt[1], jz0, wz);
            spreadWrapped(jx0, jz0, wx, wz, pt[2], pt[3]);
        }
        return;
    }
#endif
    const double *pts = points_.data();
    for (std::size_t o = 0; o < count; ++o, pts += 4) {
        const double ax = pts[0], az = pts[1], vr = pts[2], vi = pts[3];
        int jx0, jz0;
        double wx[kW], wz[kW];
        taps(ax, jx0, wx);
        taps(az, jz0, wz);
        if (jx0 < 1 || jx0 + kW - 1 > half - 1) {
            spreadWrapped(jx0, jz0, wx, wz, vr, vi);
            continue;
        }
        double *base = grid + std::size_t(jx0) * 2;
        for (int r = 0; r < kW; ++r) {
            int row = jz0 + r;
            if (row < 0)
                row += g;
            else if (row >= g)
                row -= g;
            double *cell = base + std::size_t(row) * stride;
            const double cr = vr * wz[r], ci = vi * wz[r];
            for (int q = 0; q < kW; ++q) {
                cell[2 * q] += cr * wx[q];
                cell[2 * q + 1] += ci * wx[q];
            }
        }
    }
}

bool FourierRecon::reconstruct(const double *sgm, int width, int rows, double x0, double z0,
    double x1, double z1, double angleOffsetDeg, ReconFilterKind kind)
{
    const int n = BpKernel::gridSizeFor(width);
    if (!sgm || n < 2 || rows < 1) {
        qDebug().noquote() << QString("Can't grid a sinogram of %1 x %2").arg(width).arg(rows);
        return false;
    }
    if (!std::isfinite(angleOffsetDeg)) {
        qDebug() << "Angle offset is not a finite number :" << angleOffsetDeg;
        return false;
    }
    if (!preparedFor(n, kind) && !prepare(n, kind))
        return false;
    m_ = rows;
    const int p = p_;
    const int g = g_;
    const std::size_t rowDoubles = std::size_t(rowLen_) * 2;
    std::memset(grid_, 0, std::size_t(g) * rowDoubles * sizeof(double));
    const double ratio = double(g) / double(p);
    const std::size_t bins = std::size_t(kmax_ + 1);
    const int bands = (g + kBandRows - 1) / kBandRows;
    try {
        dirs_.resize(std::size_t(rows) * 4);
        start_.assign(std::size_t(bands) + 1, 0);
    } catch (const std::bad_alloc &) {
        qDebug().noquote()
            << QString("Can't grid a sinogram of %1 x %2 : no memory").arg(width).arg(rows);
        return false;
    }
    for (int i = 0; i < rows; ++i) {
        const double theta = angleOffsetDeg * kPi / 180.0 + double(i) * kPi / double(rows);
        const double c = std::cos(theta), s = std::sin(theta);
        double *d = dirs_.data() + 4 * std::size_t(i);
        d[0] = ratio * c; // one bin along the ray, grid cells
        d[1] = -ratio * s;
        d[2] = double(g) * c; // one cycle per pixel
        d[3] = -double(g) * s;
    }
    // Point (i, k, r): bin k of row i, and for r = 1 its replica one cycle per
    // pixel lower (what the back-projection's linear interpolation adds above
    // the row's Nyquist frequency). The points are laid out by band of grid
    // rows, so that spreading them writes rows held in cache: first counted
    // per band from the geometry alone, then written with their values.
    const double *wt = weight_.data();
    const auto hasPoint = [wt](std::size_t k, int r) {
        const double *wk = wt + 4 * k + 2 * r;
        return r == 0 || (k > 0 && (wk[0] != 0.0 || wk[1] != 0.0));
    };
    // A point's mapped position (see mapPoint(); |nu| < 1 cycle per pixel, so
    // one period at most is taken off) and its band.
    const double gd = double(g), halfG = 0.5 * gd;
    const auto place = [&](int i, std::size_t k, int r, double &ax, double &az, double &cj) {
        const double *d = dirs_.data() + 4 * std::size_t(i);
        ax = d[0] * double(k) - (r ? d[2] : 0.0);
        az = d[1] * double(k) - (r ? d[3] : 0.0);
        if (ax >= halfG)
            ax -= gd;
        else if (ax < -halfG)
            ax += gd;
        if (az >= halfG)
            az -= gd;
        else if (az < -halfG)
            az += gd;
        cj = 1.0;
        if (ax < 0.0) {
            ax = -ax;
            az = -az;
            cj = -1.0;
        }
        const double b = az - 0.5 * kW;
        int j = int(b);
        if (double(j) < b)
            ++j;
        if (j < 0)
            j += g;
        return j / kBandRows;
    };
    for (int i = 0; i < rows; ++i)
        for (std::size_t k = 0; k < bins; ++k)
            for (int r = 0; r < 2; ++r)
                if (hasPoint(k, r)) {
                    double ax, az, cj;
                    ++start_[std::size_t(place(i, k, r, ax, az, cj)) + 1];
                }
    for (int b = 0; b < bands; ++b)
        start_[std::size_t(b) + 1] += start_[std::size_t(b)];
    const std::size_t total = start_[std::size_t(bands)];
    try {
        points_.resize(total * 4);
    } catch (const std::bad_alloc &) {
        qDebug().noquote()
            << QString("Can't grid a sinogram of %1 x %2 : no memory").arg(width).arg(rows);
        return false;
    }
    std::vector<std::size_t> fill(start_.begin(), start_.end() - 1);
    for (int i = 0; i < rows; ++i) {
        const double *src = sgm + std::size_t(i) * std::size_t(width);
        std::memcpy(row_, src, std::size_t(n) * sizeof(double));
        std::fill(row_ + n, row_ + p, 0.0);
        fftw_execute(rowPlan_);
        const double *S = rowSpec_;
        for (std::size_t k = 0; k < bins; ++k)
            for (int r = 0; r < 2; ++r) {
                if (!hasPoint(k, r))
                    continue;
                const double *wk = wt + 4 * k + 2 * r;
                double vr = S[2 * k] * wk[0] - S[2 * k + 1] * wk[1];
                double vi = S[2 * k] * wk[1] + S[2 * k + 1] * wk[0];
                if (k == 0) {
                    // Bin 0 is its own mirror: half of it here, the other
                    // half through the real transform.
                    vr *= 0.5;
                    vi = 0.0;
                }
                double ax, az, cj;
                const int b = place(i, k, r, ax, az, cj);
                double *pt = points_.data() + 4 * fill[std::size_t(b)]++;
                pt[0] = ax;
                pt[1] = az;
                pt[2] = vr;
                pt[3] = cj * vi;
            }
    }
    spreadAll(total);
    fftw_execute(colPlan_);
    fftw_execute(lowRowsPlan_);
    fftw_execute(highRowsPlan_);

    const double scale = norm_ == BpNormalisation::Parallel ? 1.0 : 1.0 / double(rows);
    std::fill(result_.begin(), result_.end(), 0.0);
    const int xLo = clampTrunc(x0, 0, n), zLo = clampTrunc(z0, 0, n);
    const int xHi = clampCeil(x1, 0, n), zHi = clampCeil(z1, 0, n);
    const long long hc = n / 2;
    const std::size_t outStride = rowDoubles;
    for (int z = zLo; z < zHi; ++z) {
        const long long dz = z - hc;
        const long long r2 = hc * hc - dz * dz;
        if (r2 <= 0)
            continue;
        const long long t = halfChord(r2);
        const int xa = std::max<int>(int(hc - t), xLo);
        const int xb = std::min<int>(int(hc + t), xHi - 1);
        // Output row Z = z - h of the transform, taken modulo G.
        const int zr = int(dz < 0 ? dz + g : dz);
        const double *out = grid_ + std::size_t(zr) * outStride;
        const double fz = scale * deapod_[std::size_t(z)];
        double *res = result_.data() + std::size_t(z) * std::size_t(n);
        for (int x = xa; x <= xb; ++x) {
            const long long dx = x - hc;
            const int xr = int(dx < 0 ? dx + g : dx);
            res[x] = out[xr] * fz * deapod_[std::size_t(x)];
        }
    }
    resultValid_ = true;
    return true;
}

void FourierRecon::clearResult()
{
    std::fill(result_.begin(), result_.end(), 0.0);
    resultValid_ = false;
}

bool FourierRecon::scanResult()
{
    if (result_.empty())
        return false;
    double mn = std::numeric_limits<double>::max();
    double mx = std::numeric_limits<double>::lowest();
    for (double v : result_) {
        mn = std::min(mn, v);
        mx = std::max(mx, v);
    }
    resultMin_ = mn;
    resultMax_ = mx;
    return true;
}
