// The back-projection kernel against a direct evaluation of its formulas, and
// the physics of the reconstruction: position, rotation, scale and linearity.
#include "ct/bp_kernel.h"
#include "ct/bp_row.h"
#include "ct/bp_tile.h"

#include "tests/test_registry.h"

#include <QTest>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <thread>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

using Grid = std::vector<double>; // N x N, [z][x]

// Ramp-filtered projection by direct O(N^2) sums: P_k = sum_j s_j e^{-2 pi i jk/N},
// Q_k = P_k * |freq_k| * 2 pi / N, q_n = Re sum_k Q_k e^{+2 pi i kn/N} / norm.
std::vector<double> directFilter(const double *samples, int n, double norm)
{
    std::vector<double> pr(n), pi(n), out(n);
    for (int k = 0; k < n; ++k) {
        double re = 0, im = 0;
        for (int j = 0; j < n; ++j) {
            const double a = 2 * kPi * double((long(j) * k) % n) / n;
            re += samples[j] * std::cos(a);
            im -= samples[j] * std::sin(a);
        }
        const double w = double(k < n / 2 ? k : n - k) * 2 * kPi / n;
        pr[k] = re * w;
        pi[k] = im * w;
    }
    for (int t = 0; t < n; ++t) {
        double re = 0;
        for (int k = 0; k < n; ++k) {
            const double a = 2 * kPi * double((long(k) * t) % n) / n;
            re += pr[k] * std::cos(a) - pi[k] * std::sin(a);
        }
        out[t] = re / norm;
    }
    return out;
}

// The whole slice by the formulas, pixel by pixel, projection by projection.
Grid directSlice(const std::vector<double> &sgm, int width, int m, bool perSlice, double x0,
    double z0, double x1, double z1, double offsetDeg)
{
    const int n = 2 * (width / 2);
    const double h = n / 2.0;
    const double norm = perSlice ? double(n) : double(n) * m;
    Grid res(std::size_t(n) * n, 0.0);
    for (int i = 0; i < m; ++i) {
        const std::vector<double> f = directFilter(sgm.data() + std::size_t(i) * width, n, norm);
        const double th = offsetDeg * kPi / 180.0 + i * kPi / m;
        const double c = std::cos(th), s = std::sin(th);
        // The region, limited to the grid.
        for (int z = std::max(0, int(std::trunc(z0))); z < std::min(z1, double(n)); ++z) {
            for (int x = std::max(0, int(std::trunc(x0))); x < std::min(x1, double(n)); ++x) {
                if (!(std::sqrt((x - h) * (x - h) + (z - h) * (z - h)) < h))
                    continue;
                const double u = (x - h) * c - (z - h) * s + h;
                const int k = int(std::floor(u));
                if (k >= 0 && k < n - 1)
                    res[std::size_t(z) * n + x] += f[k] + (u - k) * (f[k + 1] - f[k]);
            }
        }
    }
    return res;
}

double maxAbs(const double *a, std::size_t count)
{
    double m = 0;
    for (std::size_t i = 0; i < count; ++i)
        m = std::max(m, std::abs(a[i]));
    return m;
}

// max |a - b| / max |b|
double relDiff(const double *a, const double *b, std::size_t count)
{
    double d = 0;
    for (std::size_t i = 0; i < count; ++i)
        d = std::max(d, std::abs(a[i] - b[i]));
    const double scale = maxAbs(b, count);
    return scale > 0 ? d / scale : d;
}

std::vector<double> randomSinogram(int width, int m, unsigned seed)
{
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> dist(-0.5, 2.0);
    std::vector<double> s(std::size_t(width) * m);
    for (double &v : s)
        v = dist(gen);
    return s;
}

// Line integrals of a uniform disk (attenuation mu per pixel, radius r, centre
// (xp, zp) on the grid) sampled at u = j, for the kernel's geometry: pixel (x, z)
// lands on u = (x - h) cos t - (z - h) sin t + h at projection angle t = i pi / m.
std::vector<double> diskSinogram(int width, int m, double xp, double zp, double r, double mu)
{
    const int n = 2 * (width / 2);
    const double h = n / 2.0;
    std::vector<double> s(std::size_t(width) * m, 0.0);
    for (int i = 0; i < m; ++i) {
        const double t = i * kPi / m;
        const double up = (xp - h) * std::cos(t) - (zp - h) * std::sin(t) + h;
        for (int j = 0; j < width; ++j) {
            const double d = j - up;
            if (std::abs(d) < r)
                s[std::size_t(i) * width + j] = 2 * mu * std::sqrt(r * r - d * d);
        }
    }
    return s;
}

// Centre of the pixels above half the maximum (the disk reconstructs as a flat top).
void brightCentre(const BpKernel &k, double &cx, double &cz)
{
    double mx = -std::numeric_limits<double>::max();
    for (int z = 0; z < k.n(); ++z)
        for (int x = 0; x < k.n(); ++x)
            mx = std::max(mx, k.resultAt(z, x));
    double sx = 0, sz = 0, w = 0;
    for (int z = 0; z < k.n(); ++z)
        for (int x = 0; x < k.n(); ++x)
            if (k.resultAt(z, x) > mx / 2) {
                sx += x;
                sz += z;
                w += 1;
            }
    cx = sx / w;
    cz = sz / w;
}

} // namespace

