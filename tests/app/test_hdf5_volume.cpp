#include "ct/hdf5_volume.h"
#include "tests/test_registry.h"

#include <hdf5.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <vector>

namespace {

std::vector<float> frameOf(int slice, int n)
{
    std::vector<float> v(std::size_t(n) * std::size_t(n));
    for (std::size_t i = 0; i < v.size(); ++i)
        v[i] = float(slice) * 1000.0f + float(i) * 0.25f;
    return v;
}

struct Read {
    hsize_t dims[3] = { 0, 0, 0 };
    std::vector<float> recon;
    std::vector<int> slices;
    std::vector<double> centres;
};

bool readBack(const QString &path, Read &r)
{
    const hid_t f = H5Fopen(QFile::encodeName(path).constData(), H5F_ACC_RDONLY, H5P_DEFAULT);
    if (f < 0)
        return false;
    const hid_t d = H5Dopen2(f, "/exchange/recon", H5P_DEFAULT);
    const hid_t s = H5Dopen2(f, "/exchange/slice", H5P_DEFAULT);
    const hid_t c = H5Dopen2(f, "/exchange/centre", H5P_DEFAULT);
    const hid_t sp = H5Dget_space(d);
    H5Sget_simple_extent_dims(sp, r.dims, nullptr);
    H5Sclose(sp);
    r.recon.resize(r.dims[0] * r.dims[1] * r.dims[2]);
    r.slices.resize(r.dims[0]);
    r.centres.resize(r.dims[0]);
    const bool ok = H5Dread(d, H5T_NATIVE_FLOAT, H5S_ALL, H5S_ALL, H5P_DEFAULT, r.recon.data()) >= 0
        && H5Dread(s, H5T_NATIVE_INT, H5S_ALL, H5S_ALL, H5P_DEFAULT, r.slices.data()) >= 0
        && H5Dread(c, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, r.centres.data()) >= 0;
    H5Dclose(c);
    H5Dclose(s);
    H5Dclose(d);
    H5Fclose(f);
    return ok;
}

QStringList parts(const QString &dir) { return QDir(dir).entryList({ "*.part" }, QDir::Files); }

} // namespace

class TestHdf5Volume : public QObject {
    Q_OBJECT
private slots:
    void plannedSlices_data();
    void plannedSlices();
    void framesInSliceOrderWithGapsDropped();
    void refusedFramesAndFailuresKeepTheEarlierFile();
};

void TestHdf5Volume::plannedSlices_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<int>("step");
    QTest::addColumn<QVector<int>>("slices");
    QTest::newRow("up") << 2 << 9 << 3 << QVector<int>({ 2, 5, 8 });
    QTest::newRow("down, ascending out") << 9 << 2 << 3 << QVector<int>({ 3, 6, 9 });
    QTest::newRow("negative step up") << 2 << 5 << -2 << QVector<int>({ 2, 4 });
    QTest::newRow("step 0 is 1") << 4 << 6 << 0 << QVector<int>({ 4, 5, 6 });
    QTest::newRow("one") << 7 << 7 << 5 << QVector<int>({ 7 });
}

void TestHdf5Volume::plannedSlices()
{
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(int, step);
    QFETCH(QVector<int>, slices);
    QCOMPARE(hdf5VolumeSlices(from, to, step), slices);
}

void TestHdf5Volume::framesInSliceOrderWithGapsDropped()
{
    // A stopped run: slices 2, 5 and 3 of 1 ... 6 arrive, out of order.
    QTemporaryDir dir;
    const QString path = dir.filePath("v.h5");
    const int n = 6;
    {
        Hdf5VolumeWriter w(path, { 6, 5, 4, 3, 2, 1 });
        for (int s : { 2, 5, 3 }) {
            const std::vector<float> f = frameOf(s, n);
            QVERIFY(w.addFrame(s, f.data(), n));
        }
        QVERIFY(!QFile::exists(path)); // only the temporary file so far
        QCOMPARE(parts(dir.path()).size(), 1);
        QVERIFY(w.finish("record text", { { 2, 3.5 }, { 3, 3.25 } }));
    }
    QVERIFY(parts(dir.path()).isEmpty());
    Read r;
    QVERIFY(readBack(path, r));
    QCOMPARE(int(r.dims[0]), 3);
    QCOMPARE(int(r.dims[1]), n);
    QCOMPARE(r.slices, std::vector<int>({ 2, 3, 5 }));
    QCOMPARE(r.centres[0], 3.5);
    QCOMPARE(r.centres[1], 3.25);
    QVERIFY(std::isnan(r.centres[2])); // no centre known for slice 5
    for (int k = 0; k < 3; ++k) {
        const std::vector<float> f = frameOf(r.slices[std::size_t(k)], n);
        QVERIFY(std::equal(f.begin(), f.end(), r.recon.begin() + k * n * n));
    }
}

void TestHdf5Volume::refusedFramesAndFailuresKeepTheEarlierFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("v.h5");
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("earlier volume");
    old.close();
    const std::vector<float> f4 = frameOf(1, 4), f6 = frameOf(2, 6);
    {
        Hdf5VolumeWriter w(path, { 1, 2, 3 });
        QVERIFY(w.addFrame(1, f4.data(), 4));
        QTest::ignoreMessage(QtDebugMsg,
            QRegularExpression("HDF5 volume : slice 2 has a 6 x 6 grid, the volume 4 x 4"));
        QVERIFY(!w.addFrame(2, f6.data(), 6)); // another centre: another grid
        QTest::ignoreMessage(
            QtDebugMsg, QRegularExpression("HDF5 volume : slice 9 is not in the run"));
        QVERIFY(!w.addFrame(9, f4.data(), 4));
        // Dropped without finish (the program ends mid-run): nothing replaced.
    }
    QVERIFY(parts(dir.path()).isEmpty());
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("earlier volume"));
    old.close();
    {
        Hdf5VolumeWriter w(path, { 1 });
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("HDF5 volume : no slice was saved"));
        QVERIFY(!w.finish("text", {}));
    }
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("earlier volume"));
    old.close();
    // A folder that does not exist: the first frame fails, the writer stays failed.
    Hdf5VolumeWriter w(dir.filePath("missing/v.h5"), { 1, 2 });
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("Can't write file : .*missing/v.h5"));
    QVERIFY(!w.addFrame(1, f4.data(), 4));
    QVERIFY(w.failed());
    QVERIFY(!w.addFrame(2, f4.data(), 4));
    QVERIFY(!w.finish("text", {}));
}

VORLO_TEST(TestHdf5Volume)
#include "test_hdf5_volume.moc"
