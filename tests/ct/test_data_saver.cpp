#include "ct/data_saver.h"
#include "ct/float_tiff.h"
#include "ct/saving_data.h"
#include "image/img_data.h"
#include "tests/test_registry.h"
#include "util/safe_file.h"
#include "util/tsan_handoff.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <sys/resource.h>
#include <tiffio.h>
#include <vector>

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

QStringList filesUnder(const QString &root)
{
    QStringList out;
    QDir base(root);
    const QStringList subs = base.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &f : base.entryList(QDir::Files))
        out << f;
    for (const QString &s : subs)
        for (const QString &f : QDir(base.filePath(s)).entryList(QDir::Files))
            out << s + "/" + f;
    out.sort();
    return out;
}

QString cG(double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%g", v);
    return QString::fromLatin1(buf);
}

// Limits the size of files this process may write while it lives, as a full
// disk or quota would; writes beyond it fail (EFBIG) instead of a signal.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved);
        oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lim = saved;
        lim.rlim_cur = bytes;
        ok = setrlimit(RLIMIT_FSIZE, &lim) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
    }
    bool ok = false;

private:
    rlimit saved {};
    void (*oldHandler)(int) = nullptr;
};

} // namespace

// Sends records from another thread, as a calculator does.
class RecordSender : public QObject {
    Q_OBJECT
signals:
    void saveDataWDiscard(SavingData *data);
    void saveImgWDiscard(SavingImg *img);
};

class TestDataSaver : public QObject {
    Q_OBJECT
private slots:
    void namesAndLabels();
    void dataFileText();
    void dataFileRegionClipping();
    void valuesWrittenLikePrintfG();
    void subFolders_data();
    void subFolders();
    void existingFileIsReplaced();
    void imageRoundTrip();
    void unwritableTargetIsLoggedAndRecordFreed();
    void floatTiffLayoutAndValues();
    void floatTiffNamesAndSubFolders();
    void floatTiffRefusals();
    void queuedFromAnotherThread();
    void failedWriteKeepsEarlierFilesAndIsAnnounced();
};

void TestDataSaver::namesAndLabels()
{
    QCOMPARE(
        savingFileName("ct", "E7120", savingSliceLabel(123), "dat"), QString("ct-E7120-00123.dat"));
    QCOMPARE(savingSliceLabel(7), QString("00007"));
    QCOMPARE(savingSliceLabel(123456), QString("123456"));
    QCOMPARE(savingSliceLabel(-7), QString("-0007"));
}

void TestDataSaver::dataFileText()
{
    // 4 x 4 grid, value = 10 * z + x; limits -10 ... 10 and offset 10 (the defaults).
    std::vector<double> g(16);
    for (int z = 0; z < 4; ++z)
        for (int x = 0; x < 4; ++x)
            g[z * 4 + x] = 10.0 * z + x;
    g[0] = -10.0; // equal to the lower limit: kept -> 0
    g[1] = -10.5; // below: becomes 0 -> 10
    g[2] = 10.0; // equal to the upper limit: kept -> 20
    g[4 + 1] = 2.25; // -> 12.25
    g[4 + 2] = 10.001; // above: becomes 0 -> 10
    const QByteArray text = makeCtImgData(g.data(), 4, 0.5, 0, 3, 2, CtImgDataLimits());
    const QByteArray expected = "#VRLO-CTImg\n"
                                "# Range_X0       : 0.5\n"
                                "# Range_Y0       : 0\n"
                                "# Range_X1       : 3\n"
                                "# Range_Y1       : 2\n"
                                "# sx,sy, ex,ey   : 0.5\t0\t3\t2\n"
                                "0\t0\t0\n"
                                "1\t0\t10\n"
                                "2\t0\t20\n"
                                "0\t1\t20\n"
                                "1\t1\t12.25\n"
                                "2\t1\t10\n";
    QCOMPARE(text, expected);

    // Other limits and offset.
    CtImgDataLimits lim;
    lim.lowerLimit = 0;
    lim.upperLimit = 1;
    lim.offset = -1.5;
    std::vector<double> h = { 0.5, 2.0, -0.1, 1.0 };
    const QByteArray t2 = makeCtImgData(h.data(), 2, 0, 0, 2, 2, lim);
    QVERIFY(t2.endsWith("0\t0\t-1\n1\t0\t-1.5\n0\t1\t-1.5\n1\t1\t-0.5\n"));
}