class TestKernel : public QObject {
    Q_OBJECT
private slots:
    void matchesFormulas_data();
    void matchesFormulas();
    void rowRoutinesAgree_data();
    void rowRoutinesAgree();
    void pairBlocksMatchFormula();
    void routinesMatchFormula_data();
    void routinesMatchFormula();
    void routinesAgreeOnCt1AndCt2();
    void dispatchNamesItsRoutine();
    void diskReconstructsInPlace();
    void angleOffsetRotates();
    void quarterTurnProjection();
    void linearAndScaled();
    void refusesImpossibleSizes();
    void reusesAndResizes();
    void kernelsInThreads();
    void threadsShareTheGridExactly_data();
    void threadsShareTheGridExactly();
};

void TestKernel::matchesFormulas_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("m");
    QTest::addColumn<bool>("perSlice");
    QTest::addColumn<double>("offset");
    QTest::addColumn<QVector<double>>("region");

    QTest::newRow("65x45 full, single-slice norm")
        << 65 << 45 << false << 0.0 << QVector<double> { 0, 0, 64, 64 };
    QTest::newRow("65x45 full, per-slice norm, offset")
        << 65 << 45 << true << 17.3 << QVector<double> { 0, 0, 64, 64 };
    QTest::newRow("31x7 fractional region")
        << 31 << 7 << false << -33.0 << QVector<double> { 3.7, 5.2, 20.5, 27.9 };
    QTest::newRow("region beyond the grid")
        << 41 << 12 << true << 90.0 << QVector<double> { -10, -3.5, 1e6, 1e9 };
    QTest::newRow("narrow column") << 51 << 9 << false << 5.0 << QVector<double> { 24, 0, 27, 50 };
    QTest::newRow("3 samples") << 3 << 4 << false << 0.0 << QVector<double> { 0, 0, 2, 2 };
}

void TestKernel::matchesFormulas()
{
    QFETCH(int, width);
    QFETCH(int, m);
    QFETCH(bool, perSlice);
    QFETCH(double, offset);
    QFETCH(QVector<double>, region);

    std::vector<double> sgm = randomSinogram(width, m, unsigned(width * 131 + m));
    // The last sample of each row lies outside the transform: make it loud.
    for (int i = 0; i < m; ++i)
        sgm[std::size_t(i) * width + width - 1] = 1e6;
    const Grid ref
        = directSlice(sgm, width, m, perSlice, region[0], region[1], region[2], region[3], offset);
    const int n = BpKernel::gridSizeFor(width);
    const std::size_t cells = std::size_t(n) * n;

    // At once: every projection over the whole region, tile by tile.
    BpKernel k(perSlice ? BpNormalisation::Parallel : BpNormalisation::SingleSlice);
    QVERIFY(
        k.reconstruct(sgm.data(), width, m, region[0], region[1], region[2], region[3], offset));
    QCOMPARE(k.n(), n);
    QCOMPARE(k.m(), m);
    QVERIFY(k.resultValid());
    QVERIFY2(relDiff(k.result(), ref.data(), cells) < 1e-9,
        qPrintable(QString::number(relDiff(k.result(), ref.data(), cells))));

    // Projection by projection, as the single-slice calculator steps.
    BpKernel one(perSlice ? BpNormalisation::Parallel : BpNormalisation::SingleSlice);
    QVERIFY(one.prepare(n, m));
    QVERIFY(!one.resultValid());
    for (int i = 0; i < m; ++i) {
        one.transformRow(i, sgm.data() + std::size_t(i) * width);
        one.filterRow(i);
        one.backProject(i, region[0], region[1], region[2], region[3], offset);
    }
    QVERIFY(one.resultValid());
    QVERIFY(relDiff(one.result(), ref.data(), cells) < 1e-9);

    // Filtered rows by themselves.
    const std::vector<double> f0
        = directFilter(sgm.data(), n, perSlice ? double(n) : double(n) * m);
    QVERIFY(relDiff(k.filtered(0), f0.data(), std::size_t(n)) < 1e-9);

    // Nothing outside the inscribed circle or the region is written.
    const double h = n / 2.0;
    for (int z = 0; z < n; ++z)
        for (int x = 0; x < n; ++x) {
            const bool inCircle = std::sqrt((x - h) * (x - h) + (z - h) * (z - h)) < h;
            const bool inRegion = x >= std::trunc(region[0]) && x < region[2]
                && z >= std::trunc(region[1]) && z < region[3];
            if (!inCircle || !inRegion)
                QCOMPARE(k.resultAt(z, x), 0.0);
        }
}

void TestKernel::rowRoutinesAgree_data()
{
    QTest::addColumn<QString>("routine");
    QTest::newRow("avx512f") << "avx512f";
    QTest::newRow("avx2") << "avx2";
}

