// Unattended runs of the real program without a window on small phantom
// scans: every command is answered by its own end, the program waits for the
// work its configuration started, calculations that cannot reconstruct a
// slice end (and say which slice and why), and the exit code tells whether
// every requested result was computed and written whole (0), a result failed
// (2) or a requested input file was refused (3).
#include "tests/app/headless_run.h"
#include "tests/test_registry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace headless;

namespace {

// A phantom scan (proj_*.img, I0.img, BG.img) in dir/scan.
bool makeScan(const QTemporaryDir &dir, int width, int height, int projections)
{
    QProcess tool;
    tool.start(program("vorlo2-phantom"),
        { "scan", "--out", dir.filePath("scan"), "--width", QString::number(width), "--height",
            QString::number(height), "--projections", QString::number(projections) });
    return tool.waitForFinished(60000) && tool.exitStatus() == QProcess::NormalExit
        && tool.exitCode() == 0;
}

int filesIn(const QString &folder, const QString &pattern)
{
    return int(QDir(folder).entryList({ pattern }, QDir::Files).size());
}

// Lines of the scan, I0, BG and a vertical axis with the range 0 ... to and
// data saving on into the folder out.
QString loadAndRange(int cor, int to, const QString &out)
{
    return QString("images_new_on_load 1\n"
                   "ct_rot_ax_is_v 1\n"
                   "images_load scan proj_*.img\n"
                   "i0_load scan/I0.img\n"
                   "bg_load scan/BG.img\n"
                   "ct_cor %1\n"
                   "ct_slice_from 0\n"
                   "ct_slice_to %2\n"
                   "ct_slice_step 1\n"
                   "auto_save_data_name s\n"
                   "auto_save_data_path %3\n"
                   "auto_save_data 1\n")
        .arg(cor)
        .arg(to)
        .arg(out);
}

QString describe(const Run &r)
{
    return QString("ended %1, code %2, stderr:\n%3")
        .arg(r.ended)
        .arg(r.code)
        .arg(r.err.right(3000));
}

} // namespace

