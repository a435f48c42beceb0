#include "image/hdf5_scan.h"
#include "image/img_data_hdf5.h"
#include "image/img_datas.h"
#include "tests/image/hdf5_fixture.h"
#include "tests/test_registry.h"

#include <QFile>
#include <QImage>
#include <QMutex>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

using namespace h5fix;

Q_DECLARE_METATYPE(Layout)
Q_DECLARE_METATYPE(Storage)
Q_DECLARE_METATYPE(hid_t)

namespace {

// The program's own log lines (the default category), without the trace
// that carries the library's error stack.
class ProblemLog {
public:
    ProblemLog()
    {
        QMutexLocker l(&mutex());
        lines().clear();
        previous = qInstallMessageHandler(collect);
    }
    ~ProblemLog() { qInstallMessageHandler(previous); }
    QStringList taken() const
    {
        QMutexLocker l(&mutex());
        return lines();
    }

private:
    static QMutex &mutex()
    {
        static QMutex m;
        return m;
    }
    static QStringList &lines()
    {
        static QStringList l;
        return l;
    }
    static void collect(QtMsgType, const QMessageLogContext &c, const QString &msg)
    {
        if (c.category && QByteArray(c.category) != "default")
            return;
        QMutexLocker l(&mutex());
        lines().append(msg);
    }
    QtMessageHandler previous;
};

// Resident memory of the process in bytes.
qint64 residentBytes()
{
    QFile f("/proc/self/statm");
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> v = f.readAll().split(' ');
    return v.size() > 1 ? v[1].toLongLong() * 4096 : 0;
}

bool sameValues(const double *a, const std::vector<double> &b, std::size_t from, std::size_t n)
{
    for (std::size_t k = 0; k < n; ++k)
        if (a[k] != b[from + k])
            return false;
    return true;
}

std::vector<double> meanOf(const std::vector<std::vector<double>> &frames)
{
    std::vector<double> m(frames.front().size(), 0.0);
    for (const auto &f : frames)
        for (std::size_t i = 0; i < m.size(); ++i)
            m[i] += f[i];
    for (double &v : m)
        v /= double(frames.size());
    return m;
}

// Every row and every column of every member equals the scan's projections.
void checkStack(const ImgDatas &stack, const Scan &s)
{
    QCOMPARE(stack.count(), int(s.projections.size()));
    QCOMPARE(stack.size(), QSize(s.width, s.height));
    std::vector<double> row(std::size_t(s.width)), col(std::size_t(s.height));
    for (int k = 0; k < stack.count(); ++k) {
        const auto &f = s.projections[std::size_t(k)];
        for (int y = 0; y < s.height; ++y)
            QVERIFY2(sameValues(stack.at(k)->row(y, row.data()), f, std::size_t(y * s.width),
                         std::size_t(s.width)),
                qPrintable(QString("frame %1 row %2").arg(k).arg(y)));
        for (int x = 0; x < s.width; ++x) {
            stack.at(k)->column(x, col.data());
            for (int y = 0; y < s.height; ++y)
                QCOMPARE(col[std::size_t(y)], f[std::size_t(y * s.width + x)]);
        }
    }
}

} // namespace

class TestHdf5Input : public QObject {
    Q_OBJECT
private slots:
    void readsScans_data();
    void readsScans();
    void recognisedByContent();
    void flatsAndDarksGiveI0AndBg();
    void fileChosenAsI0OrBg();
    void emptyFlatsAreNoFlats();
    void angles_data();
    void angles();
    void badFilesAreRefused_data();
    void badFilesAreRefused();
    void libraryErrorsGoToTheTrace();
    void rowsFromThreadsAtOnce();
    void largeScanLoadsWithoutReadingIt();
};

