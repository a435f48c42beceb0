#include "ct/bp_tile.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VORLO_BP_TILE_AVX2 1
#include <immintrin.h>
#endif

void bpFillPairs(const double *f, int n, double *pairs)
{
    for (int j = 0; j < kBpPairsFront; ++j) {
        pairs[2 * j] = f[0];
        pairs[2 * j + 1] = 0.0;
    }
    double *q = pairs + 2 * kBpPairsFront; // pair k at q[2k], q[2k + 1]
    for (int k = 0; k + 1 < n; ++k) {
        const double d = f[k + 1] - f[k];
        q[2 * k] = f[k] - d;
        q[2 * k + 1] = d;
    }
    for (int k = n - 1; k < n + kBpPairsBack; ++k) {
        q[2 * k] = f[n - 1];
        q[2 * k + 1] = 0.0;
    }
}

namespace {

// u of pixel (x, z) exactly as the formula evaluates it (dzs = (z - h) * s).
// Kept out of line and out of the FMA-enabled code so that no contraction
// changes its rounding.
__attribute__((noinline)) double formulaU(int x, double h, double c, double dzs)
{
    return (double(x) - h) * c - dzs + h;
}

// The pixels xa ... xb of one row that the formula updates, [va, vb] (empty when
// va > vb). u is monotone along the row (non-decreasing for c >= 0, else
// non-increasing) because each rounding step is, so the pixels with
// 0 <= u < n - 1 form one run; its ends are found by bisection.
void formulaRun(int xa, int xb, double h, double c, double dzs, int n, int &va, int &vb)
{
    const double top = double(n - 1);
    auto above0 = [&](int x) { return formulaU(x, h, c, dzs) >= 0.0; };
    auto belowTop = [&](int x) { return formulaU(x, h, c, dzs) < top; };
    // First x in [lo, hi] where pred holds for a predicate that is false then
    // true along the row; hi + 1 when it never holds.
    auto firstTrue = [](int lo, int hi, auto pred) {
        int a = lo, b = hi + 1;
        while (a < b) {
            const int mid = a + (b - a) / 2;
            if (pred(mid))
                b = mid;
            else
                a = mid + 1;
        }
        return a;
    };
    if (c >= 0.0) {
        va = firstTrue(xa, xb, above0);
        vb = firstTrue(xa, xb, [&](int x) { return !belowTop(x); }) - 1;
    } else {
        va = firstTrue(xa, xb, belowTop);
        vb = firstTrue(xa, xb, [&](int x) { return !above0(x); }) - 1;
    }
}

} // namespace

