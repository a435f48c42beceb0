// Headless runs split across MPI ranks on this machine: the program started
// by Open MPI's mpirun with 2 and 3 ranks saves exactly the files of the same
// batch run as one process, rank 0 writes one record of a shared range run,
// a walk over data sets is split by sets, and a rank that cannot read its
// scan makes every rank end with a failure code, in time.
#include "tests/app/headless_run.h"
#include "tests/test_registry.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <map>
#include <unistd.h>

using namespace headless;

namespace {

// Every file under dir with its bytes, by path relative to dir; run records
// apart (they hold dates).
std::map<QString, QByteArray> resultFiles(const QString &dir, bool records = false)
{
    std::map<QString, QByteArray> files;
    QDirIterator it(dir, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path.endsWith("-run.txt") != records)
            continue;
        QFile f(path);
        if (f.open(QIODevice::ReadOnly))
            files[QDir(dir).relativeFilePath(path)] = f.readAll();
    }
    return files;
}

QString readText(const QString &fname)
{
    QFile f(fname);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// The "slice ... centre ..." lines of a run record, in order.
QStringList sliceLines(const QString &record)
{
    QStringList lines;
    const QRegularExpression sliceLine(R"(^slice \d+ centre )");
    for (const QString &l : record.split('\n'))
        if (sliceLine.match(l).hasMatch())
            lines << l;
    return lines;
}

bool makePhantom(const QStringList &args)
{
    QProcess tool;
    tool.start(program("vorlo2-phantom"), args);
    return tool.waitForFinished(60000) && tool.exitStatus() == QProcess::NormalExit
        && tool.exitCode() == 0;
}

// Runs mpirun with the given application contexts ("-np 2 <vorlo2> args",
// several joined by ":"). The settings work in a container without a network
// between machines and as root, as CI runs: shared memory between the ranks
// without the cross-memory attach that containers forbid, more ranks than
// cores, no binding to cores.
Run runMpi(const QStringList &contexts, int timeoutMs = 240000)
{
    QStringList args { "--oversubscribe", "--bind-to", "none", "--tag-output", "--mca", "btl",
        "self,vader", "--mca", "btl_vader_single_copy_mechanism", "none" };
    if (::geteuid() == 0)
        args << "--allow-run-as-root";
    args << contexts;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    p.setProcessEnvironment(env);
    p.start(QStandardPaths::findExecutable("mpirun"), args);
    Run r;
    r.ended = p.waitForFinished(timeoutMs);
    if (!r.ended) {
        // mpirun passes the signal on to every rank.
        p.terminate();
        if (!p.waitForFinished(10000)) {
            p.kill();
            p.waitForFinished();
        }
    }
    r.normalExit = p.exitStatus() == QProcess::NormalExit;
    r.code = r.normalExit ? p.exitCode() : -1;
    r.err = QString::fromLocal8Bit(p.readAllStandardError() + p.readAllStandardOutput());
    return r;
}

// "-np N -wdir dir vorlo2 args..." for one application context.
QStringList context(int ranks, const QString &dir, const QStringList &args)
{
    return QStringList { "-np", QString::number(ranks), "-wdir", dir, program("vorlo2") } + args;
}

// The lines one rank wrote, from --tag-output's "[job,rank]<stderr>:" prefix.
QStringList linesOfRank(const QString &out, int rank)
{
    QStringList lines;
    const QRegularExpression tag(QString(R"(^\[\d+,%1\]<std(err|out)>:(.*)$)").arg(rank));
    for (const QString &l : out.split('\n')) {
        const QRegularExpressionMatch m = tag.match(l);
        if (m.hasMatch())
            lines << m.captured(2);
    }
    return lines;
}

bool mpiUsable(QString &why)
{
#ifndef VORLO_TEST_MPI
    why = "vorlo2 was built without MPI";
    return false;
#else
    if (QStandardPaths::findExecutable("mpirun").isEmpty()) {
        why = "mpirun not found (tools/install-deps.sh mpi)";
        return false;
    }
    return true;
#endif
}

const int scanWidth = 64, scanHeight = 10, scanProjections = 90;

// A range run of all 10 slices saving data, images and float TIFFs, a
// centre search before it, and a single slice into a folder of its own.
const char *const rangeBatch = "images_new_on_load 1\nct_rot_ax_is_v 1\n"
                               "images_load scan proj_*.img\n"
                               "i0_load scan/I0.img\nbg_load scan/BG.img\nct_cor 31.75\n"
                               "auto_save_tiff_path out/tiff\nauto_save_tiff_name s\n"
                               "ct_proc_slice 5\nct_try_cor 30 33 0.5\n"
                               "ct_slice_from 0\nct_slice_to 9\nct_slice_step 1\nct_threads 2\n"
                               "auto_save_data_path out/data\nauto_save_data_name s\n"
                               "auto_save_data 1\n"
                               "auto_save_image_path out/img\nauto_save_image_name s\n"
                               "auto_save_image 1\nauto_save_tiff 1\n"
                               "calc_ct2 1\nct_auto_exec 1\ncalc_exec\n"
                               "auto_save_data_path out/single\nauto_save_image 0\n"
                               "auto_save_tiff 0\nct_auto_exec 0\nct_proc_slice 3\ncalc_exec\n";

} // namespace

