#include "ct/ring_removal.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace {

// Median of v (reordered); the mean of the two middle values for an even count.
double medianOf(std::vector<double> &v)
{
    const std::size_t mid = v.size() / 2;
    std::nth_element(v.begin(), v.begin() + std::ptrdiff_t(mid), v.end());
    double m = v[mid];
    if (v.size() % 2 == 0) {
        const double lower = *std::max_element(v.begin(), v.begin() + std::ptrdiff_t(mid));
        m = 0.5 * (m + lower);
    }
    return m;
}

} // namespace

RingRemovalResult removeRings(double *sgm, int width, int rows, int size)
{
    RingRemovalResult res;
    if (!sgm || width < 3 || rows < 1 || size < 3)
        return res;
    if (size % 2 == 0)
        ++size;
    const int half = size / 2;
    const std::size_t w = std::size_t(width);

    // Steps between neighbouring columns, g[j] = s[j + 1] - s[j], minus their
    // running median, stored [boundary][projection] so that each boundary's
    // values lie together for the median along the angle. A stripe is a pair
    // of opposite steps at its two sides; the object's own profile gives steps
    // that change smoothly across the detector (followed by the median, a
    // peak or a kink included), or that move with the angle.
    const int nb = width - 1;
    std::vector<float> resid(std::size_t(nb) * std::size_t(rows));
    std::vector<double> g(static_cast<std::size_t>(nb)), win;
    win.reserve(std::size_t(size));
    double largest = 0.0;
    for (int i = 0; i < rows; ++i) {
        const double *row = sgm + std::size_t(i) * w;
        for (int j = 0; j < nb; ++j) {
            g[std::size_t(j)] = row[j + 1] - row[j];
            largest = std::max(largest, std::fabs(row[j]));
        }
        for (int j = 0; j < nb; ++j) {
            const int a = std::max(0, j - half);
            const int b = std::min(nb - 1, j + half);
            win.assign(g.begin() + a, g.begin() + b + 1);
            resid[std::size_t(j) * std::size_t(rows) + std::size_t(i)]
                = float(g[std::size_t(j)] - medianOf(win));
        }
    }
    std::vector<double> step(static_cast<std::size_t>(nb)), col(static_cast<std::size_t>(rows));
    for (std::size_t j = 0; j < std::size_t(nb); ++j) {
        const float *c = resid.data() + j * std::size_t(rows);
        col.assign(c, c + rows);
        step[j] = medianOf(col);
    }
    std::vector<double> tmp(step);
    const double centre = medianOf(tmp);
    for (double &v : tmp)
        v = std::fabs(v - centre);
    const double sigma = 1.4826 * medianOf(tmp);
    const double limit = std::max(4.0 * sigma, 1e-4 * largest);
    if (!(limit > 0.0))
        return res;

    // Significant: beyond the limit, and seen at (nearly) every angle. The
    // object's own steps that stay near one column (the edge of a body whose
    // width hardly changes with the angle) pass the limit too, but only at
    // some angles. Without noise: at least 80 % of the projections have a
    // step of the same sign and at least half the size there. With noise,
    // which spreads every step: the spread of the step over the angles about
    // its median is no more than twice the typical spread of all boundaries
    // (the noise's own), where an edge of the object adds its own variation.
    // In both cases the step must stand out of its own scatter over the angles.
    auto spreadOf = [&](int j) {
        const float *c = resid.data() + std::size_t(j) * std::size_t(rows);
        for (int i = 0; i < rows; ++i)
            col[std::size_t(i)] = std::fabs(double(c[i]) - step[std::size_t(j)]);
        return 1.4826 * medianOf(col);
    };
    std::vector<double> spreads;
    for (int j = 0; j < nb; j += 4)
        spreads.push_back(spreadOf(j));
    const double typical = medianOf(spreads);
    std::vector<char> sig(std::size_t(nb), 0);
    for (int j = 0; j < nb; ++j) {
        const double d = step[std::size_t(j)];
        if (!(std::fabs(d) > limit))
            continue;
        const float *c = resid.data() + std::size_t(j) * std::size_t(rows);
        int same = 0;
        for (int i = 0; i < rows; ++i)
            if ((c[i] > 0) == (d > 0) && std::fabs(c[i]) > 0.5 * std::fabs(d))
                ++same;
        // The median of n values of spread sigma scatters by 1.2533 sigma / sqrt(n):
        // a step within 5 of that of 0 may be noise.
        const double spread = spreadOf(j);
        if (std::fabs(d) <= 5.0 * 1.2533 * spread / std::sqrt(double(rows)))
            continue;
        sig[std::size_t(j)] = same >= 0.8 * rows || (typical > 0.0 && spread <= 2.0 * typical);
    }

    // A stripe starts at a significant step and ends where the sum of the
    // significant steps since its start comes back near 0 (within a quarter
    // of the first step), at most `half` columns later; a step without its
    // partner (an edge of the object that stays at one column) starts nothing.
    std::vector<char> stripe(w, 0);
    auto significant = [&](int j) { return sig[std::size_t(j)] != 0; };
    for (int p = 0; p < nb; ++p) {
        if (!significant(p))
            continue;
        const double first = std::fabs(step[std::size_t(p)]);
        // A small step just before a much larger one is the larger stripe's
        // trace in the running median, not a stripe of its own.
        bool overshadowed = false;
        for (int q = p + 1; q < nb && q <= p + half; ++q)
            if (significant(q) && std::fabs(step[std::size_t(q)]) > 2.0 * first)
                overshadowed = true;
        if (overshadowed)
            continue;
        double sum = step[std::size_t(p)];
        int end = -1;
        for (int q = p + 1; q < nb && q <= p + half; ++q) {
            if (!significant(q))
                continue;
            sum += step[std::size_t(q)];
            if (std::fabs(sum) < 0.25 * first) {
                end = q;
                break;
            }
        }
        if (end < 0)
            continue;
        // A stripe has sharp sides and a level top: the steps inside the run
        // stay below its sides'. A run of steps of one size is the sloping
        // edge of the object, which the window is too wide to follow.
        double inner = 0.0;
        for (int q = p + 1; q < end; ++q)
            inner += std::fabs(step[std::size_t(q)]);
        if (inner >= 0.5 * (first + std::fabs(step[std::size_t(end)])))
            continue;
        for (int k = p + 1; k <= end; ++k)
            stripe[std::size_t(k)] = 1;
        p = end;
    }
    for (int j = 0; j < width; ++j)
        if (stripe[std::size_t(j)])
            res.columns.push_back(j);
    res.stripes = int(res.columns.size());
    if (res.columns.empty())
        return res;

    // Offsets from the clean columns around each run, then the correction.
    std::vector<double> offset(w, 0.0);
    for (int j = 0; j < width;) {
        if (!stripe[std::size_t(j)]) {
            ++j;
            continue;
        }
        int b = j;
        while (b + 1 < width && stripe[std::size_t(b + 1)])
            ++b;
        const int left = j - 1; // -1: none
        const int right = b + 1 < width ? b + 1 : -1;
        for (int k = j; k <= b; ++k) {
            if (left < 0 && right < 0)
                break; // every column a stripe: nothing to compare with
            for (int i = 0; i < rows; ++i) {
                const double *row = sgm + std::size_t(i) * w;
                double ref;
                if (left < 0)
                    ref = row[right];
                else if (right < 0)
                    ref = row[left];
                else
                    ref = row[left]
                        + (row[right] - row[left]) * double(k - left) / double(right - left);
                col[std::size_t(i)] = row[k] - ref;
            }
            offset[std::size_t(k)] = medianOf(col);
        }
        j = b + 1;
    }
    for (int i = 0; i < rows; ++i) {
        double *row = sgm + std::size_t(i) * w;
        for (int j : res.columns)
            row[j] -= offset[std::size_t(j)];
    }
    return res;
}