void TestDataSaver::dataFileRegionClipping()
{
    std::vector<double> g(9, 1.0);
    // A region wider than the grid writes only the grid's pixels.
    QByteArray t = makeCtImgData(g.data(), 3, -2.5, -1, 100, 2.5, CtImgDataLimits());
    QList<QByteArray> lines = t.split('\n');
    QCOMPARE(lines.size(), 6 + 9 + 1); // header, 3 x 3 pixels, empty tail
    QCOMPARE(lines[1], QByteArray("# Range_X0       : -2.5"));
    QCOMPARE(lines[6], QByteArray("0\t0\t11"));
    QCOMPARE(lines[14], QByteArray("2\t2\t11"));

    // An empty region, a reversed one and a missing grid give the header only.
    QCOMPARE(makeCtImgData(g.data(), 3, 1, 1, 1, 3, CtImgDataLimits()).count('\n'), 6);
    QCOMPARE(makeCtImgData(g.data(), 3, 2, 2, 0, 0, CtImgDataLimits()).count('\n'), 6);
    QCOMPARE(makeCtImgData(nullptr, 3, 0, 0, 3, 3, CtImgDataLimits()).count('\n'), 6);
    QCOMPARE(makeCtImgData(g.data(), 3, 0, 0, 1e300, 1e300, CtImgDataLimits()).count('\n'), 6 + 9);
}

void TestDataSaver::valuesWrittenLikePrintfG()
{
    const std::vector<double> values = { 0.0, 1.0, -1.0, 0.1, 1e-4, 9.99999e-5, 123456.0, 1234567.0,
        999999.5, 1e300, -2.5e-300, 3.14159265, 1.0 / 3.0, 100000.0, 4.9e-324 };
    CtImgDataLimits lim;
    lim.lowerLimit = -1e308;
    lim.upperLimit = 1e308;
    lim.offset = 0;
    const int n = int(values.size());
    std::vector<double> grid(size_t(n) * n, 0.0);
    for (int x = 0; x < n; ++x)
        grid[x] = values[x];
    const QByteArray text = makeCtImgData(grid.data(), n, 0, 0, n, 1, lim);
    const QList<QByteArray> lines = text.split('\n');
    for (int x = 0; x < n; ++x) {
        const QList<QByteArray> cols = lines[6 + x].split('\t');
        QCOMPARE(cols.size(), 3);
        QCOMPARE(QString(cols[2]), cG(values[x]));
    }
    QCOMPARE(QString(lines[6 + 7].split('\t')[2]), QString("1.23457e+06"));
}

void TestDataSaver::subFolders_data()
{
    QTest::addColumn<bool>("inSub");
    QTest::addColumn<bool>("ofEnergy");
    QTest::addColumn<bool>("ofSlice");
    QTest::addColumn<QStringList>("files");
    const QString d = "ct-a-00007.dat", p = "ct-a-00007.png";
    QTest::newRow("plain") << false << true << true << QStringList { d, p };
    QTest::newRow("of slice") << true << false << true
                              << QStringList { "00007/" + d, "00007/" + p };
    QTest::newRow("of energy") << true << true << false << QStringList { "a/" + d, "a/" + p };
    QTest::newRow("both") << true << true << true
                          << QStringList { "00007/" + d, "00007/" + p, "a/" + d, "a/" + p };
    QTest::newRow("neither") << true << false << false << QStringList {};
}

