#pragma once
// Suppression of ring artefacts in the attenuation sinogram, before filtering.
//
// A detector pixel whose gain differs from its neighbours' adds nearly the same
// offset to its column of the sinogram at every angle: a stripe, which the
// back-projection turns into a ring. Sorting every column and median-filtering
// across the detector (the usual recipe) also reshapes sharp edges of the
// object, so this routine first finds the stripes and then corrects only them,
// by a constant per column:
//   1. detection: every row is compared with its own running median over
//      `size` samples across the detector (a median keeps the object's edges
//      and follows monotone runs exactly, but not a stripe narrower than half
//      the window); d[j] = median over all projections of that difference at
//      column j. An object's structure crosses a column at a few angles only,
//      a stripe stays there at all of them, so d[j] is the stripe's offset.
//      Column j is a stripe when |d[j]| exceeds both 4 sigma of d (sigma from
//      the median absolute deviation, robust to the stripes themselves) and
//      1e-4 of the largest |value| of the sinogram;
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
