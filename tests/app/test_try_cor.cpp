// The centre search ("Try CoR") in the main window, on a phantom scan whose
// centre of rotation is known: a batch with "ct_try_cor" and "calc_exec", the
// panel's button clicked with the mouse, stopping with the Calc button, and
// refused requests.
#include <QFileInfo> // before the main window's header, which uses QFileInfoList

#include "app/batch.h"
#include "app/body.h"
#include "ct/ct_calc2_ui.h"
#include "ct/proc_ctrl.h"
#include "display/img_disp_wpv.h"
#include "select/select_a_file.h"
#include "select/select_a_img_file.h"
#include "tests/test_registry.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <memory>
#include <tiffio.h>

namespace {

// The phantom's axis lies between pixels, off the detector's middle (32), so
// that neither the default centre nor a whole pixel is right.
constexpr double trueCor = 30.3;
constexpr int scanWidth = 64;
constexpr int scanHeight = 4;
constexpr int scanProjections = 120;

QString tool() { return QCoreApplication::applicationDirPath() + "/vorlo2-phantom"; }

bool writeText(const QString &fname, const QString &text)
{
    QFile f(fname);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    return f.write(text.toUtf8()) >= 0;
}

// A float TIFF read back with libtiff; empty when it is not one.
struct FloatTiff {
    int width = 0;
    int height = 0;
    std::vector<float> values;
};

FloatTiff readFloatTiff(const QString &path)
{
    FloatTiff t;
    TIFF *tif = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (!tif)
        return t;
    uint32_t w = 0, h = 0;
    uint16_t bits = 0, format = 0, samples = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    if (bits == 32 && format == SAMPLEFORMAT_IEEEFP && samples == 1 && w > 0 && h > 0
        && TIFFScanlineSize(tif) == tmsize_t(w) * 4) {
        t.values.resize(size_t(w) * h);
        bool ok = true;
        for (uint32_t y = 0; y < h && ok; ++y)
            ok = TIFFReadScanline(tif, t.values.data() + size_t(y) * w, y) >= 0;
        if (ok) {
            t.width = int(w);
            t.height = int(h);
        } else {
            t.values.clear();
        }
    }
    TIFFClose(tif);
    return t;
}

// Total variation over the whole grid: the sum of the absolute differences of
// horizontally and vertically neighbouring pixels. A wrong centre smears every
// edge into arcs, which adds variation.
double totalVariation(const FloatTiff &t)
{
    double tv = 0;
    for (int z = 0; z < t.height; ++z)
        for (int x = 0; x < t.width; ++x) {
            const double v = t.values[size_t(z) * t.width + x];
            if (x + 1 < t.width)
                tv += std::abs(t.values[size_t(z) * t.width + x + 1] - v);
            if (z + 1 < t.height)
                tv += std::abs(t.values[size_t(z + 1) * t.width + x] - v);
        }
    return tv;
}

QStringList filesIn(const QString &dir) { return QDir(dir).entryList(QDir::Files, QDir::Name); }

} // namespace

class TestTryCor : public QObject {
    Q_OBJECT

    QTemporaryDir tmp;
    QString scan;

    template <class T> static T *child(Body &b, const char *name)
    {
        T *w = b.findChild<T *>(QString::fromLatin1(name));
        if (!w)
            qFatal("no child %s", name);
        return w;
    }

    // Commands as a batch would send them, answered or not.
    static void command(Body &b, const QString &line)
    {
        QMetaObject::invokeMethod(&b, "batchExCmd", Q_ARG(BatchCmd, BatchCmd(line)));
    }

