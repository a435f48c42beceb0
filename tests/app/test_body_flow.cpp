// The main window's side of unattended work, on the offscreen platform with
// tiny ITEX scans: a walk may not take an unrelated calculation for its
// first set, the save layout reaches the saver behind the records queued
// before it, a folder energy in keV picks the I0 image of that energy, a
// calculation that cannot build its sinogram ends like any other, and save
// failures reported by the saver are counted and listed in the run record.
#include "app/body.h"
#include "app/headless.h"
#include "ct/data_saver.h"
#include "ct/proc_ctrl.h"
#include "ct/saving_data.h"
#include "select/select_a_file.h"
#include "select/select_a_img_file.h"
#include "select/select_data_dir.h"
#include "tests/ct/phantom_stack.h"
#include "tests/test_registry.h"
#include "util/tsan_handoff.h"
#include "xafs/xafs_batch.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>

namespace {

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

QStringList writeScan(const QString &folder, const QString &prefix, int n, int w, int h)
{
    QStringList names;
    for (int k = 0; k < n; ++k) {
        const QString p
            = QDir(folder).filePath(QString("%1-%2.img").arg(prefix).arg(k, 4, 10, QChar('0')));
        if (writeScanImage(p, w, h, k))
            names << p;
    }
    return names;
}

SavingData *dataRecord(const QString &path, int slice)
{
    auto *rec = new SavingData { path, "r", "t", savingSliceLabel(slice), "#VRLO-CTImg\n" };
    handOffRelease(rec);
    return rec;
}

} // namespace

