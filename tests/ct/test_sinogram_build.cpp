// Building sinograms from an image stack: geometry of the centred grid, the
// attenuation with I0 and BG, refusals, and the geometry shared with the
// back-projection (a disk in the images reconstructs where it was).
#include "ct/bp_kernel.h"
#include "ct/h_sgm.h"
#include "image/img_data.h"
#include "image/img_datas.h"

#include "tests/test_registry.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <thread>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

// An ITEX file of w x h unsigned 32-bit pixels with value f(x, y), rounded.
bool writeItex32(const QString &path, int w, int h, const std::function<double(int, int)> &f)
{
    const QByteArray comment = QString("Prop_ImageWidth=%1,Prop_ImageHeight=%2,BytesPerPixel=4,")
                                   .arg(w)
                                   .arg(h)
                                   .toLatin1();
    QByteArray data(64, '\0');
    data[0] = 'I';
    data[1] = 'M';
    qToLittleEndian<quint16>(quint16(comment.size()), data.data() + 2);
    data += comment;
    QByteArray px(w * h * 4, '\0');
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            qToLittleEndian<quint32>(
                quint32(std::llround(std::max(0.0, f(x, y)))), px.data() + 4 * (y * w + x));
    data += px;
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

std::unique_ptr<ImgData> loadImage(const QString &path)
{
    std::unique_ptr<ImgData> img(createImgData(fileType(path)));
    if (!img)
        return img;
    img->setKeepInMemory(true);
    img->setFileName(path);
    if (!img->load())
        img.reset();
    return img;
}

// A stack of `count` images plus optional I0 and BG images, written into a
// temporary folder.
struct Fixture {
    QTemporaryDir dir;
    ImgDatas stack;
    std::unique_ptr<ImgData> i0;
    std::unique_ptr<ImgData> bg;

    Fixture()
    {
        stack.setI0Ref(&i0);
        stack.setBgRef(&bg);
    }
    bool addImages(int count, int w, int h, const std::function<double(int, int, int)> &f)
    {
        for (int k = 0; k < count; ++k) {
            const QString p = dir.filePath(QString("img%1.img").arg(k, 5, 10, QChar('0')));
            if (!writeItex32(p, w, h, [&](int x, int y) { return f(k, x, y); }) || !stack.add(p))
                return false;
        }
        return true;
    }
    std::unique_ptr<ImgData> image(
        const QString &name, int w, int h, const std::function<double(int, int)> &f)
    {
        const QString p = dir.filePath(name);
        return writeItex32(p, w, h, f) ? loadImage(p) : nullptr;
    }
};

// Counts the log lines written while it exists.
struct LogCounter {
    static int &count()
    {
        static int n = 0;
        return n;
    }
    QtMessageHandler previous;
    LogCounter()
    {
        count() = 0;
        previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext &, const QString &) { ++count(); });
    }
    ~LogCounter() { qInstallMessageHandler(previous); }
};

} // namespace

class TestSinogramBuild : public QObject {
    Q_OBJECT
private slots:
    void geometry_data();
    void geometry();
    void holderResize();
    void buildsRowsAndColumns_data();
    void buildsRowsAndColumns();
    void nonPositiveDifferences();
    void withoutI0AndBg();
    void refusals();
    void centreOutsideLeavesHolder();
    void diskReconstructsWhereItWas();
};

void TestSinogramBuild::geometry_data()
{
    QTest::addColumn<int>("nDet");
    QTest::addColumn<double>("cor");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("half");
    QTest::addColumn<int>("width");
    QTest::addColumn<double>("first"); // detector position of the first sample
    QTest::addColumn<double>("last");

    QTest::newRow("2048, cor 1023.5") << 2048 << 1023.5 << true << 1023 << 2045 << 1.5 << 2045.5;
    QTest::newRow("2048, cor 100") << 2048 << 100.0 << true << 100 << 199 << 1.0 << 199.0;
    QTest::newRow("2048, cor 1900.25")
        << 2048 << 1900.25 << true << 146 << 291 << 1755.25 << 2045.25;
    QTest::newRow("cor 0.7") << 2048 << 0.7 << false << 0 << 0 << 0.0 << 0.0;
    QTest::newRow("cor 2047.2") << 2048 << 2047.2 << false << 0 << 0 << 0.0 << 0.0;
    QTest::newRow("cor 2047") << 2048 << 2047.0 << true << 0 << -1 << 0.0 << 0.0;
    QTest::newRow("cor 1.0") << 2048 << 1.0 << true << 1 << 1 << 1.0 << 1.0;
    QTest::newRow("cor -3") << 2048 << -3.0 << false << 0 << 0 << 0.0 << 0.0;
    QTest::newRow("cor NaN") << 2048 << std::nan("") << false << 0 << 0 << 0.0 << 0.0;
    QTest::newRow("cor inf") << 2048 << std::numeric_limits<double>::infinity() << false << 0 << 0
                             << 0.0 << 0.0;
    QTest::newRow("empty detector") << 0 << 1.0 << false << 0 << 0 << 0.0 << 0.0;
}