void TestKernel::rowRoutinesAgree()
{
    QFETCH(QString, routine);
    const BpRowAdd vec = routine == "avx512f" ? bpRowAddAvx512() : bpRowAddAvx2();
    if (!vec)
        QSKIP("this processor lacks the instructions of this routine");
    const BpRowAdd gen = bpRowAddGeneric();
    std::mt19937 rnd(7);
    std::uniform_real_distribution<double> val(-1.0, 1.0);
    for (int n : { 2, 6, 16, 50, 129 }) {
        // Padding holds NaN: a sum that touched it would show.
        const int front = 8, back = 24;
        std::vector<double> buf(
            std::size_t(front + n + back), std::numeric_limits<double>::quiet_NaN());
        for (int k = 0; k < n; ++k)
            buf[std::size_t(front + k)] = val(rnd);
        const double *f = buf.data() + front;
        const double h = n / 2.0;
        for (double th : { 0.0, 0.3, kPi / 2, 2.0, kPi, -0.7, 3 * kPi / 4 }) {
            const double c = std::cos(th), s = std::sin(th);
            for (int z = 0; z < n; ++z) {
                const double dzs = (z - h) * s;
                for (int xa = 0; xa < n; xa += 3) {
                    for (int xb = xa; xb < std::min(n, xa + 21); xb += 2) {
                        std::vector<double> a(std::size_t(n), 0.5), b(std::size_t(n), 0.5);
                        gen(a.data(), xa, xb, h, c, dzs, f, n);
                        vec(b.data(), xa, xb, h, c, dzs, f, n);
                        for (int x = 0; x < n; ++x) {
                            if (!(std::abs(a[x] - b[x]) <= 1e-12)) {
                                QFAIL(
                                    qPrintable(QString("n %1 th %2 z %3 span %4..%5 x %6: %7 vs %8")
                                                   .arg(n)
                                                   .arg(th)
                                                   .arg(z)
                                                   .arg(xa)
                                                   .arg(xb)
                                                   .arg(x)
                                                   .arg(a[x])
                                                   .arg(b[x])));
                            }
                        }
                    }
                }
            }
        }
    }
}

namespace {

struct Direction {
    double c, s;
};

// The formula for a block, row by row, projection after projection.
void formulaBlock(std::vector<double> &grid, int stride, int x0, int z0, const std::vector<int> &xa,
    const std::vector<int> &xb, const std::vector<Direction> &dirs,
    const std::vector<std::vector<double>> &fs, double h, int n)
{
    for (std::size_t i = 0; i < dirs.size(); ++i) {
        const double c = dirs[i].c, s = dirs[i].s;
        const double *f = fs[i].data();
        for (std::size_t r = 0; r < xa.size(); ++r) {
            const int z = z0 + int(r);
            for (int x = xa[r]; x <= xb[r]; ++x) {
                const double u = (x - h) * c - (z - h) * s + h;
                const double k = std::floor(u);
                if (k >= 0 && k < n - 1) {
                    const int kk = int(k);
                    grid[r * std::size_t(stride) + std::size_t(x - x0)]
                        += f[kk] + (u - k) * (f[kk + 1] - f[kk]);
                }
            }
        }
    }
}

// The grid by the formula from the kernel's own filtered rows.
Grid formulaFromFiltered(const BpKernel &k, const QVector<double> &region, double offsetDeg)
{
    const int n = k.n(), m = k.m();
    const double h = n / 2.0;
    Grid res(std::size_t(n) * n, 0.0);
    for (int i = 0; i < m; ++i) {
        const double th = offsetDeg * kPi / 180.0 + i * kPi / m;
        const double c = std::cos(th), s = std::sin(th);
        const double *f = k.filtered(i);
        for (int z = std::max(0, int(std::trunc(region[1]))); z < std::min(region[3], double(n));
             ++z)
            for (int x = std::max(0, int(std::trunc(region[0])));
                 x < std::min(region[2], double(n)); ++x) {
                if (!(std::sqrt((x - h) * (x - h) + (z - h) * (z - h)) < h))
                    continue;
                const double u = (x - h) * c - (z - h) * s + h;
                const int kk = int(std::floor(u));
                if (kk >= 0 && kk < n - 1)
                    res[std::size_t(z) * n + x] += f[kk] + (u - kk) * (f[kk + 1] - f[kk]);
            }
    }
    return res;
}

const BpRoutine kAllRoutines[]
    = { BpRoutine::Generic, BpRoutine::Avx2Gather, BpRoutine::Avx512Window, BpRoutine::Avx2Pairs };

} // namespace

