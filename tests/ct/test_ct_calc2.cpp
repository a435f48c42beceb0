#include "ct/bp_kernel.h"
#include "ct/ct_calc2.h"
#include "ct/ct_calc2_ui.h"
#include "ct/data_saver.h"
#include "ct/h_sgm.h"
#include "ct/range_dispatch.h"
#include "display/img_disp_wpv.h"
#include "image/img_datas.h"
#include "tests/test_registry.h"
#include "util/tsan_handoff.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QtEndian>
#include <cmath>
#include <cstring>
#include <memory>
#include <tiffio.h>
#include <vector>

namespace {

// A synthetic scan: W pixels across the vertical rotation axis (at pixel cor),
// H image rows (slices), M projections over half a turn. Row y holds a centred
// disk of radius 20 and attenuation mu(y) per pixel, and from row 1 on also a
// small disk of radius 5 and attenuation 0.05 at 10 pixels from the axis, so
// the projections change with the angle. I = 60000 exp(-p), no I0 and no BG:
// the sinogram is p - ln 60000, whose constant the ramp filter removes.
constexpr int W = 65;
constexpr int H = 4;
constexpr int M = 60;
constexpr double Cor = 32.0;

double muOfRow(int y) { return 0.02 * (1 + y); }

double chord(double t, double r) { return t * t < r * r ? 2.0 * std::sqrt(r * r - t * t) : 0.0; }

void writeItex(const QString &path, int w, int h, const std::vector<quint16> &pix)
{
    const QByteArray comment
        = QStringLiteral("Prop_ImageWidth=%1,Prop_ImageHeight=%2,BytesPerPixel=2")
              .arg(w)
              .arg(h)
              .toLatin1();
    QByteArray head(64, '\0');
    head[0] = 'I';
    head[1] = 'M';
    qToLittleEndian<quint16>(quint16(comment.size()), head.data() + 2);
    QByteArray body(int(pix.size()) * 2, '\0');
    for (size_t i = 0; i < pix.size(); ++i)
        qToLittleEndian<quint16>(pix[i], body.data() + 2 * i);
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(head + comment + body);
}

struct Scan {
    QTemporaryDir dir;
    ImgDatas stack;

