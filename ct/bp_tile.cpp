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
    const int len = kBpPairsFront + n + kBpPairsBack;
    double *a = pairs + kBpPairsFront; // a[k] = f[k] - d[k]
    double *d = a + len; // d[k]
    for (int k = -kBpPairsFront; k < 0; ++k) {
        a[k] = f[0];
        d[k] = 0.0;
    }
    for (int k = 0; k + 1 < n; ++k) {
        d[k] = f[k + 1] - f[k];
        a[k] = f[k] - d[k];
    }
    for (int k = n - 1; k < n + kBpPairsBack; ++k) {
        a[k] = f[n - 1];
        d[k] = 0.0;
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

// A projection's table as the routine reads it: `a` points at f[k] - d[k] of
// the block's base sample kb (so u >> 52 indexes it directly) and the d[k]
// follow dOff bytes later.
struct Table {
    const char *a;
    std::ptrdiff_t dOff;
};

__attribute__((target("avx2,fma"), always_inline)) inline double valueAt(
    const Table &tb, std::uint64_t u)
{
    const char *p = tb.a + ((u >> kFracBits) << 3);
    const std::uint64_t bits = (u & kFracMask) | kOneBits;
    double onePlusT, a, d;
    std::memcpy(&onePlusT, &bits, sizeof onePlusT);
    std::memcpy(&a, p, sizeof a);
    std::memcpy(&d, p + tb.dOff, sizeof d);
    return _mm_cvtsd_f64(_mm_fmadd_sd(_mm_set_sd(onePlusT), _mm_set_sd(d), _mm_set_sd(a)));
}

// The values of 4 consecutive pixels whose fixed-point u are the lanes of uv.
// From one pixel to the next u moves by at most one sample (|c| <= 1), so the
// two pixels of each 128-bit half need entries k and k + 1 of a and of d at
// most, k being the smaller index of the two (the first pixel's when u rises,
// the second's when it falls; u0 and u1 are those pixels' u). One 128-bit load
// per half and table, then an in-lane permute picks each pixel's entry.
template <bool Rising>
__attribute__((target("avx2,fma"), always_inline)) inline __m256d values4(
    const double *a, const double *d, std::uint64_t u0, std::uint64_t u1, __m256i uv)
{
    const std::size_t k0 = u0 >> kFracBits, k1 = u1 >> kFracBits;
    const __m256d wa = _mm256_insertf128_pd(
        _mm256_castpd128_pd256(_mm_loadu_pd(a + k0)), _mm_loadu_pd(a + k1), 1);
    const __m256d wd = _mm256_insertf128_pd(
        _mm256_castpd128_pd256(_mm_loadu_pd(d + k0)), _mm_loadu_pd(d + k1), 1);
    const __m256i k = _mm256_srli_epi64(uv, kFracBits);
    const __m256i kMin
        = _mm256_castpd_si256(_mm256_permute_pd(_mm256_castsi256_pd(k), Rising ? 0x0 : 0xF));
    const __m256i sel = _mm256_slli_epi64(_mm256_sub_epi64(k, kMin), 1);
    const __m256d av = _mm256_permutevar_pd(wa, sel);
    const __m256d dv = _mm256_permutevar_pd(wd, sel);
    const __m256d onePlusT = _mm256_castsi256_pd(
        _mm256_or_si256(_mm256_and_si256(uv, _mm256_set1_epi64x(std::int64_t(kFracMask))),
            _mm256_set1_epi64x(std::int64_t(kOneBits))));
    return _mm256_fmadd_pd(onePlusT, dv, av);
}

__attribute__((target("avx2,fma"), always_inline)) inline __m256i lanes4(
    std::uint64_t u, std::uint64_t du)
{
    return _mm256_set_epi64x(
        std::int64_t(u + 3 * du), std::int64_t(u + 2 * du), std::int64_t(u + du), std::int64_t(u));
}

// row[x] += value for xs <= x <= xe, one projection.
template <bool Rising>
__attribute__((target("avx2,fma"))) void rowOneDir(
    double *row, int xs, int xe, std::uint64_t u, std::uint64_t du, const Table &tb)
{
    int x = xs;
    if (xe - xs >= 3) {
        __m256i uv = lanes4(u, du);
        const __m256i step = _mm256_set1_epi64x(std::int64_t(4 * du));
        std::uint64_t m0 = Rising ? u : u + du;
        const std::uint64_t du2 = 2 * du, du4 = 4 * du;
        const double *ta = reinterpret_cast<const double *>(tb.a);
        const double *td = reinterpret_cast<const double *>(tb.a + tb.dOff);
        for (; x + 3 <= xe; x += 4) {
            const __m256d v = values4<Rising>(ta, td, m0, m0 + du2, uv);
            _mm256_storeu_pd(row + x, _mm256_add_pd(_mm256_loadu_pd(row + x), v));
            m0 += du4;
            uv = _mm256_add_epi64(uv, step);
        }
        u += std::uint64_t(x - xs) * du;
    }
    for (; x <= xe; ++x, u += du)
        row[x] += valueAt(tb, u);
}

void rowOne(double *row, int xs, int xe, std::uint64_t u, std::uint64_t du, const Table &tb)
{
    if (std::int64_t(du) >= 0)
        rowOneDir<true>(row, xs, xe, u, du, tb);
    else
        rowOneDir<false>(row, xs, xe, u, du, tb);
}

// row[x] += value of A, then += value of B, for xs <= x <= xe.
template <bool RisingA, bool RisingB>
__attribute__((target("avx2,fma"))) void rowTwoDir(double *row, int xs, int xe, std::uint64_t ua,
    std::uint64_t dua, const Table &ta, std::uint64_t ub, std::uint64_t dub, const Table &tb)
{
    int x = xs;
    if (xe - xs >= 3) {
        __m256i uva = lanes4(ua, dua);
        __m256i uvb = lanes4(ub, dub);
        const __m256i stepA = _mm256_set1_epi64x(std::int64_t(4 * dua));
        const __m256i stepB = _mm256_set1_epi64x(std::int64_t(4 * dub));
        std::uint64_t a0 = RisingA ? ua : ua + dua;
        std::uint64_t b0 = RisingB ? ub : ub + dub;
        const std::uint64_t dua2 = 2 * dua, dub2 = 2 * dub, dua4 = 4 * dua, dub4 = 4 * dub;
        const double *pa = reinterpret_cast<const double *>(ta.a);
        const double *qa = reinterpret_cast<const double *>(ta.a + ta.dOff);
        const double *pb = reinterpret_cast<const double *>(tb.a);
        const double *qb = reinterpret_cast<const double *>(tb.a + tb.dOff);
        for (; x + 3 <= xe; x += 4) {
            const __m256d va = values4<RisingA>(pa, qa, a0, a0 + dua2, uva);
            const __m256d vb = values4<RisingB>(pb, qb, b0, b0 + dub2, uvb);
            _mm256_storeu_pd(
                row + x, _mm256_add_pd(_mm256_add_pd(_mm256_loadu_pd(row + x), va), vb));
            a0 += dua4;
            b0 += dub4;
            uva = _mm256_add_epi64(uva, stepA);
            uvb = _mm256_add_epi64(uvb, stepB);
        }
        ua += std::uint64_t(x - xs) * dua;
        ub += std::uint64_t(x - xs) * dub;
    }
    for (; x <= xe; ++x, ua += dua, ub += dub) {
        row[x] += valueAt(ta, ua);
        row[x] += valueAt(tb, ub);
    }
}

void rowTwo(double *row, int xs, int xe, std::uint64_t ua, std::uint64_t dua, const Table &ta,
    std::uint64_t ub, std::uint64_t dub, const Table &tb)
{
    const bool ra = std::int64_t(dua) >= 0, rb = std::int64_t(dub) >= 0;
    if (ra && rb)
        rowTwoDir<true, true>(row, xs, xe, ua, dua, ta, ub, dub, tb);
    else if (ra)
        rowTwoDir<true, false>(row, xs, xe, ua, dua, ta, ub, dub, tb);
    else if (rb)
        rowTwoDir<false, true>(row, xs, xe, ua, dua, ta, ub, dub, tb);
    else
        rowTwoDir<false, false>(row, xs, xe, ua, dua, ta, ub, dub, tb);
}
// One projection's constants for one block.
struct Setup {
    double c, s;
    std::uint64_t u00; // fixed-point u - kb at (x0, z0)
    std::uint64_t du; // per pixel along x (two's complement)
    std::uint64_t ds; // per row along z
    std::int64_t lo, hi; // rows with all of u within [lo, hi] need no formula
    Table tb; // entry (u >> 52) is sample kb + (u >> 52)
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
    st.tb.a = reinterpret_cast<const char *>(reinterpret_cast<std::uintptr_t>(p.pairs)
        + std::uintptr_t(std::intptr_t(kBpPairsFront + kb) * 8));
    st.tb.dOff = std::ptrdiff_t(bpPairsStride(n) / 2 * sizeof(double));
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