void TestDataSaver::subFolders()
{
    QFETCH(bool, inSub);
    QFETCH(bool, ofEnergy);
    QFETCH(bool, ofSlice);
    QFETCH(QStringList, files);
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString out = tmp.filePath("data/out"); // missing parents are made
    DataSaver saver;
    QVERIFY(!saver.inSubFolders() && !saver.subOfEnergy() && !saver.subOfSlice());
    saver.setSubFolders(inSub, ofEnergy, ofSlice);

    auto *data = new SavingData { out, "ct", "a", savingSliceLabel(7), "#VRLO-CTImg\n" };
    QImage img(3, 2, QImage::Format_Grayscale8);
    img.fill(77);
    auto *im = new SavingImg { out, "ct", "a", savingSliceLabel(7), img };
    if (!inSub)
        QDir().mkpath(out); // the main window makes the base folder
    if (files.isEmpty()) {
        QTest::ignoreMessage(QtDebugMsg,
            QRegularExpression("^No sub folder kind chosen, not saved : .*ct-a-00007\\.dat"));
        QTest::ignoreMessage(QtDebugMsg,
            QRegularExpression("^No sub folder kind chosen, not saved : .*ct-a-00007\\.png"));
    }
    saver.saveDataWDiscard(data);
    saver.saveImgWDiscard(im);

    QCOMPARE(filesUnder(out), files);
    for (const QString &f : files)
        if (f.endsWith(".dat"))
            QCOMPARE(readAll(out + "/" + f), QByteArray("#VRLO-CTImg\n"));
}

void TestDataSaver::existingFileIsReplaced()
{
    QTemporaryDir tmp;
    DataSaver saver;
    SavingData rec { tmp.path(), "ct", "t", "00001", QByteArray(1000, 'x') };
    saver.saveData(&rec);
    rec.data = "short\n";
    saver.saveData(&rec); // the plain variant leaves the record to the caller
    QCOMPARE(readAll(tmp.filePath("ct-t-00001.dat")), QByteArray("short\n"));
    QCOMPARE(rec.data, QByteArray("short\n"));
}

void TestDataSaver::imageRoundTrip()
{
    QTemporaryDir tmp;
    DataSaver saver;
    QImage img(5, 4, QImage::Format_Grayscale8);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x)
            img.scanLine(y)[x] = uchar(10 * y + x);
    SavingImg rec { tmp.path(), "ct", "E7120", "00123", img };
    saver.saveImg(&rec);
    QImage back(tmp.filePath("ct-E7120-00123.png"));
    QVERIFY(!back.isNull());
    QCOMPARE(back.convertToFormat(QImage::Format_Grayscale8), img);
}

void TestDataSaver::unwritableTargetIsLoggedAndRecordFreed()
{
    QTemporaryDir tmp;
    // A plain file where the base folder should be: neither the folder nor the
    // file can be made.
    const QString blocker = tmp.filePath("blocker");
    {
        QFile f(blocker);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("x");
    }
    DataSaver saver;
    saver.setSubFolders(true, false, true);
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Can't make folder : .*blocker"));
    QTest::ignoreMessage(
        QtDebugMsg, QRegularExpression("^Can't write file : .*blocker.*ct-a-00002\\.dat"));
    saver.saveDataWDiscard(new SavingData { blocker, "ct", "a", "00002", "x" });

    saver.setSubFolders(false, false, false);
    QTest::ignoreMessage(
        QtDebugMsg, QRegularExpression("^Can't write file : .*blocker.*ct-a-00002\\.png"));
    saver.saveImgWDiscard(
        new SavingImg { blocker, "ct", "a", "00002", QImage(2, 2, QImage::Format_Grayscale8) });
    // A null image cannot be saved either.
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Can't write file : .*ct-a-00003\\.png"));
    saver.saveImgWDiscard(new SavingImg { tmp.path(), "ct", "a", "00003", QImage() });

    // No base folder: refused rather than written at the root or the working folder.
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Can't write file : .*ct-a-00004\\.dat"));
    saver.saveDataWDiscard(new SavingData { QString(), "ct", "a", "00004", "x" });
    saver.saveDataWDiscard(nullptr);
    QCOMPARE(QDir(tmp.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot),
        QStringList { "blocker" });
}

