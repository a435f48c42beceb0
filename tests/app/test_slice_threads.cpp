// One slice's back-projection shared between threads, as the user meets it:
// the files of a headless run and the single-slice calculator's grid are bit
// for bit the same with one thread or two, and a run never gives a slice more
// threads than ct_threads leaves to it.
#include <QFileInfo> // before the main window's header, which uses QFileInfoList

#include "app/batch.h"
#include "app/body.h"
#include "app/command_table.h"
#include "ct/ct_calc.h"
#include "ct/ct_calc2.h"
#include "tests/app/headless_run.h"
#include "tests/test_registry.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

using namespace headless;

namespace {

// Wide enough that the grid holds several blocks of the back-projection.
constexpr int kWidth = 301;
constexpr int kHeight = 4;
constexpr int kProjections = 60;

bool writePhantomScan(const QString &dir)
{
    QProcess tool;
    tool.start(program("vorlo2-phantom"),
        { "scan", "--out", dir, "--width", QString::number(kWidth), "--height",
            QString::number(kHeight), "--projections", QString::number(kProjections) });
    return tool.waitForFinished(60000) && tool.exitStatus() == QProcess::NormalExit
        && tool.exitCode() == 0;
}

QByteArray readAll(const QString &fname)
{
    QFile f(fname);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestSliceThreads : public QObject {
    Q_OBJECT

    // Runs one command line as a batch does; false when it cleared ok.
    static bool exec(Body &body, CommandTable &table, const QString &line)
    {
        body.batch()->setOk(true);
        table.exec(BatchCmd(line));
        return body.batch()->isOk();
    }

    // Writes the phantom scan into dir/scan and loads it on a vertical axis,
    // with its I0 and BG when flats is set.
    static void loadScan(Body &body, CommandTable &table, const QTemporaryDir &dir, bool flats)
    {
        QVERIFY(writePhantomScan(dir.filePath("scan")));
        const QString scan = QDir(dir.filePath("scan")).absolutePath();
        QVERIFY(exec(body, table, "ct_rot_ax_is_v 1"));
        QVERIFY(exec(body, table, QString("images_load %1 proj_*.img").arg(scan)));
        QTRY_VERIFY_WITH_TIMEOUT(!body.isLoading(), 30000);
        if (!flats)
            return;
        QVERIFY(exec(body, table, QString("i0_load %1/I0.img").arg(scan)));
        QVERIFY(exec(body, table, QString("bg_load %1/BG.img").arg(scan)));
        QTRY_VERIFY_WITH_TIMEOUT(!body.isLoading(), 30000);
    }

    // A job on the scan in dir/scan that saves TIFF and data files of the
    // slices from..to into dir/out; autoExec 0 reconstructs the one slice `from`.
    static QString job(int from, int to, int threads, bool autoExec, const QString &out)
    {
        return QString("images_new_on_load 1\nct_rot_ax_is_v 1\nimages_load scan proj_*.img\n"
                       "i0_load scan/I0.img\nbg_load scan/BG.img\nct_cor %1\n"
                       "ct_proc_slice %2\nct_slice_from %2\nct_slice_to %3\nct_slice_step 1\n"
                       "ct_threads %4\n"
                       "auto_save_data_upper_limit 1000\nauto_save_data_lower_limit -1000\n"
                       "auto_save_data_offset 0\n"
                       "auto_save_data_path %5\nauto_save_data_name s\nauto_save_data 1\n"
                       "auto_save_tiff_path %5\nauto_save_tiff_name s\nauto_save_tiff 1\n"
                       "calc_ct2 1\nct_auto_exec %6\ncalc_exec\n")
            .arg(kWidth / 2 - 0.25)
            .arg(from)
            .arg(to)
            .arg(threads)
            .arg(out)
            .arg(autoExec ? 1 : 0);
    }

private slots:
    void headlessFilesSameWithOneAndTwoThreads()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        QVERIFY(writePhantomScan(tmp.filePath("scan")));

        // name, slices, threads, range run: a one-slice range run, a single
        // slice without range, and a range of more slices than threads (one
        // thread per slice), each against one thread.
        const struct {
            const char *out;
            int from, to, threads;
            bool autoExec;
        } runs[] = {
            { "range1", 2, 2, 1, true },
            { "range2", 2, 2, 2, true },
            { "single1", 2, 2, 1, false },
            { "single2", 2, 2, 2, false },
            { "all1", 0, kHeight - 1, 1, true },
            { "all2", 0, kHeight - 1, 2, true },
        };
        for (const auto &r : runs) {
            const QString bat = QString("%1.bat").arg(r.out);
            QVERIFY(writeText(tmp.filePath(bat), job(r.from, r.to, r.threads, r.autoExec, r.out)));
            // ct_threads is limited to the processor's cores: on a machine
            // with one core both runs use one thread.
            const Run run = runVorlo(tmp.path(), { "-nw", "-e", "-b", bat, "-x" });
            QVERIFY2(run.ended && run.code == 0, qPrintable(r.out + QString("\n") + run.err));
        }
        const auto same = [&](const QString &a, const QString &b, const QString &name) {
            const QByteArray one = readAll(tmp.filePath(a + "/" + name));
            const QByteArray two = readAll(tmp.filePath(b + "/" + name));
            QVERIFY2(one.size() > kWidth * 8, qPrintable(a + "/" + name)); // a real grid
            QVERIFY2(one == two, qPrintable(b + "/" + name));
        };
        for (const char *ext : { "tif", "dat" }) {
            const QString slice2 = QString::asprintf("s--%05d.%s", 2, ext);
            same("range1", "range2", slice2);
            same("single1", "single2", slice2);
            // The single slice and the range run's slice are the same result.
            same("range1", "single2", slice2);
            for (int s = 0; s < kHeight; ++s)
                same("all1", "all2", QString::asprintf("s--%05d.%s", s, ext));
            same("range1", "all2", slice2);
        }
    }

    void singleSliceCalculatorSameWithOneAndTwoThreads()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        Body body(2, nullptr);
        CommandTable table(body);
        const auto run
            = [&](const QString &line) { QVERIFY2(exec(body, table, line), qPrintable(line)); };
        loadScan(body, table, tmp, true);
        if (QTest::currentTestFailed())
            return;
        run("ct_proc_slice 1");
        run(QString("ct_cor %1").arg(kWidth / 2 - 0.25));
        run("calc_ct1 1");
        run("ct_auto_exec 0");

        std::vector<double> grids[2];
        for (int threads : { 1, 2 }) {
            run(QString("ct_threads %1").arg(threads));
            QSignalSpy finished(&body, &Body::calcFinished);
            table.exec(BatchCmd("calc_exec"));
            QVERIFY(finished.wait(60000));
            const BpKernel &bp = body.ctCalc()->kernel();
            QCOMPARE(bp.threads(), threads);
            QVERIFY(bp.n() > 256); // several blocks of the grid
            QVERIFY(bp.resultValid());
            grids[threads - 1].assign(bp.result(), bp.result() + std::size_t(bp.n()) * bp.n());
        }
        double peak = 0;
        for (double v : grids[0])
            peak = std::max(peak, std::abs(v));
        QVERIFY(peak > 0);
        QVERIFY(
            std::memcmp(grids[0].data(), grids[1].data(), grids[0].size() * sizeof(double)) == 0);
    }

