#pragma once
// The back-projection of a block of projections onto a block of grid rows
// without gathers (AVX2 + FMA, and BMI2 for the sample indexes).
//
// Each filtered projection f of n values is first turned into a table
// (bpFillPairs) of a[k] = f[k] - d[k] followed by d[k] = f[k + 1] - f[k], so
// that the interpolated value at u = k + t, 0 <= t < 1, is one fused
// multiply-add: a[k] + (1 + t) * d[k]. Entries below 0 hold (f[0], 0) and
// entries from n - 1 on hold (f[n - 1], 0), so an index one step off at
// either end adds the end sample. Two neighbouring pixels need entries k and
// k + 1 at most (|c| <= 1): one 128-bit load of a and one of d per two pixels,
// then an in-lane permute picks each pixel's entry; whether a pixel needs entry
// k + 1 follows from its fraction bits alone (one compare per four pixels).
//
// Along a row u is advanced in fixed point (an unsigned integer holding u
// minus a per-tile base with 52 fraction bits): the sample index is a shift
// and 1 + t is the fraction bits put under the exponent of 1.0, with no
// rounding or conversion per pixel. The fixed-point u differs from the
// formula's u = ((x - h) * c - (z - h) * s) + h by far less than 1e-9, so the
// sums agree to rounding; whether a pixel receives a projection at all
// (0 <= floor(u) < n - 1) is decided by the formula itself for every row that
// comes within 1e-6 of u = 0 or u = n - 1, so the set of updated pixels is
// exactly the formula's.
#include <cstddef>

// Entries stored before entry 0 and after entry n - 2 (in a and in d): a
// routine may read up to 4 samples beyond the valid range for pixels whose
// values it does not use.
constexpr int kBpPairsFront = 4;
constexpr int kBpPairsBack = 5;

// Doubles one projection's table takes: 2 * (front + n + back).
inline std::size_t bpPairsStride(int n)
{
    return 2 * std::size_t(kBpPairsFront + n + kBpPairsBack);
}

// Fills the table at `pairs` (bpPairsStride(n) doubles: a, then d) from the n
// values of f.
void bpFillPairs(const double *f, int n, double *pairs);

// One projection of a pass: its direction and table (as filled by bpFillPairs).
struct BpProjection {
    double c = 1.0;
    double s = 0.0;
    const double *pairs = nullptr;
};

// The rows of one block: pixel (x, z) with x0 <= x < x0 + cols, z0 <= z < z0 + rows
// lives at base[(z - z0) * stride + (x - x0)]. Row z is updated for
// xa[z - z0] <= x <= xb[z - z0] (inside the block; empty when xa > xb). The
// block may be at most kBpTileMax pixels in each direction (the fixed-point
// range).
constexpr int kBpTileMax = 512;
struct BpTileRows {
    double *base = nullptr;
    std::ptrdiff_t stride = 0;
    int x0 = 0;
    int z0 = 0;
    int cols = 0;
    int rows = 0;
    const int *xa = nullptr;
    const int *xb = nullptr;
};

// Adds the projections proj[0 .. count - 1], in this order, to every pixel of
// the block: u = ((x - h) * c - (z - h) * s) + h, k = floor(u), and when
// 0 <= k < n - 1 the pixel gets f[k] + (u - k) * (f[k + 1] - f[k]). Two
// projections go over the block per pass.
using BpTileAdd
    = void (*)(const BpTileRows &t, const BpProjection *proj, int count, double h, int n);

// The AVX2 + FMA + BMI2 routine, or null when this processor lacks these
// instructions.
BpTileAdd bpTileAddAvx2();
