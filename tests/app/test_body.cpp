// The main window on the offscreen platform with tiny ITEX scans written into
// a temporary folder: loading, end-of-loading defaults, calculation start and
// stop, range runs on the parallel calculators, the overlap rules between
// loading and calculating, sharing of regions and colours, the I0 energy rule
// and an orderly shutdown that writes every queued result.
#include "app/body.h"
#include "ct/bp_kernel.h"
#include "ct/ct_calc.h"
#include "ct/ct_calc2.h"
#include "ct/ct_calc2_ui.h"
#include "ct/proc_ctrl.h"
#include "display/disp_a.h"
#include "display/raw_disp.h"
#include "image/img_data.h"
#include "image/img_datas.h"
#include "select/select_a_file.h"
#include "select/select_a_img_file.h"
#include "select/select_data_dir.h"
#include "select/select_data_files.h"
#include "tests/ct/phantom_stack.h"
#include "tests/display/mouse_events.h"
#include "tests/test_registry.h"
#include "util/tsan_handoff.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDirIterator>
#include <QFile>
#include <QLineEdit>
#include <QMap>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <cmath>
#include <memory>

namespace {

// An ITEX file of w x h 16-bit pixels: a bright field with a dark disk whose
// darkening grows with the row, so every slice has a sinogram of its own.
bool writeScanImage(const QString &path, int w, int h, int k)
{
    const double c = w / 2.0 + 0.2 * w * std::cos(k * 0.7);
    return phantom::writeItex(
        path, w, h,
        [c](int x, int y) {
            const double d = x + 0.5 - c;
            const double p = std::abs(d) < 2 ? 0.1 * (1 + y % 7) * (2 - std::abs(d)) : 0;
            return 30000 * std::exp(-p);
        },
        2);
}

QStringList writeScan(const QTemporaryDir &dir, const QString &prefix, int n, int w, int h)
{
    QStringList names;
    for (int k = 0; k < n; ++k) {
        const QString p = dir.filePath(QString("%1-%2.img").arg(prefix).arg(k, 4, 10, QChar('0')));
        if (writeScanImage(p, w, h, k))
            names << p;
    }
    return names;
}

int filesWithSuffix(const QString &dir, const QString &suffix)
{
    int n = 0;
    QDirIterator it(dir, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        if (it.next().endsWith(suffix))
            ++n;
    return n;
}

// A calculator's values belong to its thread: read there, after every call
// already queued to it, as the main window's own code never reads them.
bool hasResult(CtCalc2 *c)
{
    return callInThread(c->thread(), [c] { return c->hasResult(); });
}

int resultSlice(CtCalc2 *c)
{
    return callInThread(c->thread(), [c] { return c->resultSlice(); });
}

} // namespace

class TestBody : public QObject {
    Q_OBJECT

    QTemporaryDir dir;

    template <class T> static T *child(Body &b, const char *name)
    {
        T *w = b.findChild<T *>(QString::fromLatin1(name));
        if (!w)
            qFatal("no child %s", name);
        return w;
    }
    static ProcCtrl *proc(Body &b) { return child<ProcCtrl>(b, "procCtrl"); }
    static void choose(Body &b, const QStringList &files, bool clear)
    {
        QMetaObject::invokeMethod(
            &b, "dataFilesSelected", Q_ARG(QStringList, files), Q_ARG(bool, clear));
    }
    static bool loadAll(Body &b, const QStringList &files, bool clear = true)
    {
        QSignalSpy done(&b, &Body::finishedLoadingCTFiles);
        choose(b, files, clear);
        return done.wait(5000);
    }
    static void clickCalc(Body &b) { child<QPushButton>(b, "CalcCT")->click(); }
    // The processing panel starts with a horizontal axis; these scans have a
    // vertical one.
    static void vertical(Body &b) { proc(b)->setRotAxIsV(true); }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        qputenv("QT_LOGGING_RULES", "qt.*=false");
    }

    void loadsFilesOneByOneAndListsOnlyAccepted()
    {
        Body b(2, nullptr);
        vertical(b);
        QStringList files = writeScan(dir, "five", 5, 16, 12);
        // A file of another size is refused and not listed.
        const QString odd = dir.filePath("odd-0000.img");
        QVERIFY(writeScanImage(odd, 10, 12, 0));
        files.insert(2, odd);
        QSignalSpy done(&b, &Body::finishedLoadingCTFiles);
        choose(b, files, true);
        QCOMPARE(b.imgDatas()->count(), 0); // nothing before the event loop turns
        QCoreApplication::processEvents();
        QVERIFY(b.imgDatas()->count() <= 1);
        QVERIFY(done.wait(5000));
        QTest::qWait(50);
        QCOMPARE(done.count(), 1);
        QCOMPARE(b.imgDatas()->count(), 5);
        QStringList listed = child<SelectDataFiles>(b, "CTFiles")->fileNames();
        QCOMPARE(listed.size(), 5);
        QVERIFY(!listed.contains(odd));

        // New clears the stack first; Add appends.
        QVERIFY(loadAll(b, files.mid(0, 2), true));
        QCOMPARE(b.imgDatas()->count(), 2);
        QVERIFY(loadAll(b, files.mid(3, 2), false));
        QCOMPARE(b.imgDatas()->count(), 4);
    }

