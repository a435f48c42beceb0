// The phantom's analytic line integrals against a plain numeric integration of
// its attenuation along the same rays, and the layout promises the scans rely on.
#include "tests/test_registry.h"
#include "tools/phantom.h"

#include <QTest>
#include <cmath>

namespace {

// Integrates muAt along the ray of offset t in row y at angle theta by the
// midpoint rule over [-length, length] with `steps` steps.
double numericIntegral(const Phantom &p, double t, double y, double theta, double length, int steps)
{
    const double c = std::cos(theta);
    const double s = std::sin(theta);
    const double ds = 2.0 * length / steps;
    double sum = 0;
    for (int k = 0; k < steps; ++k) {
        const double a = -length + (k + 0.5) * ds;
        sum += p.muAt(t * c + a * s, y, -t * s + a * c);
    }
    return sum * ds;
}

Phantom single(double cx, double cy, double cz, double ax, double ay, double az, double phiDeg)
{
    Phantom p;
    Ellipsoid e;
    e.cx = cx;
    e.cy = cy;
    e.cz = cz;
    e.ax = ax;
    e.ay = ay;
    e.az = az;
    e.phi = phiDeg * M_PI / 180;
    e.mu = 1.0;
    p.components.push_back(e);
    return p;
}

} // namespace

class PhantomGeometryTest : public QObject {
    Q_OBJECT

private slots:
    // One ellipsoid of mu 1: the line integral is the chord length.
    void chordAgainstNumericIntegration_data()
    {
        QTest::addColumn<double>("cx");
        QTest::addColumn<double>("cz");
        QTest::addColumn<double>("ax");
        QTest::addColumn<double>("az");
        QTest::addColumn<double>("phiDeg");
        QTest::addColumn<double>("t");
        QTest::addColumn<double>("y");
        QTest::addColumn<double>("thetaDeg");
        QTest::newRow("sphere through the centre")
            << 0.0 << 0.0 << 10.0 << 10.0 << 0.0 << 0.0 << 0.0 << 0.0;
        QTest::newRow("sphere, off-centre ray")
            << 0.0 << 0.0 << 10.0 << 10.0 << 0.0 << 6.0 << 0.0 << 37.0;
        QTest::newRow("sphere, upper row")
            << 0.0 << 0.0 << 10.0 << 10.0 << 0.0 << 3.0 << 7.0 << 120.0;
        QTest::newRow("off-axis ellipsoid at 0 deg")
            << 12.0 << -5.0 << 8.0 << 3.0 << 0.0 << 14.0 << 1.0 << 0.0;
        QTest::newRow("off-axis ellipsoid at 90 deg")
            << 12.0 << -5.0 << 8.0 << 3.0 << 0.0 << 6.0 << 1.0 << 90.0;
        QTest::newRow("turned ellipsoid")
            << -7.0 << 9.0 << 9.0 << 2.5 << 30.0 << -3.0 << -2.0 << 63.0;
        QTest::newRow("turned ellipsoid, oblique")
            << -7.0 << 9.0 << 9.0 << 2.5 << -50.0 << -12.0 << 0.5 << 151.0;
        QTest::newRow("ray that misses") << 0.0 << 0.0 << 5.0 << 5.0 << 0.0 << 5.5 << 0.0 << 20.0;
        QTest::newRow("row above the top")
            << 0.0 << 0.0 << 5.0 << 5.0 << 0.0 << 0.0 << 11.0 << 20.0;
    }
    void chordAgainstNumericIntegration()
    {
        QFETCH(double, cx);
        QFETCH(double, cz);
        QFETCH(double, ax);
        QFETCH(double, az);
        QFETCH(double, phiDeg);
        QFETCH(double, t);
        QFETCH(double, y);
        QFETCH(double, thetaDeg);
        const Phantom p = single(cx, 0.0, cz, ax, 10.0, az, phiDeg);
        const double theta = thetaDeg * M_PI / 180;
        const double exact = p.lineIntegral(t, y, theta);
        const double numeric = numericIntegral(p, t, y, theta, 40.0, 400000);
        // The midpoint rule misses at most one step (2e-4) at each end.
        QVERIFY2(std::abs(exact - numeric) < 5e-4,
            qPrintable(QStringLiteral("%1 against %2").arg(exact).arg(numeric)));
    }

