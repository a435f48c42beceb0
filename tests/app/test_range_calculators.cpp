// A range run gives the same files whether one or two parallel calculators
// share the slices, and its record names the back-projection routine.
#include "ct/bp_kernel.h"
#include "tests/app/headless_run.h"
#include "tests/test_registry.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace headless;

class TestRangeCalculators : public QObject {
    Q_OBJECT
private slots:
    void resultIndependentOfCalculatorCount()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const int width = 98, height = 6, projections = 90;
        QProcess tool;
        tool.start(program("vorlo2-phantom"),
            { "scan", "--out", tmp.filePath("scan"), "--width", QString::number(width), "--height",
                QString::number(height), "--projections", QString::number(projections) });
        QVERIFY(tool.waitForFinished(60000));
        QCOMPARE(tool.exitCode(), 0);

        const int from = 0, to = height - 1;
        for (int threads : { 1, 2 }) {
            const QString out = QString("out%1").arg(threads);
            QVERIFY(writeText(tmp.filePath(QString("job%1.bat").arg(threads)),
                QString("images_new_on_load 1\nct_rot_ax_is_v 1\nimages_load scan proj_*.img\n"
                        "i0_load scan/I0.img\nbg_load scan/BG.img\nct_cor %1\n"
                        "ct_slice_from %2\nct_slice_to %3\nct_slice_step 1\nct_threads %4\n"
                        "auto_save_data_upper_limit 1000\nauto_save_data_lower_limit -1000\n"
                        "auto_save_data_offset 0\n"
                        "auto_save_data_path %5\nauto_save_data_name s\nauto_save_data 1\n"
                        "calc_ct2 1\nct_auto_exec 1\ncalc_exec\n")
                    .arg(width / 2 - 0.25)
                    .arg(from)
                    .arg(to)
                    .arg(threads)
                    .arg(out)));
            const Run r = runVorlo(
                tmp.path(), { "-nw", "-e", "-b", QString("job%1.bat").arg(threads), "-x" });
            QVERIFY(r.ended);
            QCOMPARE(r.code, 0);
        }
        for (int s = from; s <= to; ++s) {
            const QString name = QString::asprintf("s--%05d.dat", s);
            QFile one(tmp.filePath("out1/" + name)), two(tmp.filePath("out2/" + name));
            QVERIFY2(
                one.open(QIODevice::ReadOnly) && two.open(QIODevice::ReadOnly), qPrintable(name));
            const QByteArray a = one.readAll();
            QVERIFY(a.size() > width * width); // a real grid of numbers
            QVERIFY2(a == two.readAll(), qPrintable(name));
        }
        // Both records name the routine this processor runs.
        for (const char *out : { "out1", "out2" }) {
            QFile rec(tmp.filePath(QString(out) + "/s--run.txt"));
            QVERIFY2(rec.open(QIODevice::ReadOnly | QIODevice::Text), out);
            const QString text = QString::fromUtf8(rec.readAll());
            QVERIFY2(
                text.contains(
                    QString("\nkernel             : %1\n").arg(bpRoutineName(bpBestRoutine()))),
                qPrintable(text));
        }
    }
};

VORLO_TEST(TestRangeCalculators)
#include "test_range_calculators.moc"