    Scan()
    {
        for (int k = 0; k < M; ++k) {
            const double c = std::cos(k * M_PI / M);
            std::vector<quint16> pix(size_t(W) * H);
            for (int y = 0; y < H; ++y)
                for (int x = 0; x < W; ++x) {
                    const double t = x - Cor;
                    double p = muOfRow(y) * chord(t, 20.0);
                    if (y > 0)
                        p += 0.05 * chord(t - 10.0 * c, 5.0);
                    pix[size_t(y) * W + x] = quint16(std::lround(60000.0 * std::exp(-p)));
                }
            const QString path = dir.filePath(QString::asprintf("p%04d.img", k));
            writeItex(path, W, H, pix);
            stack.add(path);
        }
    }
};

// One calculator in a thread of its own, as the main window holds it.
struct Worker {
    QThread thread;
    CtCalc2 *calc = new CtCalc2;
    Worker(const ImgDatas *stack, CtRunParams p = CtRunParams())
    {
        calc->setImgDatas(stack);
        calc->setRunParams(p);
        calc->moveToThread(&thread);
        thread.start();
        releaseAtThreadEnd(&thread);
    }
    ~Worker()
    {
        thread.quit();
        waitForThreadEnd(&thread);
        delete calc;
    }
};

// Re-emits a worker's signals in the test's thread, so that QSignalSpy::wait
// sees them only while it waits, never before. A spy put directly on a
// worker's signal would append to its list in the worker's thread while the
// test reads it: every spy on a calculator goes through a relay.
class Relay : public QObject {
    Q_OBJECT
signals:
    void fired();
    void record(SavingData *data);
    void image(SavingImg *img);
    void tiff(SavingTiff *tiff);
    void region(double x0, double z0, double x1, double z1);
    void shown(QImage img);
    void value(double v);
    void failed(int slice, QString why);
};

// Runs one slice on a worker and waits for its report.
bool runSlice(Worker &w, double cor, int slice, bool show = true)
{
    Relay relay;
    QObject::connect(w.calc, &CtCalc2::calcFinished, &relay, &Relay::fired, Qt::QueuedConnection);
    QSignalSpy done(&relay, &Relay::fired);
    // Called from here, the calculator queues the request into its own thread.
    w.calc->startCt(w.calc, true, cor, slice, show);
    return done.wait(10000) && done.count() == 1;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A range run over the scan's rows with `count` calculators and a writer,
// every slice saved as a data file into `out`; returns when all files are written.
bool rangeRun(const ImgDatas &stack, int count, const QString &out)
{
    CtRunParams p;
    p.calcCt2 = true;
    p.autoExec = true;
    p.sliceFrom = 0;
    p.sliceTo = H - 1;
    p.sliceStep = 1;
    p.threads = count;
    p.cor = Cor;
    p.rotAxIsV = true;

    QThread saverThread;
    auto *saver = new DataSaver;
    saver->moveToThread(&saverThread);
    saverThread.start();
    releaseAtThreadEnd(&saverThread);

    std::vector<std::unique_ptr<Worker>> workers;
    RangeDispatch dispatch;
    dispatch.setCalculatorCount(count);
    for (int i = 0; i < count; ++i) {
        workers.push_back(std::make_unique<Worker>(&stack, p));
        CtCalc2 *c = workers.back()->calc;
        c->setSaveData(true, out, "ct", "E1");
        QObject::connect(c, &CtCalc2::saveDataWDiscard, saver, &DataSaver::saveDataWDiscard);
        QObject::connect(
            c, &CtCalc2::calcFinished, &dispatch, [&dispatch, i] { dispatch.calcFinished(i); });
    }
    QObject::connect(&dispatch, &RangeDispatch::startCt, &dispatch,
        [&workers](int i, bool v, double cor, int slice, bool show) {
            CtCalc2 *c = workers[size_t(i)]->calc;
            c->startCt(c, v, cor, slice, show);
        });
    QSignalSpy finished(&dispatch, &RangeDispatch::finished);
    dispatch.startRange(p, false);

    const bool ok = finished.wait(20000);
    // The writer's queue drains before it stops.
    postHandOffCallInThread(&saverThread, [] { QThread::currentThread()->quit(); });
    waitForThreadEnd(&saverThread);
    delete saver;
    return ok;
}

} // namespace

class TestCtCalc2 : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void diskReconstructsToItsAttenuation();
    void resultIsMTimesSingleSliceResult();
    void unbuildableSliceStillReportsFinished();
    void otherCalculatorsIgnoreTheRequest();
    void kernelFollowsTheSinogramSize();
    void imagesOnlyWhenShownOrSaved();
    void dataRecordCarriesRegionLimitsAndOffset();
    void tiffFileHoldsTheGridBitForBit();
    void rangeRunSameWhateverTheCalculatorCount();
    void panelFollowsItsCalculator();
    void panelColourBarAndReadout();

private:
    std::unique_ptr<Scan> scan;
};

void TestCtCalc2::initTestCase()
{
    scan = std::make_unique<Scan>();
    QCOMPARE(scan->stack.count(), M);
    QCOMPARE(scan->stack.size(), QSize(W, H));
}

