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
#include <mutex>

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
// Grid columns transformed together (see transformColumns()).
constexpr int kColBlock = FourierRecon::columnBlock;
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
    long long g = std::max((3LL * n + 1) / 2, 16LL);
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
    const std::size_t rows
        = std::size_t(p) * 8 + bins * 16 + std::size_t(g) * std::size_t(kColBlock) * 16;
    const std::size_t tables = bins * 32 + std::size_t(n) * 8 + std::size_t(kTableRes + 2) * kW * 8
        + std::size_t(g / kBandRows + 2) * 8 * 2;
    // Up to two points per bin and projection (places), their values, and the
    // projections' steps while the places are made.
    const std::size_t points = std::size_t(m) * bins * 2 * sizeof(Tap) + std::size_t(m) * bins * 32
        + std::size_t(m) * 32;
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
    FftwPlanner::destroy(colTailPlan_);
    FftwPlanner::destroy(lowRowsPlan_);
    FftwPlanner::destroy(highRowsPlan_);
    FftwPlanner::free(row_);
    FftwPlanner::free(rowSpec_);
    FftwPlanner::free(grid_);
    FftwPlanner::free(colBuf_);
    rowPlan_ = colPlan_ = colTailPlan_ = lowRowsPlan_ = highRowsPlan_ = nullptr;
    colBuf_ = nullptr;
    row_ = rowSpec_ = grid_ = nullptr;
    weight_.clear();
    deapod_.clear();
    table_.clear();
    result_.clear();
    result_.shrink_to_fit();
    std::vector<double>().swap(values_);
    geometry_.reset();
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
    colBuf_ = reinterpret_cast<double *>(
        FftwPlanner::allocComplex(std::size_t(g) * std::size_t(kColBlock)));
    bool ok = grid_ && row_ && rowSpec_ && colBuf_;
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
        // The columns go kColBlock at a time through a buffer held in the
        // processor's cache ([z][column]); the grid's own stride of a row
        // makes every step of a transform read from another page.
        fftw_complex *block = reinterpret_cast<fftw_complex *>(colBuf_);
        const int tail = cols % kColBlock;
        colPlan_ = FftwPlanner::planLocked([&] {
            return fftw_plan_many_dft(1, len, kColBlock, block, nullptr, kColBlock, 1, block,
                nullptr, kColBlock, 1, FFTW_BACKWARD, FFTW_ESTIMATE);
        });
        if (tail > 0)
            colTailPlan_ = FftwPlanner::planLocked([&] {
                return fftw_plan_many_dft(1, len, tail, block, nullptr, kColBlock, 1, block,
                    nullptr, kColBlock, 1, FFTW_BACKWARD, FFTW_ESTIMATE);
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
        ok = rowPlan_ && colPlan_ && (tail == 0 || colTailPlan_) && lowRowsPlan_ && highRowsPlan_;
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

namespace {

// Fraction steps of a point's position within a grid cell, and the table rows
// they fall between.
constexpr int kFracSteps = 65536;
constexpr int kFracPerRow = kFracSteps / kTableRes;
static_assert(kFracSteps % kTableRes == 0, "a table row spans whole fraction steps");
// Offset of jx0 in a stored cell, so that taps reaching left of column 0 stay
// non-negative.
constexpr int kCellBias = 16;
// A stored cell holds the row and the biased column in 16 bits each.
static_assert((3 * kMaxN + 1) / 2 + 64 < 65536, "the largest grid's rows and columns fit 16 bits");
constexpr std::uint32_t kConjugate = 0x80000000u;
constexpr std::uint32_t kValueMask = 0x7fffffffu;

// The first tap j0 = ceil(a - W/2) and the fraction (j0 - (a - W/2)) in
// 1 / kFracSteps cells, rounded.
inline void firstTap(double a, int &j0, std::uint16_t &frac)
{
    const double b = a - 0.5 * kW;
    int j = int(b);
    if (double(j) < b)
        ++j;
    j0 = j;
    // j - b lies in [0, 1): rounding by truncation of a non-negative value.
    const int f = int((double(j) - b) * kFracSteps + 0.5);
    frac = std::uint16_t(std::min(std::max(f, 0), kFracSteps - 1));
}

// The W tap weights of a point at fraction frac, interpolated in the table.
void tapWeights(const double *tab, std::uint16_t frac, double *w)
{
    const int r = frac / kFracPerRow;
    const double d = double(frac % kFracPerRow) * (1.0 / kFracPerRow);
    const double *t0 = tab + std::size_t(r) * kW;
    const double *t1 = t0 + kW;
    for (int q = 0; q < kW; ++q)
        w[q] = t0[q] + d * (t1[q] - t0[q]);
}

} // namespace

#if defined(__x86_64__) || defined(__i386__)
// The fast path of spreading with AVX2 and FMA: one grid row of a point's W = 4
// taps is four complex values, two 256-bit registers. Only points whose taps
// stay within 1 <= jx <= G/2 - 1 come here.
static_assert(kW == 4, "the vector path holds one row of taps in two registers");
__attribute__((target("avx2,fma"))) void spreadAvx2(const FourierRecon::Tap *taps,
    std::size_t count, const double *values, const double *tab, double *grid, int g,
    std::size_t stride)
{
    const __m128d flip[2] = { _mm_setzero_pd(), _mm_set_pd(-0.0, 0.0) };
    const __m256d step = _mm256_set1_pd(1.0 / kFracPerRow);
    constexpr std::size_t ahead = 16;
    for (std::size_t o = 0; o < count; ++o) {
        const FourierRecon::Tap &t = taps[o];
        if (o + ahead < count)
            _mm_prefetch(reinterpret_cast<const char *>(
                             values + 2 * std::size_t(taps[o + ahead].value & kValueMask)),
                _MM_HINT_T0);
        const __m128d v1 = _mm_xor_pd(
            _mm_loadu_pd(values + 2 * std::size_t(t.value & kValueMask)), flip[t.value >> 31]);
        const __m256d v = _mm256_broadcast_pd(&v1);
        const int jx = int(t.cell & 0xffffu) - kCellBias;
        const int jz = int(t.cell >> 16);
        const int rx = t.fx / kFracPerRow, rz = t.fz / kFracPerRow;
        const double *tx = tab + std::size_t(rx) * kW;
        const double *tz = tab + std::size_t(rz) * kW;
        const __m256d tx0 = _mm256_loadu_pd(tx), tx1 = _mm256_loadu_pd(tx + kW);
        const __m256d wx
            = _mm256_fmadd_pd(_mm256_mul_pd(_mm256_set1_pd(double(t.fx % kFracPerRow)), step),
                _mm256_sub_pd(tx1, tx0), tx0);
        const __m256d tz0 = _mm256_loadu_pd(tz), tz1 = _mm256_loadu_pd(tz + kW);
        const __m256d wz
            = _mm256_fmadd_pd(_mm256_mul_pd(_mm256_set1_pd(double(t.fz % kFracPerRow)), step),
                _mm256_sub_pd(tz1, tz0), tz0);
        // (w0, w0, w1, w1) and (w2, w2, w3, w3): each weight on a complex pair.
        const __m256d wxLo = _mm256_permute4x64_pd(wx, 0x50);
        const __m256d wxHi = _mm256_permute4x64_pd(wx, 0xFA);
        alignas(32) double wzs[4];
        _mm256_store_pd(wzs, wz);
        double *base = grid + std::size_t(jx) * 2;
        for (int r = 0; r < kW; ++r) {
            int row = jz + r;
            if (row >= g)
                row -= g;
            double *cell = base + std::size_t(row) * stride;
            const __m256d vr = _mm256_mul_pd(v, _mm256_set1_pd(wzs[r]));
            _mm256_storeu_pd(cell, _mm256_fmadd_pd(vr, wxLo, _mm256_loadu_pd(cell)));
            _mm256_storeu_pd(cell + 4, _mm256_fmadd_pd(vr, wxHi, _mm256_loadu_pd(cell + 4)));
        }
    }
}
#endif

void FourierRecon::spreadAll()
{
    const int g = g_;
    const std::size_t stride = std::size_t(rowLen_) * 2;
    const double *tab = table_.data();
    const double *values = values_.data();
    double *const grid = grid_;
    const auto value = [values](const Tap &t, double &vr, double &vi) {
        const double *v = values + 2 * std::size_t(t.value & kValueMask);
        vr = v[0];
        vi = (t.value & kConjugate) ? -v[1] : v[1];
    };
    const std::vector<Tap> &taps = geometry_->taps;
    const std::size_t fast = geometry_->fast;
#if defined(__x86_64__) || defined(__i386__)
    if (vectorSpread_)
        spreadAvx2(taps.data(), fast, values, tab, grid, g, stride);
#endif
    if (!vectorSpread_) {
        for (std::size_t o = 0; o < fast; ++o) {
            const Tap &t = taps[o];
            double vr, vi, wx[kW], wz[kW];
            value(t, vr, vi);
            tapWeights(tab, t.fx, wx);
            tapWeights(tab, t.fz, wz);
            double *base = grid + std::size_t(int(t.cell & 0xffffu) - kCellBias) * 2;
            const int jz = int(t.cell >> 16);
            for (int r = 0; r < kW; ++r) {
                int row = jz + r;
                if (row >= g)
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
    for (std::size_t o = fast; o < taps.size(); ++o) {
        const Tap &t = taps[o];
        double vr, vi, wx[kW], wz[kW];
        value(t, vr, vi);
        tapWeights(tab, t.fx, wx);
        tapWeights(tab, t.fz, wz);
        spreadWrapped(int(t.cell & 0xffffu) - kCellBias, int(t.cell >> 16), wx, wz, vr, vi);
    }
}

bool FourierRecon::Geometry::matches(
    int otherN, ReconFilterKind otherKind, int otherRows, double otherOffsetDeg) const
{
    // The offset bit for bit: the places are made from its very value.
    return n == otherN && kind == otherKind && rows == otherRows
        && std::memcmp(&angleOffsetDeg, &otherOffsetDeg, sizeof(double)) == 0;
}

namespace {

// Every object's points' places still in use, for the others to take.
std::mutex geometryMutex;
std::vector<std::weak_ptr<const FourierRecon::Geometry>> geometries;

} // namespace

bool FourierRecon::useGeometry(int rows, double angleOffsetDeg)
{
    geometry_.reset();
    // Held while the places are made, so that a second calculator that needs
    // the same ones waits for them instead of making its own.
    std::lock_guard<std::mutex> lock(geometryMutex);
    geometries.erase(std::remove_if(geometries.begin(), geometries.end(),
                         [](const std::weak_ptr<const Geometry> &w) { return w.expired(); }),
        geometries.end());
    for (const std::weak_ptr<const Geometry> &w : geometries) {
        std::shared_ptr<const Geometry> held = w.lock();
        if (held && held->matches(n_, kind_, rows, angleOffsetDeg)) {
            geometry_ = std::move(held);
            return true;
        }
    }
    std::shared_ptr<const Geometry> made = makeGeometry(rows, angleOffsetDeg);
    if (!made)
        return false;
    try {
        geometries.push_back(made);
    } catch (const std::bad_alloc &) {
        // Not shared then, but still usable.
    }
    geometry_ = std::move(made);
    return true;
}

std::shared_ptr<FourierRecon::Geometry> FourierRecon::makeGeometry(
    int rows, double angleOffsetDeg) const
{
    const int g = g_;
    const std::size_t bins = std::size_t(kmax_ + 1);
    if (std::size_t(rows) * bins * 2 > std::size_t(kValueMask)) {
        qDebug().noquote()
            << QString("Can't grid a sinogram of %1 x %2 : too many points").arg(n_).arg(rows);
        return nullptr;
    }
    const double ratio = double(g) / double(p_);
    const int bands = (g + kBandRows - 1) / kBandRows;
    std::vector<double> dirs;
    std::vector<std::size_t> start;
    std::shared_ptr<Geometry> geo;
    try {
        dirs.resize(std::size_t(rows) * 4);
        start.assign(std::size_t(bands) + 2, 0);
        geo = std::make_shared<Geometry>();
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
    for (int i = 0; i < rows; ++i) {
        const double theta = angleOffsetDeg * kPi / 180.0 + double(i) * kPi / double(rows);
        const double c = std::cos(theta), s = std::sin(theta);
        double *d = dirs.data() + 4 * std::size_t(i);
        d[0] = ratio * c; // one bin along the ray, grid cells
        d[1] = -ratio * s;
        d[2] = double(g) * c; // one cycle per pixel
        d[3] = -double(g) * s;
    }
    // Point (i, k, r): bin k of row i, and for r = 1 its replica one cycle per
    // pixel lower (what the back-projection's linear interpolation adds above
    // the row's Nyquist frequency).
    const double *wt = weight_.data();
    const auto hasPoint = [wt](std::size_t k, int r) {
        const double *wk = wt + 4 * k + 2 * r;
        return r == 0 || (k > 0 && (wk[0] != 0.0 || wk[1] != 0.0));
    };
    const double gd = double(g), halfG = 0.5 * gd;
    const int half = g / 2;
    // A point's tap: its position in grid cells (|nu| < 1 cycle per pixel, so
    // one period at most is taken off; a point at jx < 0 as its mirror image,
    // conjugated), and its slot: 0 ... bands - 1 by band of grid rows for the
    // fast path, `bands` for points whose taps reach the columns 0 or G/2.
    const auto place = [&](int i, std::size_t k, int r, Tap &t) {
        const double *d = dirs.data() + 4 * std::size_t(i);
        double ax = d[0] * double(k) - (r ? d[2] : 0.0);
        double az = d[1] * double(k) - (r ? d[3] : 0.0);
        if (ax >= halfG)
            ax -= gd;
        else if (ax < -halfG)
            ax += gd;
        if (az >= halfG)
            az -= gd;
        else if (az < -halfG)
            az += gd;
        bool conj = false;
        if (ax < 0.0) {
            ax = -ax;
            az = -az;
            conj = true;
        }
        int jx, jz;
        firstTap(ax, jx, t.fx);
        firstTap(az, jz, t.fz);
        if (jz < 0)
            jz += g;
        t.cell = (std::uint32_t(jz) << 16) | std::uint32_t(jx + kCellBias);
        t.value = std::uint32_t((std::size_t(i) * bins + k) * 2 + std::size_t(r))
            | (conj ? kConjugate : 0u);
        return (jx < 1 || jx + kW - 1 > half - 1) ? bands : jz / kBandRows;
    };
    for (int i = 0; i < rows; ++i)
        for (std::size_t k = 0; k < bins; ++k)
            for (int r = 0; r < 2; ++r)
                if (hasPoint(k, r)) {
                    Tap t;
                    ++start[std::size_t(place(i, k, r, t)) + 1];
                }
    for (int b = 0; b <= bands; ++b)
        start[std::size_t(b) + 1] += start[std::size_t(b)];
    const std::size_t total = start[std::size_t(bands) + 1];
    std::vector<Tap> &taps = geo->taps;
    try {
        taps.resize(total);
    } catch (const std::bad_alloc &) {
        qDebug().noquote()
            << QString("Can't grid a sinogram of %1 x %2 : no memory").arg(n_).arg(rows);
        return nullptr;
    }
    std::vector<std::size_t> fill(start.begin(), start.end() - 1);
    for (int i = 0; i < rows; ++i)
        for (std::size_t k = 0; k < bins; ++k)
            for (int r = 0; r < 2; ++r)
                if (hasPoint(k, r)) {
                    Tap t;
                    const int b = place(i, k, r, t);
                    taps[fill[std::size_t(b)]++] = t;
                }
    geo->fast = start[std::size_t(bands)];
    geo->n = n_;
    geo->kind = kind_;
    geo->rows = rows;
    geo->angleOffsetDeg = angleOffsetDeg;
    return geo;
}

void FourierRecon::transformColumns()
{
    const int g = g_;
    const int cols = g / 2 + 1;
    const int kept = n_ / 2;
    const std::size_t stride = std::size_t(rowLen_) * 2;
    for (int c0 = 0; c0 < cols; c0 += kColBlock) {
        const int nc = std::min(kColBlock, cols - c0);
        const std::size_t bytes = std::size_t(nc) * 16;
        for (int z = 0; z < g; ++z)
            std::memcpy(colBuf_ + std::size_t(z) * kColBlock * 2,
                grid_ + std::size_t(z) * stride + std::size_t(c0) * 2, bytes);
        fftw_execute_dft(nc == kColBlock ? colPlan_ : colTailPlan_,
            reinterpret_cast<fftw_complex *>(colBuf_), reinterpret_cast<fftw_complex *>(colBuf_));
        // Only the rows Z = 0 ... N/2 - 1 and G - N/2 ... G - 1 are kept.
        for (int z = 0; z < g; ++z) {
            if (z == kept)
                z = g - kept;
            std::memcpy(grid_ + std::size_t(z) * stride + std::size_t(c0) * 2,
                colBuf_ + std::size_t(z) * kColBlock * 2, bytes);
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
    // The points' places depend on the projections' count and angles only:
    // made once and kept for the following slices.
    if (!geometryFor(rows, angleOffsetDeg) && !useGeometry(rows, angleOffsetDeg)) {
        qDebug().noquote() << QString("Can't grid a sinogram of %1 x %2").arg(width).arg(rows);
        return false;
    }
    m_ = rows;
    const int p = p_;
    const int g = g_;
    const std::size_t rowDoubles = std::size_t(rowLen_) * 2;
    const std::size_t bins = std::size_t(kmax_ + 1);
    try {
        values_.resize(std::size_t(rows) * bins * 4);
    } catch (const std::bad_alloc &) {
        qDebug().noquote()
            << QString("Can't grid a sinogram of %1 x %2 : no memory").arg(width).arg(rows);
        return false;
    }
    std::memset(grid_, 0, std::size_t(g) * rowDoubles * sizeof(double));
    // Each point's value: the row's spectrum times the bin's weight, for the
    // bin itself and its replica, [i][k][r] as (re, im).
    const double *wt = weight_.data();
    for (int i = 0; i < rows; ++i) {
        const double *src = sgm + std::size_t(i) * std::size_t(width);
        std::memcpy(row_, src, std::size_t(n) * sizeof(double));
        std::fill(row_ + n, row_ + p, 0.0);
        fftw_execute(rowPlan_);
        const double *S = rowSpec_;
        double *v = values_.data() + std::size_t(i) * bins * 4;
        for (std::size_t k = 0; k < bins; ++k, v += 4) {
            const double *wk = wt + 4 * k;
            const double sr = S[2 * k], si = S[2 * k + 1];
            v[0] = sr * wk[0] - si * wk[1];
            v[1] = sr * wk[1] + si * wk[0];
            v[2] = sr * wk[2] - si * wk[3];
            v[3] = sr * wk[3] + si * wk[2];
        }
        // Bin 0 is its own mirror: half of it here, the other half through
        // the real transform.
        v = values_.data() + std::size_t(i) * bins * 4;
        v[0] *= 0.5;
        v[1] = 0.0;
    }
    spreadAll();
    transformColumns();
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
