// Faults injected into headless range runs of the real program: the disk
// fills up (a file-size limit in the child, a small tmpfs where one can be
// mounted), the result folder becomes unwritable after the first slice,
// projection files are cut or replaced while the run reads them, and the
// program is killed at random moments. After each, every file under a result
// name is whole: byte for byte the file of an undisturbed run, or the file an
// earlier run left under that name. Nothing crashes, and the exit code says
// what happened (0 all written, 2 a result failed).
#include "app/setup_file.h"
#include "ct/run_record.h"
#include "tests/app/headless_run.h"
#include "tests/test_registry.h"
#include "util/safe_file.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <map>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace headless;

namespace {

constexpr int scanWidth = 192, scanHeight = 24, scanProjections = 360;

using Files = std::map<QString, QByteArray>; // file name -> bytes

bool writeBytes(const QString &fname, const QByteArray &bytes)
{
    QFile f(fname);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray readBytes(const QString &fname)
{
    QFile f(fname);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool copyFolder(const QString &from, const QString &to)
{
    if (!QDir().mkpath(to))
        return false;
    for (const QString &f : QDir(from).entryList(QDir::Files))
        if (!QFile::copy(from + "/" + f, to + "/" + f))
            return false;
    return true;
}

bool isRunRecord(const QString &name) { return name.endsWith("-run.txt"); }
bool isResultName(const QString &name)
{
    return !isPartialFileName(name)
        && (name.endsWith(".dat") || name.endsWith(".png") || isRunRecord(name));
}

Files resultFiles(const QString &dir)
{
    Files out;
    for (const QString &f : QDir(dir).entryList(QDir::Files | QDir::Hidden))
        if (isResultName(f))
            out[f] = readBytes(dir + "/" + f);
    return out;
}

QStringList partialFiles(const QString &dir)
{
    QStringList out;
    for (const QString &f : QDir(dir).entryList(QDir::Files | QDir::Hidden))
        if (isPartialFileName(f))
            out << f;
    return out;
}

// A run record is whole when it has its magic line and its last key, ends
// with a line end, lists a slice line for every slice saved or failed and at
// least one failure line for every failed one.
bool wholeRunRecord(const QByteArray &text)
{
    if (!text.startsWith("#VRLO-RunRecord\n") || !text.contains("\nthreads used")
        || !text.endsWith('\n'))
        return false;
    const QString t = QString::fromUtf8(text);
    const QRegularExpressionMatch done
        = QRegularExpression("\nslices done +: (\\d+) of").match(t);
    const QRegularExpressionMatch failed
        = QRegularExpression("\nslices failed +: (\\d+)\n").match(t);
    if (!done.hasMatch() || !failed.hasMatch())
        return false;
    const QRegularExpression sliceLine("^slice \\d+ centre ", QRegularExpression::MultilineOption);
    const QRegularExpression failLine("^failed \\d+ : ", QRegularExpression::MultilineOption);
    const int nFailed = failed.captured(1).toInt();
    return t.count(failLine) >= nFailed
        && t.count(sliceLine) == done.captured(1).toInt() + nFailed;
}

// The job: the scan, I0 and BG, every image row as a slice, data and image
// files (name s) into `out`.
QByteArray job(const QString &out)
{
    return QString("images_new_on_load 1\nct_rot_ax_is_v 1\n"
                   "images_load scan proj_*.img\ni0_load scan/I0.img\nbg_load scan/BG.img\n"
                   "ct_cor %1\nct_slice_from 0\nct_slice_to %2\nct_slice_step 1\n"
                   "auto_save_data_upper_limit 1000\nauto_save_data_lower_limit -1000\n"
                   "auto_save_data_offset 0\nauto_save_data_path %3\nauto_save_data_name s\n"
                   "auto_save_data 1\nauto_save_image_path %3\nauto_save_image_name s\n"
                   "auto_save_image 1\ncalc_ct2 1\nct_auto_exec 1\ncalc_exec\n")
        .arg(scanWidth / 2)
        .arg(scanHeight - 1)
        .arg(out)
        .toUtf8();
}

// vorlo2 running headless in dir, as headless::runVorlo starts it, with an
// optional change to the child before it starts the program.
class Child {
public:
    void start(
        const QString &dir, const QStringList &args, const std::function<void()> &modifier = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(dir);
        if (modifier)
            p.setChildProcessModifier(modifier);
        p.start(program("vorlo2"), args);
    }
    bool running() { return p.state() != QProcess::NotRunning; }
    void waitABit(int ms) { p.waitForFinished(ms); }
    void kill9()
    {
        if (p.state() == QProcess::Running)
            ::kill(pid_t(p.processId()), SIGKILL);
        p.waitForFinished();
    }
    Run finish(int timeoutMs = 120000)
    {
        Run r;
        // waitForFinished() answers false for a program that has already
        // ended (during waitABit, say): that one has ended all the same.
        r.ended = (p.state() == QProcess::NotRunning && p.error() != QProcess::FailedToStart)
            || p.waitForFinished(timeoutMs);
        if (!r.ended) {
            p.kill();
            p.waitForFinished();
        }
        r.normalExit = p.exitStatus() == QProcess::NormalExit;
        r.code = r.normalExit ? p.exitCode() : -1;
        r.err = QString::fromLocal8Bit(p.readAllStandardError());
        return r;
    }

private:
    QProcess p;
};

const QStringList headlessArgs { "-nw", "-e", "-b", "job.bat", "-x" };

} // namespace

class TestFaultInjection : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void fileSizeLimitKeepsEarlierFiles();
    void smallTmpfsFillsUp();
    void folderBecomesUnwritable();
    void projectionsCutOrReplacedDuringRun();
    void killedAtRandomMoments();
    void setupFileAndRunRecordKeepEarlierFiles();

private:
    // A working folder with its own copy of the scan and job.bat writing into
    // `out` (a sub folder of it unless absolute).
    bool prepare(const QTemporaryDir &tmp, const QString &out = "out");
    // Earlier files under every data-file name: short but whole.
    Files plantEarlier(const QString &dir);
    // Problems of the files under result names in dir: each must be the
    // reference file or the earlier one of its name.
    QStringList notWhole(const QString &dir, const Files &earlier) const;
    // The exit code; only a program that reports failed results by it passes.
    void expectExitCode(const Run &r, int code) const;

    QTemporaryDir base;
    Files reference;
    qint64 referenceMs = 0;
};

bool TestFaultInjection::prepare(const QTemporaryDir &tmp, const QString &out)
{
    return tmp.isValid() && copyFolder(base.filePath("scan"), tmp.filePath("scan"))
        && writeBytes(tmp.filePath("job.bat"), job(out));
}

Files TestFaultInjection::plantEarlier(const QString &dir)
{
    Files earlier;
    QDir().mkpath(dir);
    for (const auto &[name, bytes] : reference) {
        if (!name.endsWith(".dat"))
            continue;
        earlier[name] = "#VRLO-CTImg\n# an earlier run's " + name.toUtf8() + "\n";
        writeBytes(dir + "/" + name, earlier[name]);
    }
    return earlier;
}

QStringList TestFaultInjection::notWhole(const QString &dir, const Files &earlier) const
{
    QStringList bad;
    for (const auto &[name, bytes] : resultFiles(dir)) {
        if (isRunRecord(name)) {
            if (!wholeRunRecord(bytes))
                bad << name + " (run record cut)";
            continue;
        }
        const auto ref = reference.find(name);
        const auto old = earlier.find(name);
        const bool asRef = ref != reference.end() && ref->second == bytes;
        const bool asOld = old != earlier.end() && old->second == bytes;
        if (!asRef && !asOld)
            bad << QString("%1 (%2 bytes)").arg(name).arg(bytes.size());
    }
    return bad;
}

void TestFaultInjection::expectExitCode(const Run &r, int code) const
{
    QVERIFY2(r.normalExit, "the program crashed or was killed");
    QCOMPARE(r.code, code);
}

void TestFaultInjection::initTestCase()
{
    QVERIFY2(QFileInfo::exists(program("vorlo2")), "build vorlo2 first");
    QVERIFY2(QFileInfo::exists(program("vorlo2-phantom")), "build vorlo2-phantom first");
    QVERIFY(base.isValid());
    QProcess tool;
    tool.start(program("vorlo2-phantom"),
        { "scan", "--out", base.filePath("scan"), "--width", QString::number(scanWidth), "--height",
            QString::number(scanHeight), "--projections", QString::number(scanProjections) });
    QVERIFY(tool.waitForFinished(60000));
    QCOMPARE(tool.exitCode(), 0);

    // The undisturbed run gives the reference files.
    QTemporaryDir tmp;
    QVERIFY(prepare(tmp));
    QElapsedTimer clock;
    clock.start();
    const Run r = runVorlo(tmp.path(), headlessArgs);
    referenceMs = clock.elapsed();
    QVERIFY2(r.ended && r.normalExit, qPrintable(r.err));
    QCOMPARE(r.code, 0);
    reference = resultFiles(tmp.filePath("out"));
    int dat = 0, png = 0;
    for (const auto &[name, bytes] : reference) {
        dat += name.endsWith(".dat");
        png += name.endsWith(".png");
        QVERIFY2(!bytes.isEmpty(), qPrintable(name));
    }
    QCOMPARE(dat, scanHeight);
    QCOMPARE(png, scanHeight);
    QVERIFY(partialFiles(tmp.filePath("out")).isEmpty());
    // The data files are larger than the limit of the next test (64 KiB), the
    // pictures smaller.
    for (const auto &[name, bytes] : reference)
        QVERIFY2(
            name.endsWith(".dat") ? bytes.size() > 65536 : bytes.size() < 65536, qPrintable(name));
}

void TestFaultInjection::fileSizeLimitKeepsEarlierFiles()
{
    // A quota of 64 KiB per file: every data file fails on the way, pictures
    // and the run record fit.
    QTemporaryDir tmp;
    QVERIFY(prepare(tmp));
    const Files earlier = plantEarlier(tmp.filePath("out"));
    Child c;
    c.start(tmp.path(), headlessArgs, [] {
        std::signal(SIGXFSZ, SIG_IGN); // EFBIG instead of the signal, as on a full disk
        rlimit lim;
        getrlimit(RLIMIT_FSIZE, &lim);
        lim.rlim_cur = 64 << 10;
        setrlimit(RLIMIT_FSIZE, &lim);
    });
    const Run r = c.finish();
    QVERIFY(r.ended);
    const QString out = tmp.filePath("out");
    const QStringList bad = notWhole(out, earlier);
    QVERIFY2(bad.isEmpty(), qPrintable(bad.join(", ")));
    const Files now = resultFiles(out);
    for (const auto &[name, bytes] : earlier)
        QVERIFY2(now.at(name) == bytes, qPrintable(name + " lost its earlier content"));
    for (const auto &[name, bytes] : reference)
        if (name.endsWith(".png"))
            QVERIFY2(now.count(name) && now.at(name) == bytes, qPrintable(name));
    QVERIFY2(partialFiles(out).isEmpty(), qPrintable(partialFiles(out).join(", ")));
    for (int s = 0; s < scanHeight; ++s)
        QVERIFY2(
            r.err.contains(
                QString("Can't write file :  \"%1/s--%2.dat\"").arg(out).arg(s, 5, 10, QChar('0'))),
            qPrintable(QString("no log line for slice %1").arg(s)));
    expectExitCode(r, 2);
}

void TestFaultInjection::smallTmpfsFillsUp()
{
    QTemporaryDir tmp;
    const QString out = tmp.filePath("out");
    QVERIFY(QDir().mkpath(out));
    // Room for a few data files only.
    if (::mount("tmpfs", QFile::encodeName(out).constData(), "tmpfs", 0, "size=2m") != 0)
        QSKIP("no tmpfs can be mounted here (needs root or a user namespace)");
    struct Unmount {
        QByteArray dir;
        ~Unmount() { ::umount2(dir.constData(), MNT_DETACH); }
    } unmount { QFile::encodeName(out) };
    QVERIFY(prepare(tmp));
    const Files earlier = plantEarlier(out);
    Child c;
    c.start(tmp.path(), headlessArgs);
    const Run r = c.finish();
    QVERIFY(r.ended);
    const QStringList bad = notWhole(out, earlier);
    QVERIFY2(bad.isEmpty(), qPrintable(bad.join(", ")));
    QVERIFY2(partialFiles(out).isEmpty(), qPrintable(partialFiles(out).join(", ")));
    QVERIFY(r.err.contains("Can't write file :  \"" + out));
    QVERIFY(r.err.contains("No space left on device"));
    // Some files were written before the disk was full, and every earlier
    // file is still there, old or new.
    const Files now = resultFiles(out);
    int fresh = 0;
    for (const auto &[name, bytes] : reference)
        fresh += now.count(name) && now.at(name) == bytes;
    QVERIFY(fresh > 0);
    for (const auto &[name, bytes] : earlier)
        QVERIFY(now.count(name));
    expectExitCode(r, 2);
}

void TestFaultInjection::folderBecomesUnwritable()
{
    QTemporaryDir tmp;
    QVERIFY(prepare(tmp));
    const QString out = tmp.filePath("out");
    Child c;
    c.start(tmp.path(), headlessArgs);
    // After the first result, the folder can no longer be written: made
    // read-only, or (as root, whom permissions do not stop) moved away with a
    // plain file put in its place.
    const bool root = ::geteuid() == 0;
    const QString kept = root ? tmp.filePath("out-moved") : out;
    bool blocked = false;
    while (c.running() && !blocked) {
        c.waitABit(2);
        if (!resultFiles(out).empty()) {
            if (root)
                blocked = QDir().rename(out, kept) && writeBytes(out, "not a folder");
            else
                blocked
                    = QFile::setPermissions(out, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        }
    }
    const Run r = c.finish();
    if (!root)
        QFile::setPermissions(
            out, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QVERIFY(r.ended);
    if (!blocked)
        QSKIP("the run ended before its folder could be blocked");
    const Files got = resultFiles(kept);
    const QStringList bad = notWhole(kept, {});
    QVERIFY2(bad.isEmpty(), qPrintable(bad.join(", ")));
    // A folder moved away in the middle of a write keeps that write's
    // temporary file (its name is no longer there to remove); a read-only
    // folder gets none.
    if (!root)
        QVERIFY2(partialFiles(kept).isEmpty(), qPrintable(partialFiles(kept).join(", ")));
    if (got.size() < reference.size()) {
        // Some results could not be written: logged.
        QVERIFY(r.err.contains("Can't write file :  \"" + out));
        expectExitCode(r, 2);
    }
}

void TestFaultInjection::projectionsCutOrReplacedDuringRun()
{
    QTemporaryDir tmp;
    QVERIFY(prepare(tmp));
    const QString out = tmp.filePath("out");
    const QString cut = tmp.filePath("scan/proj_00005.img");
    const QString replaced = tmp.filePath("scan/proj_00010.img");
    QVERIFY(QFileInfo::exists(cut) && QFileInfo::exists(replaced));
    Child c;
    c.start(tmp.path(), headlessArgs);
    bool changed = false;
    while (c.running() && !changed) {
        c.waitABit(2);
        if (!resultFiles(out).empty()) {
            // One file cut short in place, one replaced by another under its name.
            const QByteArray other = readBytes(tmp.filePath("scan/proj_00020.img"));
            changed = QFile::resize(cut, 100) && writeBytes(replaced + ".new", other)
                && ::rename(QFile::encodeName(replaced + ".new").constData(),
                       QFile::encodeName(replaced).constData())
                    == 0;
        }
    }
    const Run r = c.finish();
    QVERIFY(r.ended);
    QVERIFY2(r.normalExit, "the program crashed when its files changed");
    if (!changed)
        QSKIP("the run ended before a projection could be changed");
    // Every result is one of the undisturbed run: no slice mixes old and new.
    const QStringList bad = notWhole(out, {});
    QVERIFY2(bad.isEmpty(), qPrintable(bad.join(", ")));
    const Files got = resultFiles(out);
    if (got.size() < reference.size()) {
        QVERIFY2(r.err.contains("Image file changed since loading :  \"" + cut + "\"")
                || r.err.contains("Image file changed since loading :  \"" + replaced + "\""),
            qPrintable(r.err.right(2000)));
        // Each file is named once, not once per read.
        QVERIFY(r.err.count("Image file changed since loading :  \"" + cut + "\"") <= 1);
        expectExitCode(r, 2);
    }
}

void TestFaultInjection::killedAtRandomMoments()
{
    QRandomGenerator rnd(20261208);
    for (int round = 0; round < 5; ++round) {
        QTemporaryDir tmp;
        QVERIFY(prepare(tmp));
        const QString out = tmp.filePath("out");
        const Files earlier = plantEarlier(out);
        Child c;
        c.start(tmp.path(), headlessArgs);
        // Somewhere inside the run: while loading, computing or writing.
        const int at = int(rnd.bounded(quint32(std::max<qint64>(referenceMs, 200))));
        QElapsedTimer clock;
        clock.start();
        while (c.running() && clock.elapsed() < at)
            c.waitABit(1);
        c.kill9();
        const QStringList bad = notWhole(out, earlier);
        QVERIFY2(bad.isEmpty(),
            qPrintable(QString("killed after %1 ms: %2").arg(at).arg(bad.join(", "))));
        // Every earlier file is still there, old or new.
        const Files now = resultFiles(out);
        for (const auto &[name, bytes] : earlier)
            QVERIFY(now.count(name));
    }
}

void TestFaultInjection::setupFileAndRunRecordKeepEarlierFiles()
{
    QTemporaryDir tmp;
    // Earlier files, written whole.
    const QString setup = tmp.filePath("setup.cfg");
    SetupFile::Section s { "## Original Images", { SetupFile::Item::text("images_load", "x") } };
    QVERIFY(SetupFile::write(setup, { s }));
    const QByteArray setupBefore = readBytes(setup);
    RunRecordFacts facts;
    const RunRecordPlace place { tmp.path(), "res", "E1", { "data" } };
    QVERIFY(writeRunRecord(facts, place));
    const QString record = tmp.filePath("res-E1-run.txt");
    const QByteArray recordBefore = readBytes(record);
    QVERIFY(!setupBefore.isEmpty() && !recordBefore.isEmpty());

    // New ones larger than the file system still takes.
    QVector<SetupFile::Item> many;
    for (int k = 0; k < 4000; ++k)
        many << SetupFile::Item::integer(QString("key_%1").arg(k), k);
    facts.inputFiles.clear();
    for (int k = 0; k < 4000; ++k)
        facts.inputFiles << QString("/data/scan/proj_%1.img").arg(k, 5, 10, QChar('0'));
    {
        struct Limit {
            rlimit saved {};
            void (*old)(int) = nullptr;
            Limit()
            {
                getrlimit(RLIMIT_FSIZE, &saved);
                old = std::signal(SIGXFSZ, SIG_IGN);
                rlimit l = saved;
                l.rlim_cur = 4096;
                setrlimit(RLIMIT_FSIZE, &l);
            }
            ~Limit()
            {
                setrlimit(RLIMIT_FSIZE, &saved);
                std::signal(SIGXFSZ, old);
            }
        } limit;
        QVERIFY(!SetupFile::write(setup, { SetupFile::Section { "## Original Images", many } }));
        facts.slices.resize(3000);
        QVERIFY(!writeRunRecord(facts, place));
    }
    QCOMPARE(readBytes(setup), setupBefore);
    QCOMPARE(readBytes(record), recordBefore);
    QCOMPARE(partialFiles(tmp.path()), QStringList());
}

VORLO_TEST(TestFaultInjection)
#include "test_fault_injection.moc"