namespace {

// What a reader sees of a float TIFF: its tags, and its samples in row order.
struct TiffBack {
    quint32 width = 0, height = 0;
    quint16 bits = 0, format = 0, samples = 0, photometric = 0, unit = 0;
    float xres = 0, yres = 0;
    std::vector<float> values;
    bool ok = false;
};

TiffBack readFloatTiff(const QString &path)
{
    TiffBack b;
    TIFF *tif = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (!tif)
        return b;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &b.width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &b.height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &b.bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &b.format);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &b.samples);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &b.photometric);
    TIFFGetField(tif, TIFFTAG_XRESOLUTION, &b.xres);
    TIFFGetField(tif, TIFFTAG_YRESOLUTION, &b.yres);
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &b.unit);
    if (b.bits == 32 && b.samples == 1 && TIFFScanlineSize(tif) == tmsize_t(b.width * 4)) {
        b.values.resize(size_t(b.width) * b.height);
        b.ok = true;
        for (quint32 y = 0; y < b.height && b.ok; ++y)
            b.ok = TIFFReadScanline(tif, b.values.data() + size_t(y) * b.width, y) >= 0;
    }
    TIFFClose(tif);
    return b;
}

} // namespace

void TestDataSaver::floatTiffLayoutAndValues()
{
    QTemporaryDir tmp;
    // Odd sizes and more rows than one strip holds (64 KiB / (4 * 37) = 442 rows):
    // the strip tail and the row order are read back as written.
    const int w = 37, h = 1000;
    std::vector<double> grid(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            grid[size_t(y) * w + x] = std::sin(0.37 * x + 0.011 * y) * std::exp(0.004 * y) - 0.5;
    grid[3] = 1e-42; // a denormal float
    grid[4] = -0.0;
    grid[5] = 3.0e38;
    grid[6] = std::numeric_limits<double>::quiet_NaN();
    std::vector<float> values = floatGrid(grid.data(), w, h);
    QCOMPARE(values.size(), size_t(w) * h);
    QCOMPARE(values[7], float(grid[7]));

    DataSaver saver;
    saver.saveTiffWDiscard(
        new SavingTiff { tmp.path(), "ct", "E7120", "00042", values, w, h, QString() });
    const QString file = tmp.filePath("ct-E7120-00042.tif");
    const TiffBack b = readFloatTiff(file);
    QVERIFY(b.ok);
    QCOMPARE(b.width, quint32(w));
    QCOMPARE(b.height, quint32(h));
    QCOMPARE(b.bits, quint16(32));
    QCOMPARE(b.format, quint16(SAMPLEFORMAT_IEEEFP));
    QCOMPARE(b.samples, quint16(1));
    QCOMPARE(b.photometric, quint16(PHOTOMETRIC_MINISBLACK));
    QCOMPARE(b.xres, 1.0f);
    QCOMPARE(b.yres, 1.0f);
    QCOMPARE(b.unit, quint16(RESUNIT_NONE));
    QVERIFY(std::memcmp(b.values.data(), values.data(), values.size() * sizeof(float)) == 0);
    // Only the finished file is left, and writing again replaces it whole.
    QCOMPARE(QDir(tmp.path()).entryList(QDir::Files), QStringList { "ct-E7120-00042.tif" });
    const std::vector<float> small(6, -2.5f);
    QVERIFY(writeFloatTiff(file, small.data(), 3, 2));
    QCOMPARE(readFloatTiff(file).values, small);
    QCOMPARE(QDir(tmp.path()).entryList(QDir::Files), QStringList { "ct-E7120-00042.tif" });
    QVERIFY(writeFloatTiff(file, values.data(), w, h));

    // The program's own reader takes its output as a 32-bit float image.
    std::unique_ptr<ImgData> img(createImgData(fileType(file)));
    QVERIFY(img);
    img->setFileName(file);
    QVERIFY(img->load());
    QCOMPARE(img->width(), w);
    QCOMPARE(img->height(), h);
    QCOMPARE(img->value(11, 900), double(values[size_t(900) * w + 11]));
}

void TestDataSaver::floatTiffNamesAndSubFolders()
{
    QTemporaryDir tmp;
    const QString out = tmp.filePath("out");
    DataSaver saver;
    saver.setSubFolders(true, true, true);
    const std::vector<float> v(4, 1.5f);
    saver.saveTiffWDiscard(
        new SavingTiff { out, "ct", "E1", savingSliceLabel(7), v, 2, 2, QString() });
    // A suffix goes into the file name only, never into the slice folder.
    saver.saveTiffWDiscard(
        new SavingTiff { out, "ct", "E1", savingSliceLabel(7), v, 2, 2, "-cor31.50" });
    QCOMPARE(filesUnder(out),
        QStringList({ "00007/ct-E1-00007-cor31.50.tif", "00007/ct-E1-00007.tif",
            "E1/ct-E1-00007-cor31.50.tif", "E1/ct-E1-00007.tif" }));
    const TiffBack b = readFloatTiff(out + "/E1/ct-E1-00007-cor31.50.tif");
    QVERIFY(b.ok);
    QCOMPARE(b.values, v);
}

void TestDataSaver::floatTiffRefusals()
{
    QTemporaryDir tmp;
    DataSaver saver;
    // Values that do not fill the stated size are refused, not read past.
    QTest::ignoreMessage(
        QtDebugMsg, QRegularExpression("^Can't write file : .*ct-a-00001\\.tif.*no values"));
    saver.saveTiffWDiscard(new SavingTiff {
        tmp.path(), "ct", "a", "00001", std::vector<float>(5, 0.f), 3, 2, QString() });
    QTest::ignoreMessage(
        QtDebugMsg, QRegularExpression("^Can't write file : .*ct-a-00002\\.tif.*no values"));
    saver.saveTiffWDiscard(new SavingTiff { tmp.path(), "ct", "a", "00002", {}, 0, 0, QString() });
    saver.saveTiffWDiscard(nullptr);
    QCOMPARE(QDir(tmp.path()).entryList(QDir::Files), QStringList());

    // A folder that cannot be written into.
    const QString blocker = tmp.filePath("blocker");
    {
        QFile f(blocker);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(".*"));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Can't write file : .*ct-a-00003\\.tif"));
    saver.saveTiffWDiscard(
        new SavingTiff { blocker, "ct", "a", "00003", { 1.f }, 1, 1, QString() });
    // Impossible sizes are refused by the writer itself.
    const float one = 1.f;
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Can't write file : .*huge\\.tif"));
    QVERIFY(!writeFloatTiff(tmp.filePath("huge.tif"), &one, 70000, 70000));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Can't write file : .*neg\\.tif"));
    QVERIFY(!writeFloatTiff(tmp.filePath("neg.tif"), &one, -1, 1));
    QVERIFY(!QFile::exists(tmp.filePath("huge.tif")));
    QVERIFY(floatGrid(nullptr, 2, 2).empty());
}

void TestDataSaver::queuedFromAnotherThread()
{
    QTemporaryDir tmp;
    QThread thread;
    auto *saver = new DataSaver;
    saver->moveToThread(&thread);
    RecordSender sender;
    connect(&sender, &RecordSender::saveDataWDiscard, saver, &DataSaver::saveDataWDiscard);
    connect(&sender, &RecordSender::saveImgWDiscard, saver, &DataSaver::saveImgWDiscard);
    thread.start();
    releaseAtThreadEnd(&thread);
    QMetaObject::invokeMethod(saver, "setSubFolders", Qt::QueuedConnection, Q_ARG(bool, true),
        Q_ARG(bool, false), Q_ARG(bool, true));
    // Each record is released before it is sent, as a calculator does.
    for (int s = 0; s < 5; ++s) {
        auto *rec
            = new SavingData { tmp.path(), "ct", "E1", savingSliceLabel(s), QByteArray::number(s) };
        handOffRelease(rec);
        emit sender.saveDataWDiscard(rec);
    }
    QImage img(2, 2, QImage::Format_Grayscale8);
    img.fill(3);
    auto *imgRec = new SavingImg { tmp.path(), "ct", "E1", "00004", img };
    handOffRelease(imgRec);
    emit sender.saveImgWDiscard(imgRec);
    // Records run in arrival order; quitting after them lets them all finish.
    postHandOffCallInThread(&thread, [] { QThread::currentThread()->quit(); });
    // QThread::finished is emitted in the saver's thread: waiting on the thread
    // itself, not on a spy that thread would append to.
    QVERIFY(waitForThreadEnd(&thread, QDeadlineTimer(5000)));
    delete saver;
    for (int s = 0; s < 5; ++s)
        QCOMPARE(
            readAll(tmp.filePath(savingSliceLabel(s) + "/ct-E1-" + savingSliceLabel(s) + ".dat")),
            QByteArray::number(s));
    QVERIFY(QFile::exists(tmp.filePath("00004/ct-E1-00004.png")));
}

void TestDataSaver::failedWriteKeepsEarlierFilesAndIsAnnounced()
{
    QTemporaryDir tmp;
    DataSaver saver;
    QSignalSpy failed(&saver, &DataSaver::saveFailed);
    // Files of an earlier run under the names of the new results, in both sub
    // folders ("of Energy" and "of Slice").
    saver.setSubFolders(true, true, true);
    QImage small(8, 8, QImage::Format_Grayscale8);
    small.fill(40);
    saver.saveDataWDiscard(new SavingData { tmp.path(), "ct", "a", "00005", "earlier" });
    saver.saveImgWDiscard(new SavingImg { tmp.path(), "ct", "a", "00005", small });
    const std::vector<float> few(4, 1.5f);
    auto *tiffOld = new SavingTiff { tmp.path(), "ct", "a", "00005", few, 2, 2, {} };
    saver.saveTiff(tiffOld);
    delete tiffOld;
    QCOMPARE(failed.count(), 0);
    const QStringList before = filesUnder(tmp.path());
    QCOMPARE(before.size(), 6);
    std::map<QString, QByteArray> old;
    for (const QString &f : before)
        old[f] = readAll(tmp.filePath(f));

    // New results too big for what the file system still takes.
    QImage noisy(512, 512, QImage::Format_Grayscale8);
    QRandomGenerator noise(17);
    for (int y = 0; y < 512; ++y)
        for (int x = 0; x < 512; ++x)
            noisy.scanLine(y)[x] = uchar(noise.bounded(256));
    std::vector<float> many(512 * 512);
    for (size_t i = 0; i < many.size(); ++i)
        many[i] = float(i % 1013) * 0.37f;
    {
        FileSizeLimit limit(4096);
        QVERIFY(limit.ok);
        for (const char *ext : { "dat", "png", "tif" })
            for (const char *sub : { "a", "00005" })
                QTest::ignoreMessage(QtDebugMsg,
                    QRegularExpression(
                        QString("^Can't write file :  \".*/%1/ct-a-00005\\.%2\"$").arg(sub, ext)));
        saver.saveDataWDiscard(
            new SavingData { tmp.path(), "ct", "a", "00005", QByteArray(100000, '7') });
        saver.saveImgWDiscard(new SavingImg { tmp.path(), "ct", "a", "00005", noisy });
        saver.saveTiffWDiscard(
            new SavingTiff { tmp.path(), "ct", "a", "00005", many, 512, 512, {} });
    }
    // One announcement per record, naming its file and slice.
    QCOMPARE(failed.count(), 3);
    QStringList exts;
    for (const QList<QVariant> &args : failed) {
        QCOMPARE(args.at(1).toString(), QString("00005"));
        exts << QFileInfo(args.at(0).toString()).suffix();
        QVERIFY(args.at(0).toString().startsWith(tmp.path()));
    }
    QCOMPARE(exts, QStringList({ "dat", "png", "tif" }));
    // The earlier files are untouched and no temporary file is left behind.
    QCOMPARE(filesUnder(tmp.path()), before);
    for (const QString &f : before)
        QVERIFY2(readAll(tmp.filePath(f)) == old[f], qPrintable(f));

    // A folder that cannot be made is a failed record as well.
    const QString blocker = tmp.filePath("blocker");
    QVERIFY(writeWholeFile(blocker, "x"));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Can't make folder : .*blocker"));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Can't write file : .*blocker"));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Can't make folder : .*blocker"));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Can't write file : .*blocker"));
    saver.saveDataWDiscard(new SavingData { blocker, "ct", "a", "00009", "x" });
    QCOMPARE(failed.count(), 4);
    QCOMPARE(failed.last().at(1).toString(), QString("00009"));
}

VORLO_TEST(TestDataSaver)
#include "test_data_saver.moc"
