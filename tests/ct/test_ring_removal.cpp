// Stripe (ring) suppression on analytic phantom slices: a detector column of
// uneven gain must leave (nearly) no trace in the slice, and a clean scan must
// come through (nearly) untouched.
#include "ct/bp_kernel.h"
#include "ct/ring_removal.h"
#include "tools/phantom.h"

#include "tests/test_registry.h"

#include <QDebug>
#include <QTest>

#include <cmath>
#include <random>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kWidth = 257; // sample 127 on the axis
constexpr int kRows = 360;
constexpr int kN = 256;

struct Stripe {
    int first; // first column
    int count; // columns
    double gain; // relative gain of the pixels: 1.03 reads 3 % more intensity
};

std::vector<double> cleanSinogram(const Phantom &p)
{
    const int half = (kWidth + 1) / 2;
    std::vector<double> s(std::size_t(kWidth) * kRows);
    for (int i = 0; i < kRows; ++i)
        for (int j = 0; j < kWidth; ++j)
            s[std::size_t(i) * kWidth + j] = p.lineIntegral(j - (half - 1), 0.0, i * kPi / kRows);
    return s;
}

// The clean sinogram as measured with Poisson counts: I0 and I drawn around
// i0Counts and i0Counts exp(-attenuation), the value ln(I0 / I).
std::vector<double> noisy(const std::vector<double> &clean, double i0Counts, quint64 seed)
{
    std::mt19937_64 rng(seed);
    std::vector<double> s(clean.size());
    for (std::size_t k = 0; k < clean.size(); ++k) {
        std::poisson_distribution<long> i0(i0Counts), in(i0Counts * std::exp(-clean[k]));
        s[k] = std::log(double(i0(rng)) / std::max(1.0, double(in(rng))));
    }
    return s;
}

// A gain g on the intensity of a column lowers its attenuation by ln g at every angle.
std::vector<double> striped(std::vector<double> s, const QVector<Stripe> &stripes)
{
    for (const Stripe &st : stripes)
        for (int i = 0; i < kRows; ++i)
            for (int j = st.first; j < st.first + st.count; ++j)
                s[std::size_t(i) * kWidth + j] -= std::log(st.gain);
    return s;
}

std::vector<double> slice(std::vector<double> s, int ringSize)
{
    if (ringSize > 0)
        removeRings(s.data(), kWidth, kRows, ringSize);
    BpKernel k(BpNormalisation::Parallel);
    if (!k.reconstruct(s.data(), kWidth, kRows, 0, 0, kN, kN, 0.0))
        return {};
    return std::vector<double>(k.result(), k.result() + kN * kN);
}

// RMS of a - b over the pixels where the phantom has matter.
double rmsInside(const Phantom &p, const std::vector<double> &a, const std::vector<double> &b)
{
    double sum = 0;
    int cnt = 0;
    for (int z = 0; z < kN; ++z)
        for (int x = 0; x < kN; ++x)
            if (p.muAt(x - kN / 2, 0, z - kN / 2) > 0) {
                const double d = a[std::size_t(z) * kN + x] - b[std::size_t(z) * kN + x];
                sum += d * d;
                ++cnt;
            }
    return cnt ? std::sqrt(sum / cnt) : 0.0;
}

} // namespace

Q_DECLARE_METATYPE(QVector<Stripe>)

class TestRingRemoval : public QObject {
    Q_OBJECT
private slots:
    void detectsOnlyTheStripedColumns()
    {
        const Phantom p = Phantom::standard(120, 64);
        std::vector<double> s = striped(cleanSinogram(p), { { 150, 1, 1.03 }, { 60, 3, 0.98 } });
        const RingRemovalResult r = removeRings(s.data(), kWidth, kRows, 11);
        QCOMPARE(r.columns, (std::vector<int> { 60, 61, 62, 150 }));
        QCOMPARE(r.stripes, 4);
        // Even sizes are taken as the next odd one; too small a window, or no
        // data, changes nothing.
        std::vector<double> t = striped(cleanSinogram(p), { { 150, 1, 1.03 } });
        const std::vector<double> before = t;
        QCOMPARE(removeRings(t.data(), kWidth, kRows, 1).stripes, 0);
        QCOMPARE(removeRings(t.data(), 2, kRows, 11).stripes, 0);
        QCOMPARE(removeRings(nullptr, kWidth, kRows, 11).stripes, 0);
        QVERIFY(t == before);
        QCOMPARE(removeRings(t.data(), kWidth, kRows, 10).columns, std::vector<int> { 150 });
    }

