// A scan written by the tool, reconstructed with the program's own sinogram
// builder and kernel, shows the phantom where it was put, the right way round,
// with the CT values its attenuation implies.
#include "tests/test_registry.h"
#include "tests/tools/phantom_fixture.h"
#include "tools/phantom_scan.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using phantomtest::Slice;

namespace {

struct Written {
    QTemporaryDir dir;
    QStringList projections;
    QString i0, bg;
    bool ok = false;
};

// Writes the scan and sorts its files into projections, I0 and BG.
void writeScan(const ScanSettings &s, Written &w)
{
    QStringList files;
    w.ok = w.dir.isValid() && PhantomScan(s).writeScan(w.dir.path(), &files);
    for (const QString &f : files) {
        if (f.endsWith(QLatin1String("/I0.img")))
            w.i0 = f;
        else if (f.endsWith(QLatin1String("/BG.img")))
            w.bg = f;
        else
            w.projections << f;
    }
}

ScanSettings small(int projections = 180, double cor = -1)
{
    ScanSettings s;
    s.width = 128;
    s.height = 8;
    s.projections = projections;
    s.cor = cor;
    return s;
}

} // namespace

class PhantomReconstructionTest : public QObject {
    Q_OBJECT

private slots:
    // The dense insert lies at (+0.40 R, -0.25 R): right of the axis and in the
    // upper half of the slice. A mirrored or turned reconstruction would put
    // the brightest spot elsewhere; the three mirror images must stay dim.
    void insertsWhereThePhantomHasThem_data()
    {
        QTest::addColumn<double>("cor");
        QTest::newRow("centred") << -1.0;
        QTest::newRow("off centre, fractional") << 70.5;
    }
    void insertsWhereThePhantomHasThem()
    {
        QFETCH(double, cor);
        Written w;
        writeScan(small(120, cor), w);
        QVERIFY(w.ok);
        const PhantomScan scan(small(120, cor));
        const Slice slice = phantomtest::reconstruct(w.projections, w.i0, w.bg, scan.cor(), 4);
        QVERIFY(slice.n > 0);
        const Ellipsoid *dense = scan.phantom().component(QStringLiteral("dense"));
        QVERIFY(dense);

        // Centroid of the pixels well above the body: only the dense insert
        // (two body mu above it) gets there, the edge component (one above) not.
        const double flat = slice.mean(0, 0, scan.phantom().flatRadius());
        const double threshold = flat + 1.5 * 2 * 120 * scan.phantom().bodyMu;
        double sx = 0, sz = 0;
        int count = 0;
        for (int z = 0; z < slice.n; ++z)
            for (int x = 0; x < slice.n; ++x)
                if (slice.at(x, z) > threshold) {
                    sx += x - slice.h();
                    sz += z - slice.h();
                    ++count;
                }
        QVERIFY(count > 0);
        const double qx = sx / count, qz = sz / count;
        QVERIFY2(std::hypot(qx - dense->cx, qz - dense->cz) < 1.0,
            qPrintable(QStringLiteral("bright spot at (%1, %2), insert at (%3, %4)")
                           .arg(qx)
                           .arg(qz)
                           .arg(dense->cx)
                           .arg(dense->cz)));
        const double inside = slice.mean(dense->cx, dense->cz, 0.5 * dense->ax);
        for (const auto &m : { std::pair<double, double> { -1, 1 }, { 1, -1 }, { -1, -1 } }) {
            const double mirrored
                = slice.mean(m.first * dense->cx, m.second * dense->cz, 0.5 * dense->ax);
            QVERIFY2(mirrored < 0.7 * inside,
                qPrintable(QStringLiteral("mirror (%1, %2): %3 against %4")
                               .arg(m.first)
                               .arg(m.second)
                               .arg(mirrored)
                               .arg(inside)));
        }
        // The void insert reads lower than the body beside it.
        const Ellipsoid *hole = scan.phantom().component(QStringLiteral("void"));
        QVERIFY(slice.mean(hole->cx, hole->cz, 0.4 * hole->az)
            < slice.mean(0, 0, scan.phantom().flatRadius()));
    }