class TestMpiRuns : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void rangeRunSharedByRanks_data();
    void rangeRunSharedByRanks();
    void walkSplitBySets();
    void rankWithUnreadableScanFailsEveryRank();
    void windowRefusedWithSeveralRanks();
    void peerThatDiesEndsTheRun();
    void sharedRunMakesNoVolume();

private:
    QTemporaryDir base;
    std::map<QString, QByteArray> reference; // the files of one process
    QString referenceRecord;
};

void TestMpiRuns::initTestCase()
{
    QString why;
    if (!mpiUsable(why))
        QSKIP(qPrintable(why));
    QVERIFY2(QFileInfo::exists(program("vorlo2")), "build vorlo2 first");
    QVERIFY(base.isValid());
    QVERIFY(makePhantom(
        { "scan", "--out", base.filePath("scan"), "--width", QString::number(scanWidth), "--height",
            QString::number(scanHeight), "--projections", QString::number(scanProjections) }));
    QVERIFY(writeText(base.filePath("job.bat"), rangeBatch));

    // Without a launcher the program runs as it always did: no rank anywhere.
    QVERIFY(QDir(base.path()).mkpath("one"));
    QVERIFY(QFile::copy(base.filePath("job.bat"), base.filePath("one/job.bat")));
    QVERIFY(QFile::link(base.filePath("scan"), base.filePath("one/scan")));
    const Run r = runVorlo(base.filePath("one"), { "-nw", "-e", "-b", "job.bat", "-x" });
    QVERIFY2(r.ended && r.code == 0, qPrintable(r.err.right(3000)));
    QVERIFY2(!r.err.contains(QRegularExpression(R"(\[\d+/\d+\]|ranks,)")), qPrintable(r.err));
    reference = resultFiles(base.filePath("one/out"));
    // 10 slices of 3 kinds, 7 centres and the single slice.
    QCOMPARE(int(reference.size()), 10 * 3 + 7 + 1);
    referenceRecord = readText(base.filePath("one/out/data/s--run.txt"));
    QCOMPARE(sliceLines(referenceRecord).size(), 10);
}

void TestMpiRuns::rangeRunSharedByRanks_data()
{
    QTest::addColumn<int>("ranks");
    QTest::newRow("2 ranks") << 2;
    QTest::newRow("3 ranks") << 3;
}