class TestBodyFlow : public QObject {
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
    static bool loadAll(Body &b, const QStringList &files)
    {
        QSignalSpy done(&b, &Body::finishedLoadingCTFiles);
        QMetaObject::invokeMethod(
            &b, "dataFilesSelected", Q_ARG(QStringList, files), Q_ARG(bool, true));
        return done.wait(5000);
    }
    static void clickCalc(Body &b) { child<QPushButton>(b, "CalcCT")->click(); }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        qputenv("QT_LOGGING_RULES", "qt.*=false");
    }

    // "Seq. Calc." pressed while a calculation runs would take that
    // calculation's end for the end of its first set: refused.
    void walkIsRefusedWhileACalculationRuns()
    {
        Body b(2, nullptr);
        proc(b)->setRotAxIsV(true);
        QVERIFY(loadAll(b, writeScan(dir.path(), "walk", 3, 16, 8)));
        // Auto Exec with CT1, started by hand: runs until stopped by hand.
        proc(b)->setAutoExec(true);
        child<QRadioButton>(b, "SelectCt1")->setChecked(true);
        clickCalc(b);
        QVERIFY(b.isCalcRunning());
        QSignalSpy starting(b.xafsBatch(), &XafsBatch::starting);
        auto *seq = child<QPushButton>(b, "SeqCalc");
        QTest::ignoreMessage(
            QtDebugMsg, "Seq. Calc. refused : a calculation is running or images are loading");
        seq->click();
        QTest::qWait(200);
        QCOMPARE(starting.count(), 0);
        QVERIFY(seq->styleSheet() != QString("background-color: rgb(255, 255, 128);"));
        clickCalc(b);
        QVERIFY(!b.isCalcRunning());
    }

    // "Save in Sub Folders" starts checked; the layout a walk hands to the
    // saver applies to records queued after it, not to those before.
    void saveLayoutFollowsTheRecordsQueuedBeforeIt()
    {
        QTemporaryDir out;
        Body b(2, nullptr);
        QVERIFY(child<QCheckBox>(b, "SaveInSubFolders")->isChecked());
        QVERIFY(child<QRadioButton>(b, "SubOfSlice")->isChecked());
        DataSaver *saver = b.dataSaver();
        // Hold the saver's thread while the records and the change queue up.
        QSemaphore hold, held;
        postHandOffCallInThread(saver->thread(), [&] {
            held.release();
            hold.acquire();
        });
        QVERIFY(held.tryAcquire(1, 5000));
        QMetaObject::invokeMethod(saver, "saveDataWDiscard", Qt::QueuedConnection,
            Q_ARG(SavingData *, dataRecord(out.path(), 1)));
        QMetaObject::invokeMethod(&b, "setFirstImageSet");
        QMetaObject::invokeMethod(saver, "saveDataWDiscard", Qt::QueuedConnection,
            Q_ARG(SavingData *, dataRecord(out.path(), 2)));
        hold.release();
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(out.filePath("00002/r-t-00002.dat")), 5000);
        // The first record keeps the layout it was queued with: no sub folder.
        QVERIFY(QFile::exists(out.filePath("r-t-00001.dat")));
        QVERIFY(!QFile::exists(out.filePath("00001/r-t-00001.dat")));
    }

    // Folders named in keV ("7_120keV") against I0 files named in eV: the
    // I0 image of the same energy is chosen, not the lowest one.
    void keVFolderPicksTheI0OfItsEnergy()
    {
        QTemporaryDir meas;
        for (const char *e : { "7_090keV", "7_120keV" }) {
            QVERIFY(QDir(meas.path()).mkdir(e));
            writeScan(meas.filePath(e), "S", 2, 16, 8);
        }
        QDir(meas.path()).mkdir("I0");
        QStringList i0s;
        for (const char *e : { "7090eV", "7120eV" }) {
            i0s << meas.filePath(QString("I0/I0-%1-00000.img").arg(e));
            QVERIFY(writeScanImage(i0s.last(), 16, 8, 0));
        }
        Body b(2, nullptr);
        QMetaObject::invokeMethod(
            &b, "i0FilesSelected", Q_ARG(QStringList, i0s), Q_ARG(bool, true));
        auto *sets = child<SelectDataDir>(b, "SelDDir");
        sets->setIsASRStandard(false);
        sets->setPattern("*.img");
        sets->setDataDir(meas.path());
        QVERIFY(sets->advance()); // the second folder, 7.120 keV
        QCOMPARE(sets->currentEnergy(), 7120.0);
        QSignalSpy loaded(&b, &Body::finishedLoadingCTFiles);
        sets->set();
        QVERIFY(loaded.wait(5000));
        QCOMPARE(child<SelectAImgFile>(b, "I0ImgSel")->path(), i0s[1]);
    }

    // The single-slice calculator with a centre 1.5 pixels from the edge has
    // a 1-pixel sinogram: the calculation ends (Calc idle again), once, with
    // a line naming the slice, and counts as a failed result.
    void oneSampleSinogramEndsTheCalculation()
    {
        Body b(2, nullptr);
        proc(b)->setRotAxIsV(true);
        QVERIFY(loadAll(b, writeScan(dir.path(), "edge", 3, 16, 8)));
        proc(b)->setSliceNo(5);
        proc(b)->setCor(1.5);
        QSignalSpy finished(&b, &Body::calcFinished);
        QTest::ignoreMessage(
            QtDebugMsg, "Slice 00005 not reconstructed : the sinogram is 1 pixel wide");
        clickCalc(b);
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 5000);
        QVERIFY(!b.isCalcRunning());
        QCOMPARE(child<QPushButton>(b, "CalcCT")->styleSheet(),
            QString("background-color: rgb(240, 240, 240);"));
        QCOMPARE(b.failedResults(), 1);
        QTest::qWait(100);
        QCOMPARE(finished.count(), 1);
    }

    // Failures the saver reports during a range run are counted (a failed
    // run for the exit code) and listed in the run record, whose count of
    // slices done leaves those slices out.
    void saveFailuresAreCountedAndListed()
    {
        QTemporaryDir out;
        Body b(2, nullptr);
        proc(b)->setRotAxIsV(true);
        QVERIFY(loadAll(b, writeScan(dir.path(), "fail", 6, 16, 6)));
        child<QRadioButton>(b, "SelectCt2")->setChecked(true);
        ProcCtrl *pc = proc(b);
        pc->setAutoExec(true);
        pc->setThreads(2);
        pc->setSliceFrom(0);
        pc->setSliceTo(5);
        pc->setSliceStep(1);
        pc->setCor(8.0);
        auto *sel = child<SelectAFile>(b, "SelectDataSaveDir");
        sel->setPath(out.path());
        sel->setName("res");
        b.setAutoSaveData(true);
        QCOMPARE(b.failedResults(), 0);
        QSignalSpy finished(&b, &Body::calcFinished);
        clickCalc(b);
        QVERIFY(b.isCalcRunning());
        // The saver's report of slice 3, as it comes while the run goes on.
        emit b.dataSaver()->saveFailed(out.filePath("res--00003.dat"), "00003");
        QVERIFY(finished.wait(20000));
        QCOMPARE(b.failedResults(), 1);
        const QString recordName = out.filePath("res--run.txt");
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(recordName), 5000);
        QFile record(recordName);
        QVERIFY(record.open(QIODevice::ReadOnly | QIODevice::Text));
        const QString text = QString::fromUtf8(record.readAll());
        QVERIFY2(text.contains(QRegularExpression("\nslices done +: 5 of 6\n")), qPrintable(text));
        QVERIFY2(text.contains(QRegularExpression("\nslices failed +: 1\n")), qPrintable(text));
        QVERIFY2(text.contains("\nfailed 00003 : not saved : " + out.filePath("res--00003.dat")),
            qPrintable(text));
    }

    // The exit code of a run without a window: refused input files take
    // precedence over failed results.
    void exitCodes()
    {
        QCOMPARE(Headless::exitCode(0, 0), 0);
        QCOMPARE(Headless::exitCode(4, 0), 2);
        QCOMPARE(Headless::exitCode(0, 1), 3);
        QCOMPARE(Headless::exitCode(2, 1), 3);
    }
};

VORLO_TEST(TestBodyFlow)
#include "test_body_flow.moc"