    // Reconstructed values: about 2 M mu for the parallel calculators. The
    // unpadded ramp filter lowers every value by an offset that grows with the
    // slice's total attenuation, so a local contrast (an insert against the
    // body right around it) is checked tightly and the bare body loosely.
    void valuesFollowTheAttenuation_data()
    {
        QTest::addColumn<int>("projections");
        QTest::newRow("M = 90") << 90;
        QTest::newRow("M = 180") << 180;
    }
    void valuesFollowTheAttenuation()
    {
        QFETCH(int, projections);
        Written w;
        writeScan(small(projections), w);
        QVERIFY(w.ok);
        const PhantomScan scan(small(projections));
        const Phantom &p = scan.phantom();
        const Slice slice = phantomtest::reconstruct(w.projections, w.i0, w.bg, scan.cor(), 4);
        QVERIFY(slice.n > 0);
        const double scale = 2.0 * projections;

        const double flat = slice.mean(0, 0, p.flatRadius());
        qInfo("M = %d: flat body %.4f for 2 M mu = %.4f (ratio %.4f)", projections, flat,
            scale * p.bodyMu, flat / (scale * p.bodyMu));
        // Measured: 0.733 of 2 M mu for either M.
        QVERIFY(flat > 0.68 * scale * p.bodyMu);
        QVERIFY(flat < 0.78 * scale * p.bodyMu);

        const Ellipsoid *dense = p.component(QStringLiteral("dense"));
        const double in = slice.mean(dense->cx, dense->cz, 0.5 * dense->ax);
        const double around = slice.mean(dense->cx, dense->cz, 1.9 * dense->ax, 1.4 * dense->ax);
        const double contrast = (in - around) / (scale * dense->mu);
        qInfo("M = %d: dense insert contrast %.4f of 2 M dmu", projections, contrast);
        QVERIFY(std::abs(contrast - 1.0) < 0.03);
    }

    // Two phantoms that differ only in the body's attenuation: the offset of
    // the ramp filter is proportional to the attenuation, so the ratio of the
    // flat regions is the ratio of the mu values.
    void valuesScaleWithMu()
    {
        ScanSettings a = small(90);
        ScanSettings b = a;
        a.bodyMu = 0.01;
        b.bodyMu = 0.02;
        Written wa, wb;
        writeScan(a, wa);
        writeScan(b, wb);
        QVERIFY(wa.ok && wb.ok);
        const PhantomScan scan(a);
        const Slice sa = phantomtest::reconstruct(wa.projections, wa.i0, wa.bg, scan.cor(), 4);
        const Slice sb = phantomtest::reconstruct(wb.projections, wb.i0, wb.bg, scan.cor(), 4);
        QVERIFY(sa.n > 0 && sb.n == sa.n);
        const double r = scan.phantom().flatRadius();
        const double ratio = sb.mean(0, 0, r) / sa.mean(0, 0, r);
        QVERIFY2(std::abs(ratio - 2.0) < 0.01, qPrintable(QString::number(ratio)));
    }

    // A lone disk on the axis: the smaller it is, the less the unpadded ramp
    // filter takes off, and a small one reads close to 2 M mu.
    void isolatedDiskValues()
    {
        const ScanSettings s = small(90);
        double previous = 2.0;
        for (const double size : { 0.1, 0.4, 0.8 }) {
            PhantomScan scan(s);
            Phantom p;
            p.radius = scan.fieldRadius();
            Ellipsoid e;
            e.ax = e.az = size * p.radius;
            e.ay = s.height;
            e.mu = 0.05;
            p.components.push_back(e);
            scan.setPhantom(p);
            QTemporaryDir dir;
            QStringList files;
            QVERIFY(scan.writeScan(dir.path(), &files));
            const QString i0 = files.takeFirst();
            const QString bg = files.takeFirst();
            const Slice slice = phantomtest::reconstruct(files, i0, bg, scan.cor(), 4);
            QVERIFY(slice.n > 0);
            const double ratio = slice.mean(0, 0, 0.5 * e.ax) / (2 * s.projections * e.mu);
            qInfo("disk of %.1f R: %.4f of 2 M mu", size, ratio);
            if (size == 0.1)
                QVERIFY(std::abs(ratio - 1) < 0.03);
            QVERIFY(ratio < previous);
            QVERIFY(ratio > 0.6);
            previous = ratio;
        }
    }

    // The single-slice calculator divides by M as well: CT1 = CT2 / M, about 2 mu.
    void singleSliceCalculatorValues()
    {
        Written w;
        writeScan(small(90), w);
        QVERIFY(w.ok);
        const PhantomScan scan(small(90));
        const Slice ct2 = phantomtest::reconstruct(w.projections, w.i0, w.bg, scan.cor(), 4);
        const Slice ct1 = phantomtest::reconstruct(
            w.projections, w.i0, w.bg, scan.cor(), 4, BpNormalisation::SingleSlice);
        QVERIFY(ct1.n == ct2.n && ct1.n > 0);
        const double r = scan.phantom().flatRadius();
        QVERIFY(std::abs(ct1.mean(0, 0, r) * 90 / ct2.mean(0, 0, r) - 1.0) < 1e-9);
        QVERIFY(ct1.mean(0, 0, r) > 0.6 * 2 * scan.phantom().bodyMu);
    }
};

VORLO_TEST(PhantomReconstructionTest)
#include "test_phantom_reconstruction.moc"
