// The Fourier gridding method against the back-projection and against the
// analytic Shepp-Logan head: values and RMS error, where a point lands, the
// angle offset, widths odd and even, and sizes down to a 2 x 2 grid.
#include "ct/bp_kernel.h"
#include "ct/fourier_recon.h"
#include "ct/recon_method.h"
#include "tools/phantom.h"

#include "tests/test_registry.h"

#include <QDebug>
#include <QImage>
#include <QTest>

#include <cmath>
#include <memory>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

// The Shepp-Logan head in the unit disc (Kak and Slaney's table) scaled to r
// pixels, mu0 per unit of the table's values.
Phantom sheppLogan(double r, double mu0)
{
    struct E {
        double x, z, a, b, phi, v;
    };
    const E es[] = { { 0, 0, 0.69, 0.92, 0, 2.0 }, { 0, -0.0184, 0.6624, 0.874, 0, -0.98 },
        { 0.22, 0, 0.11, 0.31, -18, -0.02 }, { -0.22, 0, 0.16, 0.41, 18, -0.02 },
        { 0, 0.35, 0.21, 0.25, 0, 0.01 }, { 0, 0.1, 0.046, 0.046, 0, 0.01 },
        { 0, -0.1, 0.046, 0.046, 0, 0.01 }, { -0.08, -0.605, 0.046, 0.023, 0, 0.01 },
        { 0, -0.606, 0.023, 0.023, 0, 0.01 }, { 0.06, -0.605, 0.023, 0.046, 0, 0.01 } };
    Phantom p;
    p.radius = r;
    for (const E &e : es) {
        Ellipsoid c;
        c.cx = e.x * r;
        c.cz = e.z * r;
        c.ax = e.a * r;
        c.az = e.b * r;
        c.ay = 1e6;
        c.phi = e.phi * kPi / 180.0;
        c.mu = e.v * mu0;
        p.components.push_back(c);
    }
    return p;
}

// A small disc of radius rad at (x, z), attenuation mu.
Phantom dot(double x, double z, double rad, double mu)
{
    Phantom p;
    Ellipsoid c;
    c.cx = x;
    c.cz = z;
    c.ax = c.az = rad;
    c.ay = 1e6;
    c.mu = mu;
    p.components.push_back(c);
    return p;
}

// The sinogram of the middle row: width samples, sample N / 2 on the axis
// (N = 2 * floor(width / 2)), m projections over half a turn.
std::vector<double> sinogramOf(const Phantom &p, int width, int m)
{
    const int h = BpKernel::gridSizeFor(width) / 2;
    std::vector<double> s(std::size_t(width) * m);
    for (int i = 0; i < m; ++i)
        for (int j = 0; j < width; ++j)
            s[std::size_t(i) * width + j] = p.lineIntegral(j - h, 0.0, i * kPi / m);
    return s;
}

// The true slice 2 M mu on the N x N grid, each pixel the mean of 4 x 4 points.
std::vector<double> truthOf(const Phantom &p, int n, int m)
{
    std::vector<double> t(std::size_t(n) * n);
    const double h = n / 2.0;
    for (int z = 0; z < n; ++z)
        for (int x = 0; x < n; ++x) {
            double sum = 0;
            for (int a = 0; a < 4; ++a)
                for (int b = 0; b < 4; ++b)
                    sum += p.muAt(x - h + (a - 1.5) / 4.0, 0.0, z - h + (b - 1.5) / 4.0);
            t[std::size_t(z) * n + x] = 2.0 * m * sum / 16.0;
        }
    return t;
}

double discMean(const double *g, int n, double x, double z, double rad)
{
    const double h = n / 2.0;
    double sum = 0;
    int cnt = 0;
    for (int iz = 0; iz < n; ++iz)
        for (int ix = 0; ix < n; ++ix)
            if (std::hypot(ix - h - x, iz - h - z) < rad) {
                sum += g[std::size_t(iz) * n + ix];
                ++cnt;
            }
    return cnt ? sum / cnt : 0.0;
}

