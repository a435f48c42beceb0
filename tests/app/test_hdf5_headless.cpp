#include "image/img_data.h"
#include "tests/app/headless_run.h"
#include "tests/test_registry.h"

#include <hdf5.h>

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

using namespace headless;

namespace {

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writePhantom(const QString &dir, const QStringList &extra)
{
    QProcess tool;
    tool.start(program("vorlo2-phantom"),
        QStringList {
            "scan", "--out", dir, "--width", "96", "--height", "6", "--projections", "90" }
            + extra);
    return tool.waitForFinished(60000) && tool.exitCode() == 0;
}

// The batch of a range run over slices 1 ... 4 with the given loading
// lines and save lines.
QString rangeJob(const QString &load, const QString &save)
{
    return QString("images_new_on_load 1\nct_rot_ax_is_v 1\n%1ct_cor 48\n"
                   "ct_slice_from 1\nct_slice_to 4\nct_slice_step 1\n%2"
                   "calc_ct2 1\nct_auto_exec 1\ncalc_exec\n")
        .arg(load, save);
}

struct Volume {
    bool ok = false;
    hsize_t dims[3] = { 0, 0, 0 };
    std::vector<float> recon;
    std::vector<int> slices;
    std::vector<double> centres;
    QString record;
};

// Reads a volume file through the library itself.
Volume readVolume(const QString &path)
{
    Volume v;
    const hid_t f = H5Fopen(QFile::encodeName(path).constData(), H5F_ACC_RDONLY, H5P_DEFAULT);
    if (f < 0)
        return v;
    const hid_t r = H5Dopen2(f, "/exchange/recon", H5P_DEFAULT);
    const hid_t s = H5Dopen2(f, "/exchange/slice", H5P_DEFAULT);
    const hid_t c = H5Dopen2(f, "/exchange/centre", H5P_DEFAULT);
    const hid_t g = H5Gopen2(f, "/exchange", H5P_DEFAULT);
    if (r >= 0 && s >= 0 && c >= 0 && g >= 0) {
        const hid_t sp = H5Dget_space(r);
        H5Sget_simple_extent_dims(sp, v.dims, nullptr);
        H5Sclose(sp);
        const hid_t type = H5Dget_type(r);
        const bool isFloat32 = H5Tequal(type, H5T_IEEE_F32LE) > 0;
        H5Tclose(type);
        v.recon.resize(v.dims[0] * v.dims[1] * v.dims[2]);
        v.slices.resize(v.dims[0]);
        v.centres.resize(v.dims[0]);
        v.ok = isFloat32
            && H5Dread(r, H5T_NATIVE_FLOAT, H5S_ALL, H5S_ALL, H5P_DEFAULT, v.recon.data()) >= 0
            && H5Dread(s, H5T_NATIVE_INT, H5S_ALL, H5S_ALL, H5P_DEFAULT, v.slices.data()) >= 0
            && H5Dread(c, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, v.centres.data()) >= 0;
        const hid_t a = H5Aopen(g, "run_record", H5P_DEFAULT);
        if (a >= 0) {
            const hid_t t = H5Aget_type(a);
            std::vector<char> text(H5Tget_size(t) + 1, '\0');
            const hid_t mem = H5Tcopy(H5T_C_S1);
            H5Tset_size(mem, text.size());
            H5Tset_cset(mem, H5Tget_cset(t));
            if (H5Aread(a, mem, text.data()) >= 0)
                v.record = QString::fromUtf8(text.data());
            H5Tclose(mem);
            H5Tclose(t);
            H5Aclose(a);
        }
    }
    for (hid_t id : { r, s, c })
        if (id >= 0)
            H5Dclose(id);
    if (g >= 0)
        H5Gclose(g);
    H5Fclose(f);
    return v;
}

// The float values of a TIFF slice as read by the program's own reader.
std::vector<double> tiffValues(const QString &path, int &w, int &h)
{
    std::unique_ptr<ImgData> img(createImgData(fileType(path)));
    std::vector<double> v;
    if (!img)
        return v;
    img->setFileName(path);
    if (!img->load())
        return v;
    w = img->width();
    h = img->height();
    v.resize(std::size_t(w) * std::size_t(h));
    for (int y = 0; y < h; ++y)
        img->row(y, v.data() + std::size_t(y) * std::size_t(w));
    return v;
}

QStringList partFiles(const QString &dir) { return QDir(dir).entryList({ "*.part" }, QDir::Files); }

} // namespace

class TestHdf5Headless : public QObject {
    Q_OBJECT
private slots:
    void hdf5ScanReconstructsAsItsItexFiles();
    void refusedScanFileEndsTheBatchAsRefused();
    void volumeThatCannotBeWrittenCounts();
};

