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

using namespace headless;

namespace {

double meanAround(const std::map<std::pair<int, int>, double> &v, int x, int z, int r)
{
    double s = 0;
    int n = 0;
    for (int dz = -r; dz <= r; ++dz)
        for (int dx = -r; dx <= r; ++dx) {
            const auto it = v.find({ x + dx, z + dz });
            if (it != v.end()) {
                s += it->second;
                ++n;
            }
        }
    return n ? s / n : std::nan("");
}

} // namespace

// A whole CT-XAFS measurement reconstructed without a display: the phantom
// tool writes three energies around the edge in the ASR-standard naming with
// one I0 image per energy; a batch chooses the directory and the I0 set and
// walks the data sets one after the other.
class TestXafsEndToEnd : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(QFileInfo::exists(program("vorlo2")), "build vorlo2 first");
        QVERIFY2(QFileInfo::exists(program("vorlo2-phantom")), "build vorlo2-phantom first");
    }

    void threeEnergiesWalkedByBatch()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const int width = 64, height = 4, projections = 90;
        const QStringList energies = { "7100", "7110", "7120" };
        QProcess tool;
        tool.start(program("vorlo2-phantom"),
            { "xafs", "--out", tmp.filePath("meas"), "--width", QString::number(width), "--height",
                QString::number(height), "--projections", QString::number(projections),
                "--energies", energies.join(','), "--edge", "7112" });
        QVERIFY(tool.waitForFinished(60000));
        QCOMPARE(tool.exitCode(), 0);
        const QString listing = QString::fromLocal8Bit(tool.readAllStandardOutput());
        const QRegularExpression comp(
            R"((\w+)\s*: centre \(([-\d.e]+), ([-\d.e]+), ([-\d.e]+)\), semi-axes \(([-\d.e]+), ([-\d.e]+), ([-\d.e]+)\), mu ([-\d.e]+)(?:, \+ ([-\d.e]+) above the edge)?)");
        std::map<QString, QRegularExpressionMatch> parts;
        for (auto it = comp.globalMatch(listing); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            parts[m.captured(1)] = m;
        }
        QVERIFY2(parts.count("edge"), qPrintable(listing));

        // The slice range holds the middle row, through the phantom's centre.
        const int from = height / 2 - 1, to = height / 2;
        QVERIFY(writeText(tmp.filePath("xafs.bat"),
            QString("images_new_on_load 1\nct_rot_ax_is_v 1\n"
                    "add_inf_ASR_standard 1\nseq_exec_file_pattern *.img\n"
                    "seq_exec_dir meas\nseq_exec_select_i0 meas/I0 I0-*.img\n"
                    "bg_load meas/BG/BG.img\nct_cor %1\n"
                    "ct_slice_from %2\nct_slice_to %3\nct_slice_step 1\n"
                    "auto_save_data_upper_limit 1000\nauto_save_data_lower_limit -1000\n"
                    "auto_save_data_offset 0\n"
                    "auto_save_data_path out/data\nauto_save_data_name s\nauto_save_data 1\n"
                    "auto_save_image_path out/img\nauto_save_image_name s\nauto_save_image 1\n"
                    "calc_ct2 1\nct_auto_exec 1\n"
                    "NextSet\n"
                    "seq_exec_set\ncalc_exec\n"
                    "seq_exec_next\n:ifng :end\n:goto NextSet\n")
                .arg(width / 2)
                .arg(from)
                .arg(to)));

        // -v: the loading lines of the trace show which I0 image each set took.
        const Run r = runVorlo(tmp.path(), { "-nw", "-e", "-v", "-b", "xafs.bat", "-x" }, 180000);
        const QString &err = r.err;
        QVERIFY2(r.ended, qPrintable(err.right(3000)));
        QVERIFY(r.normalExit);
        QCOMPARE(r.code, 0);
        QVERIFY2(err.contains("vorlo2: batch done in "), qPrintable(err.right(3000)));

        // Every energy's slices saved as data and image, the energy tag and
        // the slice number in each name.
        const QStringList dataFiles
            = QDir(tmp.filePath("out/data")).entryList({ "*.dat" }, QDir::Files);
        const QStringList imgFiles
            = QDir(tmp.filePath("out/img")).entryList({ "*.png" }, QDir::Files);
        QCOMPARE(dataFiles.size(), energies.size() * (to - from + 1));
        QCOMPARE(imgFiles.size(), energies.size() * (to - from + 1));
        std::map<QString, QString> middleSliceFile;
        for (const QString &e : energies) {
            for (int s = from; s <= to; ++s) {
                const QString label = QString::asprintf("%05d", s);
                const QString tag = e + "eV";
                auto named = [&](const QString &f) { return f.contains(tag) && f.contains(label); };
                const QStringList d = dataFiles.filter(QRegularExpression(tag + ".*" + label));
                const QStringList i = imgFiles.filter(QRegularExpression(tag + ".*" + label));
                QVERIFY2(d.size() == 1 && named(d.first()),
                    qPrintable(tag + " " + label + ": " + dataFiles.join(' ')));
                QVERIFY2(i.size() == 1 && d.first().endsWith(".dat") && i.first().endsWith(".png"),
                    qPrintable(tag + " " + label + ": " + imgFiles.join(' ')));
                if (s == height / 2)
                    middleSliceFile[e] = tmp.filePath("out/data/" + d.first());
            }
        }

        // Beside them, one run record per energy in each folder, naming the
        // I0 image of that energy; nothing else is written there.
        for (const char *folder : { "out/data", "out/img" }) {
            const QDir d(tmp.filePath(folder));
            QCOMPARE(d.entryList(QDir::Files).size(), energies.size() * (to - from + 2));
            for (const QString &e : energies) {
                const QStringList runs = d.entryList({ "s-*" + e + "eV*-run.txt" }, QDir::Files);
                QVERIFY2(runs.size() == 1, qPrintable(e + ": " + d.entryList().join(' ')));
                QFile f(d.filePath(runs.first()));
                QVERIFY(f.open(QIODevice::ReadOnly));
                const QString text = QString::fromUtf8(f.readAll());
                QVERIFY2(
                    text.contains(QRegularExpression("\ni0 +: [^\n]*I0-" + e + "eV-00000\\.img\n")),
                    qPrintable(text));
                QVERIFY2(
                    text.contains(QRegularExpression("\nstatus +: finished\n")), qPrintable(text));
            }
        }

        // Each set was corrected with the I0 image of its own energy.
        int at = 0;
        for (const QString &e : energies) {
            at = err.indexOf(QRegularExpression("loading \"[^\"]*I0-" + e + "eV-00000.img\""), at);
            QVERIFY2(at >= 0, qPrintable(e + ": " + err.right(3000)));
        }

        // The edge component against the body beside it. The phantom's
        // component attenuates mu0 (edge / E)^3 + jump * (1/2 + atan(E - edge) / pi)
        // (an edge 1 eV wide); the body around it cancels in the step, and
        // blur and partial volume scale every energy alike, so the steps
        // keep the ratios of those attenuations: 1.17 and 2.33 of the lowest.
        const QRegularExpressionMatch &ed = parts["edge"];
        const double mu0 = ed.captured(8).toDouble(), jump = ed.captured(9).toDouble();
        QVERIFY(mu0 > 0 && jump > 0);
        auto edgeMu = [&](double e) {
            return mu0 * std::pow(7112.0 / e, 3.0) + jump * (0.5 + std::atan(e - 7112.0) / M_PI);
        };
        const double c = width / 2;
        const int ix = int(std::lround(c + ed.captured(2).toDouble()));
        const double dz = ed.captured(4).toDouble();
        const int side = int(std::ceil(ed.captured(5).toDouble())) + 3;
        const auto above = readCtData(middleSliceFile["7120"]);
        QVERIFY(above.size() > size_t(width * width / 2));
        // The depth axis may run either way through the grid: take the side
        // where the component shows above the edge.
        const int zUp = int(std::lround(c + dz)), zDown = int(std::lround(c - dz));
        const int iz
            = meanAround(above, ix, zUp, 1) >= meanAround(above, ix, zDown, 1) ? zUp : zDown;
        std::map<QString, double> step;
        for (const QString &e : energies) {
            const auto v = readCtData(middleSliceFile[e]);
            QVERIFY2(v.size() > size_t(width * width / 2), qPrintable(e));
            const double beside = 0.5
                * (meanAround(v, ix + side, iz, 1)
                    + meanAround(v, ix, iz + (iz > c ? -side : side), 1));
            step[e] = meanAround(v, ix, iz, 1) - beside;
        }
        const QString steps
            = QString("steps %1 %2 %3").arg(step["7100"]).arg(step["7110"]).arg(step["7120"]);
        QVERIFY2(step["7100"] > 0, qPrintable(steps));
        QVERIFY2(step["7100"] < step["7110"] && step["7110"] < step["7120"], qPrintable(steps));
        for (const QString &e : { QString("7110"), QString("7120") }) {
            const double expected = edgeMu(e.toDouble()) / edgeMu(7100.0);
            const double seen = step[e] / step["7100"];
            QVERIFY2(std::abs(seen - expected) < 0.05 * expected,
                qPrintable(
                    QString("%1: %2, expected %3; %4").arg(e).arg(seen).arg(expected).arg(steps)));
        }
    }
};

VORLO_TEST(TestXafsEndToEnd)
#include "test_xafs_e2e.moc"
