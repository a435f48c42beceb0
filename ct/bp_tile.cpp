#include "ct/bp_tile.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

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

// The sample index of a fixed-point u (u >> 52). Written as shrx, which keeps
// its source, because the compiler otherwise copies the running u before each
// shift and the copies cost as much as the shifts in the inner loop.
__attribute__((target("bmi2"), always_inline)) inline std::size_t sampleIndex(std::uint64_t u)
{
    std::uint64_t k;
    asm("shrx %2, %1, %0" : "=r"(k) : "r"(u), "r"(std::uint64_t(kFracBits)));
    return std::size_t(k);
}

// One projection's constants for the rows of a pass, in the form the vector
// steps use: the lane offsets (0, du, 2 du, 3 du) and the step of four
// pixels, the compare operand that tells which pixels need entry k + 1 (see
// rowAdd), and the table.
struct Lanes {
    __m256i offs;
    __m256i step;
    __m256i wrap;
    std::uint64_t du;
    std::uint64_t leadOff; // from a step's first pixel to its lead pixel: 0 or du
    const double *pa; // a of the entry of u >> 52
    const double *pd; // d of that entry
};

__attribute__((target("avx2,fma,bmi2"), always_inline)) inline Lanes makeLanes(
    std::uint64_t du, const Table &tb)
{
    Lanes l;
    const bool rising = std::int64_t(du) >= 0;
    const std::int64_t mag = rising ? std::int64_t(du) : -std::int64_t(du);
    l.offs = _mm256_set_epi64x(std::int64_t(3 * du), std::int64_t(2 * du), std::int64_t(du), 0);
    l.step = _mm256_set1_epi64x(std::int64_t(4 * du));
    l.wrap = rising ? _mm256_set_epi64x(mag, 0, mag, 0) : _mm256_set_epi64x(0, mag, 0, mag);
    l.du = du;
    l.leadOff = rising ? 0 : du;
    l.pa = reinterpret_cast<const double *>(tb.a);
    l.pd = reinterpret_cast<const double *>(tb.a + tb.dOff);
    return l;
}

// Lane masks of a last step of 1, 2 or 3 pixels.
alignas(32) constexpr std::int64_t kTailMask[4][4]
    = { { 0, 0, 0, 0 }, { -1, 0, 0, 0 }, { -1, -1, 0, 0 }, { -1, -1, -1, 0 } };

// The values of four pixels of one projection: lanes of uv hold their
// fixed-point u, lead the u of the step's lead pixel.
__attribute__((target("avx2,fma,bmi2"), always_inline)) inline __m256d stepValues(
    const Lanes &l, __m256i uv, std::uint64_t lead, __m256i mask, __m256i one)
{
    const std::size_t k0 = sampleIndex(lead);
    const std::size_t k1 = sampleIndex(lead + 2 * l.du);
    const __m256d wa = _mm256_insertf128_pd(
        _mm256_castpd128_pd256(_mm_loadu_pd(l.pa + k0)), _mm_loadu_pd(l.pa + k1), 1);
    const __m256d wd = _mm256_insertf128_pd(
        _mm256_castpd128_pd256(_mm_loadu_pd(l.pd + k0)), _mm_loadu_pd(l.pd + k1), 1);
    const __m256i fr = _mm256_and_si256(uv, mask);
    const __m256i sel = _mm256_cmpgt_epi64(l.wrap, fr);
    const __m256d onePlusT = _mm256_castsi256_pd(_mm256_or_si256(fr, one));
    const __m256d av = _mm256_permutevar_pd(wa, sel);
    const __m256d dv = _mm256_permutevar_pd(wd, sel);
    return _mm256_fmadd_pd(onePlusT, dv, av);
}

