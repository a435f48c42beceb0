#include "tests/test_registry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <cmath>
#include <map>

namespace {

QString program(const char *name) { return QCoreApplication::applicationDirPath() + "/" + name; }

bool writeText(const QString &fname, const QString &text)
{
    QFile f(fname);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    f.write(text.toUtf8());
    return true;
}

struct Run {
    bool ended = false;
    int code = -1;
    QString err;
};

// Runs the program in dir as a user would on a machine without a display:
// no DISPLAY and no platform asked for.
Run runVorlo(const QString &dir, const QStringList &args, int timeoutMs = 120000)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(dir);
    p.start(program("vorlo2"), args);
    Run r;
    r.ended = p.waitForFinished(timeoutMs);
    if (!r.ended) {
        p.kill();
        p.waitForFinished();
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

// CT data file lines "x z value" after the "#" header lines.
std::map<std::pair<int, int>, double> readCtData(const QString &fname)
{
    std::map<std::pair<int, int>, double> v;
    QFile f(fname);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return v;
    QTextStream in(&f);
    QString line;
    while (in.readLineInto(&line)) {
        if (line.startsWith('#'))
            continue;
        const QStringList it = line.split('\t');
        if (it.size() == 3)
            v[{ it[0].toInt(), it[1].toInt() }] = it[2].toDouble();
    }
    return v;
}

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

} // namespace

class TestHeadless : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(QFileInfo::exists(program("vorlo2")), "build vorlo2 first"); }

    void exitCodes()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());

        // Nothing to run: ends after start-up.
        Run r = runVorlo(tmp.path(), { "-nw", "-e" });
        QVERIFY(r.ended);
        QCOMPARE(r.code, 0);

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
        QVERIFY(r.err.contains("\":echo half way\""));
        QVERIFY(!r.err.contains("skipped"));
        QVERIFY(r.err.contains("\":ECHO end\""));
    }

    // A scan written by the phantom tool, reconstructed over a slice range
    // by the parallel calculators in a headless batch run.
    void rangeRunEndToEnd()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const int width = 64, height = 8, projections = 90;
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
        QVERIFY2(std::abs(step - expectedStep) < 0.1 * expectedStep,
            qPrintable(QString("insert %1 above body, expected %2").arg(step).arg(expectedStep)));
    }
};

VORLO_TEST(TestHeadless)
#include "test_headless.moc"
