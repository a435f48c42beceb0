// The automatic centre of rotation on phantom scans: centres anywhere within
// +-40 % of the detector half-width of its middle, fractional, with and
// without counting noise.
#include "ct/cor_finder.h"
#include "tools/phantom.h"

#include "tests/test_registry.h"

#include <QDebug>
#include <QTest>

#include <cmath>
#include <random>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

// Whole detector lines of the middle row, pixel u seeing offset u - cor, as
// attenuation ln(I0 / I). With noise, I0 and I are Poisson counts around
// i0Counts and i0Counts * exp(-line integral), I0 drawn once per pixel.
std::vector<double> scan(int width, int rows, double cor, bool noise, quint64 seed = 1)
{
    const double radius = std::min(cor, width - 1 - cor);
    const Phantom p = Phantom::standard(radius, 64);
    std::vector<double> s(std::size_t(width) * rows);
    std::mt19937_64 rng(seed);
    const double i0Counts = 1e4;
    // One flat-field image for all projections, as measured: its noise is
    // common to every row.
    std::vector<double> i0(static_cast<std::size_t>(width));
    for (double &c0 : i0)
        c0 = double(std::poisson_distribution<long>(i0Counts)(rng));
    for (int i = 0; i < rows; ++i)
        for (int u = 0; u < width; ++u) {
            const double a = p.lineIntegral(u - cor, 0.0, i * kPi / rows);
            double v = a;
            if (noise) {
                std::poisson_distribution<long> in(i0Counts * std::exp(-a));
                v = std::log(i0[std::size_t(u)] / std::max(1.0, double(in(rng))));
            }
            s[std::size_t(i) * width + u] = v;
        }
    return s;
}

} // namespace

class TestCorFinder : public QObject {
    Q_OBJECT
private slots:
    void phantomCentres_data()
    {
        QTest::addColumn<double>("offset"); // from the middle, in half-widths
        QTest::addColumn<bool>("noise");
        for (bool noise : { false, true })
            for (double off : { -0.4, -0.27, -0.1, 0.0, 0.05, 0.18, 0.33, 0.4 })
                QTest::newRow(qPrintable(
                    QStringLiteral("%1%2").arg(off).arg(noise ? ", noise" : ", no noise")))
                    << off << noise;
    }
    void phantomCentres()
    {
        QFETCH(double, offset);
        QFETCH(bool, noise);
        const int width = 400, rows = 360;
        const double halfW = width / 2.0;
        // A fraction that is not a simple one, and the exact +-40 % ends.
        double cor = (width - 1) / 2.0 + offset * halfW;
        if (std::fabs(offset) < 0.39)
            cor += 0.37;
        const std::vector<double> s = scan(width, rows, cor, noise, quint64(1000 * offset + 7));
        const CorFinderResult r = findCentre(s.data(), width, rows);
        QVERIFY(r.ok);
        QVERIFY(r.consistent);
        QCOMPARE(r.used, rows);
        qDebug() << "centre found minus true" << r.centre - cor;
        QVERIFY2(std::fabs(r.centre - cor) < 0.25,
            qPrintable(QStringLiteral("true %1 found %2").arg(cor).arg(r.centre)));
    }

    // A constant offset (no I0 image: ln(1 / I)) or a scaled attenuation
    // does not move the centre.
    void offsetAndScaleDoNotMatter()
    {
        const int width = 300, rows = 180;
        const double cor = 171.3;
        std::vector<double> s = scan(width, rows, cor, false);
        const double plain = findCentre(s.data(), width, rows).centre;
        QVERIFY(std::fabs(plain - cor) < 0.25);
        for (double &v : s)
            v = 0.5 * v - std::log(60000.0);
        const CorFinderResult r = findCentre(s.data(), width, rows);
        QVERIFY(r.ok);
        QVERIFY2(std::fabs(r.centre - plain) < 1e-6, qPrintable(QString::number(r.centre - plain)));
    }

    void refusesAndWarns()
    {
        std::vector<double> s(std::size_t(4) * 10, 1.0);
        QVERIFY(!findCentre(s.data(), 4, 10).ok); // narrower than 5 samples
        QVERIFY(!findCentre(s.data(), 5, 2).ok); // fewer than 3 projections
        QVERIFY(!findCentre(nullptr, 100, 100).ok);
        std::vector<double> empty(std::size_t(100) * 20, 0.0);
        QVERIFY(!findCentre(empty.data(), 100, 20).ok); // nothing attenuates
        // Half the object outside the detector: its mass varies with the angle.
        const std::vector<double> cut = scan(300, 180, 149.5, false);
        std::vector<double> part(std::size_t(200) * 180);
        for (int i = 0; i < 180; ++i)
            for (int u = 0; u < 200; ++u)
                part[std::size_t(i) * 200 + u] = cut[std::size_t(i) * 300 + u];
        const CorFinderResult r = findCentre(part.data(), 200, 180);
        QVERIFY(r.ok);
        QVERIFY(!r.consistent);
        QVERIFY(r.massSpread > 0.02);
    }
};

VORLO_TEST(TestCorFinder)
#include "test_cor_finder.moc"
