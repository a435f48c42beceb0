// The Fourier method through the real program, run without a window on a
// phantom scan written by the phantom tool: the files of a range run are the
// same byte for byte with one and with two calculators, the body reads 2 M mu
// as with the padded back-projection, the run record names the method, and a
// run with the method set back to the back-projection gives the default's files.
#include "tests/app/headless_run.h"
#include "tests/test_registry.h"

#include <QDebug>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <map>

using namespace headless;

namespace {

constexpr int kWidth = 96, kHeight = 6, kProjections = 120;

std::map<QString, QByteArray> filesUnder(const QString &dir)
{
    std::map<QString, QByteArray> m;
    QDirIterator it(dir, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString f = it.next();
        QFile file(f);
        if (file.open(QIODevice::ReadOnly))
            m[QDir(dir).relativeFilePath(f)] = file.readAll();
    }
    return m;
}

// A run record without the lines that differ between runs of one job: the
// times and the number of calculators.
QByteArray withoutRunLines(const QByteArray &text)
{
    QByteArray out;
    for (const QByteArray &line : text.split('\n'))
        if (!line.startsWith("date ") && !line.startsWith("ended ") && !line.startsWith("threads "))
            out += line + '\n';
    return out;
}

QString job(const QString &out, const QString &settings)
{
    return QString("images_new_on_load 1\nct_rot_ax_is_v 1\nimages_load scan proj_*.img\n"
                   "i0_load scan/I0.img\nbg_load scan/BG.img\nct_cor %1\n"
                   "ct_slice_from 0\nct_slice_to 5\nct_slice_step 1\n"
                   "auto_save_data_upper_limit 1000\nauto_save_data_lower_limit -1000\n"
                   "auto_save_data_offset 0\n"
                   "auto_save_data_path %2/data\nauto_save_data_name s\nauto_save_data 1\n"
                   "auto_save_image_path %2/img\nauto_save_image_name s\nauto_save_image 1\n"
                   "auto_save_tiff_path %2/tif\nauto_save_tiff_name s\nauto_save_tiff 1\n"
                   "%3calc_ct2 1\nct_auto_exec 1\ncalc_exec\n")
        .arg(kWidth / 2)
        .arg(out, settings);
}

double bodyReading(const std::map<std::pair<int, int>, double> &v)
{
    double s = 0;
    int n = 0;
    for (int dz = -4; dz <= 4; ++dz)
        for (int dx = -4; dx <= 4; ++dx)
            if (dx * dx + dz * dz <= 16) {
                const auto it = v.find({ kWidth / 2 - 1 + dx, kWidth / 2 - 1 + dz });
                if (it != v.end()) {
                    s += it->second;
                    ++n;
                }
            }
    return n ? s / n : 0.0;
}

} // namespace

class TestMethodHeadless : public QObject {
    Q_OBJECT
private:
    QTemporaryDir tmp;

    void runJob(const QString &name, const QString &settings)
    {
        QVERIFY(writeText(tmp.filePath(name + ".bat"), job(name, settings)));
        const Run r = runVorlo(tmp.path(), { "-nw", "-e", "-b", name + ".bat", "-x" });
        QVERIFY(r.ended);
        QCOMPARE(r.code, 0);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(tmp.isValid());
        QProcess tool;
        tool.start(program("vorlo2-phantom"),
            { "scan", "--out", tmp.filePath("scan"), "--width", QString::number(kWidth), "--height",
                QString::number(kHeight), "--projections", QString::number(kProjections) });
        QVERIFY(tool.waitForFinished(60000));
        QCOMPARE(tool.exitCode(), 0);
    }