void TestHdf5Input::readsScans_data()
{
    QTest::addColumn<Layout>("layout");
    QTest::addColumn<hid_t>("type");
    QTest::addColumn<Storage>("storage");
    QTest::addColumn<int>("chunkRows");
    const Layout dx = Layout::DXchange, nx = Layout::NXtomo;
    QTest::newRow("DX u16 contiguous") << dx << H5T_STD_U16LE << Storage::Contiguous << 0;
    QTest::newRow("DX u16 gzip frames") << dx << H5T_STD_U16LE << Storage::Gzip << 0;
    QTest::newRow("DX f32 chunked 3 rows") << dx << H5T_IEEE_F32LE << Storage::Chunked << 3;
    QTest::newRow("DX u8 contiguous") << dx << H5T_STD_U8LE << Storage::Contiguous << 0;
    QTest::newRow("DX i8 gzip") << dx << H5T_STD_I8LE << Storage::Gzip << 2;
    QTest::newRow("DX i16 big-endian") << dx << H5T_STD_I16BE << Storage::Chunked << 0;
    QTest::newRow("DX u32") << dx << H5T_STD_U32LE << Storage::Contiguous << 0;
    QTest::newRow("DX i32 gzip") << dx << H5T_STD_I32LE << Storage::Gzip << 0;
    QTest::newRow("DX f64") << dx << H5T_IEEE_F64LE << Storage::Contiguous << 0;
    QTest::newRow("NX u16 contiguous") << nx << H5T_STD_U16LE << Storage::Contiguous << 0;
    QTest::newRow("NX f32 gzip") << nx << H5T_IEEE_F32LE << Storage::Gzip << 0;
    QTest::newRow("NX u16 chunked 4 rows") << nx << H5T_STD_U16LE << Storage::Chunked << 4;
    QTest::newRow("NX entry named scan1") << nx << H5T_STD_I16LE << Storage::Contiguous << -1;
}

void TestHdf5Input::readsScans()
{
    QFETCH(Layout, layout);
    QFETCH(hid_t, type);
    QFETCH(Storage, storage);
    QFETCH(int, chunkRows);
    QTemporaryDir dir;
    Scan s = patternScan(layout, type, storage, 13, 9, 6, 2, 2);
    s.chunkRows = hsize_t(std::max(chunkRows, 0));
    s.chunkFrames = chunkRows > 0 ? 4 : 1; // chunks across frames too
    const QString path = dir.filePath("scan.h5");
    QVERIFY(write(path, s));
    if (chunkRows < 0) { // the entry under another name, found by its class
        const hid_t f = H5Fopen(QFile::encodeName(path).constData(), H5F_ACC_RDWR, H5P_DEFAULT);
        QVERIFY(H5Lmove(f, "/entry", f, "/scan1", H5P_DEFAULT, H5P_DEFAULT) >= 0);
        H5Fclose(f);
    }
    ImgDatas stack;
    QVERIFY(stack.add(path));
    checkStack(stack, s);
    // The display image and the extremes come from the same pixels.
    ImgData *img = stack.at(3);
    img->scanMinMax();
    double lo = 1e300, hi = -1e300;
    for (double v : s.projections[3]) {
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    QCOMPARE(img->minV(), lo);
    QCOMPARE(img->maxV(), hi);
    QCOMPARE(img->value(5, 7), s.projections[3][7 * 13 + 5]);
}

void TestHdf5Input::recognisedByContent()
{
    QTemporaryDir dir;
    Scan s = patternScan(Layout::DXchange, H5T_STD_U16LE, Storage::Contiguous, 5, 4, 3, 0, 0);
    const QString plain = dir.filePath("scan.img"); // the name plays no part
    QVERIFY(write(plain, s));
    s.userBlock = 1024;
    const QString withBlock = dir.filePath("block.dat");
    QVERIFY(write(withBlock, s));
    QCOMPARE(fileType(plain), ImgFileHDF5);
    QCOMPARE(fileType(withBlock), ImgFileHDF5);
    ImgDatas stack;
    QVERIFY(stack.add(withBlock));
    checkStack(stack, s);
    // A file that merely starts like one is nothing of the kind.
    const QString fake = dir.filePath("fake.h5");
    QFile f(fake);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QByteArray("\x89HDF\r\n", 6));
    f.close();
    QCOMPARE(fileType(fake), ImgFileUnknown);
}

