#pragma once
// The value-to-grey mapping of a colour bar as a plain value, so that it can be
// copied into worker threads and used without touching the bar widget.
//
// level(v) = clamp(trunc(((v - minV) / (maxV - minV) - lo) * 256 / (hi - lo)), 0, 255);
// a result that is not a number (0/0 when v == minV == maxV) gives 0.
#include <cmath>

struct LevelMap {
    double minV = 0.0; // data value at the bottom of the scale
    double maxV = 1.0; // data value at the top of the scale
    double lo = 0.0;   // lower handle, fraction of the scale (not limited to [0, 1])
    double hi = 1.0;   // upper handle, fraction of the scale

    int level(double v) const
    {
        const double t = ((v - minV) / (maxV - minV) - lo) * 256.0 / (hi - lo);
        if (std::isnan(t) || t <= 0.0)
            return 0;
        if (t >= 255.0)
            return 255;
        return int(t);
    }
};