void TestKernel::pairBlocksMatchFormula()
{
    // The pair routine on its own, for any n (odd ones too), any centre h
    // (including the detector's ends), directions with c exactly 0 and +-1 and
    // with u a hair off 0 or n - 1, blocks not at the grid's corner and
    // partial rows. Every pixel within 1e-12 of the formula; a pixel that gets
    // a projection the formula does not give it (or misses one) is off by at
    // least 0.5, since every sample lies in [0.5, 2].
    const BpTileAdd add = bpTileAddAvx2();
    if (!add)
        QSKIP("this processor lacks AVX2, FMA or BMI2, which the pair routine needs");
    std::mt19937 rnd(11);
    std::uniform_real_distribution<double> val(0.5, 2.0);
    const std::vector<Direction> dirs = { { 1, 0 }, { -1, 0 }, { 0, 1 }, { 0, -1 }, { 1, 1e-13 },
        { 1, -1e-13 }, { -1, 1e-13 }, { 1e-13, 1 }, { -1e-13, -1 }, { 1, 1e-16 },
        { std::cos(0.3), std::sin(0.3) }, { std::cos(2.0), std::sin(2.0) },
        { std::cos(-0.7), std::sin(-0.7) }, { std::cos(kPi / 2), std::sin(kPi / 2) },
        { std::cos(3 * kPi / 4), std::sin(3 * kPi / 4) } };
    std::vector<int> sizes;
    for (int n = 2; n <= 16; ++n)
        sizes.push_back(n);
    sizes.insert(sizes.end(), { 21, 50, 129, 300 });
    int blocks = 0;
    for (int n : sizes) {
        // Tables between NaN guards: a read outside a table would show.
        const std::size_t stride = bpPairsStride(n), guard = 16;
        std::vector<std::vector<double>> fs(dirs.size());
        std::vector<double> tables(
            (guard + stride) * dirs.size() + guard, std::numeric_limits<double>::quiet_NaN());
        for (std::size_t i = 0; i < dirs.size(); ++i) {
            fs[i].resize(std::size_t(n));
            for (double &v : fs[i])
                v = val(rnd);
            bpFillPairs(fs[i].data(), n, tables.data() + guard + i * (guard + stride));
        }
        for (double h : { n / 2.0, 0.0, double(n - 1), 0.5, n - 1.5 }) {
            for (std::size_t j = 0; j < dirs.size(); ++j) {
                // Three projections: one pass of two, then one alone.
                const std::size_t pick[3] = { j, (j + 5) % dirs.size(), (j + 9) % dirs.size() };
                std::vector<Direction> ds;
                std::vector<std::vector<double>> fsel;
                std::vector<BpProjection> proj;
                for (std::size_t p : pick) {
                    ds.push_back(dirs[p]);
                    fsel.push_back(fs[p]);
                    BpProjection bp;
                    bp.c = dirs[p].c;
                    bp.s = dirs[p].s;
                    bp.pairs = tables.data() + guard + p * (guard + stride);
                    proj.push_back(bp);
                }
                // The block: the whole n x n square, or a part of it away from the corner.
                const bool whole = j % 2 == 0;
                const int x0 = whole ? 0 : n / 3, z0 = whole ? 0 : n / 4;
                const int cols = std::min(n - x0, 128), rows = std::min(n - z0, 64);
                std::vector<int> xa(static_cast<std::size_t>(rows)),
                    xb(static_cast<std::size_t>(rows));
                for (int r = 0; r < rows; ++r) {
                    const int kind = int((r + j) % 4);
                    const int a = x0 + int(rnd() % unsigned(cols));
                    const int b = x0 + int(rnd() % unsigned(cols));
                    xa[std::size_t(r)] = kind == 0 ? x0 : std::min(a, b);
                    xb[std::size_t(r)] = kind == 0 ? x0 + cols - 1 : std::max(a, b);
                    if (kind == 3) // an empty row
                        std::swap(xa[std::size_t(r)], xb[std::size_t(r)]);
                    if (kind == 3 && xa[std::size_t(r)] == xb[std::size_t(r)])
                        xa[std::size_t(r)] = xb[std::size_t(r)] + 1;
                }
                const int gstride = cols + 3; // the columns beyond the block must stay
                std::vector<double> ref(std::size_t(gstride) * rows, 0.25);
                std::vector<double> got = ref;
                formulaBlock(ref, gstride, x0, z0, xa, xb, ds, fsel, h, n);
                BpTileRows t;
                t.base = got.data();
                t.stride = gstride;
                t.x0 = x0;
                t.z0 = z0;
                t.cols = cols;
                t.rows = rows;
                t.xa = xa.data();
                t.xb = xb.data();
                add(t, proj.data(), int(proj.size()), h, n);
                ++blocks;
                for (int r = 0; r < rows; ++r)
                    for (int x = 0; x < gstride; ++x) {
                        const double a = ref[std::size_t(r) * gstride + x];
                        const double b = got[std::size_t(r) * gstride + x];
                        if (!(std::abs(a - b) <= 1e-12 * 6.25))
                            QFAIL(qPrintable(
                                QString("n %1 h %2 directions %3 %4 %5 row %6 (%7..%8) x %9: "
                                        "%10 vs %11")
                                    .arg(n)
                                    .arg(h)
                                    .arg(pick[0])
                                    .arg(pick[1])
                                    .arg(pick[2])
                                    .arg(z0 + r)
                                    .arg(xa[std::size_t(r)])
                                    .arg(xb[std::size_t(r)])
                                    .arg(x0 + x)
                                    .arg(a, 0, 'g', 17)
                                    .arg(b, 0, 'g', 17)));
                    }
            }
        }
    }
    QCOMPARE(blocks, int(sizes.size()) * 5 * int(dirs.size()));
}