void TestHdf5Input::flatsAndDarksGiveI0AndBg()
{
    QTemporaryDir dir;
    for (Layout layout : { Layout::DXchange, Layout::NXtomo }) {
        const Scan s = patternScan(layout, H5T_STD_U16LE, Storage::Gzip, 7, 5, 4, 3, 2);
        const QString path = dir.filePath(layout == Layout::DXchange ? "dx.h5" : "nx.nxs");
        QVERIFY(write(path, s));
        std::unique_ptr<ImgData> chosenI0; // the I0 selector's slot
        std::unique_ptr<ImgData> chosenBg;
        ImgDatas stack;
        stack.setI0Ref(&chosenI0);
        stack.setBgRef(&chosenBg);
        ProblemLog log;
        QVERIFY(stack.add(path));
        QVERIFY(log.taken().filter("I0 is the mean of 3 flat fields of").size() == 1);
        QVERIFY(log.taken().filter("BG is the mean of 2 dark fields of").size() == 1);
        checkStack(stack, s);
        QVERIFY(stack.i0() && stack.bg());
        const std::vector<double> f = meanOf(s.flats), d = meanOf(s.darks);
        std::vector<double> row(7);
        for (int y = 0; y < 5; ++y) {
            QVERIFY(sameValues(stack.i0()->row(y, row.data()), f, std::size_t(y * 7), 7));
            QVERIFY(sameValues(stack.bg()->row(y, row.data()), d, std::size_t(y * 7), 7));
        }
        // An image chosen by hand afterwards takes over; a new set forgets the means.
        chosenI0.reset(new ImgDataHdf5);
        chosenI0->setFileName(path);
        QVERIFY(chosenI0->load());
        QCOMPARE(stack.i0(), chosenI0.get());
        QVERIFY(stack.bg() != chosenBg.get() && stack.bg() == stack.scanBg());
        chosenI0.reset();
        QCOMPARE(stack.i0(), nullptr); // cleared by hand afterwards: no I0
        stack.clearImgs();
        QCOMPARE(stack.bg(), nullptr);
    }
}

void TestHdf5Input::fileChosenAsI0OrBg()
{
    QTemporaryDir dir;
    const Scan s = patternScan(Layout::NXtomo, H5T_IEEE_F32LE, Storage::Chunked, 6, 4, 3, 2, 3);
    const QString path = dir.filePath("scan.h5");
    QVERIFY(write(path, s));
    for (bool darks : { false, true }) {
        ImgDataHdf5 img;
        img.setPart(darks ? ImgDataHdf5::Part::DarkMean : ImgDataHdf5::Part::FlatMean);
        img.setFileName(path);
        QVERIFY(img.load());
        const std::vector<double> m = meanOf(darks ? s.darks : s.flats);
        std::vector<double> col(4);
        for (int x = 0; x < 6; ++x) {
            img.column(x, col.data());
            for (int y = 0; y < 4; ++y)
                QCOMPARE(col[std::size_t(y)], m[std::size_t(y * 6 + x)]);
        }
    }
    // A scan without flats is refused as I0, with one line.
    const Scan bare
        = patternScan(Layout::DXchange, H5T_STD_U16LE, Storage::Contiguous, 6, 4, 3, 0, 0);
    const QString barePath = dir.filePath("bare.h5");
    QVERIFY(write(barePath, bare));
    ImgDataHdf5 img;
    img.setPart(ImgDataHdf5::Part::FlatMean);
    img.setFileName(barePath);
    ProblemLog log;
    QVERIFY(!img.load());
    QCOMPARE(log.taken().size(), 1);
    QVERIFY(log.taken().first().contains("no flat fields for I0"));
}