void TestHdf5Headless::hdf5ScanReconstructsAsItsItexFiles()
{
    // One phantom scan as ITEX files (with I0.img and BG.img) and as one
    // DXchange file (with the same I0 and BG as its one flat and one dark),
    // compressed and not: the slices must not differ by a bit.
    for (const bool gzip : { false, true }) {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        QStringList extra { "--hdf5", tmp.filePath("h5/scan.h5") };
        if (gzip)
            extra << "--gzip";
        QVERIFY(writePhantom(tmp.filePath("scan"), extra));

        QVERIFY(writeText(tmp.filePath("itex.bat"),
            rangeJob("images_load scan proj_*.img\ni0_load scan/I0.img\nbg_load scan/BG.img\n",
                "auto_save_tiff_path out/itex\nauto_save_tiff_name s\nauto_save_tiff_tag a\n"
                "auto_save_tiff 1\n")));
        Run r = runVorlo(tmp.path(), { "-nw", "-e", "-b", "itex.bat", "-x" });
        QVERIFY(r.ended);
        QCOMPARE(r.code, 0);

        QVERIFY(writeText(tmp.filePath("h5.bat"),
            rangeJob("images_load h5 *.h5\n",
                "auto_save_tiff_path out/h5\nauto_save_tiff_name s\nauto_save_tiff_tag b\n"
                "auto_save_tiff 1\n"
                "auto_save_hdf5_path out/vol\nauto_save_hdf5_name s\nauto_save_hdf5_tag b\n"
                "auto_save_hdf5 1\n")));
        r = runVorlo(tmp.path(), { "-nw", "-e", "-b", "h5.bat", "-x" });
        QVERIFY(r.ended);
        QCOMPARE(r.code, 0);
        QVERIFY2(r.err.contains("I0 is the mean of 1 flat fields of"), qPrintable(r.err));
        QVERIFY(r.err.contains("BG is the mean of 1 dark fields of"));

        for (int s = 1; s <= 4; ++s) {
            const QString label = QString::asprintf("%05d", s);
            const QByteArray a = fileBytes(tmp.filePath("out/itex/s-a-" + label + ".tif"));
            const QByteArray b = fileBytes(tmp.filePath("out/h5/s-b-" + label + ".tif"));
            QVERIFY2(!a.isEmpty() && a == b, qPrintable(label));
        }

        // The volume holds the same floats as the TIFF slices of its run, in
        // slice order, with the slice numbers, the centres and the record.
        const Volume v = readVolume(tmp.filePath("out/vol/s-b.h5"));
        QVERIFY(v.ok);
        QCOMPARE(int(v.dims[0]), 4);
        QCOMPARE(v.slices, std::vector<int>({ 1, 2, 3, 4 }));
        QCOMPARE(v.centres, std::vector<double>(4, 48.0));
        QVERIFY(v.record.contains("slice 00001 centre 48"));
        QVERIFY(v.record.contains("hdf5"));
        for (int k = 0; k < 4; ++k) {
            int w = 0, h = 0;
            const std::vector<double> t
                = tiffValues(tmp.filePath(QString::asprintf("out/h5/s-b-%05d.tif", k + 1)), w, h);
            QCOMPARE(hsize_t(w), v.dims[2]);
            QCOMPARE(hsize_t(h), v.dims[1]);
            const float *frame = v.recon.data() + std::size_t(k) * t.size();
            for (std::size_t i = 0; i < t.size(); ++i)
                if (double(frame[i]) != t[i])
                    QFAIL(qPrintable(QString("slice %1 pixel %2").arg(k + 1).arg(i)));
        }
        QVERIFY(partFiles(tmp.filePath("out/vol")).isEmpty());
        QVERIFY(QFileInfo::exists(tmp.filePath("out/vol/s-b-run.txt")));

        // The scan file chosen as I0 and as BG gives the mean of its flats
        // and of its darks: the ITEX projections reconstruct as with I0.img
        // and BG.img.
        if (gzip)
            continue;
        QVERIFY(writeText(tmp.filePath("i0bg.bat"),
            rangeJob("images_load scan proj_*.img\ni0_load h5/scan.h5\nbg_load h5/scan.h5\n",
                "auto_save_tiff_path out/i0bg\nauto_save_tiff_name s\nauto_save_tiff_tag c\n"
                "auto_save_tiff 1\n")));
        r = runVorlo(tmp.path(), { "-nw", "-e", "-b", "i0bg.bat", "-x" });
        QVERIFY(r.ended);
        QCOMPARE(r.code, 0);
        for (int s = 1; s <= 4; ++s) {
            const QString label = QString::asprintf("%05d", s);
            const QByteArray a = fileBytes(tmp.filePath("out/itex/s-a-" + label + ".tif"));
            const QByteArray c = fileBytes(tmp.filePath("out/i0bg/s-c-" + label + ".tif"));
            QVERIFY2(!a.isEmpty() && a == c, qPrintable(label));
        }
    }
}

