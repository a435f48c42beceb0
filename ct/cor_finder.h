#pragma once
// Automatic centre of rotation from one slice's attenuation sinogram.
//
// For parallel beams the first moment (centroid) of every projection of an
// object that lies wholly inside the field of view follows a sinusoid in the
// angle: t_i = c + a cos(theta_i) + b sin(theta_i), theta_i = i * pi / M, where
// c is the sample at which the rotation axis projects. The finder takes the
// centroid of every projection (positions measured from the middle of the row,
// so that noise far from the object weighs less; the level of the outermost
// columns taken off first when it is clearly not 0, so that a constant offset
// does not matter), fits c, a and b by least
// squares over all projections, and returns c: sub-pixel, one pass over the
// sinogram, no candidate search. Projections whose total attenuation is not
// positive carry no centroid and are left out.
//
// The fit needs the whole object in every projection: when the total
// attenuation of the projections varies by more than 2 % (part of the object
// outside the detector, or a drifting beam), the result is still returned but
// `consistent` is false and the caller should say so.
//
// sgm is rows x width, row-major [projection][sample], as in HSgm::sgm.
struct CorFinderResult {
    bool ok = false; // a centre was found
    double centre = 0.0; // sample index (fractional) of the rotation axis in the row
    double amplitude = 0.0; // sqrt(a^2 + b^2) of the fitted sinusoid, samples
    double massSpread = 0.0; // (largest - smallest) / mean total attenuation of a projection
    bool consistent = false; // massSpread <= 2 %
    int used = 0; // projections that took part
};

// Smallest sinogram the finder accepts: 3 projections of 5 samples.
constexpr int corFinderMinWidth = 5;
constexpr int corFinderMinRows = 3;

CorFinderResult findCentre(const double *sgm, int width, int rows);

class ImgDatas;

// The centre of rotation of one slice of an image stack, in detector pixels:
// the slice's sinogram is built over (nearly) the whole detector line, around
// the centre floor((nDet - 1) / 2) so that no sample is interpolated, and
// findCentre() runs on it. False, with a log line beginning "Find CoR", when
// the stack is empty, the slice lies outside the images or the sinogram is too
// small; a result whose projections are not consistent is returned with a log
// line that says so.
bool findCorOfSlice(const ImgDatas *stack, bool rotAxIsV, int slice, double &cor);