void TestHdf5Input::emptyFlatsAreNoFlats()
{
    QTemporaryDir dir;
    Scan s = patternScan(Layout::DXchange, H5T_STD_U16LE, Storage::Chunked, 6, 4, 3, 0, 1);
    const QString path = dir.filePath("scan.h5");
    QVERIFY(write(path, s));
    const hid_t f = H5Fopen(QFile::encodeName(path).constData(), H5F_ACC_RDWR, H5P_DEFAULT);
    const hid_t g = H5Gopen2(f, "/exchange", H5P_DEFAULT);
    H5Dclose(makeFrames(g, "data_white", s, {})); // 0 x 4 x 6
    H5Gclose(g);
    H5Fclose(f);
    ImgDatas stack;
    ProblemLog log;
    QVERIFY(stack.add(path));
    checkStack(stack, s);
    QCOMPARE(stack.scanI0(), nullptr);
    QVERIFY(stack.scanBg() != nullptr);
    QCOMPARE(log.taken().filter("I0 is the mean").size(), 0);
}

void TestHdf5Input::angles_data()
{
    QTest::addColumn<Layout>("layout");
    QTest::addColumn<QVector<double>>("angles");
    QTest::addColumn<bool>("radians");
    QTest::addColumn<int>("members"); // -1: refused
    QTest::addColumn<QString>("line");
    const int m = 6;
    QVector<double> exact, within, inclusive, off, reversed, rad;
    for (int i = 0; i < m; ++i) {
        exact << i * 180.0 / m;
        within << i * 180.0 / m + (i % 2 ? 0.009 : -0.009);
        off << i * 180.0 / m + (i == 4 ? 0.02 : 0.0);
        reversed << (m - 1 - i) * 180.0 / m;
        rad << i * M_PI / m;
    }
    for (int i = 0; i <= m; ++i)
        inclusive << i * 180.0 / m;
    QTest::newRow("exact") << Layout::DXchange << exact << false << m << QString();
    QTest::newRow("within 0.01") << Layout::NXtomo << within << false << m << QString();
    QTest::newRow("radians") << Layout::NXtomo << rad << true << m << QString();
    QTest::newRow("180 inclusive")
        << Layout::DXchange << inclusive << false << m << "its last projection is left out";
    QTest::newRow("180 inclusive NX")
        << Layout::NXtomo << inclusive << false << m << "its last projection is left out";
    QTest::newRow("one off by 0.02")
        << Layout::DXchange << off << false << -1 << "its angles are not i x 180 / M degrees";
    QTest::newRow("reversed") << Layout::NXtomo << reversed << false << -1
                              << "its angles are not i x 180 / M degrees";
}

void TestHdf5Input::angles()
{
    QFETCH(Layout, layout);
    QFETCH(QVector<double>, angles);
    QFETCH(bool, radians);
    QFETCH(int, members);
    QFETCH(QString, line);
    QTemporaryDir dir;
    Scan s = patternScan(layout, H5T_STD_U16LE, Storage::Contiguous, 5, 3, angles.size(), 0, 0);
    s.angles.assign(angles.begin(), angles.end());
    s.anglesInRadians = radians;
    const QString path = dir.filePath("scan.h5");
    QVERIFY(write(path, s));
    ImgDatas stack;
    ProblemLog log;
    QCOMPARE(stack.add(path), members >= 0);
    QCOMPARE(stack.count(), std::max(members, 0));
    if (line.isEmpty()) {
        QVERIFY(log.taken().isEmpty());
    } else {
        QCOMPARE(log.taken().size(), 1);
        QVERIFY(log.taken().first().contains(line));
        QVERIFY(log.taken().first().contains(path));
    }
    if (members > 0) {
        s.projections.resize(std::size_t(members));
        checkStack(stack, s);
    }
}

