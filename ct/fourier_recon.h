#pragma once
// Direct Fourier reconstruction of one slice by gridding.
//
// The result is the back-projection's slice (ct/bp_kernel.h) computed another
// way: the same N x N grid [z][x], N = 2 * floor(width / 2), unit one detector
// pixel, rotation axis at (h, h) with h = N / 2, projection i at
// theta = angleOffset * pi / 180 + i * pi / M, only pixels strictly inside the
// circle of radius h and inside the calculation region set (all others 0), and
// the same scale (the filtered rows divided by N * M or by N).
//
// The back-projection sums, for X = x - h and Z = z - h,
//   f_i(X cos theta_i - Z sin theta_i + h)
// over the projections, f_i being the filtered row read by linear
// interpolation. With the row's first N samples zero-padded to P >= 2N
// (ReconFilter::paddedLengthFor; the padding keeps the filter's tails from
// folding back) and S_i[k] = DFT_P of it, that interpolated row is
//   f_i(u) = scale / P * sum_k sum_m S_i[k] H[k] sinc^2(nu_k + m) e^(2 pi i (nu_k + m) u),
// nu_k = k / P over -1/2 <= nu_k < 1/2, m over the whole numbers, H the
// filter's weight of bin k (2 pi |k| / P for Ramp, ReconFilter::response() for
// the padded kinds), sinc^2 the response of linear interpolation. Kept here:
// m = 0 and its neighbour replica (m = -1 for k > 0; by symmetry +1 for k < 0),
// which carry all but a few per cent of the weight above nu = 1/2 and make the
// two methods agree to about 0.2 % RMS of the slice's level. Put into the sum
// over the projections, with u - h = X cos theta - Z sin theta (h whole, so
// the phase e^(2 pi i nu h) is the same for each replica), this is a 2-D
// Fourier sum over points (nu_x, nu_z) = (nu_k + m) (cos theta, -sin theta) in
// cycles per pixel, on radial lines (the Fourier slice theorem, the ramp
// being the polar Jacobian).
//
// Gridding: every point is spread onto a G x G Cartesian grid of the slice's
// spectrum (G >= 1.5 N, spacing 1 / G cycles per pixel, periodic: pixels sit at
// whole numbers, so a point one cycle further lands on the same cells) with a
// Kaiser-Bessel kernel of W taps per axis,
//   phi(t) = I0(beta sqrt(1 - (2t / W)^2)) for |t| <= W / 2 (grid cells),
//   beta = pi sqrt((W / s)^2 (s - 1/2)^2 - 0.8), s = G / N nominally 1.5,
// one 2-D inverse real FFT of size G x G gives the slice on a field of view of
// G pixels, of which the central N x N are kept and divided by the kernel's
// transform (with W = 4, s = 1.5 the kernel's error stays well below the
// replicas' 0.2 %; s = 2 made nearly twice the grid for no visible gain)
//   phi^(xi) = W sinh(sqrt(beta^2 - (pi W xi)^2)) / sqrt(beta^2 - (pi W xi)^2),
// at xi = X / G and Z / G (the apodisation correction).
//
// The row is real, so its spectrum is Hermitian: only k >= 0 is spread (a
// point at jx < 0 as its mirror image at -nu with the conjugate value), onto
// the half grid jx = 0 ... G/2 that FFTW's real transform reads; kernel taps
// falling at jx < 0 go to (-jx, -jz) conjugated, taps on the columns 0 and G/2
// count twice (the transform takes the real part of those columns' sums).
//
// One object serves one calculator in one thread. Its plans are made once per
// size through the shared FFTW planner (serialised) and executed on its own
// buffers, the grid's columns a few at a time through a small buffer. The
// points' places on the grid depend on N, M, the filter (which replicas
// exist) and the angle offset, not on the data: they are made once and kept
// for the following slices. Memory for N x M: the grid, G rows of a little
// over G/2 + 1 complex values (16 bytes each), the N x N result (8 bytes
// each), up to 2 M (P/2 + 1) places of 12 bytes, M (P/2 + 1) pairs of values
// of 32 bytes, and O(N + M) tables; bytesFor() tells (about 0.32 GB for
// 2048 x 1800).
#include "ct/bp_kernel.h"
#include "ct/recon_filter.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct fftw_plan_s;

class FourierRecon {
public:
    explicit FourierRecon(BpNormalisation norm = BpNormalisation::SingleSlice);
    ~FourierRecon();
    FourierRecon(const FourierRecon &) = delete;
    FourierRecon &operator=(const FourierRecon &) = delete;

    // Kernel taps per axis.
    static constexpr int kernelWidth = 4;
    // Grid columns transformed together.
    static constexpr int columnBlock = 8;

    // The grid length G for N: the smallest even 2^a 3^b 5^c 7^d >= max(1.5 N, 16);
    // 0 when N < 2 or too large to address.
    static int gridLengthFor(int n);
    // Bytes an object holds at most after a slice of N x M (grid, result,
    // points, rows and tables).
    static std::size_t bytesFor(int n, int m);
    // The gridding kernel phi(t) (0 for |t| > W / 2) and its transform phi^(xi)
    // for the grid length G of N (as above).
    static double kernelValue(int n, double t);
    static double kernelTransform(int n, double xi);

    BpNormalisation normalisation() const { return norm_; }
    void setNormalisation(BpNormalisation norm) { norm_ = norm; }

    // Plans, buffers and tables for rows of N samples (N even, >= 2) with this
    // filter, and the N x N result grid (zeros). False with a log line for
    // another N or when the memory or a plan cannot be had; the object is then
    // empty.
    bool prepare(int n, ReconFilterKind kind);
    bool preparedFor(int n, ReconFilterKind kind) const
    {
        return n_ > 0 && n == n_ && kind == kind_;
    }
    void release();