void TestSinogramBuild::geometry()
{
    QFETCH(int, nDet);
    QFETCH(double, cor);
    QFETCH(bool, ok);
    QFETCH(int, half);
    QFETCH(int, width);
    QFETCH(double, first);
    QFETCH(double, last);

    CorGeometry g;
    g.width = 12345; // left unchanged on refusal
    QCOMPARE(CorGeometry::compute(true, cor, nDet, g), ok);
    if (!ok) {
        QCOMPARE(g.width, 12345);
        return;
    }
    QCOMPARE(g.half, half);
    QCOMPARE(g.width, width);
    QCOMPARE(g.corInt, int(std::floor(cor)));
    QCOMPARE(g.corFrac, cor - std::floor(cor));
    if (width <= 0)
        return;
    // A line whose value is its position, fenced with NaN: every sample lies at
    // its position and nothing outside the line is read.
    std::vector<double> buf(std::size_t(nDet) + 2, std::nan(""));
    for (int x = 0; x < nDet; ++x)
        buf[std::size_t(x) + 1] = x;
    std::vector<double> out(std::size_t(width), -1.0);
    resampleLine(buf.data() + 1, g, out.data());
    QCOMPARE(out.front(), first);
    QCOMPARE(out.back(), last);
    QCOMPARE(out[std::size_t(half - 1)], cor); // the centre is the middle sample
    for (int j = 1; j < width; ++j)
        QCOMPARE(out[std::size_t(j)] - out[std::size_t(j - 1)], 1.0);
}

void TestSinogramBuild::holderResize()
{
    HSgm h;
    QVERIFY(!h.built());
    QVERIFY(h.resize(3, 4));
    QVERIFY(h.built());
    QCOMPARE(h.width, 3);
    QCOMPARE(h.rows, 4);
    h.sgmRow(3)[2] = 7.0; // the last value belongs to the array
    for (auto wr : { std::pair<int, int> { 0, 4 }, { -1, 5 }, { 5, 0 } }) {
        QVERIFY(h.resize(wr.first, wr.second));
        QVERIFY(!h.built());
        QVERIFY(!h.sgm && !h.raw);
        QCOMPARE(h.width, wr.first);
        QCOMPARE(h.rows, wr.second);
    }
}

void TestSinogramBuild::buildsRowsAndColumns_data()
{
    QTest::addColumn<bool>("rotAxIsV");
    QTest::newRow("vertical axis: image rows") << true;
    QTest::newRow("horizontal axis: image columns") << false;
}

void TestSinogramBuild::buildsRowsAndColumns()
{
    QFETCH(bool, rotAxIsV);
    // 12 pixels across the axis, 5 along it; the value grows along the detector
    // line and differs per line and per projection.
    const int across = 12, along = 5;
    const int w = rotAxIsV ? across : along, h = rotAxIsV ? along : across;
    auto pos = [&](int x, int y) { return rotAxIsV ? x : y; };
    auto line = [&](int x, int y) { return rotAxIsV ? y : x; };
    Fixture fx;
    QVERIFY(fx.dir.isValid());
    QVERIFY(fx.addImages(
        4, w, h, [&](int k, int x, int y) { return 200 + 10 * k + 3 * pos(x, y) + line(x, y); }));
    fx.i0 = fx.image("i0.img", w, h, [&](int x, int y) { return 1000 + pos(x, y); });
    fx.bg = fx.image("bg.img", w, h, [](int, int) { return 50; });
    QVERIFY(fx.i0 && fx.bg);

    // The same holder for two slices: the second build of the same size
    // writes over the first one's arrays, every value of them.
    HSgm s;
    const double *arrays[2] = {};
    for (int slice : { 2, 4 }) {
        QVERIFY(genSinogram0(&s, &fx.stack, rotAxIsV, 5.5, slice));
        QCOMPARE(s.width, 9); // half 5: samples at 1.5 ... 9.5
        QCOMPARE(s.rows, 4);
        QCOMPARE(s.slice, slice);
        for (int k = 0; k < 4; ++k)
            for (int j = 0; j < 9; ++j) {
                const double p = 1.5 + j;
                const double raw = 200 + 10 * k + 3 * p + slice;
                QCOMPARE(s.rawRow(k)[j], raw);
                const double expect = std::log((1000 + p - 50) / (raw - 50));
                QVERIFY(std::abs(s.sgmRow(k)[j] - expect) < 1e-12);
            }
        if (slice == 2) {
            arrays[0] = s.sgm.get();
            arrays[1] = s.raw.get();
        }
    }
    QCOMPARE(s.sgm.get(), arrays[0]);
    QCOMPARE(s.raw.get(), arrays[1]);
    // Another centre, another width: the arrays are made again.
    QVERIFY(genSinogram0(&s, &fx.stack, rotAxIsV, 3.0, 1));
    QCOMPARE(s.width, 5);
    QCOMPARE(s.rawRow(3)[4], 200 + 10 * 3 + 3 * 5.0 + 1);
}

