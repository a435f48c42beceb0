#include "ct/fftw_planner.h"

#include <limits>
#include <mutex>

namespace {
std::mutex &plannerMutex()
{
    static std::mutex m;
    return m;
}
} // namespace

namespace FftwPlanner {

fftw_plan planDft1d(int n, fftw_complex *in, fftw_complex *out, int sign)
{
    if (n <= 0 || !in || !out)
        return nullptr;
    std::lock_guard<std::mutex> lock(plannerMutex());
    return fftw_plan_dft_1d(n, in, out, sign, FFTW_ESTIMATE);
}

fftw_plan planDft2d(int n0, int n1, fftw_complex *in, fftw_complex *out, int sign)
{
    if (n0 <= 0 || n1 <= 0 || !in || !out)
        return nullptr;
    std::lock_guard<std::mutex> lock(plannerMutex());
    return fftw_plan_dft_2d(n0, n1, in, out, sign, FFTW_ESTIMATE);
}

fftw_plan planLocked(const std::function<fftw_plan()> &make)
{
    if (!make)
        return nullptr;
    std::lock_guard<std::mutex> lock(plannerMutex());
    return make();
}

void destroy(fftw_plan plan)
{
    if (!plan)
        return;
    std::lock_guard<std::mutex> lock(plannerMutex());
    fftw_destroy_plan(plan);
}

fftw_complex *allocComplex(std::size_t count)
{
    if (count == 0 || count > std::numeric_limits<std::size_t>::max() / sizeof(fftw_complex))
        return nullptr;
    std::lock_guard<std::mutex> lock(plannerMutex());
    return static_cast<fftw_complex *>(fftw_malloc(count * sizeof(fftw_complex)));
}

double *allocReal(std::size_t count)
{
    if (count == 0 || count > std::numeric_limits<std::size_t>::max() / sizeof(double))
        return nullptr;
    std::lock_guard<std::mutex> lock(plannerMutex());
    return static_cast<double *>(fftw_malloc(count * sizeof(double)));
}

void free(void *p)
{
    if (!p)
        return;
    std::lock_guard<std::mutex> lock(plannerMutex());
    fftw_free(p);
}

} // namespace FftwPlanner