    // A data set of another image size than the loaded one: the file box
    // turns pink and its tooltip says why; a set that fits clears it.
    void otherImageSizeIsShownOnTheFileBox()
    {
        Body b(2, nullptr);
        vertical(b);
        auto *files = child<SelectDataFiles>(b, "CTFiles");
        auto *box = files->findChild<QComboBox *>("Selected");
        QVERIFY(box);
        QVERIFY(loadAll(b, writeScan(dir, "sizeA", 3, 16, 12)));
        QVERIFY(files->statOk());
        const QStringList other = writeScan(dir, "sizeB", 2, 10, 12);
        QVERIFY(loadAll(b, other));
        QCOMPARE(b.imgDatas()->count(), 0);
        QVERIFY(!files->statOk());
        QCOMPARE(box->styleSheet(), QString("background-color: rgb(255, 192, 192);"));
        const QString tip = box->toolTip();
        QVERIFY2(tip.contains("2 files refused"), qPrintable(tip));
        QVERIFY2(tip.contains(other.first()), qPrintable(tip));
        QVERIFY2(tip.contains("10 x 12") && tip.contains("16 x 12"), qPrintable(tip));
        QVERIFY(loadAll(b, writeScan(dir, "sizeC", 2, 16, 12)));
        QCOMPARE(b.imgDatas()->count(), 2);
        QVERIFY(files->statOk());
        QVERIFY(box->styleSheet().isEmpty());
    }

    // On the raw image a drag pans the picture and leaves the slice alone;
    // a click sets the slice; a click beside a zoomed-out image does nothing.
    void dragPansAndClickSetsTheSlice()
    {
        using namespace testmouse;
        Body b(2, nullptr);
        vertical(b);
        QVERIFY(loadAll(b, writeScan(dir, "pan", 2, 16, 12)));
        b.show();
        QVERIFY(QTest::qWaitForWindowExposed(&b));
        child<QTabWidget>(b, "ImgsTab")->setCurrentIndex(0);
        DispA *a = b.rawDisp()->dispA();
        QTRY_VERIFY(a->isVisible() && a->height() > 24);
        QCOMPARE(b.rawDisp()->view(), QRectF(0, 0, 16, 12));
        proc(b)->setSliceNo(6);
        const double rowH = a->height() / 12.0;
        const double x = a->width() / 2.0;
        press(a, QPointF(x, 9.5 * rowH));
        move(a, QPointF(x, 6 * rowH), Qt::LeftButton);
        move(a, QPointF(x, 3.5 * rowH), Qt::LeftButton);
        release(a, QPointF(x, 3.5 * rowH));
        QCOMPARE(proc(b)->sliceNo(), 6);
        QVERIFY(b.rawDisp()->view().y() > 5); // the picture moved up by six rows
        b.rawDisp()->resetScale();
        click(a, QPointF(x, 2.5 * rowH));
        QCOMPARE(proc(b)->sliceNo(), 2);
        // Zoomed out about the top-left corner: the lower part of the area
        // lies below the image.
        for (int i = 0; i < 5; ++i)
            wheel(a, QPointF(0, 0), -120);
        click(a, QPointF(x, a->height() - 2));
        QCOMPARE(proc(b)->sliceNo(), 2);
    }

    // The three save selectors show their name and tag; both can be typed
    // and come back from a setup file.
    void saveNamesAndTagsAreShownTypedAndKept()
    {
        const QString setup = dir.filePath("names.cfg");
        const char *selectors[]
            = { "SelectDataSaveDir", "SelectImageSaveDir", "SelectTiffSaveDir" };
        {
            Body b(2, nullptr);
            b.show();
            QVERIFY(QTest::qWaitForWindowExposed(&b));
            int i = 0;
            for (const char *name : selectors) {
                auto *s = child<SelectAFile>(b, name);
                auto *n = s->findChild<QLineEdit *>("Name");
                auto *t = s->findChild<QLineEdit *>("AddTag");
                QVERIFY(n && t);
                QVERIFY2(n->isVisible() && t->isVisible(), name);
                QVERIFY(!n->isReadOnly() && !t->isReadOnly());
                n->clear();
                t->clear();
                QTest::keyClicks(n, QString("sample%1").arg(i));
                QTest::keyClicks(t, QString("7112_%1eV").arg(i));
                ++i;
            }
            QVERIFY(b.saveSetup(setup));
        }
        Body b(2, nullptr);
        QVERIFY(b.loadSetup(setup));
        int i = 0;
        for (const char *name : selectors) {
            auto *s = child<SelectAFile>(b, name);
            QCOMPARE(s->name(), QString("sample%1").arg(i));
            QCOMPARE(s->addTag(), QString("7112_%1eV").arg(i));
            ++i;
        }
    }

