#pragma once

#include <cmath>

// The pixels a reconstruction fills, the same for every method: the
// calculation region's range on each axis and the circle inscribed in the
// grid. Kept in one place so that every method leaves exactly the same pixels
// at zero.
namespace region_clip {

// trunc(v) limited to [lo, hi]; a value that is not a number gives hi, so that
// a region with such a corner is empty.
inline int clampTrunc(double v, int lo, int hi)
{
    if (std::isnan(v))
        return hi;
    if (v <= double(lo))
        return lo;
    if (v >= double(hi))
        return hi;
    return int(std::trunc(v));
}

// The smallest integer >= v limited to [lo, hi] (x < x1 for integer x means x < ceil(x1)).
inline int clampCeil(double v, int lo, int hi)
{
    if (std::isnan(v) || v <= double(lo))
        return lo;
    if (v >= double(hi))
        return hi;
    return int(std::ceil(v));
}

// Largest t >= 0 with t * t < r2 (r2 > 0, exact integers), i.e. the half-extent
// of the pixels strictly inside the circle on one grid row.
inline long long halfChord(long long r2)
{
    long long t = (long long)std::sqrt(double(r2));
    while (t > 0 && t * t >= r2)
        --t;
    while ((t + 1) * (t + 1) < r2)
        ++t;
    return t;
}

} // namespace region_clip