    // The whole slice from sgm (rows x width attenuation values, row-major as
    // in HSgm::sgm; the first N samples of each row are used), prepared again
    // when N or the filter differ. The grid gets the slice inside the circle
    // and the region trunc(x0) <= x < x1, trunc(z0) <= z < z1, and 0 elsewhere.
    // False (a log line) when nothing could be computed.
    bool reconstruct(const double *sgm, int width, int rows, double x0, double z0, double x1,
        double z1, double angleOffsetDeg, ReconFilterKind kind);

    int n() const { return n_; }
    int m() const { return m_; }
    int paddedLength() const { return p_; }
    int gridLength() const { return g_; }

    void clearResult();
    bool resultValid() const { return resultValid_; }
    // The grid, N * N values, [z][x]; null when not prepared.
    const double *result() const { return result_.empty() ? nullptr : result_.data(); }
    double resultAt(int z, int x) const { return result_[std::size_t(z) * n_ + x]; }
    // As BpKernel::scanResult.
    bool scanResult();
    double resultMin() const { return resultMin_; }
    double resultMax() const { return resultMax_; }

    // Where one point goes on the grid: its first tap's cell (row jz0 << 16 |
    // jx0 + 16, jz0 taken modulo G), the fractions of a cell from there to
    // the point's lower reach along x and z in 1 / 65536 cells, and which
    // value it carries (index into the values [i][k][r], the top bit set when
    // the point stands for its mirror image and takes the conjugate).
    struct Tap {
        std::uint32_t cell;
        std::uint32_t value;
        std::uint16_t fx;
        std::uint16_t fz;
    };
    // The points' places for one N, filter, projection count and angle offset:
    // by band of kBandRows grid rows for the fast path (the first `fast`),
    // then those reaching the columns 0 or G/2. Never changed once made, and
    // shared by every object of the process that reconstructs with the same
    // four (a range run's calculators make it once between them).
    struct Geometry {
        int n = 0;
        ReconFilterKind kind = ReconFilterKind::Ramp;
        int rows = 0;
        double angleOffsetDeg = 0.0;
        std::vector<Tap> taps;
        std::size_t fast = 0;
        bool matches(
            int otherN, ReconFilterKind otherKind, int otherRows, double otherOffsetDeg) const;
    };
    // True when the points' places held are those of rows projections from
    // this angle offset (kept until another N, filter or either differ).
    bool geometryFor(int rows, double angleOffsetDeg) const
    {
        return geometry_ && geometry_->matches(n_, kind_, rows, angleOffsetDeg);
    }
    // True when both objects hold the same points' places (not a copy).
    bool sharesGeometryWith(const FourierRecon &other) const
    {
        return geometry_ && geometry_ == other.geometry_;
    }

private:
    // Takes the points' places of rows projections from this angle offset
    // from another object that holds them, or makes them; false when the
    // memory cannot be had.
    bool useGeometry(int rows, double angleOffsetDeg);
    // Places every point of rows projections from this angle offset on the
    // grid; null when the memory cannot be had.
    std::shared_ptr<Geometry> makeGeometry(int rows, double angleOffsetDeg) const;
    // Spreads every point of geometry_ with its value from values_ onto the grid.
    void spreadAll();
    // The inverse transform along z of every column jx = 0 ... G/2, leaving
    // the rows the row transforms read.
    void transformColumns();
    // The general path of spreadAll for taps near jx = 0 or G/2.
    void spreadWrapped(int jx0, int jz0, const double *wx, const double *wz, double vr, double vi);

    BpNormalisation norm_;
    int n_ = 0;
    int m_ = 0;
    int p_ = 0; // padded row length
    int g_ = 0; // grid length
    // Spreading with AVX2 and FMA where the processor has them.
    bool vectorSpread_ = bpRoutineAvailable(BpRoutine::Avx2Pairs);
    int rowLen_ = 0; // complex values per grid row (>= G/2 + 1, see rowLength())
    int kmax_ = 0; // highest bin spread
    ReconFilterKind kind_ = ReconFilterKind::Ramp;
    double beta_ = 0.0;
    // Bin k: H[k] e^(2 pi i k h / P) / P times sinc^2(k / P) and times
    // sinc^2(k / P - 1), as (re, im, re, im).
    std::vector<double> weight_;
    std::vector<double> deapod_; // x (or z): 1 / phi^((x - h) / G)
    std::vector<double> table_; // [tableRes + 2][W] tap weights by fraction
    double *row_ = nullptr; // P real samples, FFTW-allocated
    double *rowSpec_ = nullptr; // P/2 + 1 complex values, (re, im)
    double *grid_ = nullptr; // G rows of G/2 + 1 complex values; the real output in place
    fftw_plan_s *rowPlan_ = nullptr; // real-to-complex, length P
    double *colBuf_ = nullptr; // G x columnBlock complex values, [z][column]
    fftw_plan_s *colPlan_ = nullptr; // columnBlock columns along z, complex, in colBuf_
    fftw_plan_s *colTailPlan_ = nullptr; // the last (G/2 + 1) % columnBlock columns
    fftw_plan_s *lowRowsPlan_ = nullptr; // rows 0 ... N/2 - 1, complex-to-real, in place
    fftw_plan_s *highRowsPlan_ = nullptr; // rows G - N/2 ... G - 1
    std::shared_ptr<const Geometry> geometry_;
    // Per slice: each point's value, the row's spectrum times the bin's
    // weight, [i][k][r] as (re, im).
    std::vector<double> values_;
    std::vector<double> result_;
    bool resultValid_ = false;
    double resultMin_ = 0.0;
    double resultMax_ = 0.0;
};