void TestCtCalc2::diskReconstructsToItsAttenuation()
{
    Worker w(&scan->stack);
    QVERIFY(runSlice(w, Cor, 0));
    // cor 32 on 65 pixels: half 32, width 63, N 62, axis at (31, 31).
    QCOMPARE(w.calc->gridSize(), 62);
    QCOMPARE(w.calc->projections(), M);
    QCOMPARE(w.calc->resultSlice(), 0);
    const double *g = w.calc->result();
    QVERIFY(g);
    // Filtered back-projection: f = integral over half a turn of the ramp-filtered
    // projection, ramp |nu| in cycles per pixel. The kernel's ramp is
    // |k| 2pi / N = 2pi |nu| and it sums M projections instead of weighting them
    // by pi / M, so a value of mu becomes 2 M mu. Without zero padding the
    // periodic filter lowers the whole circle by a constant, so compare the
    // disk with the empty ring around it.
    const double expected = 2.0 * M * muOfRow(0);
    double inside = 0, ring = 0;
    int nIn = 0, nRing = 0;
    for (int z = 0; z < 62; ++z)
        for (int x = 0; x < 62; ++x) {
            const double r = std::hypot(x - 31.0, z - 31.0);
            const double v = g[z * 62 + x];
            if (r < 12) {
                inside += v;
                ++nIn;
            } else if (r > 23 && r < 29) {
                ring += v;
                ++nRing;
            } else if (r >= 31) { // outside the reconstructed circle
                QCOMPARE(v, 0.0);
            }
        }
    const double contrast = inside / nIn - ring / nRing;
    QVERIFY2(std::abs(contrast - expected) < 0.06 * expected,
        qPrintable(QString("contrast %1, expected %2").arg(contrast).arg(expected)));
    // The disk is flat: the centre region varies little around its mean.
    double spread = 0;
    for (int z = 27; z < 36; ++z)
        for (int x = 27; x < 36; ++x)
            spread = std::max(spread, std::abs(g[z * 62 + x] - inside / nIn));
    QVERIFY2(spread < 0.05 * expected, qPrintable(QString::number(spread)));
}

void TestCtCalc2::resultIsMTimesSingleSliceResult()
{
    CtRunParams p;
    p.angleOffset = 7.5;
    Worker w(&scan->stack, p);
    QVERIFY(runSlice(w, Cor, 2));

    HSgm sgm;
    QVERIFY(genSinogram0(&sgm, &scan->stack, true, Cor, 2));
    BpKernel single(BpNormalisation::SingleSlice);
    QVERIFY(single.reconstruct(sgm.sgm.get(), sgm.width, sgm.rows, 0, 0, 62, 62, 7.5));
    const double *a = w.calc->result();
    const double *b = single.result();
    double maxAbs = 0;
    for (int i = 0; i < 62 * 62; ++i)
        maxAbs = std::max(maxAbs, std::abs(b[i]));
    QVERIFY(maxAbs > 0);
    for (int i = 0; i < 62 * 62; ++i)
        QVERIFY2(std::abs(a[i] - M * b[i]) <= 1e-9 * M * maxAbs, qPrintable(QString::number(i)));
}

void TestCtCalc2::unbuildableSliceStillReportsFinished()
{
    Worker w(&scan->stack);
    w.calc->setSaveData(true, scan->dir.path(), "bad", "x");
    Relay relay;
    connect(w.calc, &CtCalc2::saveDataWDiscard, &relay, &Relay::record, Qt::QueuedConnection);
    QSignalSpy records(&relay, &Relay::record);
    // Each slice that yields nothing is logged with its slice and reason and
    // announced (before the end of the slice, which follows all the same).
    connect(w.calc, &CtCalc2::sliceFailed, &relay, &Relay::failed, Qt::QueuedConnection);
    QSignalSpy failed(&relay, &Relay::failed);
    // Centre outside the detector: no sinogram.
    QTest::ignoreMessage(
        QtDebugMsg, "Slice 00000 not reconstructed : no sinogram for the centre 0.5");
    QVERIFY(runSlice(w, 0.5, 0));
    QTest::ignoreMessage(
        QtDebugMsg, "Slice 00000 not reconstructed : no sinogram for the centre 64.5");
    QVERIFY(runSlice(w, 64.5, 0));
    // A slice beyond the image lines is refused by the sinogram builder.
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(".*"));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Slice .* not reconstructed"));
    QVERIFY(runSlice(w, Cor, H + 3));
    // A centre 1.5 pixels from the edge: a sinogram 1 pixel wide.
    QTest::ignoreMessage(QtDebugMsg,
        "Slice 00002 not reconstructed : the sinogram of the centre 1.5 is 1 pixel wide");
    QVERIFY(runSlice(w, 1.5, 2));
    QVERIFY(!w.calc->hasResult());
    QCOMPARE(records.count(), 0);
    QVERIFY(!w.calc->isBusy());
    QCOMPARE(failed.count(), 4);
    QCOMPARE(failed.at(3).at(0).toInt(), 2);

    // A good slice after them, then a bad one: the good result stays as it was.
    QVERIFY(runSlice(w, Cor, 1));
    QCOMPARE(records.count(), 1);
    QCOMPARE(failed.count(), 4);
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Slice 00003 not reconstructed"));
    QVERIFY(runSlice(w, 0.5, 3));
    QCOMPARE(records.count(), 1);
    QCOMPARE(failed.count(), 5);
    QCOMPARE(w.calc->resultSlice(), 1);
    for (QVariantList args : records)
        delete args.at(0).value<SavingData *>();
}

