#pragma once
// The inner loop of the back-projection: one projection added to one grid row.
//
// For every pixel xa <= x <= xb of the row (xb inclusive):
//   u = ((x - h) * c - dzs) + h,  dzs = (z - h) * s for the row's z,
//   k = floor(u); if 0 <= k < n - 1: row[x] += f[k] + (u - k) * (f[k + 1] - f[k]).
// f is one filtered projection of n values. The vector routine loads fixed
// windows around the samples it needs, so f[-kBpRowPadFront] ... f[-1] and
// f[n] ... f[n + kBpRowPadBack - 1] must be readable (their values are never
// used in a sum).
//
// The routines are chosen at run time: AVX-512 where the processor has it, else
// AVX2, else the plain loop, so one build runs on any x86-64.
#include <cstddef>

constexpr std::size_t kBpRowPadFront = 1;
constexpr std::size_t kBpRowPadBack = 16;

using BpRowAdd
    = void (*)(double *row, int xa, int xb, double h, double c, double dzs, const double *f, int n);

// The plain loop (any processor).
BpRowAdd bpRowAddGeneric();
// The AVX2 + FMA routine (gathers, 4 pixels per step), or null when this processor lacks it.
BpRowAdd bpRowAddAvx2();
// The AVX-512F routine (8 pixels per step), or null when this processor lacks it.
BpRowAdd bpRowAddAvx512();
// The fastest routine this processor runs.
BpRowAdd bpRowAddBest();
// "avx512f", "avx2" or "generic": the routine bpRowAddBest() chose.
const char *bpRowAddName();