// (x, z) of the largest value.
QPoint peakOf(const double *g, int n)
{
    int best = 0;
    for (int i = 1; i < n * n; ++i)
        if (g[i] > g[best])
            best = i;
    return QPoint(best % n, best / n);
}

// RMS of a - b over the pixels where mask is set, relative to ref.
double rmsOver(const double *a, const double *b, const std::vector<char> &mask)
{
    double s = 0;
    long cnt = 0;
    for (std::size_t i = 0; i < mask.size(); ++i)
        if (mask[i]) {
            s += (a[i] - b[i]) * (a[i] - b[i]);
            ++cnt;
        }
    return cnt ? std::sqrt(s / cnt) : 0.0;
}

} // namespace

class TestFourierRecon : public QObject {
    Q_OBJECT
private slots:
    void names()
    {
        ReconMethod m = ReconMethod::Fbp;
        QVERIFY(reconMethodFromName(QStringLiteral(" FOURIER "), m));
        QCOMPARE(m, ReconMethod::Fourier);
        QVERIFY(reconMethodFromName(QStringLiteral("Fbp"), m));
        QCOMPARE(m, ReconMethod::Fbp);
        QVERIFY(!reconMethodFromName(QStringLiteral("gridrec"), m));
        QCOMPARE(reconMethodName(ReconMethod::Fourier), QStringLiteral("fourier"));
        QCOMPARE(reconMethodFromIndex(1), ReconMethod::Fourier);
        QCOMPARE(reconMethodFromIndex(7), ReconMethod::Fbp);
    }

    // The apodisation correction divides by the kernel's continuous transform;
    // the closed form must be the kernel's integral.
    void kernelTransform()
    {
        const int n = 256;
        for (double xi : { 0.0, 0.1, 0.25 }) {
            const int steps = 20000;
            const double w = FourierRecon::kernelWidth;
            double sum = 0;
            for (int i = 0; i <= steps; ++i) {
                const double t = -w / 2 + w * i / steps;
                const double f = (i == 0 || i == steps) ? 0.5 : 1.0;
                sum += f * FourierRecon::kernelValue(n, t) * std::cos(2 * kPi * t * xi);
            }
            sum *= w / steps;
            const double closed = FourierRecon::kernelTransform(n, xi);
            QVERIFY2(std::fabs(sum - closed) <= 1e-6 * closed,
                qPrintable(QString("xi %1: %2 against %3").arg(xi).arg(sum).arg(closed)));
        }
    }