void TestCtCalc2::otherCalculatorsIgnoreTheRequest()
{
    Worker a(&scan->stack), b(&scan->stack);
    Relay relayA, relayB;
    connect(a.calc, &CtCalc2::calcFinished, &relayA, &Relay::fired, Qt::QueuedConnection);
    connect(b.calc, &CtCalc2::calcFinished, &relayB, &Relay::fired, Qt::QueuedConnection);
    QSignalSpy doneA(&relayA, &Relay::fired);
    QSignalSpy doneB(&relayB, &Relay::fired);
    // The main window's request goes to every calculator; only b acts.
    for (Worker *w : { &a, &b }) {
        CtCalc2 *target = b.calc;
        w->calc->startCt(target, true, Cor, 0);
    }
    QVERIFY(doneB.wait(10000));
    QTest::qWait(50);
    QCOMPARE(doneA.count(), 0);
    QCOMPARE(doneB.count(), 1);
    QVERIFY(!a.calc->hasResult());
    QVERIFY(b.calc->hasResult());
}

void TestCtCalc2::kernelFollowsTheSinogramSize()
{
    Worker w(&scan->stack);
    Relay relay;
    connect(w.calc, &CtCalc2::calcRegionDefaulted, &relay, &Relay::region, Qt::QueuedConnection);
    QSignalSpy defaulted(&relay, &Relay::region);
    // Prepared for another size before the run, as a range run does.
    w.calc->prepare(100, 10);
    QVERIFY(runSlice(w, Cor, 0));
    QCOMPARE(w.calc->bpKernel().n(), 62);
    QCOMPARE(w.calc->bpKernel().m(), M);
    // A centre of 20.5: half 20, width 39, N 38; the region stays the first one.
    QVERIFY(runSlice(w, 20.5, 0));
    QCOMPARE(w.calc->gridSize(), 38);
    QCOMPARE(w.calc->bpKernel().n(), 38);
    QCOMPARE(defaulted.count(), 1);
    QCOMPARE(defaulted.at(0).at(2).toDouble(), 62.0);
    double x0, z0, x1, z1;
    w.calc->calcRegion(x0, z0, x1, z1);
    QCOMPARE(x1, 62.0);
    QVERIFY(w.calc->calcRegionSet());
}

