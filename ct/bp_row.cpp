#include "ct/bp_row.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VORLO_BP_AVX512 1
#include <immintrin.h>
#endif

namespace {

// One grid row: result[x] += f[k] + (u - k) * (f[k + 1] - f[k]) for xa <= x <= xb,
// with u = ((x - h) * c - dzs) + h, dzs = (z - h) * s, k = floor(u), 0 <= k < n - 1.
void rowAddGeneric(
    double *row, int xa, int xb, double h, double c, double dzs, const double *f, int n)
{
    for (int x = xa; x <= xb; ++x) {
        const double u = (double(x) - h) * c - dzs + h;
        const double fl = std::floor(u);
        if (fl >= 0.0 && fl < double(n - 1)) {
            const int k = int(fl);
            row[x] += f[k] + (u - fl) * (f[k + 1] - f[k]);
        }
    }
}

#ifdef VORLO_BP_AVX512
// The same row with 8 pixels per step. u is computed per pixel exactly as in the
// generic loop. Along 8 consecutive pixels u changes by at most 7 (|c| <= 1),
// so the k and k + 1 of the step span at most 10 consecutive samples; a window
// of 16 samples starting one or two below the smallest k holds them all. The
// window is read with two plain loads and the values are picked with
// two-register permutes instead of gathers.
namespace avx512 {

    constexpr double kTwo52
        = 4503599627370496.0; // x + 2^52 holds a small integer x in its low bits

    // One step of 8 pixels from x on (lanes in `m`); base is the first sample of the window.
    __attribute__((target("avx512f"), always_inline)) inline void step(double *row, int x,
        __mmask8 m, long base, __m512d dx, __m512d vc, __m512d vdzs, __m512d vh, __m512d vlim,
        const double *f)
    {
        const __m512d u = _mm512_add_pd(_mm512_sub_pd(_mm512_mul_pd(dx, vc), vdzs), vh);
        const __m512d fl
            = _mm512_mask_roundscale_pd(u, 0xFF, u, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
        const __m512d fr = _mm512_sub_pd(u, fl);
        const double b = double(base);
        const __m512i idx0 = _mm512_castpd_si512(_mm512_add_pd(fl, _mm512_set1_pd(kTwo52 - b)));
        const __m512i idx1 = _mm512_add_epi64(idx0, _mm512_set1_epi64(1));
        const double *w = f + base;
        const __m512d w0 = _mm512_loadu_pd(w);
        const __m512d w1 = _mm512_loadu_pd(w + 8);
        const __m512d fk = _mm512_permutex2var_pd(w0, idx0, w1);
        const __m512d fk1 = _mm512_permutex2var_pd(w0, idx1, w1);
        const __m512d val = _mm512_add_pd(fk, _mm512_mul_pd(fr, _mm512_sub_pd(fk1, fk)));
        const __mmask8 inside = _mm512_mask_cmp_pd_mask(m, fl, vlim, _CMP_LT_OQ)
            & _mm512_cmp_pd_mask(fl, _mm512_setzero_pd(), _CMP_GE_OQ);
        __m512d r = _mm512_maskz_loadu_pd(m, row + x);
        r = _mm512_mask_add_pd(r, inside, r, val);
        _mm512_mask_storeu_pd(row + x, m, r);
    }

    // Window start for a step whose smallest u is about uMin (within a small
    // fraction of a sample): floor(uMin) - 1, kept inside the padded row.
    inline long windowBase(double uMin, int n)
    {
        long b = long(uMin)
            - 1; // truncation: differs from floor only below 0, where b is clamped to -1
        if (b < -1)
            b = -1;
        if (b > n - 1)
            b = n - 1;
        return b;
    }

    __attribute__((target("avx512f"))) void rowAdd(
        double *row, int xa, int xb, double h, double c, double dzs, const double *f, int n)
    {
        const __m512d vc = _mm512_set1_pd(c);
        const __m512d vdzs = _mm512_set1_pd(dzs);
        const __m512d vh = _mm512_set1_pd(h);
        const __m512d vlim = _mm512_set1_pd(double(n - 1));
        const __m512d eight = _mm512_set1_pd(8.0);
        __m512d dx
            = _mm512_add_pd(_mm512_set1_pd(double(xa) - h), _mm512_set_pd(7, 6, 5, 4, 3, 2, 1, 0));
        // Smallest u of each full step: lane 0 when u rises along x, lane 7 when it
        // falls; advanced by 8c per step (the rounding drift stays far below one
        // sample, which the window's spare room absorbs).
        double uMin = (double(xa) - h) * c - dzs + h + (c < 0 ? 7.0 * c : 0.0);
        const double uStep = 8.0 * c;
        int x = xa;
        for (; x + 7 <= xb; x += 8) {
            step(row, x, 0xFF, windowBase(uMin, n), dx, vc, vdzs, vh, vlim, f);
            dx = _mm512_add_pd(dx, eight);
            uMin += uStep;
        }
        if (x <= xb) {
            const int cnt = xb - x + 1;
            const double ua = (double(x) - h) * c - dzs + h;
            const double ub = (double(xb) - h) * c - dzs + h;
            step(row, x, __mmask8((1u << cnt) - 1u), windowBase(std::min(ua, ub), n), dx, vc, vdzs,
                vh, vlim, f);
        }
    }

} // namespace avx512
#endif

#ifdef VORLO_BP_AVX512
// The same row with 4 pixels per step for processors with AVX2 but without
// AVX-512: the samples are fetched with masked gathers, so lanes outside the
// span or outside 0 <= k < n - 1 read nothing.
namespace avx2 {