void TestHdf5Input::badFilesAreRefused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing data set") << "missing"
                                      << "no data set /exchange/data or /entry/data/data";
    QTest::newRow("2-D data set") << "2d"
                                  << "is not 3-D";
    QTest::newRow("zero frames") << "zero"
                                 << "has no frames";
    QTest::newRow("flats of another size") << "flatsize"
                                           << "sizes disagree";
    QTest::newRow("theta of another length") << "theta"
                                             << "sizes disagree";
    QTest::newRow("image keys of another length") << "keys"
                                                  << "sizes disagree";
    QTest::newRow("truncated") << "truncated"
                               << "truncated or damaged";
    QTest::newRow("pixels overwritten") << "corrupt"
                                        << "truncated or damaged";
    QTest::newRow("unknown filter") << "filter"
                                    << "unknown compression filter";
    QTest::newRow("string pixels") << "strings"
                                   << "are not 8/16/32-bit";
}

void TestHdf5Input::badFilesAreRefused()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    // A stack already holding a good scan keeps it whole.
    const Scan good
        = patternScan(Layout::DXchange, H5T_STD_U16LE, Storage::Contiguous, 8, 6, 4, 1, 1);
    const QString goodPath = dir.filePath("good.h5");
    QVERIFY(write(goodPath, good));
    ImgDatas stack;
    QVERIFY(stack.add(goodPath));
    ImgData *i0Before = stack.i0();

    const QString path = dir.filePath("bad.h5");
    const QByteArray name = QFile::encodeName(path);
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    Scan s = patternScan(Layout::DXchange, H5T_STD_U16LE, Storage::Gzip, 8, 6, 4, 1, 1);
    if (kind == "flatsize") {
        // The whole scan first, then its flats replaced by 8 x 5 frames.
        QVERIFY(write(path, s));
        Scan other = s;
        other.height = 5;
        const std::vector<double> small(s.flats[0].begin(), s.flats[0].begin() + 8 * 5);
        hid_t f = H5Fopen(name.constData(), H5F_ACC_RDWR, H5P_DEFAULT);
        H5Ldelete(f, "/exchange/data_white", H5P_DEFAULT);
        hid_t g = H5Gopen2(f, "/exchange", H5P_DEFAULT);
        H5Dclose(makeFrames(g, "data_white", other, { small }));
        H5Gclose(g);
        H5Fclose(f);
    } else if (kind == "theta") {
        s.angles.pop_back();
        QVERIFY(write(path, s));
    } else if (kind == "keys") {
        s.layout = Layout::NXtomo;
        QVERIFY(write(path, s));
        hid_t f = H5Fopen(name.constData(), H5F_ACC_RDWR, H5P_DEFAULT);
        H5Ldelete(f, "/entry/data/image_key", H5P_DEFAULT);
        hid_t g = H5Gopen2(f, "/entry/data", H5P_DEFAULT);
        writeVector(g, "image_key", { 0, 0, 0 }, H5T_STD_I32LE);
        H5Gclose(g);
        H5Fclose(f);
    } else {
        QVERIFY(write(path, s));
        hid_t f = H5Fopen(name.constData(), H5F_ACC_RDWR, H5P_DEFAULT);
        hid_t g = H5Gopen2(f, "/exchange", H5P_DEFAULT);
        if (kind == "missing") {
            H5Ldelete(g, "data", H5P_DEFAULT);
        } else if (kind == "2d" || kind == "zero" || kind == "filter" || kind == "strings") {
            H5Ldelete(g, "data", H5P_DEFAULT);
            const hsize_t dims[3] = { hsize_t(kind == "zero" ? 0 : 4), 6, 8 };
            hid_t space
                = H5Screate_simple(kind == "2d" ? 2 : 3, kind == "2d" ? dims + 1 : dims, nullptr);
            hid_t dcpl = H5Pcreate(H5P_DATASET_CREATE);
            hid_t type = H5Tcopy(H5T_STD_U16LE);
            if (kind == "filter") {
                const hsize_t chunk[3] = { 1, 6, 8 };
                H5Pset_chunk(dcpl, 3, chunk);
                // A filter this library does not have (an id from the
                // registered range nobody builds in), marked optional so
                // that the writer may store the data unfiltered.
                H5Pset_filter(dcpl, H5Z_filter_t(32008), H5Z_FLAG_OPTIONAL, 0, nullptr);
            }
            if (kind == "strings") {
                H5Tclose(type);
                type = H5Tcopy(H5T_C_S1);
                H5Tset_size(type, 4);
            }
            hid_t d = H5Dcreate2(g, "data", type, space, H5P_DEFAULT, dcpl, H5P_DEFAULT);
            if (kind == "filter") {
                std::vector<quint16> v(4 * 6 * 8, 7);
                H5Dwrite(d, H5T_NATIVE_UINT16, H5S_ALL, H5S_ALL, H5P_DEFAULT, v.data());
            }
            H5Dclose(d);
            H5Tclose(type);
            H5Pclose(dcpl);
            H5Sclose(space);
        }
        H5Gclose(g);
        H5Fclose(f);
        if (kind == "truncated") {
            QFile file(path);
            QVERIFY(file.resize(file.size() * 2 / 3));
        } else if (kind == "corrupt") {
            // Overwrite the compressed pixels of the last frame.
            hid_t f = H5Fopen(name.constData(), H5F_ACC_RDONLY, H5P_DEFAULT);
            hid_t d = H5Dopen2(f, "/exchange/data", H5P_DEFAULT);
            const hsize_t last[3] = { 3, 0, 0 };
            haddr_t addr = 0;
            hsize_t bytes = 0;
            QVERIFY(H5Dget_chunk_info_by_coord(d, last, nullptr, &addr, &bytes) >= 0);
            H5Dclose(d);
            H5Fclose(f);
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.seek(qint64(addr)));
            file.write(QByteArray(int(bytes), '\x5a'));
        }
    }
    ProblemLog log;
    QVERIFY(!stack.add(path));
    const QStringList lines = log.taken();
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines.first().contains(reason), qPrintable(lines.first()));
    QVERIFY(lines.first().contains(path));
    // The earlier scan and its I0 are intact.
    checkStack(stack, good);
    QCOMPARE(stack.i0(), i0Before);
}