void TestCtCalc2::imagesOnlyWhenShownOrSaved()
{
    QTemporaryDir out;
    Worker w(&scan->stack);
    Relay relay;
    connect(w.calc, &CtCalc2::resultImageBuilt, &relay, &Relay::shown, Qt::QueuedConnection);
    connect(w.calc, &CtCalc2::saveImgWDiscard, &relay, &Relay::image, Qt::QueuedConnection);
    QSignalSpy shown(&relay, &Relay::shown);
    QSignalSpy images(&relay, &Relay::image);

    QVERIFY(runSlice(w, Cor, 1, false));
    QVERIFY(w.calc->hasResult());
    QVERIFY(!w.calc->isImageReady());
    QCOMPARE(shown.count(), 0);

    w.calc->setSaveImage(true, out.path(), "ct", "t");
    QVERIFY(runSlice(w, Cor, 1, false));
    QVERIFY(w.calc->isImageReady());
    QCOMPARE(shown.count(), 0);
    QCOMPARE(images.count(), 1);
    std::unique_ptr<SavingImg> rec(images.at(0).at(0).value<SavingImg *>());
    QCOMPARE(rec->slice, QString("00001"));
    QCOMPARE(rec->img.size(), QSize(62, 62));
    QCOMPARE(rec->img.format(), QImage::Format_Grayscale8);
    // The range of the grid maps onto the grey levels: both ends are used.
    int lo = 255, hi = 0;
    for (int z = 0; z < 62; ++z)
        for (int x = 0; x < 62; ++x) {
            lo = std::min(lo, int(rec->img.constScanLine(z)[x]));
            hi = std::max(hi, int(rec->img.constScanLine(z)[x]));
        }
    QCOMPARE(lo, 0);
    QCOMPARE(hi, 255);

    w.calc->setSaveImage(false, QString(), QString(), QString());
    QVERIFY(runSlice(w, Cor, 1, true));
    QCOMPARE(shown.count(), 1);
    QCOMPARE(images.count(), 1);
}

void TestCtCalc2::tiffFileHoldsTheGridBitForBit()
{
    QTemporaryDir out;
    Worker w(&scan->stack);
    // A region smaller than the grid: the file still covers the whole grid,
    // zero outside the region, as the calculator leaves it.
    w.calc->setCalcRegion(5, 5, 57, 50, true);
    w.calc->setSaveTiff(true, out.path(), "ct", "E9000");
    Relay relay;
    connect(w.calc, &CtCalc2::saveTiffWDiscard, &relay, &Relay::tiff, Qt::QueuedConnection);
    QSignalSpy records(&relay, &Relay::tiff);
    QVERIFY(runSlice(w, Cor, 2, false));
    QCOMPARE(records.count(), 1);
    DataSaver saver;
    saver.saveTiffWDiscard(records.at(0).at(0).value<SavingTiff *>());

    const QString file = out.filePath("ct-E9000-00002.tif");
    TIFF *tif = TIFFOpen(QFile::encodeName(file).constData(), "r");
    QVERIFY(tif);
    quint32 width = 0, height = 0;
    quint16 bits = 0, format = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetField(tif, TIFFTAG_SAMPLEFORMAT, &format);
    std::vector<float> back(size_t(width) * height);
    bool read = width == 62 && height == 62 && bits == 32 && format == SAMPLEFORMAT_IEEEFP;
    for (quint32 y = 0; read && y < height; ++y)
        read = TIFFReadScanline(tif, back.data() + size_t(y) * width, y) >= 0;
    TIFFClose(tif);
    QVERIFY(read);

    // The calculator is idle and nothing is queued to it: its grid may be read.
    const double *g = w.calc->result();
    int inside = 0;
    for (int i = 0; i < 62 * 62; ++i) {
        const float want = float(g[i]);
        QVERIFY2(
            std::memcmp(&back[size_t(i)], &want, sizeof want) == 0, qPrintable(QString::number(i)));
        const int x = i % 62, z = i / 62;
        if (x < 5 || z < 5 || x >= 57 || z >= 50)
            QCOMPARE(back[size_t(i)], 0.0f);
        else
            inside += back[size_t(i)] != 0.0f;
    }
    QVERIFY(inside > 52 * 45 / 2);
    // The disk (radius 20, 0.06 per pixel) stands 2 M mu above the empty ring
    // around it, as in the calculator's own test.
    const double ring = (back[31 * 62 + 7] + back[31 * 62 + 55]) / 2.0;
    const double step = back[31 * 62 + 31] - ring;
    QVERIFY2(
        std::abs(step / (2.0 * M * muOfRow(2)) - 1.0) < 0.15, qPrintable(QString::number(step)));

    w.calc->setSaveTiff(false, QString(), QString(), QString());
    QVERIFY(runSlice(w, Cor, 2, false));
    QCOMPARE(records.count(), 1);
}

