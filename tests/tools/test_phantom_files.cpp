// The files of a scan, read back through the program's own image reader and
// sinogram builder: sizes, pixel widths, counts, and attenuations.
#include "ct/h_sgm.h"
#include "tests/test_registry.h"
#include "tests/tools/phantom_fixture.h"
#include "tools/phantom_itex.h"
#include "tools/phantom_scan.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>

using phantomtest::loadImage;

namespace {

std::vector<double> pixels(const ImgData &img)
{
    std::vector<double> v(std::size_t(img.width()) * img.height());
    for (int y = 0; y < img.height(); ++y)
        img.row(y, v.data() + std::size_t(y) * img.width());
    return v;
}

} // namespace

class PhantomFilesTest : public QObject {
    Q_OBJECT

private slots:
    // Every file reads back with the scan's size and pixel width, and every
    // projection pixel holds BG + (I0 - BG) exp(-line integral) of the I0 and
    // BG pixels beside it, rounded to a whole count.
    void readBack_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("bpp");
        QTest::addColumn<double>("i0Counts");
        QTest::newRow("16-bit") << 64 << 6 << 2 << 32000.0;
        QTest::newRow("16-bit, odd width, one row") << 65 << 1 << 2 << 32000.0;
        QTest::newRow("16-bit, brightest accepted beam") << 48 << 4 << 2 << 43500.0;
        QTest::newRow("32-bit beyond 16 bits") << 64 << 5 << 4 << 3.0e6;
    }
    void readBack()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, bpp);
        QFETCH(double, i0Counts);
        ScanSettings s;
        s.width = width;
        s.height = height;
        s.bytesPerPixel = bpp;
        s.projections = 12;
        s.i0Counts = i0Counts;
        QVERIFY(PhantomScan::check(s).isEmpty());
        const PhantomScan scan(s);
        QTemporaryDir dir;
        QStringList files;
        QVERIFY(scan.writeScan(dir.path(), &files));
        QCOMPARE(files.size(), 14);
        QCOMPARE(files.at(0), dir.filePath("I0.img"));
        QCOMPARE(files.at(1), dir.filePath("BG.img"));
        QCOMPARE(files.at(2), dir.filePath("proj_00000.img"));
        QCOMPARE(files.last(), dir.filePath("proj_00011.img"));

        for (const QString &f : files) {
            QCOMPARE(fileType(f), ImgFileITEX);
            std::unique_ptr<ImgData> img = loadImage(f);
            QVERIFY2(img, qPrintable(f));
            QCOMPARE(img->width(), width);
            QCOMPARE(img->height(), height);
            QCOMPARE(static_cast<ImgDataITEX *>(img.get())->bytesPerPixel(), bpp);
        }

        const std::vector<double> i0 = pixels(*loadImage(files.at(0)));
        const std::vector<double> bg = pixels(*loadImage(files.at(1)));
        for (std::size_t k = 0; k < i0.size(); ++k) {
            QVERIFY(bg[k] >= 0.9 * s.bgCounts - 1 && bg[k] <= 1.1 * s.bgCounts + 1);
            // A gentle flat field: at least 70 % of the centre's counts everywhere.
            QVERIFY(i0[k] - bg[k] >= 0.7 * i0Counts && i0[k] - bg[k] <= i0Counts + 1);
            QVERIFY(i0[k] <= (bpp == 2 ? 65535.0 : 4294967295.0));
        }
        bool above16Bits = false;
        for (int i = 0; i < s.projections; i += 5) {
            const std::vector<double> proj = pixels(*loadImage(files.at(2 + i)));
            const std::vector<double> att = scan.attenuation(scan.phantom(), i);
            for (std::size_t k = 0; k < proj.size(); ++k) {
                const double expected
                    = std::floor(bg[k] + (i0[k] - bg[k]) * std::exp(-att[k]) + 0.5);
                QCOMPARE(proj[k], expected);
                above16Bits |= proj[k] > 65535;
            }
        }
        QCOMPARE(above16Bits, bpp == 4);
    }

    // The sinogram that the program builds from the files holds the line
    // integrals, up to the rounding of the counts; the projection at angle 0
    // and the one at 90 degrees tell x from z.
    void sinogramHoldsTheLineIntegrals()
    {
        ScanSettings s;
        s.width = 96;
        s.height = 8;
        s.projections = 24;
        const PhantomScan scan(s);
        QTemporaryDir dir;
        QStringList files;
        QVERIFY(scan.writeScan(dir.path(), &files));
        std::vector<std::unique_ptr<ImgData>> images;
        std::vector<const ImgData *> raw;
        for (int i = 2; i < files.size(); ++i) {
            images.push_back(loadImage(files.at(i)));
            raw.push_back(images.back().get());
        }
        const std::unique_ptr<ImgData> i0 = loadImage(files.at(0));
        const std::unique_ptr<ImgData> bg = loadImage(files.at(1));
        const int row = 4;
        HSgm sgm;
        // An integral centre: the sinogram samples fall on detector pixels.
        QVERIFY(genSinogram0(&sgm, s.width, s.height, raw.data(), int(raw.size()), i0.get(),
            bg.get(), true, scan.cor(), row));
        const int half = (sgm.width + 1) / 2;
        double largest = 0;
        for (int k = 0; k < sgm.rows; ++k) {
            const std::vector<double> att = scan.attenuation(scan.phantom(), k);
            for (int j = 0; j < sgm.width; ++j) {
                const int u = int(scan.cor()) - half + 1 + j;
                const double a = att[std::size_t(row) * s.width + u];
                const double transmitted = s.i0Counts * 0.7 * std::exp(-a);
                QVERIFY2(std::abs(sgm.sgmRow(k)[j] - a) < 0.6 / transmitted + 1e-6,
                    qPrintable(QStringLiteral("projection %1, sample %2: %3 against %4")
                                   .arg(k)
                                   .arg(j)
                                   .arg(sgm.sgmRow(k)[j])
                                   .arg(a)));
                largest = std::max(largest, a);
            }
        }
        QVERIFY(largest > 1.0);

        // At angle 0 the beam runs along z: the body (0.8 R across x) casts a
        // shadow of 0.8 R on either side of the axis; at 90 degrees it runs
        // along x and the shadow spans the body's 0.7 R along z.
        const double r = scan.fieldRadius();
        const double y = row - 0.5 * (s.height - 1);
        const Phantom &p = scan.phantom();
        QVERIFY(p.lineIntegral(0.78 * r, y, 0.0) > 0);
        QCOMPARE(p.lineIntegral(0.72 * r, y, M_PI / 2), 0.0);
        QVERIFY(p.lineIntegral(0.68 * r, y, M_PI / 2) > 0);
    }

    // Counting noise: the same seed gives the same images, another seed other
    // ones, and the spread of the flat field is that of Poisson statistics.
    void noise()
    {
        ScanSettings s;
        s.width = 64;
        s.height = 16;
        s.projections = 2;
        s.noise = true;
        QTemporaryDir a, b, c;
        QVERIFY(PhantomScan(s).writeScan(a.path(), nullptr));
        QVERIFY(PhantomScan(s).writeScan(b.path(), nullptr));
        s.seed = 2;
        QVERIFY(PhantomScan(s).writeScan(c.path(), nullptr));
        const auto read = [](const QTemporaryDir &d, const char *name) {
            return pixels(*loadImage(d.filePath(QLatin1String(name))));
        };
        QVERIFY(read(a, "proj_00001.img") == read(b, "proj_00001.img"));
        QVERIFY(read(a, "proj_00001.img") != read(c, "proj_00001.img"));

        const std::vector<double> noisy = read(a, "I0.img");
        const std::vector<double> expected = PhantomScan(s).flatField();
        double mean = 0, var = 0;
        for (std::size_t k = 0; k < noisy.size(); ++k) {
            const double d = noisy[k] - expected[k];
            mean += d;
            var += d * d / expected[k];
        }
        mean /= noisy.size();
        var /= noisy.size();
        // 1024 pixels of about 30000 counts: the mean difference is a few
        // counts at most, the variance relative to the count close to 1.
        QVERIFY2(std::abs(mean) < 25, qPrintable(QString::number(mean)));
        QVERIFY2(var > 0.8 && var < 1.2, qPrintable(QString::number(var)));
        // Noisy projections are not the rounded expectation.
        int differing = 0;
        const std::vector<double> p0 = read(a, "proj_00000.img");
        s.noise = false;
        QTemporaryDir quiet;
        QVERIFY(PhantomScan(s).writeScan(quiet.path(), nullptr));
        const std::vector<double> q0 = read(quiet, "proj_00000.img");
        for (std::size_t k = 0; k < p0.size(); ++k)
            differing += p0[k] != q0[k];
        QVERIFY(differing > int(p0.size()) / 2);
    }

    // The header as the reader sees it, and what the writer refuses.
    void itexLayout()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("one.img");
        std::vector<double> counts { 0, 1, 2.4999, 2.5, -7, 70000, NAN, 65535 };
        QVERIFY(writeItexImage(path, 4, 2, 2, counts, { "Note=\"a, b\"" }));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        QCOMPARE(bytes.left(2), QByteArray("IM"));
        const int length = uchar(bytes[2]) | (uchar(bytes[3]) << 8);
        const QByteArray comment = bytes.mid(64, length);
        QVERIFY(comment.startsWith("Prop_ImageWidth=4,Prop_ImageHeight=2,BytesPerPixel=2,"));
        QVERIFY(comment.endsWith(','));
        QCOMPARE(bytes.size(), 64 + length + 4 * 2 * 2);
        const std::unique_ptr<ImgData> img = loadImage(path);
        QVERIFY(img);
        QCOMPARE(static_cast<ImgDataITEX *>(img.get())->dataOffset(), 64 + length);
        const std::vector<double> back = pixels(*img);
        const std::vector<double> want { 0, 1, 2, 3, 0, 65535, 0, 65535 };
        QVERIFY(back == want);

        QTest::ignoreMessage(
            QtDebugMsg, QRegularExpression("^Can not write ITEX image of this size"));
        QVERIFY(!writeItexImage(dir.filePath("bad.img"), 4, 2, 2, { 1, 2, 3 }));
        QTest::ignoreMessage(
            QtDebugMsg, QRegularExpression("^Can not write ITEX image of this size"));
        QVERIFY(!writeItexImage(dir.filePath("bad.img"), 4, 2, 3, counts));
        QVERIFY(!QFile::exists(dir.filePath("bad.img")));
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Can not write ITEX image :"));
        QVERIFY(!writeItexImage(dir.filePath("missing/dir/x.img"), 4, 2, 2, counts));
    }

    // A scan that cannot be written stops with a log line and leaves what
    // was there before untouched.
    void unwritableDirectory()
    {
        QTemporaryDir dir;
        const QString blocker = dir.filePath("file");
        QFile f(blocker);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("keep");
        f.close();
        ScanSettings s;
        s.width = 32;
        s.height = 2;
        s.projections = 2;
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Can not make the scan directory"));
        QStringList written;
        QVERIFY(!PhantomScan(s).writeScan(blocker + "/scan", &written));
        QVERIFY(written.isEmpty());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("keep"));

        // Settings that were never checked are refused before anything is made.
        s.height = -5;
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Refused scan settings : height"));
        QVERIFY(!PhantomScan(s).writeScan(dir.filePath("neg"), &written));
        XafsSettings x;
        x.sample.clear();
        s.height = 2;
        QTest::ignoreMessage(
            QtDebugMsg, QRegularExpression("^Refused measurement settings : the sample"));
        QVERIFY(!PhantomScan(s).writeXafs(x, dir.filePath("neg"), &written));
        QVERIFY(written.isEmpty());
        QVERIFY(!QFileInfo::exists(dir.filePath("neg")));
    }
};

VORLO_TEST(PhantomFilesTest)
#include "test_phantom_files.moc"