void TestSinogramBuild::nonPositiveDifferences()
{
    // Integer centre: samples are pixels 1 ... 9 unchanged.
    Fixture fx;
    QVERIFY(fx.addImages(2, 12, 3, [](int k, int x, int) {
        if (x == 4)
            return 80.0; // equal to BG
        if (x == 6)
            return 20.0; // below BG
        return 300.0 + k;
    }));
    fx.i0
        = fx.image("i0.img", 12, 3, [](int x, int) { return x == 2 ? 60 : (x == 3 ? 80 : 1080); });
    fx.bg = fx.image("bg.img", 12, 3, [](int, int) { return 80; });
    HSgm s;
    QVERIFY(genSinogram0(&s, &fx.stack, true, 5.0, 1));
    QCOMPARE(s.width, 9);
    for (int k = 0; k < 2; ++k) {
        const double *row = s.sgmRow(k);
        QCOMPARE(row[3], std::log(1000.0)); // pixel 4: I = BG, b -> 1
        QCOMPARE(row[5], std::log(1000.0)); // pixel 6: I < BG, b -> 1
        QCOMPARE(row[1], std::log(1.0 / (220.0 + k))); // pixel 2: I0 < BG, a -> 1
        QCOMPARE(row[2], std::log(1.0 / (220.0 + k))); // pixel 3: I0 = BG, a -> 1
        QCOMPARE(row[0], std::log(1000.0 / (220.0 + k)));
        for (int j = 0; j < s.width; ++j)
            QVERIFY(std::isfinite(row[j]));
    }
}

void TestSinogramBuild::withoutI0AndBg()
{
    Fixture fx;
    QVERIFY(fx.addImages(3, 10, 2, [](int k, int x, int) { return 100.0 * (k + 1) + x; }));
    HSgm s;
    QVERIFY(genSinogram0(&s, &fx.stack, true, 4.0, 0));
    QCOMPARE(s.width, 7);
    for (int k = 0; k < 3; ++k)
        for (int j = 0; j < 7; ++j)
            QCOMPARE(s.sgmRow(k)[j], std::log(1.0 / (100.0 * (k + 1) + 1 + j)));
}

void TestSinogramBuild::refusals()
{
    Fixture fx;
    QVERIFY(fx.addImages(3, 10, 4, [](int k, int x, int y) { return 100.0 + k + x + y; }));
    HSgm s;
    QVERIFY(genSinogram0(&s, &fx.stack, true, 4.0, 1));
    const double kept = s.sgmRow(2)[3];

    // Slices outside the image lines are not read; the holder stays as it was.
    QTest::ignoreMessage(QtDebugMsg, "Slice is out of the image lines : -1 not in 0 ... 3");
    QVERIFY(!genSinogram0(&s, &fx.stack, true, 4.0, -1));
    QTest::ignoreMessage(QtDebugMsg, "Slice is out of the image lines : 4 not in 0 ... 3");
    QVERIFY(!genSinogram0(&s, &fx.stack, true, 4.0, 4));
    // With the horizontal axis the lines are the 10 columns.
    QTest::ignoreMessage(QtDebugMsg, "Slice is out of the image lines : 10 not in 0 ... 9");
    QVERIFY(!genSinogram0(&s, &fx.stack, false, 2.0, 10));
    QCOMPARE(s.slice, 1);
    QCOMPARE(s.sgmRow(2)[3], kept);

    // An I0 image of another size is refused rather than read past its end.
    fx.i0 = fx.image("i0.img", 8, 4, [](int, int) { return 1000; });
    QVERIFY(fx.i0);
    QTest::ignoreMessage(QtDebugMsg,
        QRegularExpression("^Mismatch I0 image size : \"\\(8, 4\\) != \\(10, 4\\) :\""));
    QVERIFY(!genSinogram0(&s, &fx.stack, true, 4.0, 1));
    QCOMPARE(s.sgmRow(2)[3], kept);
    fx.i0.reset();
    fx.bg = fx.image("bg.img", 10, 3, [](int, int) { return 10; });
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Mismatch BG image size"));
    QVERIFY(!genSinogram0(&s, &fx.stack, true, 4.0, 1));
    QCOMPARE(s.sgmRow(2)[3], kept);

    QVERIFY(!genSinogram0(nullptr, &fx.stack, true, 4.0, 1));
    QVERIFY(!genSinogram0(&s, nullptr, true, 4.0, 1));
}