    // Sensitivity of the slice to the stripes: RMS(striped - clean) with the
    // suppression on must be at most a tenth of the same difference with it off.
    void stripeSensitivity_data()
    {
        QTest::addColumn<QVector<Stripe>>("stripes");
        QTest::addColumn<int>("size");
        QTest::newRow("one column 3 %") << QVector<Stripe> { { 150, 1, 1.03 } } << 11;
        QTest::newRow("one column 3 % near the axis") << QVector<Stripe> { { 129, 1, 1.03 } } << 11;
        QTest::newRow("one column 0.5 %") << QVector<Stripe> { { 100, 1, 1.005 } } << 11;
        QTest::newRow("one column 20 % low") << QVector<Stripe> { { 170, 1, 0.8 } } << 11;
        QTest::newRow("two columns") << QVector<Stripe> { { 90, 2, 1.03 } } << 11;
        QTest::newRow("four columns, size 11") << QVector<Stripe> { { 140, 4, 1.02 } } << 11;
        QTest::newRow("four columns, size 5 misses nothing else")
            << QVector<Stripe> { { 140, 1, 1.02 }, { 160, 2, 0.97 } } << 5;
        QTest::newRow("several widths and strengths") << QVector<Stripe> { { 40, 1, 1.05 },
            { 75, 2, 0.99 }, { 128, 1, 1.01 }, { 180, 3, 1.04 }, { 215, 1, 0.9 } }
                                                      << 11;
        QTest::newRow("five columns, size 21") << QVector<Stripe> { { 110, 5, 1.03 } } << 21;
    }
    void stripeSensitivity()
    {
        QFETCH(QVector<Stripe>, stripes);
        QFETCH(int, size);
        const Phantom p = Phantom::standard(120, 64);
        const std::vector<double> clean = cleanSinogram(p);
        const std::vector<double> bad = striped(clean, stripes);
        const double off = rmsInside(p, slice(bad, 0), slice(clean, 0));
        const double on = rmsInside(p, slice(bad, size), slice(clean, size));
        QVERIFY(off > 0);
        qDebug() << "stripe sensitivity with / without suppression" << on / off;
        QVERIFY2(on <= 0.1 * off,
            qPrintable(QStringLiteral("on %1 off %2 ratio %3").arg(on).arg(off).arg(on / off)));
    }

    // The same with counting noise (10^4 counts in I0), the stripe on the same
    // noisy scan: the noise does not hide a 3 % stripe.
    void stripeSensitivityWithNoise_data()
    {
        QTest::addColumn<QVector<Stripe>>("stripes");
        QTest::newRow("one column 3 %") << QVector<Stripe> { { 150, 1, 1.03 } };
        QTest::newRow("two columns 3 % low") << QVector<Stripe> { { 100, 2, 0.97 } };
        QTest::newRow("one column 5 % near the axis") << QVector<Stripe> { { 127, 1, 1.05 } };
    }
    void stripeSensitivityWithNoise()
    {
        QFETCH(QVector<Stripe>, stripes);
        const Phantom p = Phantom::standard(120, 64);
        const std::vector<double> clean = noisy(cleanSinogram(p), 1e4, 11);
        const std::vector<double> bad = striped(clean, stripes);
        const double off = rmsInside(p, slice(bad, 0), slice(clean, 0));
        const double on = rmsInside(p, slice(bad, 11), slice(clean, 11));
        QVERIFY(off > 0);
        qDebug() << "stripe sensitivity with / without suppression" << on / off;
        QVERIFY2(on <= 0.1 * off,
            qPrintable(QStringLiteral("on %1 off %2 ratio %3").arg(on).arg(off).arg(on / off)));
    }

    // On the clean scan the suppression changes the slice by less than 1 %
    // RMS inside the object, for the default and the largest useful windows.
    void cleanScanIsKept_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<double>("radius");
        QTest::addColumn<bool>("noise");
        QTest::newRow("size 11") << 11 << 120.0 << false;
        QTest::newRow("size 31") << 31 << 120.0 << false;
        QTest::newRow("size 11, small object") << 11 << 40.0 << false;
        QTest::newRow("size 11, noise") << 11 << 120.0 << true;
        QTest::newRow("size 31, noise") << 31 << 120.0 << true;
        QTest::newRow("size 11, small object, noise") << 11 << 40.0 << true;
    }
    void cleanScanIsKept()
    {
        QFETCH(int, size);
        QFETCH(double, radius);
        QFETCH(bool, noise);
        const Phantom p = Phantom::standard(radius, 64);
        const std::vector<double> clean
            = noise ? noisy(cleanSinogram(p), 1e4, 5) : cleanSinogram(p);
        const std::vector<double> off = slice(clean, 0);
        const std::vector<double> zero(off.size(), 0.0);
        const double change = rmsInside(p, slice(clean, size), off) / rmsInside(p, off, zero);
        qDebug() << "relative RMS change of the clean slice" << change;
        QVERIFY2(change < 0.01, qPrintable(QString::number(change)));
    }
};

VORLO_TEST(TestRingRemoval)
#include "test_ring_removal.moc"
