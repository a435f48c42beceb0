#include "ct/recon_filter.h"

#include "ct/fftw_planner.h"

#include <QDebug>
#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;

const char *const kNames[reconFilterCount]
    = { "ramp", "ramp_padded", "shepp_logan", "cosine", "hamming", "hann" };

bool smooth7(long long v)
{
    for (int f : { 2, 3, 5, 7 })
        while (v % f == 0)
            v /= f;
    return v == 1;
}

} // namespace

QString reconFilterName(ReconFilterKind kind)
{
    const int i = int(kind);
    return (i >= 0 && i < reconFilterCount) ? QString::fromLatin1(kNames[i]) : QString();
}

bool reconFilterFromName(const QString &name, ReconFilterKind &kind)
{
    const QString n = name.trimmed().toLower();
    for (int i = 0; i < reconFilterCount; ++i)
        if (n == QLatin1String(kNames[i])) {
            kind = ReconFilterKind(i);
            return true;
        }
    return false;
}

ReconFilterKind reconFilterFromIndex(int index)
{
    return (index >= 0 && index < reconFilterCount) ? ReconFilterKind(index)
                                                    : ReconFilterKind::Ramp;
}

ReconFilter::~ReconFilter() { release(); }

void ReconFilter::release()
{
    FftwPlanner::destroy(fwd_);
    FftwPlanner::destroy(bwd_);
    FftwPlanner::free(buf_);
    fwd_ = bwd_ = nullptr;
    buf_ = nullptr;
    resp_.clear();
    n_ = p_ = 0;
}

int ReconFilter::paddedLengthFor(int n)
{
    if (n < 1)
        return 0;
    long long p = 2LL * n;
    while (!smooth7(p))
        ++p;
    return p > 0x7fffffffLL ? 0 : int(p);
}

double ReconFilter::window(ReconFilterKind kind, double x)
{
    switch (kind) {
    case ReconFilterKind::SheppLogan: {
        const double a = kPi * x / 2.0;
        return a == 0.0 ? 1.0 : std::sin(a) / a;
    }
    case ReconFilterKind::Cosine:
        return std::cos(kPi * x / 2.0);
    case ReconFilterKind::Hamming:
        return 0.54 + 0.46 * std::cos(kPi * x);
    case ReconFilterKind::Hann:
        return 0.5 + 0.5 * std::cos(kPi * x);
    default:
        return 1.0;
    }
}

std::vector<double> ReconFilter::response(ReconFilterKind kind, int p)
{
    std::vector<double> h(std::size_t(p), 0.0);
    if (p < 2)
        return h;
    // The space-domain ramp laid out cyclically: n = 0 at index 0, n and -n at
    // indexes n and p - n, for |n| up to p / 2.
    h[0] = 0.25;
    for (int n = 1; n <= p / 2; n += 2) {
        const double v = -1.0 / ((kPi * n) * (kPi * n));
        h[std::size_t(n)] = v;
        h[std::size_t(p - n)] = v;
    }
    // Its DFT is real (h is even).
    fftw_complex *b = FftwPlanner::allocComplex(std::size_t(p));
    fftw_plan plan = b ? FftwPlanner::planDft1d(p, b, b, FFTW_FORWARD) : nullptr;
    std::vector<double> r(std::size_t(p), 0.0);
    if (plan) {
        for (int k = 0; k < p; ++k) {
            b[k][0] = h[std::size_t(k)];
            b[k][1] = 0.0;
        }
        fftw_execute(plan);
        for (int k = 0; k < p; ++k) {
            const int m = k <= p / 2 ? k : p - k; // |frequency| in bins
            const double x = 2.0 * double(m) / double(p);
            r[std::size_t(k)] = 2.0 * kPi * b[k][0] * window(kind, x);
        }
    }
    FftwPlanner::destroy(plan);
    FftwPlanner::free(b);
    return r;
}

bool ReconFilter::prepare(int n, ReconFilterKind kind)
{
    release();
    if (kind == ReconFilterKind::Ramp || n < 2)
        return false;
    const int p = paddedLengthFor(n);
    bool ok = p > 0;
    if (ok) {
        buf_ = reinterpret_cast<double *>(FftwPlanner::allocComplex(std::size_t(p)));
        ok = buf_ != nullptr;
    }
    if (ok) {
        fftw_complex *b = reinterpret_cast<fftw_complex *>(buf_);
        fwd_ = FftwPlanner::planDft1d(p, b, b, FFTW_FORWARD);
        bwd_ = FftwPlanner::planDft1d(p, b, b, FFTW_BACKWARD);
        ok = fwd_ && bwd_;
    }
    if (ok) {
        resp_ = response(kind, p);
        ok = resp_.size() == std::size_t(p) && resp_[1] != 0.0;
    }
    if (!ok) {
        qDebug().noquote() << QString("Can't prepare the filter %1 for rows of %2 samples")
                                  .arg(reconFilterName(kind))
                                  .arg(n);
        release();
        return false;
    }
    n_ = n;
    p_ = p;
    kind_ = kind;
    return true;
}

void ReconFilter::apply(const double *in, double *out, double scale)
{
    if (n_ <= 0 || !in || !out)
        return;
    fftw_complex *b = reinterpret_cast<fftw_complex *>(buf_);
    for (int k = 0; k < n_; ++k) {
        b[k][0] = in[k];
        b[k][1] = 0.0;
    }
    for (int k = n_; k < p_; ++k)
        b[k][0] = b[k][1] = 0.0;
    fftw_execute(fwd_);
    for (int k = 0; k < p_; ++k) {
        b[k][0] *= resp_[std::size_t(k)];
        b[k][1] *= resp_[std::size_t(k)];
    }
    fftw_execute(bwd_);
    const double s = scale / double(p_);
    for (int k = 0; k < n_; ++k)
        out[k] = b[k][0] * s;
}