    void secondChoiceWhileLoadingReplacesTheQueue()
    {
        Body b(2, nullptr);
        vertical(b);
        const QStringList first = writeScan(dir, "first", 6, 16, 12);
        const QStringList second = writeScan(dir, "second", 2, 16, 12);
        QSignalSpy done(&b, &Body::finishedLoadingCTFiles);
        choose(b, first, true);
        QCoreApplication::processEvents(); // first file loaded
        const int before = b.imgDatas()->count();
        QVERIFY(before >= 1 && before < 6);
        choose(b, second, false);
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 2, 5000);
        QTest::qWait(50);
        QCOMPARE(done.count(), 2); // once per chain
        // The rest of the first choice was dropped; the second was loaded once.
        QCOMPARE(b.imgDatas()->count(), before + 2);
        QVERIFY(b.pendingFileList().isEmpty());
        QVERIFY(!b.isLoading());
    }

    void endOfLoadingDefaults_data()
    {
        QTest::addColumn<bool>("vertical");
        QTest::addColumn<int>("w");
        QTest::addColumn<int>("h");
        QTest::addColumn<double>("cor");
        QTest::addColumn<int>("slice");
        QTest::addColumn<int>("sliceTo");
        QTest::newRow("vertical axis, width 2047") << true << 2047 << 6 << 1023.5 << 3 << 5;
        QTest::newRow("horizontal axis, height 2047") << false << 6 << 2047 << 1023.0 << 3 << 5;
        QTest::newRow("vertical axis, even width") << true << 16 << 9 << 8.0 << 4 << 8;
    }
    void endOfLoadingDefaults()
    {
        QFETCH(bool, vertical);
        QFETCH(int, w);
        QFETCH(int, h);
        QFETCH(double, cor);
        QFETCH(int, slice);
        QFETCH(int, sliceTo);
        Body b(2, nullptr);
        proc(b)->setRotAxIsV(vertical);
        QVERIFY(loadAll(b, writeScan(dir, QString("def%1x%2").arg(w).arg(h), 2, w, h)));
        QCOMPARE(proc(b)->cor(), cor);
        QCOMPARE(proc(b)->sliceNo(), slice);
        QCOMPARE(proc(b)->sliceTo(), sliceTo);
        // Regions of every calculator span the detector across the axis.
        const double e = (vertical ? w : h) - 1;
        QCOMPARE(b.ctCalc()->calcRegion(), QRectF(QPointF(0, 0), QPointF(e, e)));
        for (CtCalc2Ui *u : b.ctCalc2Uis()) {
            QCOMPARE(u->crx1(), e);
            QCOMPARE(u->crz1(), e);
        }
    }

    void keepConditionsKeepsWhatTheOneShotFlagsAllow()
    {
        Body b(2, nullptr);
        vertical(b);
        auto *files = child<SelectDataFiles>(b, "CTFiles");
        files->setKeepConditions(true);
        const QStringList a = writeScan(dir, "keepA", 2, 16, 12);
        const QStringList c = writeScan(dir, "keepB", 3, 16, 12);
        // The first load applies the defaults even with the switch on.
        QVERIFY(loadAll(b, a));
        QCOMPARE(proc(b)->sliceNo(), 6);
        QCOMPARE(proc(b)->cor(), 8.0);
        proc(b)->setSliceNo(3);
        proc(b)->setCor(7.5);
        proc(b)->setSliceTo(9);
        b.ctCalc()->setCR(1, 2, 10, 11);
        QVERIFY(loadAll(b, c));
        QCOMPARE(b.imgDatas()->count(), 3);
        QCOMPARE(proc(b)->sliceNo(), 3);
        QCOMPARE(proc(b)->cor(), 7.5);
        QCOMPARE(proc(b)->sliceTo(), 9);
        QCOMPARE(b.ctCalc()->calcRegion(), QRectF(QPointF(1, 2), QPointF(10, 11)));
        // Without the switch the defaults come back.
        files->setKeepConditions(false);
        QVERIFY(loadAll(b, a));
        QCOMPARE(proc(b)->sliceNo(), 6);
        QCOMPARE(proc(b)->cor(), 8.0);
        QCOMPARE(proc(b)->sliceTo(), 11);
    }

    void ct1AndCt2FollowAutoExec()
    {
        Body b(2, nullptr);
        vertical(b);
        auto *ct1 = child<QRadioButton>(b, "SelectCt1");
        auto *ct2 = child<QRadioButton>(b, "SelectCt2");
        QVERIFY(ct1->isChecked());
        proc(b)->setAutoExec(true);
        QVERIFY(ct2->isChecked());
        ct1->click();
        QVERIFY(ct1->isChecked());
        QVERIFY(!proc(b)->autoExec());
    }

    void calcTwiceStartsThenStops()
    {
        Body b(2, nullptr);
        vertical(b);
        QVERIFY(loadAll(b, writeScan(dir, "twice", 4, 16, 8)));
        QSignalSpy finished(&b, &Body::calcFinished);
        auto *calc = child<QPushButton>(b, "CalcCT");
        clickCalc(b);
        QVERIFY(b.isCalcRunning());
        QCOMPARE(calc->styleSheet(), QString("background-color: rgb(255, 255, 128);"));
        QVERIFY(!child<QLineEdit>(b, "CalcStartT")->text().isEmpty());
        clickCalc(b);
        QTest::qWait(50);
        QVERIFY(!b.isCalcRunning());
        QCOMPARE(finished.count(), 1);
        QCOMPARE(calc->styleSheet(), QString("background-color: rgb(240, 240, 240);"));
        QVERIFY(!child<QLineEdit>(b, "CalcEndT")->text().isEmpty());
        QVERIFY(!child<QLineEdit>(b, "CalcSpentT")->text().isEmpty());
    }

    void refusedStartsEndTheCalculation()
    {
        Body b(2, nullptr);
        vertical(b);
        proc(b)->setAutoUpdate(false); // no sinogram is built on loading
        QVERIFY(loadAll(b, writeScan(dir, "refuse", 3, 16, 8)));
        // A centre at the detector edge leaves no sinogram: CT Calc refuses.
        proc(b)->setCor(0);
        QSignalSpy finished(&b, &Body::calcFinished);
        QTest::ignoreMessage(
            QtDebugMsg, QRegularExpression("^Slice 0000\\d not reconstructed : no sinogram$"));
        clickCalc(b);
        QVERIFY(!b.isCalcRunning());
        QCOMPARE(finished.count(), 1);
        QCOMPARE(child<QPushButton>(b, "CalcCT")->styleSheet(),
            QString("background-color: rgb(240, 240, 240);"));
    }

    void loadWithoutAcceptedImagesKeepsTheSettings()
    {
        Body b(2, nullptr);
        vertical(b);
        proc(b)->setSliceNo(4);
        proc(b)->setCor(3.5);
        const QString junk = dir.filePath("junk.img");
        QFile f(junk);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("IM not an image");
        f.close();
        QVERIFY(loadAll(b, { junk, dir.filePath("missing.img") }));
        QCOMPARE(b.imgDatas()->count(), 0);
        QCOMPARE(proc(b)->sliceNo(), 4);
        QCOMPARE(proc(b)->cor(), 3.5);
        QVERIFY(child<SelectDataFiles>(b, "CTFiles")->fileNames().isEmpty());
    }

    void calcWithEmptyStackDoesNothing()
    {
        Body b(2, nullptr);
        vertical(b);
        clickCalc(b);
        QVERIFY(!b.isCalcRunning());
    }

    void ct1WithAutoExecWaitsForTheButton()
    {
        Body b(2, nullptr);
        vertical(b);
        QVERIFY(loadAll(b, writeScan(dir, "ct1auto", 3, 16, 8)));
        proc(b)->setAutoExec(true); // as a command would: CT2 follows ...
        child<QRadioButton>(b, "SelectCt1")->setChecked(true); // ... and is set back
        QSignalSpy finished(&b, &Body::calcFinished);
        clickCalc(b);
        QTest::qWait(200);
        QVERIFY(b.isCalcRunning());
        QCOMPARE(child<QPushButton>(b, "CalcCT")->styleSheet(),
            QString("background-color: rgb(255, 255, 128);"));
        QVERIFY(!b.ctCalc()->isRunning());
        for (CtCalc2 *c : b.ctCalc2s())
            QVERIFY(!hasResult(c));
        QCOMPARE(finished.count(), 0);
        clickCalc(b);
        QVERIFY(!b.isCalcRunning());
        QCOMPARE(finished.count(), 1);
    }

    void rangeRunDownwardsHandsOutEachSliceOnce()
    {
        Body b(4, nullptr);
        vertical(b);
        QVERIFY(loadAll(b, writeScan(dir, "range", 4, 12, 101)));
        child<QRadioButton>(b, "SelectCt2")->setChecked(true);
        ProcCtrl *pc = proc(b);
        pc->setAutoExec(true);
        pc->setThreads(4);
        pc->setSliceFrom(100);
        pc->setSliceTo(90);
        pc->setSliceStep(-5);
        QSignalSpy finished(&b, &Body::calcFinished);
        clickCalc(b);
        QVERIFY(b.isCalcRunning());
        QVERIFY(finished.wait(10000));
        QTest::qWait(50);
        QCOMPARE(finished.count(), 1);
        QVERIFY(b.calculatorsIdle());
        const QVector<CtCalc2 *> &c = b.ctCalc2s();
        QCOMPARE(resultSlice(c[0]), 100);
        QCOMPARE(resultSlice(c[1]), 95);
        QCOMPARE(resultSlice(c[2]), 90);
        QVERIFY(!hasResult(c[3]));
        auto *bar = child<QProgressBar>(b, "CalcProgress");
        QCOMPARE(bar->maximum(), 3);
        QCOMPARE(bar->value(), 3);
        QVERIFY(!child<QLineEdit>(b, "CalcSpentT")->text().isEmpty());
    }

    void calcAskedForWhileLoadingStartsAfterLoading()
    {
        Body b(2, nullptr);
        vertical(b);
        QVERIFY(loadAll(b, writeScan(dir, "prep", 2, 16, 8)));
        child<QRadioButton>(b, "SelectCt2")->setChecked(true);
        QSignalSpy loaded(&b, &Body::finishedLoadingCTFiles);
        QSignalSpy finished(&b, &Body::calcFinished);
        choose(b, writeScan(dir, "during", 5, 16, 8), true);
        QCoreApplication::processEvents();
        QVERIFY(b.isLoading());
        QTest::ignoreMessage(QtDebugMsg, "Calculation starts when loading has ended");
        clickCalc(b);
        QVERIFY(!b.isCalcRunning());
        QVERIFY(b.isCalcStartPending());
        QVERIFY(loaded.wait(5000));
        // The calculation started on the complete stack.
        QCOMPARE(b.imgDatas()->count(), 5);
        QVERIFY(finished.wait(5000));
        CtCalc2 *c0 = b.ctCalc2s()[0];
        QVERIFY(hasResult(c0));
        QCOMPARE(callInThread(c0->thread(), [c0] { return c0->projections(); }), 5);
    }

    void choicesDuringACalculationWaitForItsEnd()
    {
        Body b(2, nullptr);
        vertical(b);
        QVERIFY(loadAll(b, writeScan(dir, "busyA", 3, 12, 60)));
        child<QRadioButton>(b, "SelectCt2")->setChecked(true);
        ProcCtrl *pc = proc(b);
        pc->setAutoExec(true);
        pc->setThreads(2);
        pc->setSliceFrom(0);
        pc->setSliceTo(59);
        pc->setSliceStep(1);
        const QString i0 = dir.filePath("busyI0-0000.img");
        QVERIFY(writeScanImage(i0, 12, 60, 0));
        QSignalSpy finished(&b, &Body::calcFinished);
        QSignalSpy loaded(&b, &Body::finishedLoadingCTFiles);
        clickCalc(b);
        QVERIFY(b.isCalcRunning());
        choose(b, writeScan(dir, "busyB", 2, 12, 60), true);
        b.selectI0Image(i0);
        QCoreApplication::processEvents();
        // Neither the stack nor the I0 image changes under the calculators.
        QCOMPARE(b.imgDatas()->count(), 3);
        QVERIFY(!child<SelectAImgFile>(b, "I0ImgSel")->image());
        QVERIFY(!child<SelectAImgFile>(b, "I0ImgSel")->isEnabled());
        QVERIFY(finished.wait(20000));
        QCOMPARE(loaded.count(), 0);
        QVERIFY(child<SelectAImgFile>(b, "I0ImgSel")->image());
        QVERIFY(loaded.wait(5000));
        QCOMPARE(b.imgDatas()->count(), 2);
        QVERIFY(child<SelectAImgFile>(b, "I0ImgSel")->isEnabled());
    }

    void shutdownWritesEveryQueuedRecord()
    {
        QTemporaryDir out;
        int slices = 0;
        {
            Body b(2, nullptr);
            vertical(b);
            QVERIFY(loadAll(b, writeScan(dir, "save", 3, 12, 24)));
            child<QRadioButton>(b, "SelectCt2")->setChecked(true);
            ProcCtrl *pc = proc(b);
            pc->setAutoExec(true);
            pc->setThreads(2);
            pc->setSliceFrom(0);
            pc->setSliceTo(23);
            pc->setSliceStep(1);
            slices = 24;
            for (const char *name : { "SelectDataSaveDir", "SelectImageSaveDir" }) {
                auto *sel = child<SelectAFile>(b, name);
                sel->setPath(out.path());
                sel->setName("res");
            }
            b.setAutoSaveData(true);
            b.setAutoSaveImage(true);
            QSignalSpy finished(&b, &Body::calcFinished);
            clickCalc(b);
            QVERIFY(finished.wait(20000));
            // The window goes at once, with records still on their way.
        }
        QCOMPARE(filesWithSuffix(out.path(), ".dat"), slices);
        QCOMPARE(filesWithSuffix(out.path(), ".png"), slices);
    }

    // A range run with TIFF saving on, in sub folders of the energy tag: one
    // float TIFF per slice over the whole grid, beside data files that stay as
    // they were.
    void rangeRunWritesFloatTiffSlices()
    {
        QTemporaryDir out;
        Body b(2, nullptr);
        vertical(b);
        QVERIFY(loadAll(b, writeScan(dir, "tif", 8, 16, 6)));
        child<QRadioButton>(b, "SelectCt2")->setChecked(true);
        ProcCtrl *pc = proc(b);
        pc->setAutoExec(true);
        pc->setThreads(2);
        pc->setSliceFrom(1);
        pc->setSliceTo(5);
        pc->setSliceStep(2);
        pc->setCor(8.0);
        for (const char *name : { "SelectDataSaveDir", "SelectTiffSaveDir" }) {
            auto *sel = child<SelectAFile>(b, name);
            sel->setPath(out.path());
            sel->setName("res");
            sel->setAddTag("E7120");
        }
        child<QCheckBox>(b, "SaveInSubFolders")->setChecked(true);
        child<QRadioButton>(b, "SubOfEnergy")->setChecked(true);
        QMetaObject::invokeMethod(&b, "setFirstImageSet"); // hands the sub-folder choice on
        b.setAutoSaveData(true);
        b.setAutoSaveTiff(true);
        QSignalSpy finished(&b, &Body::calcFinished);
        clickCalc(b);
        QVERIFY(finished.wait(20000));
        const QString folder = out.filePath("E7120");
        QTRY_COMPARE_WITH_TIMEOUT(filesWithSuffix(folder, ".tif"), 3, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(filesWithSuffix(folder, ".dat"), 3, 5000);
        for (int slice : { 1, 3, 5 }) {
            const QString stem = folder + QString("/res-E7120-%1").arg(slice, 5, 10, QChar('0'));
            QFile dat(stem + ".dat");
            QVERIFY(dat.open(QIODevice::ReadOnly));
            QCOMPARE(dat.readLine(), QByteArray("#VRLO-CTImg\n"));
            std::unique_ptr<ImgData> img(createImgData(fileType(stem + ".tif")));
            QVERIFY(img);
            img->setFileName(stem + ".tif");
            QVERIFY(img->load());
            // Centre 8 on pixels 0 ... 15: 7 pixels beside it on the short side,
            // width 13, grid 12.
            QCOMPARE(img->width(), 12);
            QCOMPARE(img->height(), 12);
            img->scanMinMax();
            QVERIFY(img->maxV() > img->minV());
        }
    }

    void sequentialWalkOverTwoSets()
    {
        QTemporaryDir meas;
        for (const char *e : { "7100eV", "7200eV" })
            for (int k = 0; k < 3; ++k)
                QVERIFY(writeScanImage(
                    meas.filePath(QString("S-%1-%2.img").arg(e).arg(k, 5, 10, QChar('0'))), 16, 8,
                    k));
        QDir(meas.path()).mkdir("I0");
        QStringList i0s;
        for (const char *e : { "7090eV", "7210eV" }) {
            i0s << meas.filePath(QString("I0/I0-%1-00000.img").arg(e));
            QVERIFY(writeScanImage(i0s.last(), 16, 8, 0));
        }
        QStringList stages;
        static QStringList *sink;
        sink = &stages;
        auto previous
            = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &m) {
                  if (m.startsWith("Stage : "))
                      *sink << m.mid(9).section(' ', 0, -2);
              });
        {
            Body b(2, nullptr);
            vertical(b);
            child<QRadioButton>(b, "SelectCt2")->setChecked(true);
            QMetaObject::invokeMethod(
                &b, "i0FilesSelected", Q_ARG(QStringList, i0s), Q_ARG(bool, true));
            auto *sets = child<SelectDataDir>(b, "SelDDir");
            sets->setIsASRStandard(true);
            sets->setDataDir(meas.path());
            QCOMPARE(child<QSpinBox>(b, "SeqCalcTo")->value(), 2);
            QSignalSpy calcs(&b, &Body::calcFinished);
            auto *seq = child<QPushButton>(b, "SeqCalc");
            seq->click();
            QTRY_COMPARE_WITH_TIMEOUT(
                seq->styleSheet(), QString("background-color: rgb(240, 240, 240);"), 10000);
            QCOMPARE(calcs.count(), 2);
            // The second set took the I0 image nearest to 7200 eV and its tag.
            QCOMPARE(child<SelectAImgFile>(b, "I0ImgSel")->path(), i0s[1]);
            QCOMPARE(child<SelectAFile>(b, "SelectDataSaveDir")->addTag(), sets->currentTag());
            QCOMPARE(child<SelectAFile>(b, "SelectTiffSaveDir")->addTag(), sets->currentTag());
            QVERIFY(child<SelectDataFiles>(b, "CTFiles")->fileNames().first().contains("7200eV"));
        }
        qInstallMessageHandler(previous);
        QCOMPARE(stages,
            QStringList({ "Data Loading", "Loading first Data Set", "Calculating", "Finished Calc.",
                "Loading next Data Set", "Calculating", "Finished Calc.", "Loading next Data Set",
                "Finished" }));
    }

    void regionsAndColoursAreShared()
    {
        Body b(3, nullptr);
        vertical(b);
        b.ctCalc()->setCR(1, 2, 30, 40);
        for (CtCalc2Ui *u : b.ctCalc2Uis()) {
            QCOMPARE(u->crx0(), 1.0);
            QCOMPARE(u->crz1(), 40.0);
        }
        b.ctCalc2Uis()[1]->setCR(5, 6, 7, 8);
        QCOMPARE(b.ctCalc()->calcRegion(), QRectF(QPointF(5, 6), QPointF(7, 8)));
        QCOMPARE(b.ctCalc2Uis()[2]->crx0(), 5.0);

        b.setColorMin(-1.5);
        b.setColorMax(2);
        QCOMPARE(child<QLineEdit>(b, "ColorMin")->text(), QString("-1.5"));
        b.setFixColorScale(true);
        for (CtCalc2Ui *u : b.ctCalc2Uis()) {
            QVERIFY(u->colorScaleFixed());
            QCOMPARE(u->levelMap().minV, -1.5);
            QCOMPARE(u->levelMap().maxV, 2.0);
        }
        child<QLineEdit>(b, "ColorMax")->setText("zz");
        QCOMPARE(b.colorMax(), 0.0);
    }

    void rawImagePicksSetSliceAndCentre()
    {
        Body b(2, nullptr);
        vertical(b);
        QVERIFY(loadAll(b, writeScan(dir, "pick", 2, 16, 12)));
        QMetaObject::invokeMethod(&b, "selectedAPointInRawImg", Q_ARG(double, 5.7),
            Q_ARG(double, 9.2), Q_ARG(MouseC::MStat, MouseC::Left));
        QCOMPARE(proc(b)->sliceNo(), 9);
        QMetaObject::invokeMethod(&b, "selectedAPointInRawImg", Q_ARG(double, 6.5),
            Q_ARG(double, 3.0), Q_ARG(MouseC::MStat, MouseC::Right));
        QCOMPARE(proc(b)->cor(), 6.5);
        QMetaObject::invokeMethod(&b, "selectedAPointInRawImg", Q_ARG(double, 1.0),
            Q_ARG(double, 1.0), Q_ARG(MouseC::MStat, MouseC::ShiftLeft));
        QCOMPARE(proc(b)->sliceNo(), 9);
        QCOMPARE(proc(b)->cor(), 6.5);
    }

    void overlayMarksSliceRangeAndCentre()
    {
        Body b(2, nullptr);
        ProcCtrl *pc = proc(b); // horizontal axis: slices are columns
        QVERIFY(loadAll(b, writeScan(dir, "overlay", 2, 16, 12)));
        pc->setSliceFrom(3);
        pc->setSliceTo(12);
        pc->setSliceNo(8);
        pc->setCor(5);
        DispA *a = b.rawDisp()->dispA();
        a->resize(160, 120);
        const QImage shot = a->grab().toImage();
        const ChCoord &c = a->coord();
        // The colour of a line drawn at image position (x, y), whichever of
        // the neighbouring widget pixels the painter chose.
        auto colourAt = [&](double x, double y) {
            const int px = int(c.dataToPixelX(x));
            const int py = int(c.dataToPixelY(y));
            for (int d : { 0, -1, 1 }) {
                const QColor q = shot.pixelColor(px + d, py);
                if (q.red() == 255)
                    return q;
            }
            return shot.pixelColor(px, py);
        };
        QCOMPARE(colourAt(3, 1.5), QColor(255, 200, 200)); // SliceFrom
        QCOMPARE(colourAt(12, 1.5), QColor(255, 200, 200)); // SliceTo
        QCOMPARE(colourAt(8, 1.5), QColor(255, 232, 232)); // current slice
        QCOMPARE(colourAt(0.5, 5), QColor(255, 232, 232)); // centre, dashed
    }

    void i0EnergyFromName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<double>("energy");
        QTest::newRow("keV with decimal mark") << "/d/Fe-7_112keV-0001.img" << 7112.0;
        QTest::newRow("plain eV") << "/d/sample-7150eV-0001.img" << 7150.0;
        QTest::newRow("lower-case unit") << "a-b-7_2kev-3.img" << 7200.0;
        QTest::newRow("one dash") << "7000-0001.img" << 7000.0;
        QTest::newRow("no dash") << "7050.img" << 7050.0;
        QTest::newRow("no number") << "a-xx-1.img" << 0.0;
    }
    void i0EnergyFromName()
    {
        QFETCH(QString, name);
        QFETCH(double, energy);
        QCOMPARE(Body::energyOfI0FileName(name), energy);
    }

    void nearestEnergyIsChosen()
    {
        QCOMPARE(Body::nearestEnergyIndex({}, 7000), 0);
        QCOMPARE(Body::nearestEnergyIndex({ 7100, 7110, 7120 }, 7112), 1);
        QCOMPARE(Body::nearestEnergyIndex({ 7100, 7110, 7120 }, 7115), 1); // tie: the first
        QCOMPARE(Body::nearestEnergyIndex({ 7100, 7110, 7120 }, 9000), 2);

        Body b(2, nullptr);
        vertical(b);
        QMetaObject::invokeMethod(&b, "i0FilesSelected",
            Q_ARG(QStringList, QStringList({ "i0-7_10keV-1.img", "i0-7_12keV-1.img" })),
            Q_ARG(bool, true));
        QMetaObject::invokeMethod(&b, "i0FilesSelected",
            Q_ARG(QStringList, QStringList({ "i0-7_14keV-1.img" })), Q_ARG(bool, false));
        QCOMPARE(b.i0EnergyList(), QList<double>({ 7100, 7120, 7140 }));
    }

    void stageMessagesFillTheProgressFields()
    {
        Body b(2, nullptr);
        vertical(b);
        QTest::ignoreMessage(QtDebugMsg, "Stage :  Calculating 1290");
        QMetaObject::invokeMethod(
            &b, "noticedStage", Q_ARG(QString, "Calculating"), Q_ARG(qlonglong, 1290));
        QCOMPARE(child<QLineEdit>(b, "ProgressMsg")->text(), QString("Calculating"));
        QCOMPARE(child<QLineEdit>(b, "DeltaET")->text(), QString("1.2"));
    }

    // A range run with auto save data on leaves "<name>-<tag>-run.txt" beside
    // the .dat files, listing the centre every slice was given; the .dat files
    // are the same in number and name; an unwritable folder is logged.
    void rangeRunWritesItsRunRecord()
    {
        QTemporaryDir out;
        QVERIFY(out.isValid());
        QList<QPair<int, double>> given; // (slice, centre) as handed to the calculators
        Body b(2, nullptr);
        vertical(b);
        const QStringList scan = writeScan(dir, "record", 5, 16, 12);
        QVERIFY(loadAll(b, scan));
        child<QRadioButton>(b, "SelectCt2")->setChecked(true);
        ProcCtrl *pc = proc(b);
        pc->setAutoExec(true);
        pc->setThreads(2);
        pc->setSliceFrom(2);
        pc->setSliceTo(10);
        pc->setSliceStep(4);
        pc->setCor(8.3);
        pc->setAngleOffset(0.1);
        pc->setRecordedCor1(1, 7.9);
        pc->setRecordedCor2(11, 8.7);
        auto *sel = child<SelectAFile>(b, "SelectDataSaveDir");
        sel->setPath(out.path());
        sel->setName("res");
        sel->setAddTag("T1");
        b.setAutoSaveData(true);

        connect(&b, QOverload<CtCalc2 *, bool, double, int, bool>::of(&Body::startCt), this,
            [&given](CtCalc2 *, bool, double cor, int slice, bool) {
                given.append({ slice, cor });
            });
        QSignalSpy finished(&b, &Body::calcFinished);
        clickCalc(b);
        QVERIFY(finished.wait(10000));
        // The record follows the run's files, once the saver has written them.
        QTRY_COMPARE_WITH_TIMEOUT(QDir(out.path()).entryList(QDir::Files, QDir::Name),
            QStringList(
                { "res-T1-00002.dat", "res-T1-00006.dat", "res-T1-00010.dat", "res-T1-run.txt" }),
            5000);

        QFile f(out.filePath("res-T1-run.txt"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
        QMap<QString, QString> v;
        QList<QPair<int, double>> listed;
        for (const QString &l : lines) {
            const int at = l.indexOf(" : ");
            if (at > 0)
                v.insert(l.left(at).trimmed(), l.mid(at + 3));
            const QStringList w = l.split(' ');
            if (w.size() == 4 && w[0] == "slice" && w[2] == "centre")
                listed.append({ w[1].toInt(), w[3].toDouble() });
        }
        QCOMPARE(lines.first(), QString("#VRLO-RunRecord"));
        QVERIFY(QDateTime::fromString(v["date"], Qt::ISODateWithMs).isValid());
        QCOMPARE(QDateTime::fromString(v["date"], Qt::ISODateWithMs).toMSecsSinceEpoch(),
            b.calcStartTime().toMSecsSinceEpoch());
        QVERIFY(v["program"].startsWith("Vorlo2 "));
        QCOMPARE(v["status"], QString("finished"));
        QCOMPARE(v["slices done"], QString("3 of 3"));
        QCOMPARE(v["saved kinds"], QString("data"));
        QCOMPARE(v["input directory"], QFileInfo(scan.first()).absolutePath());
        QCOMPARE(v["input pattern"], QString("record-000*.img"));
        QCOMPARE(v["input count"], QString("5"));
        QCOMPARE(v["projections"], QString("5"));
        QCOMPARE(v["i0"], QString("(none)"));
        QCOMPARE(v["rotation axis"], QString("vertical"));
        QCOMPARE(v["slice from"], QString("2"));
        QCOMPARE(v["slice to"], QString("10"));
        QCOMPARE(v["slice step"], QString("4"));
        QCOMPARE(v["centre"].toDouble(), 8.3);
        QCOMPARE(v["angle offset"].toDouble(), 0.1);
        QCOMPARE(v["recorded centre 1"], QString("slice 00001 centre 7.9"));
        QCOMPARE(v["recorded centre 2"], QString("slice 00011 centre 8.7"));
        // The region every calculator got at the end of loading: the image width less one.
        QCOMPARE(v["calc region"], QString("0 0 15 15"));
        QCOMPARE(v["threads used"], QString("2"));
        QCOMPARE(v["kernel"], QString(bpRoutineName(bpBestRoutine())));
        // Exactly the slices and centres the calculators were handed, bit for bit.
        QCOMPARE(listed, given);
        QCOMPARE(listed.size(), 3);
        // With both centres recorded, every slice is built on the line through
        // them (7.9 at slice 1, 8.7 at slice 11), not with the fixed 8.3.
        QCOMPARE(v["centre rule"], QString("recorded centres"));
        for (const auto &s : listed)
            QCOMPARE(s.second, 7.9 + (8.7 - 7.9) * (s.first - 1) / 10.0);
        QCOMPARE(listed.first().first, 2);
        QVERIFY(std::abs(listed.first().second - 7.98) < 1e-12);

        // A data folder that cannot be made: the record is refused with a log
        // line and the run still ends.
        QFile plain(out.filePath("plain"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        const QString bad = out.filePath("plain/sub");
        sel->setPath(bad);
        QTest::ignoreMessage(QtDebugMsg,
            qPrintable(QString("Can't write file :  \"%1\"").arg(bad + "/res-T1-run.txt")));
        clickCalc(b);
        QVERIFY(finished.wait(10000));
        QVERIFY(!QFileInfo::exists(bad + "/res-T1-run.txt"));
    }

    // A range run stopped by hand says so and how far it got; a run with no
    // auto-save kind on writes no record.
    void stoppedRangeRunRecordAndNoRecordWithoutAutoSave()
    {
        QTemporaryDir out;
        QVERIFY(out.isValid());
        Body b(2, nullptr);
        vertical(b);
        QVERIFY(loadAll(b, writeScan(dir, "stopped", 3, 16, 200)));
        child<QRadioButton>(b, "SelectCt2")->setChecked(true);
        ProcCtrl *pc = proc(b);
        pc->setAutoExec(true);
        pc->setThreads(2);
        pc->setSliceFrom(0);
        pc->setSliceTo(199);
        pc->setSliceStep(1);
        for (const char *name : { "SelectDataSaveDir", "SelectImageSaveDir" }) {
            auto *sel = child<SelectAFile>(b, name);
            sel->setPath(out.path());
            sel->setName("res");
        }
        b.setAutoSaveImage(true);
        QSignalSpy finished(&b, &Body::calcFinished);
        clickCalc(b);
        QVERIFY(b.isCalcRunning());
        clickCalc(b); // stop at once: the first two slices are still being computed
        QCOMPARE(finished.count(), 1);
        QFile f(out.filePath("res--run.txt"));
        QTRY_VERIFY_WITH_TIMEOUT(f.exists(), 5000);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(f.readAll());
        f.close();
        QVERIFY2(text.contains("\nstatus             : stopped\n"), qPrintable(text));
        const QRegularExpression done("\nslices done +: (\\d+) of 200\n");
        const auto m = done.match(text);
        QVERIFY(m.hasMatch());
        QVERIFY(m.captured(1).toInt() < 200);
        QVERIFY(text.contains("\nsaved kinds        : image\n"));
        QVERIFY(text.contains("\nslice 00000 centre "));
        QTRY_VERIFY_WITH_TIMEOUT(b.calculatorsIdle(), 10000);

        // Both kinds off: no record, wherever the folders point.
        QVERIFY(QFile::remove(out.filePath("res--run.txt")));
        b.setAutoSaveImage(false);
        pc->setSliceTo(1);
        clickCalc(b);
        QVERIFY(finished.wait(10000));
        QTest::qWait(50);
        QVERIFY(!QFileInfo::exists(out.filePath("res--run.txt")));
    }
};

VORLO_TEST(TestBody)
#include "test_body.moc"