    // The Shepp-Logan head with the padded ramp through both methods: the
    // Fourier result's RMS error inside the head within 1.2 times the
    // back-projection's, both flat soft regions within 1 % of 2 M mu, and the
    // difference to the back-projection without a ring at the circle's edge.
    void sheppLoganBothMethods()
    {
        const int width = 257, m = 360, n = 256;
        const double r = 120, mu0 = 0.01;
        const Phantom ph = sheppLogan(r, mu0);
        const std::vector<double> sgm = sinogramOf(ph, width, m);
        BpKernel bp(BpNormalisation::Parallel);
        QVERIFY(bp.setFilter(ReconFilterKind::RampPadded));
        QVERIFY(bp.reconstruct(sgm.data(), width, m, 0, 0, n, n, 0.0));
        FourierRecon fr(BpNormalisation::Parallel);
        QVERIFY(fr.reconstruct(sgm.data(), width, m, 0, 0, n, n, 0.0, ReconFilterKind::RampPadded));
        QCOMPARE(fr.n(), n);

        const std::vector<double> truth = truthOf(ph, n, m);
        std::vector<char> inside(std::size_t(n) * n);
        const double h = n / 2.0;
        for (int z = 0; z < n; ++z)
            for (int x = 0; x < n; ++x)
                inside[std::size_t(z) * n + x]
                    = ph.components[0].contains(x - h, 0.0, z - h) ? 1 : 0;
        const double mu = (2.0 - 0.98) * mu0 * 2.0 * m;
        const double rmsBp = rmsOver(bp.result(), truth.data(), inside) / mu;
        const double rmsFr = rmsOver(fr.result(), truth.data(), inside) / mu;
        qDebug() << "RMS error inside the head / soft level: back-projection" << rmsBp << "Fourier"
                 << rmsFr;

        for (const QPointF &pt : { QPointF(0.0, -0.3 * r), QPointF(0.0, 0.5 * r) }) {
            const double relBp = discMean(bp.result(), n, pt.x(), pt.y(), 0.06 * r) / mu - 1.0;
            const double relFr = discMean(fr.result(), n, pt.x(), pt.y(), 0.06 * r) / mu - 1.0;
            qDebug() << "soft region at" << pt << "back-projection" << relBp << "Fourier" << relFr;
            QVERIFY(std::fabs(relFr) <= 0.01);
            QVERIFY(std::fabs(relBp) <= 0.01);
        }

        // Outside the head the truth is 0: the ring just inside the circle's
        // edge must be as quiet as the air between head and edge.
        std::vector<char> rim(std::size_t(n) * n), air(std::size_t(n) * n);
        for (int z = 0; z < n; ++z)
            for (int x = 0; x < n; ++x) {
                const double d = std::hypot(x - h, z - h);
                rim[std::size_t(z) * n + x] = d < h && d >= h - 3 ? 1 : 0;
                air[std::size_t(z) * n + x] = d < h - 3 && d >= r + 3 ? 1 : 0;
            }
        const double rimFr = rmsOver(fr.result(), truth.data(), rim) / mu;
        const double airFr = rmsOver(fr.result(), truth.data(), air) / mu;
        const double rimBp = rmsOver(bp.result(), truth.data(), rim) / mu;
        qDebug() << "error at the circle's edge / in the air: Fourier" << rimFr << airFr
                 << "back-projection" << rimBp;
        QVERIFY(rimFr <= 2.0 * airFr + 1e-3);

        // The difference image, for looking at (VORLO_DIFF_PNG names the file).
        const QString png = qEnvironmentVariable("VORLO_DIFF_PNG");
        if (!png.isEmpty()) {
            QImage img(2 * n, n, QImage::Format_Grayscale8);
            for (int z = 0; z < n; ++z)
                for (int x = 0; x < n; ++x) {
                    const std::size_t i = std::size_t(z) * n + x;
                    const auto lv = [&](double d) {
                        return uchar(std::clamp(128.0 + 128.0 * d / (0.05 * mu), 0.0, 255.0));
                    };
                    img.scanLine(z)[x] = lv(fr.result()[i] - truth[i]);
                    img.scanLine(z)[n + x] = lv(bp.result()[i] - truth[i]);
                }
            QVERIFY(img.save(png));
        }
        qDebug() << "Fourier against back-projection"
                 << rmsOver(fr.result(), bp.result(), inside) / mu;
        QVERIFY2(rmsFr <= 1.2 * rmsBp, qPrintable(QString("%1 against %2").arg(rmsFr).arg(rmsBp)));
    }

