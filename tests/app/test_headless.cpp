#include "image/img_data.h"
#include "tests/app/headless_run.h"
#include "tests/test_registry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <cmath>
#include <map>
#include <memory>
#include <vector>

using namespace headless;

namespace {

double meanAround(
    const std::map<std::pair<int, int>, double> &v, int x, int z, int r, double *spread)
{
    double s = 0, lo = 1e300, hi = -1e300;
    int n = 0;
    for (int dz = -r; dz <= r; ++dz)
        for (int dx = -r; dx <= r; ++dx) {
            const auto it = v.find({ x + dx, z + dz });
            if (it == v.end())
                continue;
            s += it->second;
            lo = std::min(lo, it->second);
            hi = std::max(hi, it->second);
            ++n;
        }
    if (spread)
        *spread = n ? hi - lo : 1e300;
    return n ? s / n : std::nan("");
}

// Row y of an ITEX file as doubles; empty when it cannot be read.
std::vector<double> itexRow(const QString &fname, int y)
{
    std::unique_ptr<ImgData> img(createImgData(ImgFileITEX));
    img->setFileName(fname);
    if (!img->load() || y < 0 || y >= img->height())
        return {};
    std::vector<double> row(static_cast<size_t>(img->width()));
    img->row(y, row.data());
    return row;
}

// The textbook filtered back-projection of one slice, independent of the
// program: attenuation from the flat and dark images, the band-limited ramp
// filter in the spatial domain (Ram-Lak, unit sample spacing), linear
// interpolation, projection k at k * 180 / m degrees. Gives mu per pixel on a
// width x width grid [z][x] centred on the centre of rotation.
std::vector<double> plainReconstruction(const QString &dir, int slice, int width, int m, double cor)
{
    const std::vector<double> i0 = itexRow(dir + "/I0.img", slice);
    const std::vector<double> bg = itexRow(dir + "/BG.img", slice);
    if (int(i0.size()) != width || int(bg.size()) != width)
        return {};
    std::vector<std::vector<double>> q(
        static_cast<size_t>(m), std::vector<double>(static_cast<size_t>(width)));
    for (int k = 0; k < m; ++k) {
        const std::vector<double> raw
            = itexRow(dir + QString::asprintf("/proj_%05d.img", k), slice);
        if (int(raw.size()) != width)
            return {};
        std::vector<double> p(static_cast<size_t>(width));
        for (int t = 0; t < width; ++t) {
            const double num = raw[t] - bg[t], den = i0[t] - bg[t];
            p[t] = num > 0 && den > 0 ? -std::log(num / den) : 0.0;
        }
        for (int t = 0; t < width; ++t) {
            double sum = 0;
            for (int u = 0; u < width; ++u) {
                const int n = t - u;
                const double h = n == 0 ? 0.25 : (n % 2 ? -1.0 / (M_PI * M_PI * n * n) : 0.0);
                sum += h * p[u];
            }
            q[k][t] = sum;
        }
    }
    std::vector<double> f(static_cast<size_t>(width) * width, 0.0);
    for (int k = 0; k < m; ++k) {
        const double th = k * M_PI / m, c = std::cos(th), s = std::sin(th);
        for (int z = 0; z < width; ++z)
            for (int x = 0; x < width; ++x) {
                const double t = cor + (x - cor) * c + (z - cor) * s;
                const int t0 = int(std::floor(t));
                if (t0 < 0 || t0 + 1 >= width)
                    continue;
                const double w = t - t0;
                f[size_t(z) * width + x] += (1 - w) * q[k][t0] + w * q[k][t0 + 1];
            }
    }
    for (double &v : f)
        v *= M_PI / m;
    return f;
}

} // namespace