void TestKernel::routinesMatchFormula_data()
{
    QTest::addColumn<int>("routine");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("m");
    QTest::addColumn<double>("offset");
    QTest::addColumn<QVector<double>>("region");
    for (BpRoutine r : kAllRoutines) {
        const QString name = bpRoutineName(r);
        auto row = [&](const char *what, int width, int m, double offset, QVector<double> region) {
            QTest::newRow(qPrintable(name + ": " + what))
                << int(r) << width << m << offset << region;
        };
        // N from 2 to 16, and sizes that are no multiple of 4 or 8.
        for (int width = 3; width <= 17; width += 2)
            row(qPrintable(QString("N %1").arg(width - 1)), width, 5, 0.0, { 0, 0, 1e9, 1e9 });
        row("N 18, c = -1 first", 19, 4, 180.0, { 0, 0, 18, 18 });
        row("N 30, c = 0 first", 31, 7, 90.0, { 0, 0, 30, 30 });
        row("N 62, c = 0 first, other way", 63, 6, -90.0, { 0, 0, 62, 62 });
        row("N 130, one projection", 131, 1, 45.0, { 0, 0, 130, 130 });
        row("N 258, several blocks", 259, 13, 17.3, { 0, 0, 258, 258 });
        row("partial rows", 131, 9, -33.0, { 3.7, 5.2, 120.5, 127.9 });
        row("narrow column", 101, 8, 5.0, { 48, 0, 51, 100 });
        row("region touching the circle", 201, 10, 12.0, { 190, 90, 200, 110 });
        row("region beyond the grid", 141, 11, 270.0, { -10, -3.5, 1e6, 1e9 });
        row("one pixel", 65, 6, 30.0, { 40, 20, 40.5, 20.5 });
        row("empty region", 65, 6, 30.0, { 40, 20, 40, 60 });
    }
}

void TestKernel::routinesMatchFormula()
{
    QFETCH(int, routine);
    QFETCH(int, width);
    QFETCH(int, m);
    QFETCH(double, offset);
    QFETCH(QVector<double>, region);
    const BpRoutine r = BpRoutine(routine);
    if (!bpRoutineAvailable(r))
        QSKIP("this processor lacks the instructions of this routine");
    const std::vector<double> sgm = randomSinogram(width, m, unsigned(width * 7 + m));
    const int n = BpKernel::gridSizeFor(width);
    const std::size_t cells = std::size_t(n) * n;

    // At once, as a parallel calculator runs a slice.
    BpKernel k(BpNormalisation::Parallel);
    QVERIFY(k.setRoutine(r));
    QVERIFY(
        k.reconstruct(sgm.data(), width, m, region[0], region[1], region[2], region[3], offset));
    const Grid ref = formulaFromFiltered(k, region, offset);
    QVERIFY2(relDiff(k.result(), ref.data(), cells) < 1e-12,
        qPrintable(QString::number(relDiff(k.result(), ref.data(), cells))));
    // Pixels the formula leaves alone stay exactly 0 (every region has some).
    for (std::size_t i = 0; i < cells; ++i)
        if (ref[i] == 0.0)
            QCOMPARE(k.result()[i], 0.0);

    // Projection by projection, as the single-slice calculator steps.
    BpKernel one(BpNormalisation::Parallel);
    QVERIFY(one.setRoutine(r));
    QVERIFY(one.prepare(n, m));
    for (int i = 0; i < m; ++i) {
        one.transformRow(i, sgm.data() + std::size_t(i) * width);
        one.filterRow(i);
        one.backProject(i, region[0], region[1], region[2], region[3], offset);
    }
    QVERIFY2(relDiff(one.result(), ref.data(), cells) < 1e-12,
        qPrintable(QString::number(relDiff(one.result(), ref.data(), cells))));
}

void TestKernel::routinesAgreeOnCt1AndCt2()
{
    // The single-slice calculator (projection by projection, divided by N M)
    // and a parallel calculator (at once, divided by N) with every routine:
    // CT2 = M CT1, and every routine gives the plain loop's grid.
    const int width = 257, m = 90, n = 256;
    std::vector<double> sgm = diskSinogram(width, m, 150, 90, 20, 0.02);
    const std::vector<double> noise = randomSinogram(width, m, 3);
    for (std::size_t i = 0; i < sgm.size(); ++i)
        sgm[i] += 0.1 * noise[i];
    const std::size_t cells = std::size_t(n) * n;
    Grid plain;
    int run = 0;
    for (BpRoutine r : kAllRoutines) {
        if (!bpRoutineAvailable(r))
            continue;
        BpKernel ct1(BpNormalisation::SingleSlice), ct2(BpNormalisation::Parallel);
        QVERIFY(ct1.setRoutine(r) && ct2.setRoutine(r));
        QVERIFY(ct1.prepare(n, m));
        for (int i = 0; i < m; ++i) {
            ct1.transformRow(i, sgm.data() + std::size_t(i) * width);
            ct1.filterRow(i);
            ct1.backProject(i, 0, 0, n, n, 7.5);
        }
        QVERIFY(ct2.reconstruct(sgm.data(), width, m, 0, 0, n, n, 7.5));
        Grid scaled(ct1.result(), ct1.result() + cells);
        for (double &v : scaled)
            v *= m;
        QVERIFY2(relDiff(ct2.result(), scaled.data(), cells) < 1e-12, bpRoutineName(r));
        if (plain.empty())
            plain.assign(ct2.result(), ct2.result() + cells); // the plain loop comes first
        QVERIFY2(relDiff(ct2.result(), plain.data(), cells) < 1e-12, bpRoutineName(r));
        ++run;
    }
    QVERIFY(run >= 1);
}