    void sameFilesWithOneOrTwoCalculators()
    {
        runJob("one", "ct_method fourier\nct_filter ramp_padded\nct_threads 1\n");
        runJob("two", "ct_method Fourier\nct_filter ramp_padded\nct_threads 2\n");
        const auto a = filesUnder(tmp.filePath("one"));
        const auto b = filesUnder(tmp.filePath("two"));
        QCOMPARE(a.size(), b.size());
        for (int s = 0; s <= 5; ++s) {
            QVERIFY(a.count(QString::asprintf("data/s--%05d.dat", s)));
            QVERIFY(a.count(QString::asprintf("img/s--%05d.png", s)));
        }
        int records = 0;
        for (const auto &[name, bytes] : a) {
            QVERIFY2(b.count(name), qPrintable(name));
            if (name.endsWith("-run.txt")) {
                ++records;
                QCOMPARE(withoutRunLines(b.at(name)), withoutRunLines(bytes));
                QVERIFY(bytes.contains("\nmethod             : fourier\n"));
            } else {
                QVERIFY2(b.at(name) == bytes, qPrintable(name));
            }
        }
        QVERIFY(records >= 1);
    }

    // The Fourier slice reads the bare body at 2 M mu like the padded
    // back-projection, and both slices agree pixel by pixel (RMS within 2 %
    // of that level, sharp edges within 20 %).
    void fourierReadsLikeTheBackProjection()
    {
        runJob("fourier", "ct_method fourier\nct_filter ramp_padded\n");
        runJob("fbp", "ct_filter ramp_padded\n");
        const QString slice = "data/s--00002.dat";
        const auto f = readCtData(tmp.filePath("fourier/" + slice));
        const auto b = readCtData(tmp.filePath("fbp/" + slice));
        QVERIFY(f.size() > size_t(kWidth * kWidth / 2));
        QCOMPARE(f.size(), b.size());
        const double expected = 2.0 * kProjections / 47.0;
        const double relF = bodyReading(f) / expected - 1.0;
        const double relB = bodyReading(b) / expected - 1.0;
        qDebug() << "body against 2 M mu: Fourier" << relF << "back-projection" << relB;
        QVERIFY(std::fabs(relF) < 0.02);
        double worst = 0, sum = 0;
        for (const auto &[at, v] : f) {
            const auto it = b.find(at);
            QVERIFY(it != b.end());
            worst = std::max(worst, std::fabs(v - it->second));
            sum += (v - it->second) * (v - it->second);
        }
        const double rms = std::sqrt(sum / double(f.size()));
        qDebug() << "difference to the back-projection / body level: RMS" << rms / expected
                 << "largest" << worst / expected;
        QVERIFY(rms < 0.02 * expected);
        QVERIFY(worst < 0.2 * expected);
        // Two methods, not one slice twice.
        QVERIFY(worst > 1e-6 * expected);
    }

    // The centre search reconstructs with the chosen method: its slice at
    // the range run's centre is the range run's slice, byte for byte.
    void centreSearchUsesTheMethod()
    {
        runJob("search",
            "ct_method fourier\nct_filter ramp_padded\nct_proc_slice 2\nct_try_cor 47 49 1\n");
        const auto a = filesUnder(tmp.filePath("search"));
        QVERIFY(a.count("tif/s--00002-cor47.00.tif") && a.count("tif/s--00002-cor49.00.tif"));
        QVERIFY(a.count("tif/s--00002-cor48.00.tif") && a.count("tif/s--00002.tif"));
        QVERIFY(a.at("tif/s--00002-cor48.00.tif") == a.at("tif/s--00002.tif"));
        QVERIFY(a.at("tif/s--00002-cor47.00.tif") != a.at("tif/s--00002.tif"));
    }

    void backToTheDefaultGivesTheSameFiles()
    {
        runJob("plain", QString());
        runJob("restored", "ct_method fourier\nct_method FBP\n");
        const auto a = filesUnder(tmp.filePath("plain"));
        const auto b = filesUnder(tmp.filePath("restored"));
        QCOMPARE(a.size(), b.size());
        for (const auto &[name, bytes] : a) {
            QVERIFY2(b.count(name), qPrintable(name));
            if (name.endsWith("-run.txt")) {
                QCOMPARE(withoutRunLines(b.at(name)), withoutRunLines(bytes));
                QVERIFY(bytes.contains("\nmethod             : fbp\n"));
            } else {
                QVERIFY2(b.at(name) == bytes, qPrintable(name));
            }
        }
    }
};

VORLO_TEST(TestMethodHeadless)
#include "test_method_headless.moc"