class TestHeadless : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(QFileInfo::exists(program("vorlo2")), "build vorlo2 first"); }

    void exitCodes()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());

        // Nothing to run: ends after start-up, having executed the lines of
        // the configuration file as commands.
        QVERIFY(writeText(
            tmp.filePath("config.cfg"), "DataRoot .\nAUTO_SAVE_IMAGE_PATH \"made by config\"\n"));
        Run r = runVorlo(tmp.path(), { "-nw", "-e" });
        QVERIFY(r.ended);
        QCOMPARE(r.code, 0);
        QVERIFY(QFileInfo(tmp.filePath("made by config")).isDir());

        // A batch loaded but not started is nothing to run either.
        r = runVorlo(tmp.path(), { "-nw", "-e", "-b" });
        QVERIFY(r.ended);
        QCOMPARE(r.code, 0);

        r = runVorlo(tmp.path(), { "-nw", "-e", "-b", "missing.bat", "-x" });
        QVERIFY(r.ended);
        QCOMPARE(r.code, 1);
        QVERIFY(r.err.contains("Can't open batch file \"missing.bat\""));

        // A batch of settings and control lines ends by itself.
        QVERIFY(writeText(tmp.filePath("job.bat"),
            "ct_cor 5\n:echo half way\n:goto Skip\n:echo skipped\nSkip\n:ECHO end\n"));
        r = runVorlo(tmp.path(), { "-nw", "-e", "-b", "job.bat", "-x" });
        QVERIFY(r.ended);
        QCOMPARE(r.code, 0);
        // :echo prints its text; the quoted line is part of the routine trace.
        QVERIFY(
            r.err.contains(QRegularExpression("^half way$", QRegularExpression::MultilineOption)));
        QVERIFY(!r.err.contains("skipped"));
        QVERIFY(r.err.contains(QRegularExpression("^end$", QRegularExpression::MultilineOption)));
        QVERIFY(!r.err.contains("\":echo half way\""));
        r = runVorlo(tmp.path(), { "-nw", "-e", "-v", "-b", "job.bat", "-x" });
        QCOMPARE(r.code, 0);
        QVERIFY(r.err.contains("\":echo half way\""));
        QVERIFY(r.err.contains("\":ECHO end\""));
    }

    // A headless run's console holds progress, problems and the batch's own
    // output; the routine trace (every command, the centre of each slice,
    // the analyser's connection tries, the absent default configuration)
    // only with -v or the logging rules.
    void quietConsole()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        QProcess tool;
        tool.start(program("vorlo2-phantom"),
            { "scan", "--out", tmp.filePath("scan"), "--width", "64", "--height", "4",
                "--projections", "60" });
        QVERIFY(tool.waitForFinished(60000));
        QCOMPARE(tool.exitCode(), 0);
        QVERIFY(writeText(tmp.filePath("job.bat"),
            ":echo demo scan: loading\nct_rot_ax_is_v 1\n"
            "images_load scan proj_*.img\ni0_load scan/I0.img\nbg_load scan/BG.img\n"
            "i0_load scan/missing.img\n"
            "ct_cor 32\nct_slice_from 0\nct_slice_to 3\nct_threads 2\n"
            "auto_save_data_path out\nauto_save_data_name s\nauto_save_data_tag t\n"
            "auto_save_data 1\ncalc_ct2 1\nct_auto_exec 1\ncalc_exec\n"
            ":echo demo scan: done\n"));
        const QStringList trace { "cmd \"", "pcps", "do connect", "Can't open config file" };

        // The refused I0 file makes the run end with the code of a refused input.
        Run r = runVorlo(tmp.path(), { "-nw", "-e", "-b", "job.bat", "-x" });
        QVERIFY(r.ended);
        QCOMPARE(r.code, 3);
        QCOMPARE(QDir(tmp.filePath("out")).entryList({ "s-t-*.dat" }, QDir::Files).size(), 4);
        for (const QString &t : trace)
            QVERIFY2(!r.err.contains(t), qPrintable(t + " in:\n" + r.err));
        QVERIFY(r.err.contains(
            QRegularExpression("^demo scan: done$", QRegularExpression::MultilineOption)));
        QVERIFY(r.err.contains("vorlo2: batch done"));
        // A problem still shows: the I0 file that is not there.
        QVERIFY2(r.err.contains("missing.img"), qPrintable(r.err));
        QVERIFY(r.err.count('\n') < 20);

        r = runVorlo(tmp.path(), { "-nw", "-e", "-v", "-b", "job.bat", "-x" });
        QCOMPARE(r.code, 3);
        for (const QString &t : { "cmd \"images_load\"", "cmd \"calc_exec\"", "pcps",
                 "Can't open config file : \"config.cfg\"" })
            QVERIFY2(r.err.contains(t), qPrintable(t + " not in:\n" + r.err));

        qputenv("QT_LOGGING_RULES", "vorlo2.trace.debug=true");
        r = runVorlo(tmp.path(), { "-nw", "-e", "-b", "job.bat", "-x" });
        qunsetenv("QT_LOGGING_RULES");
        QCOMPARE(r.code, 3);
        QVERIFY(r.err.contains("cmd \"calc_exec\""));

        // A configuration file that was asked for and is missing is a problem.
        r = runVorlo(tmp.path(), { "-nw", "-e", "-c", "mine.cfg" });
        QCOMPARE(r.code, 0);
        QVERIFY(r.err.contains("Can't open config file : \"mine.cfg\""));
    }

    // A scan written by the phantom tool, reconstructed over a slice range
    // by the parallel calculators in a headless batch run.
    void rangeRunEndToEnd()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const int width = 128, height = 8, projections = 180;
        QProcess tool;
        tool.start(program("vorlo2-phantom"),
            { "scan", "--out", tmp.filePath("scan"), "--width", QString::number(width), "--height",
                QString::number(height), "--projections", QString::number(projections) });
        QVERIFY(tool.waitForFinished(60000));
        QCOMPARE(tool.exitCode(), 0);
        const QString listing = QString::fromLocal8Bit(tool.readAllStandardOutput());
        const QRegularExpression comp(
            R"((\w+)\s*: centre \(([-\d.e]+), ([-\d.e]+), ([-\d.e]+)\), semi-axes \(([-\d.e]+), ([-\d.e]+), ([-\d.e]+)\), mu ([-\d.e]+))");
        std::map<QString, QRegularExpressionMatch> parts;
        for (auto it = comp.globalMatch(listing); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            parts[m.captured(1)] = m;
        }
        QVERIFY(parts.count("body") && parts.count("dense"));

        const int from = 2, to = 5;
        QVERIFY(writeText(tmp.filePath("job.bat"),
            QString("images_new_on_load 1\nct_rot_ax_is_v 1\nimages_load scan proj_*.img\n"
                    "i0_load scan/I0.img\nbg_load scan/BG.img\nct_cor %1\n"
                    "ct_slice_from %2\nct_slice_to %3\nct_slice_step 1\n"
                    "auto_save_data_upper_limit 1000\nauto_save_data_lower_limit -1000\n"
                    "auto_save_data_offset 0\n"
                    "auto_save_data_path out/data\nauto_save_data_name s\nauto_save_data 1\n"
                    "auto_save_image_path out/img\nauto_save_image_name s\nauto_save_image 1\n"
                    "calc_ct2 1\nct_auto_exec 1\ncalc_exec\n")
                .arg(width / 2)
                .arg(from)
                .arg(to)));
        const Run r = runVorlo(tmp.path(), { "-nw", "-e", "-b", "job.bat", "-x" });
        QVERIFY(r.ended);
        QCOMPARE(r.code, 0);
        QVERIFY(r.err.contains("vorlo2: batch done in "));

        for (int s = from; s <= to; ++s) {
            const QString label = QString::asprintf("%05d", s);
            QVERIFY2(
                QFileInfo::exists(tmp.filePath("out/img/s--" + label + ".png")), qPrintable(label));
            QVERIFY2(QFileInfo::exists(tmp.filePath("out/data/s--" + label + ".dat")),
                qPrintable(label));
        }

        // The slice through the middle of the body: the body around the
        // centre is flat, and the dense insert stands out from it by
        // 2 * M * its mu, the scaling of the parallel calculators.
        const auto data = readCtData(
            tmp.filePath(QString("out/data/s--%1.dat").arg(height / 2, 5, 10, QChar('0'))));
        QVERIFY(data.size() > size_t(width * width / 2));
        const double c = width / 2;
        double spread = 0;
        const double body = meanAround(data, int(c), int(c), 1, &spread);
        QVERIFY2(
            body > 0 && spread < 0.1 * body, qPrintable(QString("%1 %2").arg(body).arg(spread)));
        const QRegularExpressionMatch &d = parts["dense"];
        const double dx = d.captured(2).toDouble(), dz = d.captured(4).toDouble();
        const double expectedStep = 2.0 * projections * d.captured(8).toDouble();
        // The depth axis may run either way through the grid: take the side
        // where the insert shows, and compare it with the body just beside
        // it (the body's own level sags towards the middle of the slice).
        const int ix = int(std::lround(c + dx));
        const int zUp = int(std::lround(c + dz)), zDown = int(std::lround(c - dz));
        const int iz
            = meanAround(data, ix, zUp, 1, nullptr) >= meanAround(data, ix, zDown, 1, nullptr)
            ? zUp
            : zDown;
        const int side = int(std::ceil(d.captured(5).toDouble())) + 4;
        const double inside = meanAround(data, ix, iz, 1, nullptr);
        const double beside = 0.5
            * (meanAround(data, ix - side, iz, 1, nullptr)
                + meanAround(data, ix + side, iz, 1, nullptr));
        const double step = inside - beside;
        QVERIFY2(std::abs(step - expectedStep) < 0.05 * expectedStep,
            qPrintable(QString("insert %1 above body, expected %2").arg(step).arg(expectedStep)));

        // Against the textbook reconstruction of the same files: it gives mu
        // itself (a flat body at the phantom's mu), and the insert's step over
        // the body beside it is the program's step divided by 2 * M. Only
        // local steps compare: the calculators' filter works without zero
        // padding, which lowers the middle of the slice.
        const std::vector<double> ref
            = plainReconstruction(tmp.filePath("scan"), height / 2, width, projections, c);
        QCOMPARE(int(ref.size()), width * width);
        auto refAt = [&](int x, int z) {
            double sum = 0;
            for (int j = -1; j <= 1; ++j)
                for (int i = -1; i <= 1; ++i)
                    sum += ref[size_t(z + j) * width + x + i];
            return sum / 9;
        };
        const double bodyMu = parts["body"].captured(8).toDouble();
        QVERIFY2(std::abs(refAt(int(c), int(c)) - bodyMu) < 0.05 * bodyMu,
            qPrintable(QString::number(refAt(int(c), int(c)))));
        const int refZ = refAt(ix, zUp) >= refAt(ix, zDown) ? zUp : zDown;
        const double refStep
            = refAt(ix, refZ) - 0.5 * (refAt(ix - side, refZ) + refAt(ix + side, refZ));
        QVERIFY2(std::abs(step / (2.0 * projections) - refStep) < 0.05 * refStep,
            qPrintable(
                QString("program %1, plain %2").arg(step / (2.0 * projections)).arg(refStep)));
    }
};

VORLO_TEST(TestHeadless)
#include "test_headless.moc"