class TestHeadlessFlow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY2(QFileInfo::exists(program("vorlo2")), "build vorlo2 first");
        QVERIFY2(QFileInfo::exists(program("vorlo2-phantom")), "build vorlo2-phantom first");
    }

    // The configuration loads the scan; the batch runs the range twice into
    // two folders. The end of the configuration's loading must not answer the
    // first calc_exec, or the second one meets a running calculation.
    void eachCalcExecIsAnsweredByItsOwnEnd()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const int width = 64, height = 64;
        QVERIFY(makeScan(tmp, width, height, 180));
        QVERIFY(writeText(tmp.filePath("job.cfg"),
            loadAndRange(width / 2, height - 1, "first") + "calc_ct2 1\nct_auto_exec 1\n"));
        QVERIFY(writeText(
            tmp.filePath("job.bat"), "calc_exec\nauto_save_data_path second\ncalc_exec\n"));
        const Run r = runVorlo(tmp.path(), { "-nw", "-e", "-c", "job.cfg", "-b", "job.bat", "-x" });
        QVERIFY2(r.ended && r.normalExit, qPrintable(describe(r)));
        QVERIFY2(!r.err.contains("A calculation is already running"), qPrintable(describe(r)));
        QCOMPARE(filesIn(tmp.filePath("first"), "s--*.dat"), height);
        QCOMPARE(filesIn(tmp.filePath("second"), "s--*.dat"), height);
        QCOMPARE(r.code, 0);
    }

    // No batch: the run ends when the configuration's loading and the
    // calculation it asked for have ended and every slice is written.
    void withoutBatchTheStartUpWorkIsWaitedFor()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const int width = 32, height = 8;
        QVERIFY(makeScan(tmp, width, height, 36));
        QVERIFY(writeText(tmp.filePath("job.cfg"),
            loadAndRange(width / 2, height - 1, "out")
                + "calc_ct2 1\nct_auto_exec 1\ncalc_exec\n"));
        const Run r = runVorlo(tmp.path(), { "-nw", "-e", "-c", "job.cfg" });
        QVERIFY2(r.ended && r.normalExit, qPrintable(describe(r)));
        QCOMPARE(filesIn(tmp.filePath("out"), "s--*.dat"), height);
        QCOMPARE(r.code, 0);
    }

    // Calculations that cannot build a slice end all the same, log the slice
    // and the reason, and end the run with code 2:
    // - the single-slice calculator with a centre 1.5 pixels from the edge (a
    //   1-pixel sinogram);
    // - a range run with a horizontal axis and a centre outside the
    //   sinogram, whose run record counts no slice as done and lists each.
    void slicesThatCannotBeBuiltEndTheRunWithCode2()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const int width = 32, height = 8;
        QVERIFY(makeScan(tmp, width, height, 36));

        QVERIFY(writeText(tmp.filePath("ct1.bat"),
            loadAndRange(width / 2, height - 1, "out1")
                + "ct_proc_slice 3\nct_cor 1.5\ncalc_ct1 1\ncalc_exec\n"));
        const Run one = runVorlo(tmp.path(), { "-nw", "-e", "-b", "ct1.bat", "-x" }, 30000);
        QVERIFY2(one.ended && one.normalExit, qPrintable(describe(one)));
        QVERIFY2(one.err.contains(QRegularExpression(
                     "Slice 00003 not reconstructed : the sinogram is 1 pixel wide")),
            qPrintable(describe(one)));
        QCOMPARE(one.code, 2);

        // Along a horizontal axis the detector has `height` pixels: centre 40
        // lies outside it.
        QString job = loadAndRange(40, 5, "out2");
        job.replace("ct_rot_ax_is_v 1", "ct_rot_ax_is_h 1");
        job += "calc_ct2 1\nct_auto_exec 1\ncalc_exec\n";
        QVERIFY(writeText(tmp.filePath("h.bat"), job));
        const Run h = runVorlo(tmp.path(), { "-nw", "-e", "-b", "h.bat", "-x" }, 30000);
        QVERIFY2(h.ended && h.normalExit, qPrintable(describe(h)));
        QCOMPARE(h.code, 2);
        QCOMPARE(filesIn(tmp.filePath("out2"), "*.dat"), 0);
        for (int s = 0; s <= 5; ++s)
            QVERIFY2(h.err.contains(QString::asprintf(
                         "Slice %05d not reconstructed : no sinogram for the centre 40", s)),
                qPrintable(describe(h)));
        QFile record(tmp.filePath("out2/s--run.txt"));
        QVERIFY(record.open(QIODevice::ReadOnly | QIODevice::Text));
        const QString text = QString::fromUtf8(record.readAll());
        QVERIFY2(text.contains(QRegularExpression("\nslices done +: 0 of 6\n")), qPrintable(text));
        QVERIFY2(text.contains(QRegularExpression("\nslices failed +: 6\n")), qPrintable(text));
        for (int s = 0; s <= 5; ++s)
            QVERIFY2(text.contains(QString::asprintf("\nfailed %05d : no sinogram", s)),
                qPrintable(text));
    }

    // Auto Exec with CT1 computes nothing: the calc_exec is answered at once
    // and clears the ok flag, so that ":ifng" can send the results elsewhere.
    void calcExecThatStartsNothingIsAnsweredAtOnce()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const int width = 32, height = 8;
        QVERIFY(makeScan(tmp, width, height, 36));
        QVERIFY(writeText(tmp.filePath("job.bat"),
            loadAndRange(width / 2, height - 1, "ok")
                + "ct_auto_exec 1\ncalc_ct1 1\ncalc_exec\n"
                  ":ifng auto_save_data_path ng\n"
                  "calc_ct2 1\ncalc_exec\n"));
        const Run r = runVorlo(tmp.path(), { "-nw", "-e", "-b", "job.bat", "-x" }, 30000);
        QVERIFY2(r.ended && r.normalExit, qPrintable(describe(r)));
        QVERIFY2(r.err.contains("Auto Exec with CT1 computes nothing"), qPrintable(describe(r)));
        QCOMPARE(filesIn(tmp.filePath("ng"), "s--*.dat"), height);
        QCOMPARE(filesIn(tmp.filePath("ok"), "s--*.dat"), 0);
        QCOMPARE(r.code, 0);
    }

    // A loading command whose file is refused clears the ok flag, and the run
    // ends with code 3 even though the range itself was computed and saved:
    // an I0 file that does not exist; an images_load that reads no image.
    void refusedInputFilesEndTheRunWithCode3()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const int width = 32, height = 8;
        QVERIFY(makeScan(tmp, width, height, 36));
        QString job = loadAndRange(width / 2, height - 1, "ok");
        job.replace("i0_load scan/I0.img",
            "i0_load scan/no-such-I0.img\n"
            ":ifng auto_save_data_tag ng");
        job += "calc_ct2 1\nct_auto_exec 1\ncalc_exec\n";
        QVERIFY(writeText(tmp.filePath("i0.bat"), job));
        const Run r = runVorlo(tmp.path(), { "-nw", "-e", "-b", "i0.bat", "-x" }, 30000);
        QVERIFY2(r.ended && r.normalExit, qPrintable(describe(r)));
        QVERIFY2(r.err.contains("Input file refused : I0 image \"scan/no-such-I0.img\""),
            qPrintable(describe(r)));
        QCOMPARE(filesIn(tmp.filePath("ok"), "s-ng-*.dat"), height);
        QCOMPARE(r.code, 3);

        QVERIFY(QDir(tmp.path()).mkdir("empty"));
        QVERIFY(writeText(tmp.filePath("none.bat"),
            "images_load empty *.img\n:ifng auto_save_data_path ng2\n:ifng auto_save_data 1\n"
            "calc_exec\n"));
        const Run n = runVorlo(tmp.path(), { "-nw", "-e", "-b", "none.bat", "-x" }, 30000);
        QVERIFY2(n.ended && n.normalExit, qPrintable(describe(n)));
        QVERIFY2(n.err.contains("Input file refused : no image read for images_load empty *.img"),
            qPrintable(describe(n)));
        QCOMPARE(n.code, 3);
    }

    // An empty save path writes into the working folder, as a path given as
    // "." would; a run record that cannot be written (a folder holds its
    // name) is a failed result: code 2, with every slice still saved.
    void emptySavePathAndUnwritableRecord()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const int width = 32, height = 6;
        QVERIFY(makeScan(tmp, width, height, 36));
        QString job = loadAndRange(width / 2, height - 1, "");
        job.replace("auto_save_data_path \n", "auto_save_data_clear\nauto_save_data_name s\n");
        job += "calc_ct2 1\nct_auto_exec 1\ncalc_exec\n";
        QVERIFY(writeText(tmp.filePath("job.bat"), job));
        const Run r = runVorlo(tmp.path(), { "-nw", "-e", "-b", "job.bat", "-x" }, 30000);
        QVERIFY2(r.ended && r.normalExit, qPrintable(describe(r)));
        QVERIFY2(!r.err.contains("Can't write file"), qPrintable(describe(r)));
        QCOMPARE(filesIn(tmp.path(), "s--*.dat"), height);
        QVERIFY(QFileInfo::exists(tmp.filePath("s--run.txt")));
        QCOMPARE(r.code, 0);

        QVERIFY(QDir(tmp.path()).mkpath("blocked/s--run.txt"));
        job.replace(
            "auto_save_data_clear\nauto_save_data_name s\n", "auto_save_data_path blocked\n");
        QVERIFY(writeText(tmp.filePath("blocked.bat"), job));
        const Run b = runVorlo(tmp.path(), { "-nw", "-e", "-b", "blocked.bat", "-x" }, 30000);
        QVERIFY2(b.ended && b.normalExit, qPrintable(describe(b)));
        QCOMPARE(filesIn(tmp.filePath("blocked"), "s--*.dat"), height);
        QVERIFY2(b.err.contains("Can't write file"), qPrintable(describe(b)));
        QCOMPARE(b.code, 2);
    }
};

VORLO_TEST(TestHeadlessFlow)
#include "test_headless_flow.moc"
