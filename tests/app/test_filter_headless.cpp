// The filter choice and the ring suppression through the real program, run
// without a window on a phantom scan written by the phantom tool: with the
// defaults (also after changing and restoring them) every saved file is the
// same byte for byte; a padded filter reads the phantom's body at 2 M mu and
// the run record names it.
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

constexpr int kWidth = 96, kHeight = 4, kProjections = 120;

// Every file under dir, relative path to contents.
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

// A run record without its two time lines, which differ from run to run.
QByteArray withoutTimes(const QByteArray &text)
{
    QByteArray out;
    for (const QByteArray &line : text.split('\n'))
        if (!line.startsWith("date ") && !line.startsWith("ended "))
            out += line + '\n';
    return out;
}

QString job(const QString &out, const QString &settings)
{
    return QString("images_new_on_load 1\nct_rot_ax_is_v 1\nimages_load scan proj_*.img\n"
                   "i0_load scan/I0.img\nbg_load scan/BG.img\nct_cor %1\n"
                   "ct_slice_from 1\nct_slice_to 2\nct_slice_step 1\n"
                   "auto_save_data_upper_limit 1000\nauto_save_data_lower_limit -1000\n"
                   "auto_save_data_offset 0\n"
                   "auto_save_data_path %2/data\nauto_save_data_name s\nauto_save_data 1\n"
                   "auto_save_image_path %2/img\nauto_save_image_name s\nauto_save_image 1\n"
                   "auto_save_tiff_path %2/tif\nauto_save_tiff_name s\nauto_save_tiff 1\n"
                   "%3calc_ct2 1\nct_auto_exec 1\ncalc_exec\n")
        .arg(kWidth / 2)
        .arg(out, settings);
}

} // namespace

class TestFilterHeadless : public QObject {
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

    void defaultsGiveTheSameFiles()
    {
        runJob("plain", QString());
        runJob(
            "restored", "ct_filter hann\nct_ring_removal 11\nct_filter RAMP\nct_ring_removal 0\n");
        const auto a = filesUnder(tmp.filePath("plain"));
        const auto b = filesUnder(tmp.filePath("restored"));
        QCOMPARE(a.size(), b.size());
        QVERIFY(a.count("data/s--00001.dat") && a.count("img/s--00002.png"));
        int records = 0, tiffs = 0;
        for (const auto &[name, bytes] : a) {
            QVERIFY2(b.count(name), qPrintable(name));
            if (name.endsWith("-run.txt")) {
                ++records;
                QCOMPARE(withoutTimes(b.at(name)), withoutTimes(bytes));
                QVERIFY(bytes.contains("\nfilter             : ramp\n"));
                QVERIFY(bytes.contains("\nring removal       : off\n"));
            } else {
                tiffs += name.endsWith(".tif") || name.endsWith(".tiff");
                QVERIFY2(b.at(name) == bytes, qPrintable(name));
            }
        }
        QVERIFY(records >= 1);
        QVERIFY(tiffs >= 2);
    }

    // The padded ramp reads the bare body around the axis at 2 M mu, the
    // plain ramp well below it; the ring suppression leaves this clean scan's
    // slice as it is to within 1 %.
    void paddedRampReadsTheBody()
    {
        runJob("padded", "ct_filter ramp_padded\nct_ring_removal 9\n");
        runJob("plain2", QString());
        const QString slice = "data/s--00002.dat";
        const auto padded = readCtData(tmp.filePath("padded/" + slice));
        const auto plain = readCtData(tmp.filePath("plain2/" + slice));
        QVERIFY(padded.size() > size_t(kWidth * kWidth / 2));
        // Field radius 47 (the nearer detector edge from the centre 48), body
        // mu 1 / 47; the flat region around the axis has radius 0.2 * 47.
        const double expected = 2.0 * kProjections / 47.0;
        auto around = [](const std::map<std::pair<int, int>, double> &v) {
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
        };
        const double relPadded = around(padded) / expected - 1.0;
        const double relPlain = around(plain) / expected - 1.0;
        qDebug() << "body against 2 M mu: padded" << relPadded << "plain" << relPlain;
        QVERIFY2(std::fabs(relPadded) < 0.02,
            qPrintable(QString("padded %1 plain %2").arg(relPadded).arg(relPlain)));
        QVERIFY2(relPlain < -0.1, qPrintable(QString::number(relPlain)));
        QFile rec(tmp.filePath("padded/data/s--run.txt"));
        QVERIFY(rec.open(QIODevice::ReadOnly));
        const QByteArray text = rec.readAll();
        QVERIFY(text.contains("\nfilter             : ramp_padded\n"));
        QVERIFY(text.contains("\nring removal       : window 9\n"));
    }
};

VORLO_TEST(TestFilterHeadless)
#include "test_filter_headless.moc"