    // Loads the scan with its I0 and BG images, vertical axis, slice 2, two
    // parallel calculators, TIFFs into out/tif.
    bool prepare(Body &b, const QString &out)
    {
        for (const QString &line :
            { QString("ct_rot_ax_is_v 1"), QString("calc_ct2 1"), QString("ct_threads 2"),
                QString("i0_load %1/I0.img").arg(scan), QString("bg_load %1/BG.img").arg(scan),
                QString("auto_save_tiff_path %1/tif").arg(out), QString("auto_save_tiff_name res"),
                QString("auto_save_tiff_tag E1") })
            command(b, line);
        QSignalSpy loaded(&b, &Body::finishedLoadingCTFiles);
        command(b, QString("images_load %1 proj_*.img").arg(scan));
        if (!loaded.wait(20000))
            return false;
        command(b, "ct_proc_slice 2");
        return true;
    }

    // The five TIFFs of the series 29.30 ... 31.30: every name carries its
    // centre, and the total variation is lowest at the phantom's centre.
    void checkSeries(const QString &folder, const char *what)
    {
        const double cors[] = { 29.3, 29.8, 30.3, 30.8, 31.3 };
        const char *names[] = { "29.30", "29.80", "30.30", "30.80", "31.30" };
        double tv[5];
        for (int i = 0; i < 5; ++i) {
            const QString path = QString("%1/res-E1-00002-cor%2.tif").arg(folder, names[i]);
            // The writer works on in its own thread after the calculation has
            // ended; a file appears under its name once it is complete.
            QTRY_VERIFY2_WITH_TIMEOUT(QFileInfo::exists(path), qPrintable(path), 10000);
            const FloatTiff t = readFloatTiff(path);
            QVERIFY2(t.width > 0, qPrintable(path));
            QCOMPARE(t.height, t.width);
            tv[i] = totalVariation(t);
            qInfo().noquote() << QString("%1: centre %2 grid %3 total variation %4")
                                     .arg(what)
                                     .arg(cors[i], 0, 'f', 2)
                                     .arg(t.width)
                                     .arg(tv[i], 0, 'g', 6);
        }
        // The grids differ by a pixel or two with the centre (the sinogram is
        // centred on it), so only the minimum is compared, not the slope.
        for (int i = 0; i < 5; ++i)
            if (i != 2)
                QVERIFY2(tv[2] < tv[i], qPrintable(QString("centre %1").arg(cors[i])));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(tmp.isValid());
        qputenv("QT_LOGGING_RULES", "qt.*=false");
        QVERIFY2(QFileInfo::exists(tool()), "build vorlo2-phantom first");
        scan = tmp.filePath("scan");
        QProcess p;
        p.start(tool(),
            { "scan", "--out", scan, "--width", QString::number(scanWidth), "--height",
                QString::number(scanHeight), "--projections", QString::number(scanProjections),
                "--cor", QString::number(trueCor) });
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(QFileInfo::exists(scan + "/I0.img"));
    }

