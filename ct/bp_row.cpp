#include "ct/bp_row.h"

#include <algorithm>
#include <cmath>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VORLO_BP_AVX512 1
#include <immintrin.h>
#endif

namespace {

// One grid row: result[x] += f[k] + (u - k) * (f[k + 1] - f[k]) for xa <= x <= xb,
// with u = ((x - h) * c - dzs) + h, dzs = (z - h) * s, k = floor(u), 0 <= k < n - 1.
void rowAddGeneric(double *row, int xa, int xb, double h, double c, double dzs, const double *f,
                   int n)
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
// so every f[k] and f[k + 1] they need lies in a window of 16 values starting
// one below floor(min u); the window is loaded with two plain loads and the
// values are picked with two-register permutes instead of gathers.
__attribute__((target("avx512f"))) void rowAddAvx512(double *row, int xa, int xb, double h,
                                                       double c, double dzs, const double *f,
                                                       int n)
{
    const __m512d vc = _mm512_set1_pd(c);
    const __m512d vdzs = _mm512_set1_pd(dzs);
    const __m512d vh = _mm512_set1_pd(h);
    const __m512d vlim = _mm512_set1_pd(double(n - 1));
    const __m512d vzero = _mm512_setzero_pd();
    const __m512d lanes = _mm512_set_pd(7, 6, 5, 4, 3, 2, 1, 0);
    constexpr double two52 = 4503599627370496.0; // adding 2^52 puts a small integer in the low bits
    for (int x = xa; x <= xb; x += 8) {
        const int cnt = std::min(8, xb - x + 1);
        const __mmask8 m = __mmask8(cnt == 8 ? 0xFF : (1u << cnt) - 1u);
        const __m512d dx = _mm512_add_pd(_mm512_set1_pd(double(x) - h), lanes);
        const __m512d u = _mm512_add_pd(_mm512_sub_pd(_mm512_mul_pd(dx, vc), vdzs), vh);
        const __m512d fl =
            _mm512_mask_roundscale_pd(u, 0xFF, u, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
        const __m512d fr = _mm512_sub_pd(u, fl);

        // u is monotonic along x, so its minimum is at one end of the step.
        const double ua = (double(x) - h) * c - dzs + h;
        const double ub = (double(x + cnt - 1) - h) * c - dzs + h;
        double lo = std::floor(std::min(ua, ub)) - 1.0;
        lo = std::min(std::max(lo, -1.0), double(n - 1));
        const long base = long(lo);

        const __m512d magic = _mm512_set1_pd(two52 - lo);
        const __m512i idx0 = _mm512_castpd_si512(_mm512_add_pd(fl, magic));
        const __m512i idx1 = _mm512_castpd_si512(_mm512_add_pd(fl, _mm512_set1_pd(two52 + 1.0 - lo)));
        const double *w = f + base;
        const __m512d w0 = _mm512_loadu_pd(w);
        const __m512d w1 = _mm512_loadu_pd(w + 8);
        const __m512d fk = _mm512_permutex2var_pd(w0, idx0, w1);
        const __m512d fk1 = _mm512_permutex2var_pd(w0, idx1, w1);
        const __m512d val = _mm512_add_pd(fk, _mm512_mul_pd(fr, _mm512_sub_pd(fk1, fk)));

        const __mmask8 inside = _mm512_mask_cmp_pd_mask(m, fl, vlim, _CMP_LT_OQ) &
                                _mm512_cmp_pd_mask(fl, vzero, _CMP_GE_OQ);
        __m512d r = _mm512_maskz_loadu_pd(m, row + x);
        r = _mm512_mask_add_pd(r, inside, r, val);
        _mm512_mask_storeu_pd(row + x, m, r);
    }
}
#endif



bool vectorSupported()
{
#ifdef VORLO_BP_AVX512
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f");
#else
    return false;
#endif
}

} // namespace

BpRowAdd bpRowAddGeneric()
{
    return rowAddGeneric;
}

BpRowAdd bpRowAddVector()
{
#ifdef VORLO_BP_AVX512
    static const bool ok = vectorSupported();
    return ok ? rowAddAvx512 : nullptr;
#else
    return nullptr;
#endif
}

BpRowAdd bpRowAddBest()
{
    static const BpRowAdd fn = bpRowAddVector() ? bpRowAddVector() : bpRowAddGeneric();
    return fn;
}

const char *bpRowAddName()
{
    return bpRowAddVector() ? "avx512f" : "generic";
}