void TestMpiRuns::rangeRunSharedByRanks()
{
    QFETCH(int, ranks);
    const QString dir = base.filePath(QString("ranks%1").arg(ranks));
    QVERIFY(QDir().mkpath(dir));
    QVERIFY(QFile::copy(base.filePath("job.bat"), dir + "/job.bat"));
    QVERIFY(QFile::link(base.filePath("scan"), dir + "/scan"));
    const Run r = runMpi(context(ranks, dir, { "-nw", "-e", "-b", "job.bat", "-x" }));
    QVERIFY2(r.ended, qPrintable(r.err.right(3000)));
    QVERIFY2(r.code == 0, qPrintable(r.err.right(3000)));

    // The union of the ranks' files is the one-process run's, byte for byte.
    const auto files = resultFiles(dir + "/out");
    QStringList names, expectedNames;
    for (const auto &f : files)
        names << f.first;
    for (const auto &f : reference)
        expectedNames << f.first;
    QCOMPARE(names, expectedNames);
    for (const auto &[name, bytes] : reference)
        QVERIFY2(files.at(name) == bytes, qPrintable(name));

    // One record per folder, written by rank 0: every slice once, in the
    // order and with the centres of the one-process record, all ranks named.
    const auto records = resultFiles(dir + "/out", true);
    QCOMPARE(int(records.size()), 3);
    for (const auto &[name, bytes] : records) {
        const QString text = QString::fromUtf8(bytes);
        QCOMPARE(sliceLines(text), sliceLines(referenceRecord));
        QVERIFY2(text.contains(QRegularExpression(QString("\nranks +: %1\n").arg(ranks))),
            qPrintable(text));
        QVERIFY2(text.contains(QRegularExpression("\nslices done +: 10 of 10\n"))
                && text.contains(QRegularExpression("\nstatus +: finished\n"))
                && text.contains(QRegularExpression("\nslices failed +: 0\n")),
            qPrintable(text));
    }

    // Each rank says where it stands and ends with the common code; rank 0
    // sums up.
    for (int rank = 0; rank < ranks; ++rank) {
        const QString own = linesOfRank(r.err, rank).join('\n');
        QVERIFY2(own.contains(QString("vorlo2: [%1/%2] batch done in ").arg(rank).arg(ranks)),
            qPrintable(own));
        QVERIFY2(
            own.contains(QString("vorlo2: [%1/%2] exit code 0 (this rank 0)").arg(rank).arg(ranks)),
            qPrintable(own));
    }
    QVERIFY2(linesOfRank(r.err, 0).join('\n').contains(QRegularExpression(
                 QString(R"(vorlo2: %1 ranks, 11 slices saved, 0 failed, [\d.]+ s, exit code 0)")
                     .arg(ranks))),
        qPrintable(r.err.right(3000)));
}

void TestMpiRuns::walkSplitBySets()
{
    QVERIFY2(QFileInfo::exists(program("vorlo2-phantom")), "build vorlo2-phantom first");
    const QString dir = base.filePath("walk");
    QVERIFY(makePhantom({ "xafs", "--out", dir + "/meas", "--width", "48", "--height", "4",
        "--projections", "60", "--energies", "7100,7110,7120", "--edge", "7112" }));
    QVERIFY(writeText(dir + "/walk.bat",
        "images_new_on_load 1\nct_rot_ax_is_v 1\n"
        "add_inf_ASR_standard 1\nseq_exec_file_pattern *.img\n"
        "seq_exec_dir meas\nseq_exec_select_i0 meas/I0 I0-*.img\n"
        "bg_load meas/BG/BG.img\nct_cor 24\n"
        "ct_slice_from 1\nct_slice_to 2\nct_slice_step 1\nct_threads 2\n"
        "auto_save_data_path out/data\nauto_save_data_name s\nauto_save_data 1\n"
        "auto_save_image_path out/img\nauto_save_image_name s\nauto_save_image 1\n"
        "calc_ct2 1\nct_auto_exec 1\n"
        "NextSet\n"
        "seq_exec_set\ncalc_exec\n"
        "seq_exec_next\n:ifng :end\n:goto NextSet\n"));
    QVERIFY(QDir(dir).mkpath("one"));
    QVERIFY(QDir(dir).mkpath("two"));
    for (const char *sub : { "one", "two" }) {
        QVERIFY(QFile::copy(dir + "/walk.bat", dir + "/" + sub + "/walk.bat"));
        QVERIFY(QFile::link(dir + "/meas", dir + "/" + sub + "/meas"));
    }
    const Run one = runVorlo(dir + "/one", { "-nw", "-e", "-b", "walk.bat", "-x" });
    QVERIFY2(one.ended && one.code == 0, qPrintable(one.err.right(3000)));
    const Run two = runMpi(context(2, dir + "/two", { "-nw", "-e", "-v", "-b", "walk.bat", "-x" }));
    QVERIFY2(two.ended && two.code == 0, qPrintable(two.err.right(3000)));

    const auto expected = resultFiles(dir + "/one/out");
    QCOMPARE(int(expected.size()), 2 * 3 * 2); // 2 kinds, 3 energies, 2 slices
    const auto files = resultFiles(dir + "/two/out");
    QCOMPARE(int(files.size()), int(expected.size()));
    for (const auto &[name, bytes] : expected)
        QVERIFY2(files.count(name) && files.at(name) == bytes, qPrintable(name));
    // A record per set, by the rank that ran it, as in one process.
    const auto records = resultFiles(dir + "/two/out", true);
    QCOMPARE(int(records.size()), 2 * 3);
    for (const auto &[name, bytes] : records) {
        const QString text = QString::fromUtf8(bytes);
        QVERIFY2(text.contains(QRegularExpression("\nslices done +: 2 of 2\n"))
                && !text.contains(QRegularExpression("\nranks +:")),
            qPrintable(name + "\n" + text));
    }

    // Rank 0 took the first and the third set, rank 1 the second: each read
    // the I0 image of its own energies only.
    const QString rank0 = linesOfRank(two.err, 0).join('\n');
    const QString rank1 = linesOfRank(two.err, 1).join('\n');
    const auto loadsI0 = [](const QString &lines, const char *energy) {
        return lines.contains(QRegularExpression(QString("loading \"[^\"]*I0-%1eV").arg(energy)));
    };
    QVERIFY2(loadsI0(rank0, "7100") && loadsI0(rank0, "7120") && !loadsI0(rank0, "7110"),
        qPrintable(rank0.right(3000)));
    QVERIFY2(loadsI0(rank1, "7110") && !loadsI0(rank1, "7100") && !loadsI0(rank1, "7120"),
        qPrintable(rank1.right(3000)));
}

