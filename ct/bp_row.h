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
// The routines are chosen at run time: the AVX-512 one where the processor has
// it, otherwise the plain loop, so one build runs on any x86-64.
#include <cstddef>

constexpr std::size_t kBpRowPadFront = 1;
constexpr std::size_t kBpRowPadBack = 16;

using BpRowAdd
    = void (*)(double *row, int xa, int xb, double h, double c, double dzs, const double *f, int n);

// The plain loop (any processor).
BpRowAdd bpRowAddGeneric();
// The AVX-512F routine, or null when this processor lacks it.
BpRowAdd bpRowAddVector();
// The fastest routine this processor runs.
BpRowAdd bpRowAddBest();
// "avx512f" or "generic": the routine bpRowAddBest() chose.
const char *bpRowAddName();