void TestHdf5Headless::refusedScanFileEndsTheBatchAsRefused()
{
    // A scan file whose angles end at 182 degrees: refused with one line
    // naming it, nothing reconstructed, the batch ends as refused input.
    QTemporaryDir tmp;
    QVERIFY(writePhantom(tmp.filePath("scan"), { "--hdf5", tmp.filePath("h5/scan.h5") }));
    const QByteArray name = QFile::encodeName(tmp.filePath("h5/scan.h5"));
    const hid_t f = H5Fopen(name.constData(), H5F_ACC_RDWR, H5P_DEFAULT);
    const hid_t t = H5Dopen2(f, "/exchange/theta", H5P_DEFAULT);
    std::vector<double> theta(90);
    for (int i = 0; i < 90; ++i)
        theta[std::size_t(i)] = i * 182.0 / 90;
    H5Dwrite(t, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, theta.data());
    H5Dclose(t);
    H5Fclose(f);
    QVERIFY(writeText(tmp.filePath("job.bat"),
        rangeJob("images_load h5 *.h5\n",
            "auto_save_hdf5_path out\nauto_save_hdf5_name s\nauto_save_hdf5 1\n")));
    const Run r = runVorlo(tmp.path(), { "-nw", "-e", "-b", "job.bat", "-x" });
    QVERIFY(r.ended && r.normalExit);
    QCOMPARE(r.code, 3);
    QCOMPARE(r.err.count("HDF5 file refused : its angles are not i x 180 / M degrees"), 1);
    QVERIFY(r.err.contains(tmp.filePath("h5/scan.h5")));
    QVERIFY(!QFileInfo::exists(tmp.filePath("out/s-.h5")));
}

void TestHdf5Headless::volumeThatCannotBeWrittenCounts()
{
    // The volume's folder is a plain file: the TIFF slices are written, the
    // volume is not, the run ends with code 2 and leaves no partial file.
    QTemporaryDir tmp;
    QVERIFY(writePhantom(tmp.filePath("scan"), {}));
    QVERIFY(writeText(tmp.filePath("blocked"), "a file, not a folder"));
    QVERIFY(writeText(tmp.filePath("job.bat"),
        rangeJob("images_load scan proj_*.img\ni0_load scan/I0.img\nbg_load scan/BG.img\n",
            "auto_save_tiff_path out\nauto_save_tiff_name s\nauto_save_tiff 1\n"
            "auto_save_hdf5_path blocked/vol\nauto_save_hdf5_name s\nauto_save_hdf5 1\n")));
    Run r = runVorlo(tmp.path(), { "-nw", "-e", "-b", "job.bat", "-x" });
    QVERIFY(r.ended && r.normalExit);
    QCOMPARE(r.code, 2);
    QVERIFY(r.err.contains("Can't write file : "));
    for (int s = 1; s <= 4; ++s)
        QVERIFY(QFileInfo::exists(tmp.filePath(QString::asprintf("out/s--%05d.tif", s))));

    // Centres that vary with the slice give grids of other sizes: those
    // slices are refused for the volume (one line each, code 2), the TIFFs
    // are all written, and the volume holds the slices of one grid.
    QVERIFY(writeText(tmp.filePath("job2.bat"),
        rangeJob("images_load scan proj_*.img\ni0_load scan/I0.img\nbg_load scan/BG.img\n"
                 "ct_recorded_cor_1 1 48\nct_recorded_cor_2 4 40\n",
            "auto_save_tiff_path out2\nauto_save_tiff_name s\nauto_save_tiff 1\n"
            "auto_save_hdf5_path vol\nauto_save_hdf5_name s\nauto_save_hdf5 1\n")));
    r = runVorlo(tmp.path(), { "-nw", "-e", "-b", "job2.bat", "-x" });
    QVERIFY(r.ended && r.normalExit);
    QCOMPARE(r.code, 2);
    const int refused = r.err.count("(another centre) : refused for");
    QVERIFY2(refused >= 1 && refused <= 3, qPrintable(r.err));
    for (int s = 1; s <= 4; ++s)
        QVERIFY(QFileInfo::exists(tmp.filePath(QString::asprintf("out2/s--%05d.tif", s))));
    const Volume v = readVolume(tmp.filePath("vol/s-.h5"));
    QVERIFY(v.ok);
    QCOMPARE(int(v.dims[0]), 4 - refused);
    QVERIFY(std::is_sorted(v.slices.begin(), v.slices.end()));
    QVERIFY(partFiles(tmp.filePath("vol")).isEmpty());
}

VORLO_TEST(TestHdf5Headless)
#include "test_hdf5_headless.moc"