void TestKernel::dispatchNamesItsRoutine()
{
    // The kernel starts with the fastest routine here and names it; a routine
    // this processor lacks is refused and changes nothing.
    BpKernel k;
    QCOMPARE(k.routine(), bpBestRoutine());
    const BpRoutine expected
        = bpRoutineAvailable(BpRoutine::Avx2Pairs) ? BpRoutine::Avx2Pairs : BpRoutine::Generic;
    QCOMPARE(bpBestRoutine(), expected);
    QCOMPARE(QString(bpRoutineName(expected)),
        QString(expected == BpRoutine::Avx2Pairs ? "avx2-pairs" : "generic"));
    for (BpRoutine r : kAllRoutines) {
        BpKernel other;
        QCOMPARE(other.setRoutine(r), bpRoutineAvailable(r));
        QCOMPARE(other.routine(), bpRoutineAvailable(r) ? r : bpBestRoutine());
    }
}

void TestKernel::diskReconstructsInPlace()
{
    const int width = 129, m = 180, n = 128;
    const double xp = 80, zp = 45, r = 4, mu = 0.01;
    const std::vector<double> sgm = diskSinogram(width, m, xp, zp, r, mu);
    BpKernel ct1(BpNormalisation::SingleSlice), ct2(BpNormalisation::Parallel);
    QVERIFY(ct1.reconstruct(sgm.data(), width, m, 0, 0, n, n, 0.0));
    QVERIFY(ct2.reconstruct(sgm.data(), width, m, 0, 0, n, n, 0.0));

    double cx = 0, cz = 0;
    brightCentre(ct2, cx, cz);
    QVERIFY2(std::abs(cx - xp) < 0.25 && std::abs(cz - zp) < 0.25,
        qPrintable(QString("disk centre at (%1, %2)").arg(cx).arg(cz)));

    // A parallel result is M times the single-slice one.
    std::vector<double> scaled(ct1.result(), ct1.result() + std::size_t(n) * n);
    for (double &v : scaled)
        v *= m;
    QVERIFY(relDiff(ct2.result(), scaled.data(), scaled.size()) < 1e-9);

    // Inside the disk the parallel value is about 2 M mu; far away about 0.
    double inside = 0;
    int count = 0;
    for (int z = 0; z < n; ++z)
        for (int x = 0; x < n; ++x)
            if (std::hypot(x - xp, z - zp) < r - 1.5) {
                inside += ct2.resultAt(z, x);
                ++count;
            }
    inside /= count;
    QVERIFY2(std::abs(inside / (2 * m * mu) - 1) < 0.15,
        qPrintable(QString("mean inside %1, expected about %2").arg(inside).arg(2 * m * mu)));
    QVERIFY(std::abs(ct2.resultAt(100, 30)) < 0.1 * 2 * m * mu);
    QVERIFY(ct2.scanResult());
    QVERIFY(ct2.resultMax() >= ct2.resultAt(int(zp), int(xp)));
    QVERIFY(ct2.resultMax() < 1.2 * 2 * m * mu);
    QVERIFY(ct2.resultMin() < 0.0); // the unpadded ramp leaves small negative ripples
}

void TestKernel::angleOffsetRotates()
{
    const int width = 129, m = 120, n = 128;
    const double xp = 80, zp = 45;
    const std::vector<double> sgm = diskSinogram(width, m, xp, zp, 4, 0.02);
    BpKernel a, b;
    QVERIFY(a.reconstruct(sgm.data(), width, m, 0, 0, n, n, 0.0));
    QVERIFY(b.reconstruct(sgm.data(), width, m, 0, 0, n, n, 90.0));
    // A quarter turn more maps pixel (x, z) of the plain result to (z, N - x).
    double cx = 0, cz = 0;
    brightCentre(b, cx, cz);
    QVERIFY2(std::abs(cx - zp) < 0.25 && std::abs(cz - (n - xp)) < 0.25,
        qPrintable(QString("disk centre at (%1, %2)").arg(cx).arg(cz)));
    double worst = 0;
    for (int z = 1; z < n; ++z)
        for (int x = 0; x < n; ++x)
            if (std::hypot(x - n / 2.0, z - n / 2.0) < n / 2.0 - 2)
                worst = std::max(worst, std::abs(b.resultAt(z, x) - a.resultAt(x, n - z)));
    a.scanResult();
    QVERIFY2(worst < 1e-9 * a.resultMax(), qPrintable(QString::number(worst)));
}