    __attribute__((target("avx2,fma"))) void rowAdd(
        double *row, int xa, int xb, double h, double c, double dzs, const double *f, int n)
    {
        const __m256d vc = _mm256_set1_pd(c);
        const __m256d vdzs = _mm256_set1_pd(dzs);
        const __m256d vh = _mm256_set1_pd(h);
        const __m256d vlim = _mm256_set1_pd(double(n - 1));
        const __m256d zero = _mm256_setzero_pd();
        const __m256d lanes = _mm256_set_pd(3, 2, 1, 0);
        for (int x = xa; x <= xb; x += 4) {
            const __m256d inSpan
                = _mm256_cmp_pd(lanes, _mm256_set1_pd(double(xb - x + 1)), _CMP_LT_OQ);
            const __m256d dx = _mm256_add_pd(_mm256_set1_pd(double(x) - h), lanes);
            const __m256d u = _mm256_add_pd(_mm256_sub_pd(_mm256_mul_pd(dx, vc), vdzs), vh);
            const __m256d fl = _mm256_floor_pd(u);
            const __m256d fr = _mm256_sub_pd(u, fl);
            const __m256d ok = _mm256_and_pd(inSpan,
                _mm256_and_pd(
                    _mm256_cmp_pd(fl, zero, _CMP_GE_OQ), _mm256_cmp_pd(fl, vlim, _CMP_LT_OQ)));
            // Lanes that are not ok may hold any index: the masked gathers skip them.
            const __m128i k = _mm256_cvttpd_epi32(_mm256_and_pd(fl, ok));
            const __m256d fk = _mm256_mask_i32gather_pd(zero, f, k, ok, 8);
            const __m256d fk1 = _mm256_mask_i32gather_pd(zero, f + 1, k, ok, 8);
            const __m256d val
                = _mm256_and_pd(_mm256_add_pd(fk, _mm256_mul_pd(fr, _mm256_sub_pd(fk1, fk))), ok);
            if (x + 3 <= xb) {
                _mm256_storeu_pd(row + x, _mm256_add_pd(_mm256_loadu_pd(row + x), val));
            } else {
                // Masked moves only for the tail: they are slow on some processors.
                const __m256i store = _mm256_castpd_si256(inSpan);
                const __m256d r = _mm256_maskload_pd(row + x, store);
                _mm256_maskstore_pd(row + x, store, _mm256_add_pd(r, val));
            }
        }
    }

} // namespace avx2
#endif

bool cpuHas(const char *what)
{
#ifdef VORLO_BP_AVX512
    __builtin_cpu_init();
    if (std::strcmp(what, "avx512f") == 0)
        return __builtin_cpu_supports("avx512f");
    if (std::strcmp(what, "avx2") == 0)
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#endif
    (void)what;
    return false;
}

} // namespace

BpRowAdd bpRowAddGeneric() { return rowAddGeneric; }

BpRowAdd bpRowAddAvx2()
{
#ifdef VORLO_BP_AVX512
    static const bool ok = cpuHas("avx2");
    return ok ? avx2::rowAdd : nullptr;
#else
    return nullptr;
#endif
}

BpRowAdd bpRowAddAvx512()
{
#ifdef VORLO_BP_AVX512
    static const bool ok = cpuHas("avx512f");
    return ok ? avx512::rowAdd : nullptr;
#else
    return nullptr;
#endif
}

BpRowAdd bpRowAddBest()
{
    static const BpRowAdd fn = bpRowAddAvx512() ? bpRowAddAvx512()
        : bpRowAddAvx2()                        ? bpRowAddAvx2()
                                                : bpRowAddGeneric();
    return fn;
}

const char *bpRowAddName()
{
    const BpRowAdd fn = bpRowAddBest();
    return fn == bpRowAddAvx512() ? "avx512f" : fn == bpRowAddAvx2() ? "avx2" : "generic";
}
