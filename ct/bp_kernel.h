#pragma once
// Filtered back-projection of one slice.
//
// Sizes: M projections (sinogram rows) of which the first N samples are used,
// N = 2 * floor(width / 2) for a sinogram row of `width` samples (width is odd,
// so the last sample is dropped). The result is a square grid of N x N doubles,
// row-major [z][x], unit one detector pixel, rotation axis at (h, h), h = N / 2.
// Only pixels strictly inside the circle of radius h around the axis are
// reconstructed; all others stay 0.
//
// Per projection i:
//   transformRow(i): spectra[i] = forward DFT (sign -1) of the first N samples.
//   filterRow(i):    ramp filter without window or padding: bin k (k < N/2) times
//                    k * 2pi / N, bin N - m (1 <= m <= N/2) times m * 2pi / N; backward
//                    DFT (sign +1); filtered[i][n] = Re(out[n]) / normalisation.
//   backProject(i):  theta = angleOffset * pi / 180 + i * pi / M, c = cos, s = sin;
//                    for every pixel of the region inside the circle
//                    u = (x - h) * c - (z - h) * s + h, k = floor(u), and if
//                    0 <= k < N - 1: result[z][x] += f[k] + (u - k) * (f[k + 1] - f[k]).
//
// Normalisation: N * M for the single-slice calculator, N for the parallel
// calculators, so a parallel result is M times the single-slice result.
//
// Each calculator owns its own kernel: plans, transform buffers, per-projection
// arrays and the result grid belong to it alone, so kernels in different
// threads need no locks. Plan creation goes through the shared FFTW planner
// (serialised); executing the plans on the kernel's own buffers is thread-safe.
#include "ct/recon_filter.h"

#include <cstddef>
#include <memory>
#include <vector>

// The routines that can add projections to the grid. All give the formula's
// sums to rounding (within 1e-12 of the largest value) and update exactly the
// pixels the formula updates.
enum class BpRoutine {
    Generic, // the plain row loop (any processor): "generic"
    Avx2Gather, // AVX2 + FMA rows with masked gathers: "avx2"
    Avx512Window, // AVX-512F rows with sample windows and permutes: "avx512f"
    Avx2Pairs, // AVX2 + FMA + BMI2 tiles, fixed-point u, sample-pair tables: "avx2-pairs"
};

// Whether this processor runs the routine.
bool bpRoutineAvailable(BpRoutine r);
// The routine's name as listed above.
const char *bpRoutineName(BpRoutine r);
// The fastest routine this processor runs: the pair tables wherever AVX2, FMA
// and BMI2 are present, else the plain loop.
BpRoutine bpBestRoutine();
// The routine new kernels start with: bpBestRoutine() unless a benchmark set
// another one for the whole process (one this processor lacks is refused).
BpRoutine bpDefaultRoutine();
bool bpSetDefaultRoutine(BpRoutine r);

enum class BpNormalisation {
    SingleSlice, // divide by N * M
    Parallel // divide by N
};

class BpKernel {
public:
    explicit BpKernel(BpNormalisation norm = BpNormalisation::SingleSlice);
    ~BpKernel();
    BpKernel(const BpKernel &) = delete;
    BpKernel &operator=(const BpKernel &) = delete;

    // N for a sinogram row of `width` samples: 2 * floor(width / 2), 0 for width < 2.
    static int gridSizeFor(int width) { return width < 2 ? 0 : 2 * (width / 2); }

    // Frees everything, then allocates the transform buffers, M spectra, M
    // filtered rows and the N x N result grid (zeros), and makes both plans with
    // estimate planning. n must be even and >= 2, m >= 1; otherwise, or when an
    // allocation fails, a log line is written, the kernel is left empty
    // (prepared() false) and false is returned.
    bool prepare(int n, int m);
    // prepare(n, m) unless the kernel already holds exactly these sizes; the
    // plans and buffers are kept across slices of the same size. The result grid
    // is not cleared when the sizes match.
    bool ensurePrepared(int n, int m);
    // Frees plans, buffers and the result grid.
    void release();

    bool prepared() const { return n_ > 0; }
    bool preparedFor(int n, int m) const { return prepared() && n == n_ && m == m_; }
    int n() const { return n_; }
    int m() const { return m_; }

    BpNormalisation normalisation() const { return norm_; }
    void setNormalisation(BpNormalisation norm) { norm_ = norm; }
    // The divisor of filterRow: N * M or N.
    double normDivisor() const;