    // Threads one slice may use in a run on a window with two calculators:
    // never more than ct_threads in total.
    void parallelCalculatorsShareCtThreads()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        Body body(2, nullptr);
        CommandTable table(body);
        const auto run
            = [&](const QString &line) { QVERIFY2(exec(body, table, line), qPrintable(line)); };
        loadScan(body, table, tmp, false);
        if (QTest::currentTestFailed())
            return;
        run(QString("ct_cor %1").arg(kWidth / 2 - 0.25));
        run("calc_ct2 1");
        run("ct_auto_exec 1");
        run("ct_slice_step 1");
        const struct {
            int from, to, threads, perSlice;
        } cases[] = {
            { 1, 1, 2, 2 }, // one slice: both threads
            { 0, 3, 2, 1 }, // four slices on two calculators: one each
            { 1, 1, 1, 1 },
            { 0, 1, 1, 1 },
        };
        for (const auto &c : cases) {
            run(QString("ct_slice_from %1").arg(c.from));
            run(QString("ct_slice_to %1").arg(c.to));
            run(QString("ct_threads %1").arg(c.threads));
            QSignalSpy finished(&body, &Body::calcFinished);
            table.exec(BatchCmd("calc_exec"));
            QVERIFY(finished.wait(60000));
            // The calculators are idle: their kernels may be read.
            const QVector<CtCalc2 *> &calcs = body.ctCalc2s();
            QCOMPARE(calcs.size(), 2);
            QCOMPARE(calcs[0]->bpKernel().threads(), c.perSlice);
        }
    }
};

VORLO_TEST(TestSliceThreads)
#include "test_slice_threads.moc"