void TestHdf5Input::libraryErrorsGoToTheTrace()
{
    QTemporaryDir dir;
    const Scan s = patternScan(Layout::DXchange, H5T_STD_U16LE, Storage::Gzip, 8, 6, 4, 0, 0);
    const QString path = dir.filePath("cut.h5");
    QVERIFY(write(path, s));
    QFile cut(path);
    QVERIFY(cut.resize(cut.size() / 2));
    // Whatever the library prints to stderr lands in a file for the check.
    const QString errPath = dir.filePath("stderr.txt");
    fflush(stderr);
    const int saved = dup(2);
    const int fd
        = ::open(QFile::encodeName(errPath).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    QVERIFY(saved >= 0 && fd >= 0);
    dup2(fd, 2);
    ::close(fd);
    static QStringList trace;
    trace.clear();
    QtMessageHandler previous
        = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &c, const QString &msg) {
              if (c.category && QByteArray(c.category) == "vorlo2.trace")
                  trace << msg;
          });
    ImgDatas stack;
    const bool added = stack.add(path);
    qInstallMessageHandler(previous);
    fflush(stderr);
    dup2(saved, 2);
    ::close(saved);
    QVERIFY(!added);
    QFile err(errPath);
    QVERIFY(err.open(QIODevice::ReadOnly));
    const QByteArray printed = err.readAll();
    QVERIFY2(!printed.contains("HDF5"), printed.constData());
    QVERIFY(!trace.filter(QRegularExpression("^HDF5 #\\d+ ")).isEmpty());
}

