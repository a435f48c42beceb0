#pragma once
// The filters of the filtered back-projection.
//
// Ramp: the plain ramp of the kernel itself (bin k of the length-N DFT times
// |k| * 2pi / N, no window, no padding); it is not computed here.
//
// The other kinds filter each projection on a zero-padded length P >= 2N (the
// smallest length with prime factors 2, 3, 5 and 7 only, which FFTW handles
// fast), so that the cyclic convolution does not fold the filter's long tails
// back into the row:
//   h(0) = 1/4, h(n) = -1/(pi n)^2 for odd n, 0 for even n != 0
// (the space-domain ramp of Kak and Slaney, whose response is |nu| for
// |nu| <= 1/2 cycles per sample), laid out cyclically on P samples, then
//   H[k] = 2pi * DFT_P(h)[k] * window(|nu_k| / (1/2)),  nu_k = k / P (bins above
// P/2 mirrored). The factor 2pi gives the same scale as the plain ramp (radians
// per sample), so a flat region of attenuation mu per pixel reads 2 M mu in a
// parallel-calculator slice and 2 mu in a single-slice one with every kind.
// Windows, x = |nu| / (1/2) in [0, 1]:
//   Ramp (padded) 1, Shepp-Logan sin(pi x / 2) / (pi x / 2), Cosine cos(pi x / 2),
//   Hamming 0.54 + 0.46 cos(pi x), Hann 0.5 + 0.5 cos(pi x).
//
// A ReconFilter owns its plans and buffers, made once per (N, kind) through the
// shared FFTW planner; one object serves one thread.
#include <QString>
#include <vector>

struct fftw_plan_s; // FFTW's plan type, without its header

enum class ReconFilterKind { Ramp, RampPadded, SheppLogan, Cosine, Hamming, Hann };

// Number of kinds; the kinds are numbered 0 ... count - 1 in the order above,
// the order of the processing panel's choice.
constexpr int reconFilterCount = 6;

// The command name of a kind: "ramp", "ramp_padded", "shepp_logan", "cosine",
// "hamming", "hann".
QString reconFilterName(ReconFilterKind kind);
// The kind with this command name in any letter case; false for another text.
bool reconFilterFromName(const QString &name, ReconFilterKind &kind);
// The kind of index 0 ... count - 1; Ramp for an index out of range.
ReconFilterKind reconFilterFromIndex(int index);

class ReconFilter {
public:
    ReconFilter() = default;
    ~ReconFilter();
    ReconFilter(const ReconFilter &) = delete;
    ReconFilter &operator=(const ReconFilter &) = delete;

    // The padded length for rows of n samples: the smallest 2^a 3^b 5^c 7^d >= 2n.
    static int paddedLengthFor(int n);
    // The window of a kind at x = |nu| / (1/2), 0 <= x <= 1 (1 for both ramps).
    static double window(ReconFilterKind kind, double x);
    // The response H[0 .. p-1] of a padded kind on length p (formula above).
    static std::vector<double> response(ReconFilterKind kind, int p);

    // Makes the plans, buffers and response for rows of n samples. Ramp, n < 2,
    // or a failed allocation or plan leave the filter empty (a log line for the
    // failures) and return false.
    bool prepare(int n, ReconFilterKind kind);
    bool preparedFor(int n, ReconFilterKind kind) const
    {
        return n_ > 0 && n == n_ && kind == kind_;
    }
    void release();
    int paddedLength() const { return p_; }

    // out[k] = scale * (h * in)[k] for k < n: in[0 .. n-1] padded with zeros
    // to P, filtered, cut back to n. in and out may be the same buffer.
    void apply(const double *in, double *out, double scale);

private:
    int n_ = 0;
    int p_ = 0;
    ReconFilterKind kind_ = ReconFilterKind::Ramp;
    std::vector<double> resp_;
    double *buf_ = nullptr; // P complex values, (re, im) interleaved, FFTW-allocated
    fftw_plan_s *fwd_ = nullptr; // in place on buf_
    fftw_plan_s *bwd_ = nullptr;
};