void TestCtCalc2::dataRecordCarriesRegionLimitsAndOffset()
{
    CtRunParams p;
    p.lowerLimit = 0.5;
    p.upperLimit = 2.0;
    p.offset = 100;
    Worker w(&scan->stack, p);
    w.calc->setCalcRegion(10.5, 20, 40, 42, true);
    w.calc->setSaveData(true, "/some/where", "ct", "E7120");
    Relay relay;
    connect(w.calc, &CtCalc2::saveDataWDiscard, &relay, &Relay::record, Qt::QueuedConnection);
    QSignalSpy records(&relay, &Relay::record);
    QVERIFY(runSlice(w, Cor, 3));
    QCOMPARE(records.count(), 1);
    std::unique_ptr<SavingData> rec(records.at(0).at(0).value<SavingData *>());
    QCOMPARE(rec->path, QString("/some/where"));
    QCOMPARE(rec->name, QString("ct"));
    QCOMPARE(rec->tag, QString("E7120"));
    QCOMPARE(rec->slice, QString("00003"));
    const QList<QByteArray> lines = rec->data.split('\n');
    QCOMPARE(lines[5], QByteArray("# sx,sy, ex,ey   : 10.5\t20\t40\t42"));
    QCOMPARE(lines.size(), 6 + 30 * 22 + 1);
    QCOMPARE(lines[6].left(6), QByteArray("10\t20\t"));
    // Values come from the grid, through the limits and the offset.
    const double *g = w.calc->result();
    int inside = 0;
    for (int i = 6; i < lines.size() - 1; ++i) {
        const QList<QByteArray> c = lines[i].split('\t');
        const int x = c[0].toInt(), z = c[1].toInt();
        const double v = g[z * 62 + x];
        const double written = c[2].toDouble();
        const double want = (v < 0.5 || v > 2.0) ? 100.0 : 100.0 + v;
        QVERIFY(std::abs(written - want) <= 1e-5 * std::abs(want));
        inside += (v >= 0.5 && v <= 2.0);
    }
    QVERIFY(inside > 0);
    // Pixels outside the region were not back-projected.
    QCOMPARE(g[5 * 62 + 5], 0.0);
}

void TestCtCalc2::rangeRunSameWhateverTheCalculatorCount()
{
    QTemporaryDir one, three;
    QVERIFY(rangeRun(scan->stack, 1, one.path()));
    QVERIFY(rangeRun(scan->stack, 3, three.path()));
    const QStringList files = QDir(one.path()).entryList(QDir::Files);
    QCOMPARE(files,
        (QStringList {
            "ct-E1-00000.dat", "ct-E1-00001.dat", "ct-E1-00002.dat", "ct-E1-00003.dat" }));
    QCOMPARE(QDir(three.path()).entryList(QDir::Files), files);
    for (const QString &f : files) {
        const QByteArray a = readAll(one.filePath(f));
        QVERIFY(a.size() > 1000);
        QCOMPARE(readAll(three.filePath(f)), a);
    }
    // Different slices really differ.
    QVERIFY(readAll(one.filePath(files[0])) != readAll(one.filePath(files[1])));
}