    // A small dot off the axis lands on the same pixel with both methods, for
    // an angle offset of 0 and of 30 degrees; the offset turns both alike.
    void dotLandsOnTheSamePixel()
    {
        const int width = 129, m = 180, n = 128;
        const std::vector<double> sgm = sinogramOf(dot(31, -17, 1.2, 1.0), width, m);
        QPoint at0;
        for (double offset : { 0.0, 30.0 }) {
            BpKernel bp(BpNormalisation::Parallel);
            QVERIFY(bp.setFilter(ReconFilterKind::RampPadded));
            QVERIFY(bp.reconstruct(sgm.data(), width, m, 0, 0, n, n, offset));
            FourierRecon fr(BpNormalisation::Parallel);
            QVERIFY(fr.reconstruct(
                sgm.data(), width, m, 0, 0, n, n, offset, ReconFilterKind::RampPadded));
            const QPoint pb = peakOf(bp.result(), n), pf = peakOf(fr.result(), n);
            QCOMPARE(pf, pb);
            if (offset == 0.0) {
                QCOMPARE(pf, QPoint(64 + 31, 64 - 17));
                at0 = pf;
            } else {
                // Projection i, taken at i pi / M, is placed at 30 degrees
                // more: the dot appears turned to
                // (x cos a + z sin a, -x sin a + z cos a) about the axis.
                const double a = 30.0 * kPi / 180.0;
                const double x = 31 * std::cos(a) - 17 * std::sin(a);
                const double z = -31 * std::sin(a) - 17 * std::cos(a);
                QVERIFY(pf != at0);
                QVERIFY2(std::hypot(pf.x() - 64 - x, pf.y() - 64 - z) <= 1.0,
                    qPrintable(QString("peak at %1, %2; turned dot at %3, %4")
                                   .arg(pf.x())
                                   .arg(pf.y())
                                   .arg(64 + x)
                                   .arg(64 + z)));
            }
        }
    }
    // "Ramp" weights the padded spectrum by 2 pi |nu| sampled (0 at nu = 0):
    // without the back-projection's unpadded cyclic filter it folds nothing
    // back, but the missing low-frequency part of the ramp still leaves the
    // soft region some per cent low (-6.7 % here), against -28 % for the
    // back-projection's plain ramp; the padded kinds read it within 1 %.
    void plainRampWeighting()
    {
        const int width = 257, m = 360, n = 256;
        const double r = 120, mu0 = 0.01;
        const std::vector<double> sgm = sinogramOf(sheppLogan(r, mu0), width, m);
        FourierRecon fr(BpNormalisation::Parallel);
        QVERIFY(fr.reconstruct(sgm.data(), width, m, 0, 0, n, n, 0.0, ReconFilterKind::Ramp));
        BpKernel bp(BpNormalisation::Parallel);
        QVERIFY(bp.reconstruct(sgm.data(), width, m, 0, 0, n, n, 0.0));
        const double mu = (2.0 - 0.98) * mu0 * 2.0 * m;
        for (const QPointF &pt : { QPointF(0.0, -0.3 * r), QPointF(0.0, 0.5 * r) }) {
            const double relFr = discMean(fr.result(), n, pt.x(), pt.y(), 0.06 * r) / mu - 1.0;
            const double relBp = discMean(bp.result(), n, pt.x(), pt.y(), 0.06 * r) / mu - 1.0;
            qDebug() << "plain ramp, soft region at" << pt << "Fourier" << relFr
                     << "back-projection" << relBp;
            QVERIFY(std::fabs(relFr) < 0.1);
            QVERIFY(relBp < -0.15);
            QVERIFY(relFr > relBp + 0.15);
        }
    }