// row[x] += the value of projection 0, then of projection 1, ... P - 1, for
// xs <= x <= xe; u[p] is projection p's fixed-point u at xs.
//
// Four pixels per step. From one pixel to the next u moves by at most one
// sample (|c| <= 1), so the two pixels of each 128-bit half need entries k and
// k + 1 of a and of d at most, k being the smaller index of the two: the first
// pixel's when u rises, the second's when it falls (the "lead" pixel). One
// 128-bit load per half and table, then an in-lane permute picks each pixel's
// entry. The other pixel of a half needs entry k + 1 exactly when its u and
// the lead's lie on different sides of an integer, i.e. when the fraction
// wrapped: for rising u that is when the other pixel's fraction is below |du|,
// for falling u when the lead's fraction is below |du| (|du| <= 1 sample, and
// a step of exactly one sample always wraps). So one compare of the fraction
// bits against (0, |du|) or (|du|, 0) gives the permute's selector, with no
// index arithmetic in the vector registers. The pixel values of a step are
// added to the accumulator in projection order, so each pixel receives the
// projections in order.
//
// The last 1 to 3 pixels are one more step with masked load and store: its
// other lanes carry u on by up to 3 samples past the row's end, which the
// tables' padding and the block's base (5 samples below its smallest u) keep
// within the tables, and their values are never stored.
template <int P>
__attribute__((target("avx2,fma,bmi2"), always_inline)) inline void rowBody(
    double *row, int xs, int xe, const std::uint64_t *u, const Lanes *l)
{
    const __m256i mask = _mm256_set1_epi64x(std::int64_t(kFracMask));
    const __m256i one = _mm256_set1_epi64x(std::int64_t(kOneBits));
    __m256i uv[P];
    std::uint64_t lead[P];
#pragma GCC unroll 8
    for (int p = 0; p < P; ++p) {
        uv[p] = _mm256_add_epi64(_mm256_set1_epi64x(std::int64_t(u[p])), l[p].offs);
        lead[p] = u[p] + l[p].leadOff;
    }
    int x = xs;
#pragma GCC unroll 2
    for (; x + 3 <= xe; x += 4) {
        __m256d acc = _mm256_loadu_pd(row + x);
#pragma GCC unroll 8
        for (int p = 0; p < P; ++p) {
            acc = _mm256_add_pd(acc, stepValues(l[p], uv[p], lead[p], mask, one));
            lead[p] += 4 * l[p].du;
            uv[p] = _mm256_add_epi64(uv[p], l[p].step);
        }
        _mm256_storeu_pd(row + x, acc);
    }
    if (x <= xe) {
        const __m256i m
            = _mm256_load_si256(reinterpret_cast<const __m256i *>(kTailMask[xe - x + 1]));
        __m256d acc = _mm256_maskload_pd(row + x, m);
#pragma GCC unroll 8
        for (int p = 0; p < P; ++p)
            acc = _mm256_add_pd(acc, stepValues(l[p], uv[p], lead[p], mask, one));
        _mm256_maskstore_pd(row + x, m, acc);
    }
}

// One projection's part of a row: the fixed-point u of the row's first pixel,
// its step per pixel and the projection's table.
struct RowProj {
    std::uint64_t u;
    std::uint64_t du;
    const Table *tb;
};

// rowBody for one projection on its own.
__attribute__((target("avx2,fma,bmi2"))) void rowAddOne(
    double *row, int xs, int xe, const RowProj &rp)
{
    const Lanes l = makeLanes(rp.du, *rp.tb);
    rowBody<1>(row, xs, xe, &rp.u, &l);
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
    // The block's smallest u lies at a corner; five samples below it is the
    // base, so that the lanes a last step carries past a row's end (at most 3
    // samples on) keep a non-negative fixed-point u.
    const double uMin
        = u00 + std::min(0.0, double(t.cols - 1) * p.c) + std::min(0.0, -double(t.rows - 1) * p.s);
    const long long kb = (long long)std::floor(uMin) - 5;
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
        rowAddOne(row, va - t.x0, vb - t.x0, RowProj { fixedU(st, t, va, z), st.du, &st.tb });
}

// The projections st[0 .. P - 1] over every row of the block.
template <int P>
__attribute__((target("avx2,fma,bmi2"))) void passAdd(
    const BpTileRows &t, const Setup *st, double h, int n)
{
    Lanes l[P];
#pragma GCC unroll 8
    for (int p = 0; p < P; ++p)
        l[p] = makeLanes(st[p].du, st[p].tb);
    for (int r = 0; r < t.rows; ++r) {
        const int xa = t.xa[r], xb = t.xb[r];
        if (xa > xb)
            continue;
        const int z = t.z0 + r;
        double *row = t.base + std::ptrdiff_t(r) * t.stride;
        std::uint64_t u[P];
        bool whole[P];
        bool allWhole = true;
#pragma GCC unroll 8
        for (int p = 0; p < P; ++p) {
            u[p] = fixedU(st[p], t, xa, z);
            whole[p] = wholeSpan(st[p], u[p], xa, xb);
            allWhole = allWhole && whole[p];
        }
        if (allWhole) {
            rowBody<P>(row, xa - t.x0, xb - t.x0, u, l);
            continue;
        }
        // Projections one by one, in order, each over the pixels the formula
        // gives it.
        for (int p = 0; p < P; ++p) {
            if (whole[p])
                rowAddOne(row, xa - t.x0, xb - t.x0, RowProj { u[p], st[p].du, &st[p].tb });
            else
                clippedOne(st[p], t, row, z, xa, xb, h, n);
        }
    }
}

// Projections per pass over a block: each pixel's accumulator is loaded and
// stored once per kPass projections.
constexpr int kPass = 2;

void tileAdd(const BpTileRows &t, const BpProjection *proj, int count, double h, int n)
{
    Setup st[kPass];
    int i = 0;
    for (; i + kPass <= count; i += kPass) {
        for (int p = 0; p < kPass; ++p)
            st[p] = setup(t, proj[i + p], h, n);
        passAdd<kPass>(t, st, h, n);
    }
    for (; i < count; ++i) {
        st[0] = setup(t, proj[i], h, n);
        passAdd<1>(t, st, h, n);
    }
}

} // namespace avx2
#endif

BpTileAdd bpTileAddAvx2()
{
#ifdef VORLO_BP_TILE_AVX2
    static const bool ok = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")
            && __builtin_cpu_supports("bmi2");
    }();
    return ok ? avx2::tileAdd : nullptr;
#else
    return nullptr;
#endif
}
