#pragma once
// The centres of rotation of a centre search ("Try CoR"): one slice is
// reconstructed once per centre so that the user can pick the sharpest.
#include <QVector>

// Most centres one search may try.
constexpr int maxCorSeriesCount = 1000;

// Centres from + i * step for i = 0, 1, ... while they lie within [from, to]
// (to counts as reached within a tiny fraction of a step, so that 1000 to 1001
// in steps of 0.1 ends on 1001), each computed from i, not summed up. from ==
// to gives the one centre from for any step but 0. Refused, with a debug-log
// line and `out` left empty: a value that is not finite, a step of 0 or one
// whose sign leads away from to, a centre of 0 or less (no sinogram can be
// built for it) and more than maxCorSeriesCount centres.
bool corSeries(double from, double to, double step, QVector<double> &out);