void TestKernel::quarterTurnProjection()
{
    // With 900 projections, projection 450 lies at 90 degrees.
    const int width = 65, m = 900, n = 64;
    const std::vector<double> row = randomSinogram(width, 1, 99);
    BpKernel a, b;
    QVERIFY(a.prepare(n, m));
    QVERIFY(b.prepare(n, m));
    a.transformRow(450, row.data());
    a.filterRow(450);
    a.backProject(450, 0, 0, n, n, 0.0);
    b.transformRow(0, row.data());
    b.filterRow(0);
    b.backProject(0, 0, 0, n, n, 90.0);
    QVERIFY(relDiff(a.result(), b.result(), std::size_t(n) * n) < 1e-9);
    QVERIFY(maxAbs(a.result(), std::size_t(n) * n) > 0);
}

void TestKernel::linearAndScaled()
{
    const int width = 97, m = 60, n = 96;
    const std::vector<double> s1 = diskSinogram(width, m, 30, 60, 6, 0.03);
    const std::vector<double> s2 = randomSinogram(width, m, 5);
    std::vector<double> mix(s1.size());
    for (std::size_t i = 0; i < mix.size(); ++i)
        mix[i] = 2.5 * s1[i] - 0.75 * s2[i];
    BpKernel k1(BpNormalisation::Parallel), k2(BpNormalisation::Parallel),
        km(BpNormalisation::Parallel);
    QVERIFY(k1.reconstruct(s1.data(), width, m, 0, 0, n, n, 12.0));
    QVERIFY(k2.reconstruct(s2.data(), width, m, 0, 0, n, n, 12.0));
    QVERIFY(km.reconstruct(mix.data(), width, m, 0, 0, n, n, 12.0));
    std::vector<double> expect(std::size_t(n) * n);
    for (std::size_t i = 0; i < expect.size(); ++i)
        expect[i] = 2.5 * k1.result()[i] - 0.75 * k2.result()[i];
    QVERIFY(relDiff(km.result(), expect.data(), expect.size()) < 1e-9);
}

void TestKernel::refusesImpossibleSizes()
{
    BpKernel k;
    for (auto nm : { std::pair<int, int> { 0, 5 }, { 3, 5 }, { -4, 5 }, { 4, 0 }, { 1, 1 } }) {
        QTest::ignoreMessage(QtDebugMsg,
            qPrintable(QString("Can't prepare the back-projection for these "
                               "sizes : N = %1, M = %2")
                           .arg(nm.first)
                           .arg(nm.second)));
        QVERIFY(!k.prepare(nm.first, nm.second));
        QVERIFY(!k.prepared());
        QVERIFY(k.result() == nullptr);
    }
    // An empty kernel ignores every step.
    const double row[4] = { 1, 2, 3, 4 };
    k.transformRow(0, row);
    k.filterRow(0);
    k.backProject(0, 0, 0, 4, 4, 0);
    k.backProjectAll(0, 0, 4, 4, 0);
    QVERIFY(!k.resultValid());
    QVERIFY(!k.scanResult());
    QVERIFY(k.filtered(0) == nullptr);
    // A sinogram of a single sample leaves no transform length.
    QTest::ignoreMessage(
        QtDebugMsg, "Can't prepare the back-projection for these sizes : N = 0, M = 3");
    QVERIFY(!k.reconstruct(row, 1, 3, 0, 0, 1, 1, 0));
    // Projection indexes outside 0 ... M-1 are ignored.
    QVERIFY(k.prepare(4, 2));
    k.transformRow(2, row);
    k.filterRow(-1);
    k.backProject(5, 0, 0, 4, 4, 0);
    QVERIFY(!k.resultValid());
    // An angle offset that is not a number adds nothing.
    k.transformRow(0, row);
    k.filterRow(0);
    QTest::ignoreMessage(QtDebugMsg, "Angle offset is not a finite number : nan");
    k.backProject(0, 0, 0, 4, 4, std::nan(""));
    QTest::ignoreMessage(QtDebugMsg, "Angle offset is not a finite number : inf");
    k.backProjectAll(0, 0, 4, 4, std::numeric_limits<double>::infinity());
    QVERIFY(!k.resultValid());
    QCOMPARE(maxAbs(k.result(), 16), 0.0);
}

void TestKernel::reusesAndResizes()
{
    const std::vector<double> big = randomSinogram(33, 8, 1);
    const std::vector<double> small = randomSinogram(17, 5, 2);
    BpKernel k;
    QVERIFY(k.reconstruct(big.data(), 33, 8, 0, 0, 32, 32, 0));
    const Grid refBig = directSlice(big, 33, 8, false, 0, 0, 32, 32, 0);
    QVERIFY(relDiff(k.result(), refBig.data(), refBig.size()) < 1e-9);
    // Another width and projection count: the kernel follows the sinogram.
    QVERIFY(k.reconstruct(small.data(), 17, 5, 0, 0, 16, 16, 0));
    QCOMPARE(k.n(), 16);
    QCOMPARE(k.m(), 5);
    const Grid refSmall = directSlice(small, 17, 5, false, 0, 0, 16, 16, 0);
    QVERIFY(relDiff(k.result(), refSmall.data(), refSmall.size()) < 1e-9);
    // The same sizes again: a second slice does not accumulate onto the first.
    QVERIFY(k.reconstruct(small.data(), 17, 5, 0, 0, 16, 16, 0));
    QVERIFY(relDiff(k.result(), refSmall.data(), refSmall.size()) < 1e-9);
    // ensurePrepared keeps the grid when the sizes match.
    QVERIFY(k.ensurePrepared(16, 5));
    QVERIFY(k.resultValid());
    QVERIFY(relDiff(k.result(), refSmall.data(), refSmall.size()) < 1e-9);
    k.clearResult();
    QVERIFY(!k.resultValid());
    QCOMPARE(maxAbs(k.result(), 256), 0.0);
}