#ifdef VORLO_BP_TILE_AVX2
namespace avx2 {

constexpr int kFracBits = 52;
constexpr double kFracScale = 4503599627370496.0; // 2^52
constexpr std::uint64_t kFracMask = (std::uint64_t(1) << kFracBits) - 1;
constexpr std::uint64_t kOneBits = 0x3FF0000000000000ull; // 1.0
// Rows whose fixed-point u stays this far (2^-20 sample) from 0 and n - 1 are
// updated without asking the formula; the fixed-point error is below 1e-12.
constexpr std::int64_t kHair = std::int64_t(1) << 32;

// The pair for fixed-point u: the index is the integer part.
__attribute__((always_inline)) inline const double *pairAt(const char *tb, std::uint64_t u)
{
    return reinterpret_cast<const double *>(tb + ((u >> kFracBits) << 4));
}

__attribute__((target("avx2,fma"), always_inline)) inline double valueAt(
    const char *tb, std::uint64_t u)
{
    const double *p = pairAt(tb, u);
    const std::uint64_t bits = (u & kFracMask) | kOneBits;
    double onePlusT;
    std::memcpy(&onePlusT, &bits, sizeof onePlusT);
    return _mm_cvtsd_f64(_mm_fmadd_sd(_mm_set_sd(onePlusT), _mm_set_sd(p[1]), _mm_set_sd(p[0])));
}

// The values of 4 consecutive pixels at u, u + du, u + 2du, u + 3du (uv holds
// the same four): two pairs per 128-bit half, unpacked into f - d and d.
__attribute__((target("avx2,fma"), always_inline)) inline __m256d values4(
    const char *tb, std::uint64_t u, std::uint64_t du, __m256i uv)
{
    const std::uint64_t u1 = u + du, u2 = u1 + du, u3 = u2 + du;
    const __m256d p02 = _mm256_insertf128_pd(
        _mm256_castpd128_pd256(_mm_load_pd(pairAt(tb, u))), _mm_load_pd(pairAt(tb, u2)), 1);
    const __m256d p13 = _mm256_insertf128_pd(
        _mm256_castpd128_pd256(_mm_load_pd(pairAt(tb, u1))), _mm_load_pd(pairAt(tb, u3)), 1);
    const __m256d fmd = _mm256_unpacklo_pd(p02, p13);
    const __m256d d = _mm256_unpackhi_pd(p02, p13);
    const __m256d onePlusT = _mm256_castsi256_pd(
        _mm256_or_si256(_mm256_and_si256(uv, _mm256_set1_epi64x(std::int64_t(kFracMask))),
            _mm256_set1_epi64x(std::int64_t(kOneBits))));
    return _mm256_fmadd_pd(onePlusT, d, fmd);
}

__attribute__((target("avx2,fma"), always_inline)) inline __m256i lanes4(
    std::uint64_t u, std::uint64_t du)
{
    return _mm256_set_epi64x(
        std::int64_t(u + 3 * du), std::int64_t(u + 2 * du), std::int64_t(u + du), std::int64_t(u));
}

// row[x] += value for xs <= x <= xe, one projection.
__attribute__((target("avx2,fma"))) void rowOne(
    double *row, int xs, int xe, std::uint64_t u, std::uint64_t du, const char *tb)
{
    int x = xs;
    if (xe - xs >= 3) {
        __m256i uv = lanes4(u, du);
        const __m256i step = _mm256_set1_epi64x(std::int64_t(4 * du));
        for (; x + 3 <= xe; x += 4) {
            const __m256d v = values4(tb, u, du, uv);
            _mm256_storeu_pd(row + x, _mm256_add_pd(_mm256_loadu_pd(row + x), v));
            u += 4 * du;
            uv = _mm256_add_epi64(uv, step);
        }
    }
    for (; x <= xe; ++x, u += du)
        row[x] += valueAt(tb, u);
}

// row[x] += value of A, then += value of B, for xs <= x <= xe.
__attribute__((target("avx2,fma"))) void rowTwo(double *row, int xs, int xe, std::uint64_t ua,
    std::uint64_t dua, const char *tba, std::uint64_t ub, std::uint64_t dub, const char *tbb)
{
    int x = xs;
    if (xe - xs >= 3) {
        __m256i uva = lanes4(ua, dua);
        __m256i uvb = lanes4(ub, dub);
        const __m256i stepA = _mm256_set1_epi64x(std::int64_t(4 * dua));
        const __m256i stepB = _mm256_set1_epi64x(std::int64_t(4 * dub));
        for (; x + 3 <= xe; x += 4) {
            const __m256d va = values4(tba, ua, dua, uva);
            const __m256d vb = values4(tbb, ub, dub, uvb);
            _mm256_storeu_pd(
                row + x, _mm256_add_pd(_mm256_add_pd(_mm256_loadu_pd(row + x), va), vb));
            ua += 4 * dua;
            ub += 4 * dub;
            uva = _mm256_add_epi64(uva, stepA);
            uvb = _mm256_add_epi64(uvb, stepB);
        }
    }
    for (; x <= xe; ++x, ua += dua, ub += dub) {
        row[x] += valueAt(tba, ua);
        row[x] += valueAt(tbb, ub);
    }
}

// One projection's constants for one block.
struct Setup {
    double c, s;
    std::uint64_t u00; // fixed-point u - kb at (x0, z0)
    std::uint64_t du; // per pixel along x (two's complement)
    std::uint64_t ds; // per row along z
    std::int64_t lo, hi; // rows with all of u within [lo, hi] need no formula
    const char *tb; // the pair of sample kb + (u >> 52)
};

Setup setup(const BpTileRows &t, const BpProjection &p, double h, int n)
{
    Setup st;
    st.c = p.c;
    st.s = p.s;
    const double u00 = (double(t.x0) - h) * p.c - (double(t.z0) - h) * p.s + h;
    // The block's smallest u lies at a corner; two samples below it is the base.
    const double uMin
        = u00 + std::min(0.0, double(t.cols - 1) * p.c) + std::min(0.0, -double(t.rows - 1) * p.s);
    const long long kb = (long long)std::floor(uMin) - 2;
    st.u00 = std::uint64_t(std::llround((u00 - double(kb)) * kFracScale));
    st.du = std::uint64_t(std::llround(p.c * kFracScale));
    st.ds = std::uint64_t(std::llround(p.s * kFracScale));
    // Limits in the same fixed point, clamped far outside the block's range.
    const double limit = 4.0e18;
    const double lo = std::max(-limit, -double(kb) * kFracScale);
    const double hi = std::min(limit, double(n - 1 - kb) * kFracScale);
    st.lo = std::int64_t(lo) + kHair;
    st.hi = std::int64_t(hi) - kHair;
    st.tb = reinterpret_cast<const char *>(reinterpret_cast<std::uintptr_t>(p.pairs)
        + std::uintptr_t(std::intptr_t(kBpPairsFront + kb) * 16));
    return st;
}

// Fixed-point u of pixel (x, z) of the block.
inline std::uint64_t fixedU(const Setup &st, const BpTileRows &t, int x, int z)
{
    return st.u00 + std::uint64_t(x - t.x0) * st.du - std::uint64_t(z - t.z0) * st.ds;
}

// The run of row z within [xa, xb] that gets the projection: the whole span when
// its fixed-point u keeps clear of both ends, otherwise as the formula decides.
inline bool wholeSpan(const Setup &st, std::uint64_t ua, int xa, int xb)
{
    const std::int64_t a = std::int64_t(ua);
    const std::int64_t b = std::int64_t(ua + std::uint64_t(xb - xa) * st.du);
    return std::min(a, b) >= st.lo && std::max(a, b) <= st.hi;
}

void clippedOne(
    const Setup &st, const BpTileRows &t, double *row, int z, int xa, int xb, double h, int n)
{
    int va = 0, vb = -1;
    formulaRun(xa, xb, h, st.c, (double(z) - h) * st.s, n, va, vb);
    if (va <= vb)
        rowOne(row, va - t.x0, vb - t.x0, fixedU(st, t, va, z), st.du, st.tb);
}

void tileAdd(const BpTileRows &t, const BpProjection *proj, int count, double h, int n)
{
    for (int i = 0; i < count; i += 2) {
        const bool pair = i + 1 < count;
        const Setup a = setup(t, proj[i], h, n);
        const Setup b = pair ? setup(t, proj[i + 1], h, n) : a;
        for (int r = 0; r < t.rows; ++r) {
            const int xa = t.xa[r], xb = t.xb[r];
            if (xa > xb)
                continue;
            const int z = t.z0 + r;
            double *row = t.base + std::ptrdiff_t(r) * t.stride;
            const std::uint64_t ua = fixedU(a, t, xa, z);
            const bool wholeA = wholeSpan(a, ua, xa, xb);
            if (!pair) {
                if (wholeA)
                    rowOne(row, xa - t.x0, xb - t.x0, ua, a.du, a.tb);
                else
                    clippedOne(a, t, row, z, xa, xb, h, n);
                continue;
            }
            const std::uint64_t ub = fixedU(b, t, xa, z);
            const bool wholeB = wholeSpan(b, ub, xa, xb);
            if (wholeA && wholeB) {
                rowTwo(row, xa - t.x0, xb - t.x0, ua, a.du, a.tb, ub, b.du, b.tb);
                continue;
            }
            if (wholeA)
                rowOne(row, xa - t.x0, xb - t.x0, ua, a.du, a.tb);
            else
                clippedOne(a, t, row, z, xa, xb, h, n);
            if (wholeB)
                rowOne(row, xa - t.x0, xb - t.x0, ub, b.du, b.tb);
            else
                clippedOne(b, t, row, z, xa, xb, h, n);
        }
    }
}

} // namespace avx2
#endif

BpTileAdd bpTileAddAvx2()
{
#ifdef VORLO_BP_TILE_AVX2
    static const bool ok = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    }();
    return ok ? avx2::tileAdd : nullptr;
#else
    return nullptr;
#endif
}
