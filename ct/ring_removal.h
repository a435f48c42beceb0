#pragma once
// Suppression of ring artefacts in the attenuation sinogram, before filtering.
//
// A detector pixel whose gain differs from its neighbours' adds nearly the same
// offset to its column of the sinogram at every angle: a stripe, which the
// back-projection turns into a ring. Sorting every column and median-filtering
// across the detector (the usual recipe) also reshapes sharp edges of the
// object, so this routine first finds the stripes and then corrects only them,
// by a constant per column:
//   1. detection: in every row the steps between neighbouring columns,
//      minus their running median over `size` steps (a median follows the
//      object's profile, a peak or a kink included, but not the isolated
//      pair of opposite steps at a stripe's sides); step[j] = median over all
//      projections of that difference at boundary j (between columns j and
//      j + 1). The object's structure crosses a boundary at a few angles only,
//      a stripe's sides stay there at all of them. A boundary is significant
//      when |step| exceeds both 4 sigma of all steps (median absolute
//      deviation) and 1e-4 of the largest |value|, and the step is seen at
//      (nearly) every angle: the same sign and half the size in 80 % of the
//      projections, or, in noisy data, a spread over the angles no larger than
//      twice the noise's; and the step must lie beyond 5 times the scatter of
//      a median of its own values over the angles. A stripe runs from a
//      significant step to the next ones that bring the sum back near 0, at
//      most (size - 1) / 2 columns on, when the steps inside it add up to less
//      than half its two sides;
//   2. correction: for every run of adjacent stripe columns, each projection is
//      interpolated linearly between the nearest columns on both sides that
//      are not stripes; the column's offset is the median over all projections
//      of its value minus that interpolation, and is subtracted from the whole
//      column. The column keeps its own variation with the angle.
// Stripes up to (size - 1) / 2 columns wide are found.
//
// sgm is rows x width, row-major [projection][sample], as in HSgm::sgm.
#include <vector>

struct RingRemovalResult {
    int stripes = 0; // columns corrected
    std::vector<int> columns; // their indexes, in increasing order
};

// Odd window sizes only: an even size is taken as the next odd one. size < 3,
// width < 3 or rows < 1 change nothing.
RingRemovalResult removeRings(double *sgm, int width, int rows, int size);