void TestCtCalc2::panelFollowsItsCalculator()
{
    CtCalc2Ui panel;
    Worker w(&scan->stack);
    panel.setCtCalc2(w.calc);
    QCOMPARE(w.calc->ui(), &panel);
    QVERIFY(!panel.cRegionSet());
    QCOMPARE(panel.crx1(), 2047.0);

    QSignalSpy cr(&panel, &CtCalc2Ui::cRUpdated);
    QVERIFY(runSlice(w, Cor, 2));
    // The first slice's region, the slice number and the times reach the panel.
    QTRY_COMPARE(cr.count(), 1);
    QCOMPARE(panel.crx1(), 62.0);
    QVERIFY(panel.cRegionSet());
    QTRY_COMPARE(panel.shownSliceNo(), 2);
    QTRY_VERIFY(!panel.findChild<QLineEdit *>("EndT")->text().isEmpty());
    QTRY_COMPARE(panel.dispCt()->image().size(), QSize(62, 62));
    // Unchanged values announce nothing.
    panel.setCR(0, 0, 62, 62);
    QCOMPARE(cr.count(), 1);

    // A region set on the panel is the one the next slice uses.
    QSignalSpy dr(&panel, &CtCalc2Ui::dRUpdated);
    panel.setDR(10.2, 11.7, 30.1, 40.9);
    panel.setDR(10.2, 11.7, 30.1, 40.9);
    QCOMPARE(dr.count(), 1);
    QMetaObject::invokeMethod(&panel, "setCRegion");
    QCOMPARE(cr.count(), 2);
    QCOMPARE(panel.crx0(), 10.0);
    QCOMPARE(panel.crz1(), 41.0);
    QVERIFY(runSlice(w, Cor, 2));
    double x0, z0, x1, z1;
    w.calc->calcRegion(x0, z0, x1, z1);
    QCOMPARE(x0, 10.0);
    QCOMPARE(z0, 11.0);
    QCOMPARE(x1, 31.0);
    QCOMPARE(z1, 41.0);
    QCOMPARE(w.calc->result()[5 * 62 + 31], 0.0);
    QVERIFY(w.calc->result()[31 * 62 + 25] != 0.0);
}

void TestCtCalc2::panelColourBarAndReadout()
{
    CtCalc2Ui panel;
    Worker w(&scan->stack);
    panel.setCtCalc2(w.calc);
    Relay relay;
    connect(w.calc, &CtCalc2::resultImageBuilt, &relay, &Relay::shown, Qt::QueuedConnection);
    connect(w.calc, &CtCalc2::valueFound, &relay, &Relay::value, Qt::QueuedConnection);
    QSignalSpy shown(&relay, &Relay::shown);

    // A free bar takes the range of the result.
    QVERIFY(runSlice(w, Cor, 1));
    QTRY_COMPARE(panel.dispCt()->image().size(), QSize(62, 62));
    QCOMPARE(panel.levelMap().minV, w.calc->bpKernel().resultMin());
    QCOMPARE(panel.levelMap().maxV, w.calc->bpKernel().resultMax());

    // A fixed bar keeps its range: every value of the slice lies far inside it.
    // The box is checked as a user does, on the bar itself.
    panel.setCBarMinMaxForced(-1e9, 1e9);
    QCheckBox *fix = panel.findChild<QCheckBox *>("CFix");
    QVERIFY(fix);
    fix->setChecked(true);
    QVERIFY(runSlice(w, Cor, 2));
    QCOMPARE(panel.levelMap().minV, -1e9);
    QTRY_VERIFY(shown.count() >= 2);
    const QImage img = shown.last().at(0).value<QImage>();
    for (int z = 0; z < img.height(); ++z)
        for (int x = 0; x < img.width(); ++x) {
            const int l = img.constScanLine(z)[x];
            QVERIFY(l == 127 || l == 128);
        }

    // The value under the mouse comes from the calculator's grid.
    QSignalSpy value(&relay, &Relay::value);
    QMetaObject::invokeMethod(&panel, "noticedNewPos", Q_ARG(double, 31.7), Q_ARG(double, 30.2));
    QTRY_COMPARE(value.count(), 1);
    QCOMPARE(value.at(0).at(0).toDouble(), w.calc->result()[30 * 62 + 31]);
    // Outside the grid nothing is answered.
    QMetaObject::invokeMethod(&panel, "noticedNewPos", Q_ARG(double, 62.0), Q_ARG(double, 3.0));
    QMetaObject::invokeMethod(&panel, "noticedNewPos", Q_ARG(double, -1.5), Q_ARG(double, 3.0));
    QTest::qWait(50);
    QCOMPARE(value.count(), 1);
}

VORLO_TEST(TestCtCalc2)
#include "test_ct_calc2.moc"