void TestKernel::kernelsInThreads()
{
    // Several calculators prepare and run their kernels at the same time; each
    // gets the result it would get alone.
    struct Job {
        int width, m;
        std::vector<double> sgm;
        Grid alone;
        Grid together;
    };
    std::vector<Job> jobs;
    for (int t = 0; t < 4; ++t) {
        Job j { 65 + 32 * (t % 2), 40 + 7 * t, {}, {}, {} };
        j.sgm = diskSinogram(j.width, j.m, 20 + 5 * t, 30, 5, 0.02);
        BpKernel k(BpNormalisation::Parallel);
        k.reconstruct(j.sgm.data(), j.width, j.m, 0, 0, 1e9, 1e9, 3.0);
        j.alone.assign(k.result(), k.result() + std::size_t(k.n()) * k.n());
        jobs.push_back(std::move(j));
    }
    std::vector<std::thread> threads;
    for (Job &j : jobs)
        threads.emplace_back([&j] {
            BpKernel k(BpNormalisation::Parallel);
            for (int rep = 0; rep < 5; ++rep) {
                k.prepare(2 * (j.width / 2), j.m); // plans made again while others run
                k.reconstruct(j.sgm.data(), j.width, j.m, 0, 0, 1e9, 1e9, 3.0);
            }
            j.together.assign(k.result(), k.result() + std::size_t(k.n()) * k.n());
        });
    for (std::thread &t : threads)
        t.join();
    for (const Job &j : jobs) {
        QCOMPARE(j.together.size(), j.alone.size());
        QVERIFY(relDiff(j.together.data(), j.alone.data(), j.alone.size()) < 1e-12);
    }
}

void TestKernel::threadsShareTheGridExactly_data()
{
    QTest::addColumn<int>("routine");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("m");
    QTest::addColumn<QVector<double>>("region");
    const struct {
        const char *name;
        int width;
        int m;
        QVector<double> region;
    } cases[] = {
        { "1025x24 whole grid", 1025, 24, { 0, 0, 1024, 1024 } },
        { "301x31 whole grid", 301, 31, { 0, 0, 300, 300 } },
        { "257x600 many rows to filter", 257, 600, { 0, 0, 256, 256 } },
        { "300x17 fractional region", 300, 17, { 13.7, 40.2, 281.5, 266.9 } },
        { "602x9 rows across the circle's edge", 602, 9, { 0, 250, 601, 530 } },
        { "211x12 one block only", 211, 12, { 90, 90, 110, 110 } },
        { "9x5 tiny grid", 9, 5, { 0, 0, 8, 8 } },
    };
    for (BpRoutine r : kAllRoutines)
        for (const auto &c : cases)
            QTest::newRow(qPrintable(QString("%1, %2").arg(bpRoutineName(r), c.name)))
                << int(r) << c.width << c.m << c.region;
}

void TestKernel::threadsShareTheGridExactly()
{
    // The blocks of the grid are independent: whatever number of threads
    // shares them, every pixel gets bit for bit the one-thread value.
    QFETCH(int, routine);
    QFETCH(int, width);
    QFETCH(int, m);
    QFETCH(QVector<double>, region);
    const BpRoutine r = BpRoutine(routine);
    if (!bpRoutineAvailable(r))
        QSKIP("this processor lacks the instructions of this routine");
    const std::vector<double> sgm = randomSinogram(width, m, unsigned(width * 3 + m));
    const int n = BpKernel::gridSizeFor(width);
    const std::size_t cells = std::size_t(n) * n;

    BpKernel one(BpNormalisation::Parallel);
    QVERIFY(one.setRoutine(r));
    QCOMPARE(one.threads(), 1);
    QVERIFY(
        one.reconstruct(sgm.data(), width, m, region[0], region[1], region[2], region[3], 21.0));
    QVERIFY(maxAbs(one.result(), cells) > 0);

    // One kernel goes through several thread counts (its per-thread buffers
    // grow and shrink); more threads than blocks leave the extra ones out.
    BpKernel many(BpNormalisation::Parallel);
    QVERIFY(many.setRoutine(r));
    for (int t : { 2, 3, 4, 64, 2 }) {
        many.setThreads(t);
        QCOMPARE(many.threads(), t);
        QVERIFY(many.reconstruct(
            sgm.data(), width, m, region[0], region[1], region[2], region[3], 21.0));
        QVERIFY(many.resultValid());
        QVERIFY2(std::memcmp(many.result(), one.result(), cells * sizeof(double)) == 0,
            qPrintable(QString("%1 threads").arg(t)));
    }
    many.setThreads(0);
    QCOMPARE(many.threads(), 1);
}

VORLO_TEST(TestKernel)
#include "test_kernel.moc"