    // A batch: the search, then an ordinary single-slice calculation. The
    // search writes only its five centre-named TIFFs (no image or data file,
    // whatever the auto-save boxes say); "calc_exec" starts after its end and
    // writes the ordinary files of the slice.
    void batchSeriesThenCalc()
    {
        QTemporaryDir out;
        Body b(2, nullptr);
        QVERIFY(prepare(b, out.path()));
        const QString bat = out.filePath("try.bat");
        QVERIFY(writeText(bat,
            QString("auto_save_tiff 1\nauto_save_image 1\nauto_save_image_path %1/img\n"
                    "auto_save_image_name res\nauto_save_image_tag E1\nauto_save_data 1\n"
                    "auto_save_data_path %1/img\nauto_save_data_name res\n"
                    "auto_save_data_tag E1\nct_try_cor 29.3 31.3 0.5\ncalc_exec\nshow_bg\n")
                .arg(out.path())));
        struct Run {
            QDateTime start, end;
            QStringList tifs, imgs;
        };
        QVector<Run> runs;
        connect(&b, &Body::calcFinished, this, [&] {
            runs.push_back({ b.calcStartTime(), b.calcEndTime(), filesIn(out.filePath("tif")),
                filesIn(out.filePath("img")) });
        });
        QSignalSpy done(&b, &Body::calcFinished);
        b.batchLoad(bat);
        b.batchExec();
        QTRY_COMPARE_WITH_TIMEOUT(runs.size(), 2, 60000);
        // The second calculation started when the series had ended.
        QVERIFY(runs[1].start >= runs[0].end);
        QVERIFY(runs[0].imgs.isEmpty());
        for (const QString &f : runs[0].tifs)
            QVERIFY2(f.contains("-cor"), qPrintable(f));
        checkSeries(out.filePath("tif"), "batch");
        // The ordinary calculation: its image, data and plain TIFF of slice 2.
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(out.filePath("img/res-E1-00002.png")), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(out.filePath("img/res-E1-00002.dat")), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(out.filePath("tif/res-E1-00002.tif")), 10000);
        QTest::qWait(200);
        QCOMPARE(filesIn(out.filePath("tif")).size(), 6);
        QCOMPARE(filesIn(out.filePath("img")).size(), 2);
        QCOMPARE(done.count(), 2);
    }

    // The button, clicked with the mouse on the shown window, does what the
    // command does; the Calc button shows the search running.
    void buttonClickRunsTheSeries()
    {
        QTemporaryDir out;
        Body b(2, nullptr);
        QVERIFY(prepare(b, out.path()));
        b.resize(1400, 900);
        b.show();
        QVERIFY(QTest::qWaitForWindowExposed(&b));
        child<QLineEdit>(b, "TryCorFrom")->setText("29.3");
        child<QLineEdit>(b, "TryCorTo")->setText("31.3");
        child<QLineEdit>(b, "TryCorStep")->setText("0.5");
        auto *button = child<QPushButton>(b, "TryCor");
        QVERIFY(button->isVisible());
        QSignalSpy done(&b, &Body::calcFinished);
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(b.isCalcRunning());
        QVERIFY(child<QPushButton>(b, "CalcCT")->styleSheet().contains("255, 255, 128"));
        QVERIFY(!b.calculatorsIdle());
        QVERIFY(done.wait(60000));
        QVERIFY(!b.isCalcRunning());
        checkSeries(out.filePath("tif"), "button");
        // Each calculator's tab shows the last centre it reconstructed: a grid
        // of one of the series' sizes, of slice 2.
        for (CtCalc2Ui *u : b.ctCalc2Uis()) {
            QTRY_VERIFY_WITH_TIMEOUT(!u->dispCt()->image().isNull(), 5000);
            const int n = u->dispCt()->image().width();
            QVERIFY2(n == 56 || n == 58 || n == 60, qPrintable(QString::number(n)));
            QCOMPARE(u->shownSliceNo(), 2);
        }
        QTest::qWait(200);
        QCOMPARE(filesIn(out.filePath("tif")).size(), 5);
    }

    // Pressing Calc during a search stops it: the end is reported once and no
    // further centre is handed out.
    void calcButtonStopsTheSeries()
    {
        QTemporaryDir out;
        Body b(2, nullptr);
        QVERIFY(prepare(b, out.path()));
        QSignalSpy done(&b, &Body::calcFinished);
        b.tryCor(20, 40, 0.25); // 81 centres
        QVERIFY(b.isCalcRunning());
        child<QPushButton>(b, "CalcCT")->click();
        QCOMPARE(done.count(), 1);
        QVERIFY(!b.isCalcRunning());
        QTRY_VERIFY_WITH_TIMEOUT(b.calculatorsIdle(), 20000);
        QTest::qWait(300);
        // At most the two centres already handed out.
        QVERIFY(filesIn(out.filePath("tif")).size() <= 2);
        QCOMPARE(done.count(), 1);
    }

    // In sub folders of the slice (the choice handed to the saver as a
    // sequential run does): the centre-named files go into the folder of slice
    // 2. An I0 choice made during the search waits for its end.
    void subFoldersAndDeferredChoices()
    {
        QTemporaryDir out;
        Body b(2, nullptr);
        QVERIFY(prepare(b, out.path()));
        child<QCheckBox>(b, "SaveInSubFolders")->setChecked(true);
        child<QRadioButton>(b, "SubOfSlice")->setChecked(true);
        QMetaObject::invokeMethod(&b, "setFirstImageSet");
        QSignalSpy done(&b, &Body::calcFinished);
        b.tryCor(30.3, 29.3, -1);
        QVERIFY(b.isCalcRunning());
        const QString i0 = scan + "/I0.img";
        QTest::ignoreMessage(QtDebugMsg,
            qPrintable(QString("I0 image waits for the end of the calculation : \"%1\"").arg(i0)));
        b.selectI0Image(i0);
        QVERIFY(done.wait(60000));
        const QString folder = out.filePath("tif/00002");
        QTRY_COMPARE_WITH_TIMEOUT(filesIn(folder),
            QStringList({ "res-E1-00002-cor29.30.tif", "res-E1-00002-cor30.30.tif" }), 10000);
        QCOMPARE(filesIn(out.filePath("tif")), QStringList());
        QVERIFY(child<SelectAImgFile>(b, "I0ImgSel")->isEnabled());
    }

    // Refused requests log why, start nothing and, from a batch, are answered
    // at once with the ok flag cleared.
    void refusedRequests_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("tiffPath"); // "-" keeps out/tif
        QTest::addColumn<QString>("reason");
        QTest::newRow("zero step") << "ct_try_cor 29 31 0"
                                   << "-"
                                   << "the step is 0";
        QTest::newRow("wrong direction") << "ct_try_cor 31 29 0.5"
                                         << "-"
                                         << "the step leads away";
        QTest::newRow("too many") << "ct_try_cor 1 60 0.01"
                                  << "-"
                                  << "more than 1000";
        QTest::newRow("missing arguments") << "ct_try_cor"
                                           << "-"
                                           << "the step is 0";
        QTest::newRow("outside the detector") << "ct_try_cor 50 70 5"
                                              << "-"
                                              << "centre outside the detector";
        QTest::newRow("no TIFF folder") << "ct_try_cor 29 31 1"
                                        << ""
                                        << "no TIFF save folder";
    }
    void refusedRequests()
    {
        QFETCH(QString, line);
        QFETCH(QString, tiffPath);
        QFETCH(QString, reason);
        QTemporaryDir out;
        Body b(2, nullptr);
        QVERIFY(prepare(b, out.path()));
        if (tiffPath != "-")
            child<SelectAFile>(b, "SelectTiffSaveDir")->setPath(tiffPath);
        QSignalSpy answered(&b, &Body::callBatchCheckEnd);
        QSignalSpy done(&b, &Body::calcFinished);
        QTest::ignoreMessage(QtDebugMsg,
            QRegularExpression("^Try CoR refused : " + QRegularExpression::escape(reason)));
        command(b, line);
        QCOMPARE(answered.count(), 1);
        QVERIFY(!b.batch()->isOk());
        QVERIFY(!b.isCalcRunning());
        QVERIFY(b.calculatorsIdle());
        QTest::qWait(100);
        QCOMPARE(done.count(), 0);
        QVERIFY(filesIn(out.filePath("tif")).isEmpty());
    }

    // A search asked for while another calculation runs is refused and does
    // not touch the running one.
    void refusedWhileCalculating()
    {
        QTemporaryDir out;
        Body b(2, nullptr);
        QVERIFY(prepare(b, out.path()));
        QSignalSpy done(&b, &Body::calcFinished);
        b.tryCor(20, 40, 0.25);
        QVERIFY(b.isCalcRunning());
        QTest::ignoreMessage(QtDebugMsg, "Try CoR refused : a calculation is already running");
        b.tryCor(29, 31, 1);
        QVERIFY(b.isCalcRunning());
        QVERIFY(done.wait(60000));
        QCOMPARE(done.count(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(filesIn(out.filePath("tif")).size(), 81, 20000);
    }
};

VORLO_TEST(TestTryCor)
#include "test_try_cor.moc"