void TestMpiRuns::rankWithUnreadableScanFailsEveryRank()
{
    // Rank 1 runs in a folder whose scan files are cut to a few bytes, as
    // on a machine that sees a broken copy of the shared folder; rank 0 in
    // a folder with the whole scan.
    const QString good = base.filePath("good"), bad = base.filePath("bad");
    QVERIFY(QDir().mkpath(good) && QDir().mkpath(bad + "/scan"));
    QVERIFY(QFile::copy(base.filePath("job.bat"), good + "/job.bat"));
    QVERIFY(QFile::copy(base.filePath("job.bat"), bad + "/job.bat"));
    QVERIFY(QFile::link(base.filePath("scan"), good + "/scan"));
    const QStringList scanFiles = QDir(base.filePath("scan")).entryList(QDir::Files);
    QVERIFY(scanFiles.size() >= scanProjections);
    for (const QString &f : scanFiles)
        QVERIFY(writeText(bad + "/scan/" + f, "IM"));

    const QStringList args { "-nw", "-e", "-b", "job.bat", "-x" };
    const Run r = runMpi(context(1, good, args) + QStringList { ":" } + context(1, bad, args));
    QVERIFY2(r.ended, qPrintable(r.err.right(3000))); // nobody waits for ever
    QVERIFY2(r.code != 0, qPrintable(r.err.right(3000)));
    const QString rank0 = linesOfRank(r.err, 0).join('\n');
    const QString rank1 = linesOfRank(r.err, 1).join('\n');
    // Rank 1's refused input (code 3) is every rank's code.
    QVERIFY2(
        rank1.contains("Input file refused") && rank1.contains("[1/2] exit code 3 (this rank 3)"),
        qPrintable(rank1.right(3000)));
    QVERIFY2(rank0.contains("[0/2] exit code 3 (this rank 0)"), qPrintable(rank0.right(3000)));
    // Rank 0's own share of the slices is saved whole.
    for (int s = 0; s < scanHeight; s += 2) {
        const QString name = QString::asprintf("data/s--%05d.dat", s);
        QFile f(good + "/out/" + name);
        QVERIFY2(
            f.open(QIODevice::ReadOnly) && f.readAll() == reference.at(name), qPrintable(name));
    }
    // Its record counts the failed slices of rank 1.
    const QString record = readText(good + "/out/data/s--run.txt");
    QVERIFY2(record.contains(QRegularExpression("\nslices failed +: 5\n"))
            && record.contains(QRegularExpression("\nslices done +: 5 of 10\n")),
        qPrintable(record));
}