    // Odd and even sinogram widths (an even width uses every sample, an odd
    // one drops the last), single-slice and parallel scale, a region and an
    // angle offset: the Fourier slice agrees with the back-projection's to
    // within 2 % RMS of its largest value, is 0 wherever the back-projection
    // leaves 0, and the single-slice result is the parallel one over M.
    void widthsAndRegions_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("m");
        QTest::addColumn<int>("kind");
        QTest::addColumn<double>("offset");
        QTest::addColumn<QRectF>("region");
        const QRectF all(0, 0, 1e4, 1e4);
        QTest::newRow("odd 129") << 129 << 180 << int(ReconFilterKind::RampPadded) << 0.0 << all;
        QTest::newRow("even 128") << 128 << 180 << int(ReconFilterKind::RampPadded) << 0.0 << all;
        QTest::newRow("odd 75, Hann") << 75 << 100 << int(ReconFilterKind::Hann) << 12.5 << all;
        QTest::newRow("even 74, Cosine")
            << 74 << 100 << int(ReconFilterKind::Cosine) << -40.0 << all;
        QTest::newRow("even 200, region") << 200 << 150 << int(ReconFilterKind::SheppLogan) << 0.0
                                          << QRectF(QPointF(30.5, 60), QPointF(150.2, 170.9));
    }
    void widthsAndRegions()
    {
        QFETCH(int, width);
        QFETCH(int, m);
        QFETCH(int, kind);
        QFETCH(double, offset);
        QFETCH(QRectF, region);
        const int n = BpKernel::gridSizeFor(width);
        Phantom ph = sheppLogan(0.45 * n, 0.02);
        ph.components.push_back(dot(0.2 * n, 0.1 * n, 2.0, 0.05).components[0]);
        const std::vector<double> sgm = sinogramOf(ph, width, m);
        const auto k = reconFilterFromIndex(kind);
        BpKernel bp(BpNormalisation::Parallel);
        QVERIFY(bp.setFilter(k));
        QVERIFY(bp.reconstruct(sgm.data(), width, m, region.left(), region.top(), region.right(),
            region.bottom(), offset));
        FourierRecon fr(BpNormalisation::Parallel), one(BpNormalisation::SingleSlice);
        QVERIFY(fr.reconstruct(sgm.data(), width, m, region.left(), region.top(), region.right(),
            region.bottom(), offset, k));
        QVERIFY(one.reconstruct(sgm.data(), width, m, region.left(), region.top(), region.right(),
            region.bottom(), offset, k));
        QCOMPARE(fr.n(), n);
        QVERIFY(fr.resultValid());
        double big = 0, sum = 0, worstScale = 0;
        int outside = 0, cnt = 0;
        for (int i = 0; i < n * n; ++i) {
            const double f = fr.result()[i], b = bp.result()[i];
            big = std::max(big, std::fabs(b));
            if (b == 0.0 && f != 0.0)
                ++outside;
            sum += (f - b) * (f - b);
            ++cnt;
            worstScale = std::max(worstScale, std::fabs(f - m * one.result()[i]));
        }
        QVERIFY(big > 0);
        const double rms = std::sqrt(sum / cnt) / big;
        qDebug() << "RMS difference to the back-projection / largest value" << rms;
        QVERIFY(rms < 0.02);
        QCOMPARE(outside, 0);
        QVERIFY(worstScale <= 1e-12 * big);
    }

    // One object kept from slice to slice, as a calculator keeps it, through
    // other data, angle offsets, projection counts, filters and sizes (tiny
    // ones too) and back, and one object per case all alive at once, as
    // calculators side by side hold them: every result bit for bit what an
    // object alone in the process gives, so no place on the grid made for one
    // case is used for another, and objects of the same case share one set of
    // places.
    void keptAndSharedPlacesMatchFreshOnes()
    {
        struct Case {
            int width, m;
            double offset;
            ReconFilterKind kind;
            double mu;
        };
        const Case cases[] = {
            { 129, 180, 0.0, ReconFilterKind::RampPadded, 0.02 },
            { 129, 180, 0.0, ReconFilterKind::RampPadded, 0.03 },
            { 129, 180, 12.5, ReconFilterKind::RampPadded, 0.03 },
            { 129, 181, 12.5, ReconFilterKind::RampPadded, 0.03 },
            { 129, 181, 12.5, ReconFilterKind::Hann, 0.03 },
            { 129, 181, 12.5, ReconFilterKind::Ramp, 0.03 },
            { 129, 181, 12.5 + 1e-9, ReconFilterKind::Ramp, 0.03 },
            { 128, 181, 12.5 + 1e-9, ReconFilterKind::Ramp, 0.03 },
            { 5, 3, 0.0, ReconFilterKind::RampPadded, 0.03 },
            { 76, 90, -40.0, ReconFilterKind::RampPadded, 0.03 },
            { 129, 180, 0.0, ReconFilterKind::RampPadded, 0.02 },
        };
        const std::size_t count = std::size(cases);
        const auto sinogram = [](const Case &c) {
            const int n = BpKernel::gridSizeFor(c.width);
            Phantom ph = sheppLogan(0.45 * n, c.mu);
            ph.components.push_back(dot(0.2 * n, -0.1 * n, 1.5, 0.05).components[0]);
            return sinogramOf(ph, c.width, c.m);
        };
        const auto resultOf = [](const FourierRecon &fr) {
            return std::vector<double>(fr.result(), fr.result() + std::size_t(fr.n()) * fr.n());
        };
        // Each case alone: its object is gone before the next one starts.
        std::vector<std::vector<double>> alone;
        for (const Case &c : cases) {
            const int n = BpKernel::gridSizeFor(c.width);
            const std::vector<double> sgm = sinogram(c);
            FourierRecon fresh(BpNormalisation::Parallel);
            QVERIFY(fresh.reconstruct(sgm.data(), c.width, c.m, 0, 0, n, n, c.offset, c.kind));
            alone.push_back(resultOf(fresh));
        }
        QVERIFY(alone.front() == alone.back());
        QVERIFY(alone[0] != alone[1]); // the data differ

        FourierRecon kept(BpNormalisation::Parallel);
        std::vector<std::unique_ptr<FourierRecon>> side;
        for (std::size_t i = 0; i < count; ++i) {
            const Case &c = cases[i];
            const int n = BpKernel::gridSizeFor(c.width);
            const std::vector<double> sgm = sinogram(c);
            side.push_back(std::make_unique<FourierRecon>(BpNormalisation::Parallel));
            FourierRecon &own = *side.back();
            QVERIFY(own.reconstruct(sgm.data(), c.width, c.m, 0, 0, n, n, c.offset, c.kind));
            QVERIFY(kept.reconstruct(sgm.data(), c.width, c.m, 0, 0, n, n, c.offset, c.kind));
            const QString what = QString("case %1: %2 x %3 from %4 degrees")
                                     .arg(i)
                                     .arg(c.width)
                                     .arg(c.m)
                                     .arg(c.offset);
            QVERIFY2(resultOf(own) == alone[i], qPrintable(what));
            QVERIFY2(resultOf(kept) == alone[i], qPrintable(what));
            QVERIFY2(kept.sharesGeometryWith(own), qPrintable(what));
            // Objects of earlier cases share the places only when all four of
            // N, filter, projection count and angle offset are the same.
            for (std::size_t j = 0; j < i; ++j) {
                const Case &o = cases[j];
                const bool same = BpKernel::gridSizeFor(o.width) == n && o.m == c.m
                    && o.offset == c.offset && o.kind == c.kind;
                QVERIFY2(side[j]->sharesGeometryWith(own) == same,
                    qPrintable(what + QString(" against case %1").arg(j)));
            }
        }
    }

    // Sinograms 2 ... 17 samples wide (grids of 2 ... 16) with 1 ... 4
    // projections: a result of finite values inside the circle and zeros
    // outside, and nothing read or written outside the buffers (this case is
    // run under the address sanitizer). Widths below 2 and no rows are refused.
    void tinySizes()
    {
        for (int width = 0; width <= 17; ++width)
            for (int m = 0; m <= 4; ++m) {
                std::vector<double> sgm(std::size_t(std::max(width * m, 1)));
                for (std::size_t i = 0; i < sgm.size(); ++i)
                    sgm[i] = 0.1 * double(i % 5);
                FourierRecon fr(BpNormalisation::Parallel);
                const int n = BpKernel::gridSizeFor(width);
                const bool usable = n >= 2 && m >= 1;
                if (!usable)
                    QTest::ignoreMessage(QtDebugMsg,
                        qPrintable(QString("Can't grid a sinogram of %1 x %2").arg(width).arg(m)));
                QCOMPARE(fr.reconstruct(
                             sgm.data(), width, m, 0, 0, n, n, 0.0, ReconFilterKind::RampPadded),
                    usable);
                if (!usable)
                    continue;
                QCOMPARE(fr.n(), n);
                const double h = n / 2.0;
                for (int z = 0; z < n; ++z)
                    for (int x = 0; x < n; ++x) {
                        const double v = fr.resultAt(z, x);
                        QVERIFY(std::isfinite(v));
                        if (std::hypot(x - h, z - h) >= h)
                            QCOMPARE(v, 0.0);
                    }
            }
        FourierRecon fr;
        QTest::ignoreMessage(QtDebugMsg, "Can't grid a slice of 3 pixels : wrong size");
        QVERIFY(!fr.prepare(3, ReconFilterKind::Ramp));
        QTest::ignoreMessage(QtDebugMsg, "Can't grid a slice of 0 pixels : wrong size");
        QVERIFY(!fr.prepare(0, ReconFilterKind::Ramp));
        QVERIFY(fr.result() == nullptr);
    }
};

VORLO_TEST(TestFourierRecon)
#include "test_fourier_recon.moc"