    // The filter of filterRow (the plain ramp above by default). With another
    // kind transformRow keeps the samples themselves and filterRow applies
    // that filter on its padded length (ct/recon_filter.h), with the same
    // normalisation; spectrum() is then not filled. False, with a log line,
    // when its buffers cannot be made (the kernel then keeps the ramp).
    bool setFilter(ReconFilterKind kind);
    ReconFilterKind filter() const { return filterKind_; }

    // The routine of backProject and backProjectAll (bpDefaultRoutine() at
    // construction). A routine this processor lacks is refused (false).
    bool setRoutine(BpRoutine r);
    BpRoutine routine() const { return routine_; }

    // Threads backProjectAll may use (1 by default: only the caller's). With
    // more, the grid's blocks are shared out between the caller and up to
    // threads - 1 short-lived helper threads; each pixel receives the same
    // operations in the same order, so the grid is bit for bit the one-thread
    // grid. reconstruct shares the rows of the plain ramp filter likewise.
    // Values below 1 count as 1.
    void setThreads(int t) { threads_ = t < 1 ? 1 : t; }
    int threads() const { return threads_; }

    // Copies samples[0 .. N-1] (attenuation) into the forward input, imaginary
    // parts 0, runs the forward plan and keeps the spectrum of projection i.
    void transformRow(int i, const double *samples);
    // Ramp filter and backward transform of spectrum i into filtered row i.
    void filterRow(int i);
    // Adds filtered projection i to every grid pixel (x, z) with
    // trunc(x0) <= x < x1, trunc(z0) <= z < z1, clipped to the grid and the
    // circle. Sets resultValid.
    void backProject(int i, double x0, double z0, double x1, double z1, double angleOffsetDeg);
    // backProject for every projection i = 0 ... M-1 over the same region. Gives
    // the same sums as the loop of backProject calls (each pixel receives the
    // projections in order), but keeps tiles of the grid in cache.
    void backProjectAll(double x0, double z0, double x1, double z1, double angleOffsetDeg);

    // The whole slice at once: ensurePrepared(gridSizeFor(width), rows), clear
    // the grid, transform and filter every row of sgm (rows x width, row-major,
    // as in HSgm::sgm) and back-project them all over the region. False when
    // the sizes cannot be prepared.
    bool reconstruct(const double *sgm, int width, int rows, double x0, double z0, double x1,
        double z1, double angleOffsetDeg);

    // Sets the N x N grid to zeros and clears resultValid.
    void clearResult();
    // At least one projection was back-projected since the grid was cleared.
    bool resultValid() const { return resultValid_; }
    // The grid, N * N values, [z][x]; null when not prepared.
    const double *result() const { return result_.empty() ? nullptr : result_.data(); }
    // One grid value; unchecked, 0 <= z, x < N.
    double resultAt(int z, int x) const { return result_[std::size_t(z) * n_ + x]; }
    // Scans the grid for its extremes (starting from the largest and lowest
    // finite double) into resultMin() / resultMax(). False on an empty grid.
    bool scanResult();
    double resultMin() const { return resultMin_; }
    double resultMax() const { return resultMax_; }

    // Filtered projection i (N values); valid after filterRow(i).
    const double *filtered(int i) const;
    // Spectrum of projection i as N interleaved (re, im) pairs; valid after transformRow(i).
    const double *spectrum(int i) const;

private:
    struct Impl;

    // Pair tables of the filtered rows for the pair routine (made once per size).
    bool ensurePairs();
    // The ramp filter's two steps of one row on the given transform buffers
    // (N complex values each: fftw_complex arrays).
    using Complex = double[2];
    void rampTransform(int i, const double *samples, Complex *in, Complex *out);
    void rampFilter(int i, Complex *in, Complex *out);
    // Makes transform buffers for up to `helpers` helper threads (kept for
    // this size); the number that have theirs.
    int helpersReady(int helpers);

    BpNormalisation norm_;
    BpRoutine routine_;
    int threads_ = 1;
    int n_ = 0;
    int m_ = 0;
    std::unique_ptr<Impl> d; // FFTW plans, transform buffers, per-projection arrays
    ReconFilterKind filterKind_ = ReconFilterKind::Ramp;
    ReconFilter padded_; // prepared for N when filterKind_ is not Ramp
    std::vector<double> result_;
    bool resultValid_ = false;
    double resultMin_ = 0.0;
    double resultMax_ = 0.0;
};