void TestMpiRuns::windowRefusedWithSeveralRanks()
{
    const Run r = runMpi(context(2, base.path(), { "-e" }), 60000);
    QVERIFY2(r.ended, qPrintable(r.err));
    QVERIFY2(r.code == 1, qPrintable(r.err));
    for (int rank = 0; rank < 2; ++rank)
        QVERIFY2(
            linesOfRank(r.err, rank)
                .join('\n')
                .contains(QString("vorlo2: [%1/2] the window runs in one process only").arg(rank)),
            qPrintable(r.err));
}

// Rank 1 joins and then never ends its batch (a loop) until it is killed;
// rank 0 has done its work and waits for it. The launcher sees rank 1 die and
// ends the run: rank 0 does not wait for ever.
void TestMpiRuns::peerThatDiesEndsTheRun()
{
    const QString dir = base.filePath("dies");
    QVERIFY(QDir().mkpath(dir));
    QVERIFY(QFile::copy(base.filePath("job.bat"), dir + "/job.bat"));
    QVERIFY(QFile::link(base.filePath("scan"), dir + "/scan"));
    QVERIFY(writeText(dir + "/loop.bat", "Again\n:goto Again\n"));
    const QStringList rank1 { "-np", "1", "-wdir", dir, "timeout", "-s", "KILL", "8",
        program("vorlo2"), "-nw", "-e", "-b", "loop.bat", "-x" };
    const Run r = runMpi(
        context(1, dir, { "-nw", "-e", "-b", "job.bat", "-x" }) + QStringList { ":" } + rank1,
        120000);
    QVERIFY2(r.ended, qPrintable(r.err.right(3000)));
    QVERIFY2(r.code != 0, qPrintable(r.err.right(3000)));
    const QString rank0 = linesOfRank(r.err, 0).join('\n');
    QVERIFY2(rank0.contains("vorlo2: [0/2] batch done in "), qPrintable(r.err.right(3000)));
    QVERIFY2(!rank0.contains("exit code 0"), qPrintable(rank0.right(3000)));
}

VORLO_TEST(TestMpiRuns)
#include "test_mpi_runs.moc"

void TestMpiRuns::sharedRunMakesNoVolume()
{
    // No rank holds every slice of a shared range run, and files of one name
    // from several ranks would overwrite each other: the volume is refused
    // on every rank, the run fails, and the slice files are still written.
    const QString dir = base.filePath("volume");
    QVERIFY(QDir().mkpath(dir));
    QVERIFY(QFile::link(base.filePath("scan"), dir + "/scan"));
    QVERIFY(writeText(dir + "/job.bat",
        "images_new_on_load 1\nct_rot_ax_is_v 1\nimages_load scan proj_*.img\n"
        "i0_load scan/I0.img\nbg_load scan/BG.img\nct_cor 31.75\n"
        "ct_slice_from 0\nct_slice_to 9\nct_slice_step 1\nct_threads 2\n"
        "auto_save_tiff_path out/tiff\nauto_save_tiff_name s\nauto_save_tiff 1\n"
        "auto_save_hdf5_path out/vol\nauto_save_hdf5_name s\nauto_save_hdf5 1\n"
        "calc_ct2 1\nct_auto_exec 1\ncalc_exec\n"));
    const Run r = runMpi(context(2, dir, { "-nw", "-e", "-b", "job.bat", "-x" }));
    QVERIFY2(r.ended, qPrintable(r.err.right(3000)));
    QVERIFY2(r.code == 2, qPrintable(r.err.right(6000)));
    for (int rank = 0; rank < 2; ++rank) {
        const QString own = linesOfRank(r.err, rank).join('\n');
        QVERIFY2(own.contains("Auto Save HDF5 refused : a range run shared by 2 ranks"),
            qPrintable(own.right(3000)));
        QVERIFY2(own.contains(QString("[%1/2] exit code 2").arg(rank)), qPrintable(own.right(3000)));
    }
    QVERIFY2(QDir(dir + "/out/vol").entryList({ "*.h5", "*.part" }, QDir::Files).isEmpty(),
        qPrintable(QDir(dir + "/out/vol").entryList().join(' ')));
    for (int s = 0; s < scanHeight; ++s) {
        const QString name = QString::asprintf("tiff/s--%05d.tif", s);
        QFile f(dir + "/out/" + name);
        QVERIFY2(
            f.open(QIODevice::ReadOnly) && f.readAll() == reference.at(name), qPrintable(name));
    }
}
