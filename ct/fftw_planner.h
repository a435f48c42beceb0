#pragma once
// The one door to FFTW's planner.
//
// FFTW's planner, plan destruction and its allocator share global state and
// are not thread-safe; only executing a plan is. Every calculator, each in its
// own thread, therefore makes and destroys its plans and allocates its
// transform buffers through these functions, which hold one process-wide mutex
// for the duration of the call. fftw_execute on a plan and its own buffers needs
// no lock.
#include <fftw3.h>

#include <cstddef>
#include <functional>

namespace FftwPlanner {

// fftw_plan_dft_1d(n, in, out, sign, FFTW_ESTIMATE) under the planner lock;
// null when FFTW cannot make the plan.
fftw_plan planDft1d(int n, fftw_complex *in, fftw_complex *out, int sign);
// fftw_plan_dft_2d(n0, n1, in, out, sign, FFTW_ESTIMATE) under the planner
// lock; n0 rows of n1 values, row-major.
fftw_plan planDft2d(int n0, int n1, fftw_complex *in, fftw_complex *out, int sign);
// make() under the planner lock, for the other kinds of plans (real-data and
// many-transform plans); its plan, or null.
fftw_plan planLocked(const std::function<fftw_plan()> &make);
// fftw_destroy_plan under the lock; a null plan is ignored.
void destroy(fftw_plan plan);

// fftw_malloc / fftw_free under the lock. allocComplex returns null when the
// count is not positive, overflows, or the memory is not available.
fftw_complex *allocComplex(std::size_t count);
double *allocReal(std::size_t count);
void free(void *p);

} // namespace FftwPlanner