void TestSinogramBuild::centreOutsideLeavesHolder()
{
    Fixture fx;
    QVERIFY(fx.addImages(2, 10, 3, [](int k, int x, int) { return 100.0 + k + x; }));
    HSgm s;
    QVERIFY(genSinogram0(&s, &fx.stack, true, 4.5, 2));
    const double kept = s.rawRow(1)[0];
    {
        LogCounter log;
        for (double cor : { 0.7, 0.0, -2.0, 9.2, 10.0, 1e300, std::nan("") })
            QVERIFY(!genSinogram0(&s, &fx.stack, true, cor, 0));
        QCOMPARE(LogCounter::count(), 0); // an unusable centre is not an error
    }
    QVERIFY(s.built());
    QCOMPARE(s.slice, 2);
    QCOMPARE(s.rawRow(1)[0], kept);

    // A centre on the last pixel leaves no sample: the holder ends without arrays.
    QVERIFY(!genSinogram0(&s, &fx.stack, true, 9.0, 0));
    QVERIFY(!s.built());
    QCOMPARE(s.width, -1);
    // One sample at pixel 1.
    QVERIFY(genSinogram0(&s, &fx.stack, true, 1.0, 0));
    QCOMPARE(s.width, 1);
    QCOMPARE(s.rawRow(1)[0], 102.0);

    // An emptied stack keeps its size and gives no projections.
    fx.stack.clearImgs();
    QVERIFY(!genSinogram0(&s, &fx.stack, true, 4.5, 0));
    QVERIFY(!s.built());
    QCOMPARE(s.rows, 0);
}

void TestSinogramBuild::diskReconstructsWhereItWas()
{
    // A disk of attenuation mu per pixel, off the rotation axis, recorded in 90
    // projections over half a turn with the axis at detector position 32.5 of 66.
    const int nDet = 66, lines = 3, m = 90;
    const double cor = 32.5;
    const double i0 = 1.0e6, bg = 100.0, mu = 0.02, r = 5.0;
    const double dx = 9.0, dz = -6.0; // disk centre relative to the axis, grid pixels
    Fixture fx;
    QVERIFY(fx.addImages(m, nDet, lines, [&](int k, int x, int) {
        const double t = k * kPi / m;
        const double d = (x - cor) - (dx * std::cos(t) - dz * std::sin(t));
        const double p = std::abs(d) < r ? 2 * mu * std::sqrt(r * r - d * d) : 0.0;
        return bg + (i0 - bg) * std::exp(-p);
    }));
    fx.i0 = fx.image("i0.img", nDet, lines, [&](int, int) { return i0; });
    fx.bg = fx.image("bg.img", nDet, lines, [&](int, int) { return bg; });

    // Two builders at once read the same stack and agree.
    HSgm a, b;
    bool okA = false, okB = false;
    std::thread ta([&] { okA = genSinogram0(&a, &fx.stack, true, cor, 1); });
    std::thread tb([&] { okB = genSinogram0(&b, &fx.stack, true, cor, 1); });
    ta.join();
    tb.join();
    QVERIFY(okA && okB);
    QCOMPARE(a.width, 63);
    QCOMPARE(a.rows, m);
    for (int i = 0; i < a.width * a.rows; ++i)
        QCOMPARE(a.sgm[i], b.sgm[i]);

    BpKernel k(BpNormalisation::Parallel);
    QVERIFY(k.reconstruct(a.sgm.get(), a.width, a.rows, 0, 0, 1e9, 1e9, 0.0));
    QCOMPARE(k.n(), 62);
    const double h = k.n() / 2.0;
    double mx = 0;
    for (int z = 0; z < k.n(); ++z)
        for (int x = 0; x < k.n(); ++x)
            mx = std::max(mx, k.resultAt(z, x));
    double sx = 0, sz = 0, wsum = 0;
    for (int z = 0; z < k.n(); ++z)
        for (int x = 0; x < k.n(); ++x)
            if (k.resultAt(z, x) > mx / 2) {
                sx += x;
                sz += z;
                wsum += 1;
            }
    QVERIFY2(std::abs(sx / wsum - (h + dx)) < 0.3 && std::abs(sz / wsum - (h + dz)) < 0.3,
        qPrintable(QString("disk centre at (%1, %2)").arg(sx / wsum).arg(sz / wsum)));
    // The flat top is about 2 M mu.
    const double centre = k.resultAt(int(h + dz), int(h + dx));
    QVERIFY2(std::abs(centre / (2 * m * mu) - 1) < 0.15, qPrintable(QString::number(centre)));
}

VORLO_TEST(TestSinogramBuild)
#include "test_sinogram_build.moc"