    // The whole standard phantom, overlapping components with negative mu
    // included, on a spread of rays.
    void standardPhantomAgainstNumericIntegration()
    {
        const Phantom p = Phantom::standard(60.0, 32);
        int hits = 0;
        for (int k = 0; k < 24; ++k) {
            const double t = -55.0 + 110.0 * ((k * 7) % 24) / 23.0;
            const double y = -15.0 + 30.0 * ((k * 5) % 24) / 23.0;
            const double theta = M_PI * k / 24.0;
            const double exact = p.lineIntegral(t, y, theta);
            const double numeric = numericIntegral(p, t, y, theta, 60.0, 200000);
            hits += exact > 0;
            // Each boundary crossed costs at most one step (6e-4) of its jump in mu.
            QVERIFY2(std::abs(exact - numeric) < 12 * p.bodyMu * 6e-4,
                qPrintable(QStringLiteral("ray %1: %2 against %3").arg(k).arg(exact).arg(numeric)));
        }
        QVERIFY(hits > 12);
    }

    // The scans rely on these: the phantom stays inside the field of view at
    // every angle (no attenuation at the detector edges), the flat region
    // holds the bare body only, and the marker component sits above the middle rows.
    void layout()
    {
        const double r = 50.0;
        const Phantom p = Phantom::standard(r, 40);
        for (int k = 0; k < 36; ++k) {
            const double theta = M_PI * k / 36.0;
            for (int y = -20; y <= 20; ++y) {
                QCOMPARE(p.lineIntegral(r, y, theta), 0.0);
                QCOMPARE(p.lineIntegral(-r, y, theta), 0.0);
            }
        }
        for (int k = 0; k < 200; ++k) {
            const double a = 2 * M_PI * k / 200.0;
            const double d = p.flatRadius() * (k % 10) / 10.0;
            QCOMPARE(p.muAt(d * std::cos(a), 0.0, d * std::sin(a)), p.bodyMu);
        }
        const Ellipsoid *upper = p.component(QStringLiteral("upper"));
        QVERIFY(upper);
        QVERIFY(upper->cy + upper->ay < 0);
        QCOMPARE(p.muAt(upper->cx, upper->cy, upper->cz), p.bodyMu + upper->mu);
        QCOMPARE(p.muAt(upper->cx, 0.0, upper->cz), p.bodyMu);
        // Default attenuation: 1 / R, so the ray through the body's middle along
        // x is attenuated by 2 * 0.8.
        QVERIFY(std::abs(p.lineIntegral(0.0, 0.0, M_PI / 2) - 1.6) < 1e-9);
    }

    // The edge component jumps across the edge; the rest only follows (edge / E)^3.
    void energyDependence()
    {
        const Phantom p = Phantom::standard(50.0, 20);
        const Ellipsoid *edge0 = p.component(QStringLiteral("edge"));
        QVERIFY(edge0 && edge0->edgeJump > 0);
        const Phantom below = p.atEnergy(7050, 7112);
        const Phantom above = p.atEnergy(7180, 7112);
        const Phantom at = p.atEnergy(7112, 7112);
        const double scaleBelow = std::pow(7112.0 / 7050.0, 3);
        const double scaleAbove = std::pow(7112.0 / 7180.0, 3);
        QVERIFY(
            std::abs(below.component(QStringLiteral("body"))->mu - p.bodyMu * scaleBelow) < 1e-12);
        QVERIFY(std::abs(above.component(QStringLiteral("dense"))->mu
                    - p.component(QStringLiteral("dense"))->mu * scaleAbove)
            < 1e-12);
        const double eBelow = below.component(QStringLiteral("edge"))->mu;
        const double eAbove = above.component(QStringLiteral("edge"))->mu;
        const double eAt = at.component(QStringLiteral("edge"))->mu;
        QVERIFY(std::abs(eBelow - edge0->mu * scaleBelow) < 0.01 * edge0->edgeJump);
        QVERIFY(
            std::abs(eAbove - edge0->mu * scaleAbove - edge0->edgeJump) < 0.01 * edge0->edgeJump);
        QVERIFY(std::abs(eAt - edge0->mu - 0.5 * edge0->edgeJump) < 1e-12);
        QVERIFY(eBelow < eAt && eAt < eAbove);
    }
};

VORLO_TEST(PhantomGeometryTest)
#include "test_phantom_geometry.moc"