void TestHdf5Input::rowsFromThreadsAtOnce()
{
    // Two calculators build sinograms of different slices at once; each row
    // band read and every cached band must give the right values.
    QTemporaryDir dir;
    Scan s = patternScan(Layout::DXchange, H5T_STD_U16LE, Storage::Gzip, 40, 24, 30, 0, 0);
    s.chunkRows = 4;
    s.chunkFrames = 8;
    const QString path = dir.filePath("scan.h5");
    QVERIFY(write(path, s));
    ImgDatas stack;
    QVERIFY(stack.add(path));
    std::atomic<int> wrong { 0 };
    auto work = [&](int first) {
        std::vector<double> line(40), col(24);
        for (int y = first; y < 24; y += 2)
            for (int k = 0; k < stack.count(); ++k) {
                stack.at(k)->row(y, line.data());
                if (!sameValues(
                        line.data(), s.projections[std::size_t(k)], std::size_t(y * 40), 40))
                    ++wrong;
                stack.at(k)->column(y, col.data());
                for (int r = 0; r < 24; ++r)
                    if (col[std::size_t(r)]
                        != s.projections[std::size_t(k)][std::size_t(r * 40 + y)])
                        ++wrong;
            }
    };
    std::thread a(work, 0), b(work, 1);
    a.join();
    b.join();
    QCOMPARE(wrong.load(), 0);
}

void TestHdf5Input::largeScanLoadsWithoutReadingIt()
{
    // 1800 x 2048 x 2048 16-bit pixels (15 GB) in chunks of 8 rows of one
    // frame, none of them written: the file is a few kilobytes and every
    // pixel reads as the fill value. Loading makes 1800 members without
    // reading pixels, and a sinogram's row band stays far below the file.
    QTemporaryDir dir;
    const QString path = dir.filePath("large.h5");
    const QByteArray name = QFile::encodeName(path);
    hid_t f = H5Fcreate(name.constData(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
    hid_t g = H5Gcreate2(f, "/exchange", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    const hsize_t dims[3] = { 1800, 2048, 2048 };
    const hsize_t chunk[3] = { 1, 8, 2048 };
    hid_t space = H5Screate_simple(3, dims, nullptr);
    hid_t dcpl = H5Pcreate(H5P_DATASET_CREATE);
    H5Pset_chunk(dcpl, 3, chunk);
    H5Pset_deflate(dcpl, 1);
    const quint16 fill = 321;
    H5Pset_fill_value(dcpl, H5T_NATIVE_UINT16, &fill);
    H5Dclose(H5Dcreate2(g, "data", H5T_STD_U16LE, space, H5P_DEFAULT, dcpl, H5P_DEFAULT));
    H5Pclose(dcpl);
    H5Sclose(space);
    H5Gclose(g);
    H5Fclose(f);
    QVERIFY(QFileInfo(path).size() < 1 << 20);

    const qint64 before = residentBytes();
    ImgDatas stack;
    QVERIFY(stack.add(path));
    QCOMPARE(stack.count(), 1800);
    QCOMPARE(stack.size(), QSize(2048, 2048));
    std::vector<double> line(2048);
    for (int k : { 0, 899, 1799 }) {
        stack.at(k)->row(1000, line.data());
        QCOMPARE(line[0], 321.0);
        QCOMPARE(line[2047], 321.0);
    }
    // One band of 8 rows of every frame is 59 MB; the file holds 15 GB.
    // (Sanitizers shadow every byte the program touches several times over.)
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    const qint64 bound = qint64(800) << 20;
#else
    const qint64 bound = qint64(200) << 20;
#endif
    const qint64 grown = residentBytes() - before;
    QVERIFY2(grown < bound, qPrintable(QString::number(grown)));
}

VORLO_TEST(TestHdf5Input)
#include "test_hdf5.moc"
