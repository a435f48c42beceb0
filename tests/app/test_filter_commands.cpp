// The filter choice, the ring suppression and the automatic centre as the
// user drives them: commands, setup files, and the centre found on phantom
// scans written by the phantom library.
#include <QFileInfo> // before the main window's header, which uses QFileInfoList

#include "app/batch.h"
#include "app/body.h"
#include "app/command_table.h"
#include "ct/ct_calc.h"
#include "ct/proc_ctrl.h"
#include "tests/test_registry.h"
#include "tools/phantom_scan.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <memory>

namespace {

template <class W> W *child(Body &body, const char *name)
{
    W *w = body.findChild<W *>(QString::fromLatin1(name));
    if (!w)
        qFatal("no widget %s in the main window", name);
    return w;
}

QByteArray readAll(const QString &fname)
{
    QFile f(fname);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestFilterCommands : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<Body> body;
    std::unique_ptr<CommandTable> table;

    ProcCtrl *proc() { return child<ProcCtrl>(*body, "procCtrl"); }

    // Runs one line with the batch's ok flag set before; returns the flag after.
    bool run(const QString &line)
    {
        body->batch()->setOk(true);
        table->exec(BatchCmd(line));
        return body->batch()->isOk();
    }

    void loadScan(const QString &dir)
    {
        run("ct_rot_ax_is_v 1");
        run(QString("images_load %1 proj_*.img").arg(dir));
        QTRY_VERIFY_WITH_TIMEOUT(!body->isLoading(), 30000);
        run(QString("i0_load %1/I0.img").arg(dir));
        run(QString("bg_load %1/BG.img").arg(dir));
        QTRY_VERIFY_WITH_TIMEOUT(!body->isLoading(), 30000);
    }

private slots:
    void init()
    {
        body = std::make_unique<Body>(2, nullptr);
        table = std::make_unique<CommandTable>(*body);
    }

    void cleanup()
    {
        table.reset();
        body.reset();
    }

    void panelDefaults()
    {
        auto *sel = child<QComboBox>(*body, "FilterSel");
        QCOMPARE(sel->count(), 6);
        QCOMPARE(sel->currentIndex(), 0);
        QCOMPARE(sel->itemText(1), QString("Ramp (padded)"));
        QVERIFY(!child<QCheckBox>(*body, "RingRemoval")->isChecked());
        QCOMPARE(child<QSpinBox>(*body, "RingSize")->value(), 11);
        CtRunParams p;
        p.filter = ReconFilterKind::Hann;
        p.ringSize = 5;
        proc()->fillRunParams(p, true, false);
        QCOMPARE(p.filter, ReconFilterKind::Ramp);
        QCOMPARE(p.ringSize, 0);
    }

    void filterCommand()
    {
        QVERIFY(run("ct_filter HAMMING"));
        QCOMPARE(proc()->filter(), ReconFilterKind::Hamming);
        QCOMPARE(child<QComboBox>(*body, "FilterSel")->currentText(), QString("Hamming"));
        QVERIFY(run("CT_FILTER ramp_padded"));
        QCOMPARE(proc()->filter(), ReconFilterKind::RampPadded);
        QTest::ignoreMessage(QtDebugMsg, "Unknown filter : \"blackman\"");
        QVERIFY(!run("ct_filter blackman"));
        QTest::ignoreMessage(QtDebugMsg, "Unknown filter : \"\"");
        QVERIFY(!run("ct_filter"));
        QCOMPARE(proc()->filter(), ReconFilterKind::RampPadded);
        CtRunParams p;
        proc()->fillRunParams(p, false, true);
        QCOMPARE(p.filter, ReconFilterKind::RampPadded);
    }

    void ringCommand()
    {
        QVERIFY(run("ct_ring_removal 7"));
        QCOMPARE(proc()->ringSize(), 7);
        QVERIFY(child<QCheckBox>(*body, "RingRemoval")->isChecked());
        QVERIFY(run("ct_ring_removal 10")); // even: the next odd window
        QCOMPARE(proc()->ringSize(), 11);
        QVERIFY(run("ct_ring_removal 0"));
        QCOMPARE(proc()->ringSize(), 0);
        QCOMPARE(child<QSpinBox>(*body, "RingSize")->value(), 11); // kept for the next time
        for (const char *bad : { "2", "-3", "100" }) {
            QTest::ignoreMessage(QtDebugMsg,
                qPrintable(
                    QString("Ring removal size refused (0 = off, or 3 ... 99) : %1").arg(bad)));
            QVERIFY(!run(QString("ct_ring_removal %1").arg(bad)));
        }
        QCOMPARE(proc()->ringSize(), 0);
        CtRunParams p;
        run("ct_ring_removal 5");
        proc()->fillRunParams(p, false, true);
        QCOMPARE(p.ringSize, 5);
    }

    // A setup file always holds the filter and the ring window, so loading one
    // saved at the defaults resets a filter or window chosen since; a change
    // set back gives the same file again, and other values read back.
    void setupRoundTrip()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const QString plain = tmp.filePath("plain.cfg");
        QVERIFY(table->saveSetup(plain));
        const QByteArray before = readAll(plain);
        QVERIFY(!before.isEmpty());
        QVERIFY(before.contains("\nct_filter                ramp\n"));
        QVERIFY(before.contains("\nct_ring_removal          0\n"));
        run("ct_filter hann");
        run("ct_ring_removal 21");
        run("ct_filter ramp");
        run("ct_ring_removal 0");
        const QString again = tmp.filePath("again.cfg");
        QVERIFY(table->saveSetup(again));
        QCOMPARE(readAll(again), before);

        run("ct_filter Shepp_Logan");
        run("ct_ring_removal 7");
        const QString set = tmp.filePath("set.cfg");
        QVERIFY(table->saveSetup(set));
        const QByteArray text = readAll(set);
        QVERIFY(text.contains("\nct_filter                shepp_logan\n"));
        QVERIFY(text.contains("\nct_ring_removal          7\n"));
        cleanup();
        init();
        QVERIFY(table->loadSetup(set));
        QCOMPARE(proc()->filter(), ReconFilterKind::SheppLogan);
        QCOMPARE(proc()->ringSize(), 7);
        const QString set2 = tmp.filePath("set2.cfg");
        QVERIFY(table->saveSetup(set2));
        QCOMPARE(readAll(set2), text);
        // The defaults' file read back over a changed state resets it.
        QVERIFY(table->loadSetup(plain));
        QCOMPARE(proc()->filter(), ReconFilterKind::Ramp);
        QCOMPARE(proc()->ringSize(), 0);
    }

    // The single-slice calculator uses the chosen filter: with the padded
    // ramp the bare body around the axis reads 2 mu, with the plain ramp
    // well below it.
    void singleSliceCalculatorUsesTheFilter()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        ScanSettings s;
        s.width = 96;
        s.height = 4;
        s.projections = 120;
        QVERIFY(PhantomScan(s).writeScan(tmp.filePath("scan"), nullptr));
        loadScan(QDir(tmp.filePath("scan")).absolutePath());
        run("ct_proc_slice 2");
        run("ct_cor 48");
        run("calc_ct1 1");
        run("ct_auto_exec 0");
        const double mu = 1.0 / 47.0; // field radius 47: the nearer edge from the centre 48
        double reading[2] = {};
        for (int k = 0; k < 2; ++k) {
            run(k == 0 ? "ct_filter ramp_padded" : "ct_filter ramp");
            QSignalSpy finished(body.get(), &Body::calcFinished);
            table->exec(BatchCmd("calc_exec"));
            QVERIFY(finished.wait(60000));
            const BpKernel &bp = body->ctCalc()->kernel();
            QCOMPARE(bp.n(), 92);
            QCOMPARE(bp.filter(), k == 0 ? ReconFilterKind::RampPadded : ReconFilterKind::Ramp);
            double sum = 0;
            int cnt = 0;
            for (int z = 42; z <= 50; ++z)
                for (int x = 42; x <= 50; ++x) {
                    sum += bp.resultAt(z, x);
                    ++cnt;
                }
            reading[k] = sum / cnt / (2.0 * mu) - 1.0;
        }
        QVERIFY2(std::fabs(reading[0]) < 0.02 && reading[1] < -0.1,
            qPrintable(QString("padded %1 plain %2").arg(reading[0]).arg(reading[1])));
    }

    void findCorOnPhantomScans_data()
    {
        QTest::addColumn<double>("cor");
        QTest::addColumn<bool>("noise");
        // Width 120: the middle is 59.5 and 40 % of the half-width is 24.
        QTest::newRow("left, no noise") << 35.62 << false;
        QTest::newRow("left, noise") << 35.62 << true;
        QTest::newRow("middle, noise") << 59.5 << true;
        QTest::newRow("right, noise") << 81.27 << true;
        QTest::newRow("right end, no noise") << 83.5 << false;
    }
    void findCorOnPhantomScans()
    {
        QFETCH(double, cor);
        QFETCH(bool, noise);
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        ScanSettings s;
        s.width = 120;
        s.height = 4;
        s.projections = 240;
        s.cor = cor;
        s.noise = noise;
        s.i0Counts = 1e4;
        QVERIFY(PhantomScan(s).writeScan(tmp.filePath("scan"), nullptr));
        loadScan(QDir(tmp.filePath("scan")).absolutePath());
        run("ct_proc_slice 2");
        run("ct_cor 60");
        QSignalSpy changed(proc(), &ProcCtrl::corUpdated);
        QVERIFY(run("ct_find_cor"));
        QCOMPARE(changed.count(), 1);
        QVERIFY2(std::fabs(proc()->cor() - cor) < 0.25,
            qPrintable(QString("true %1 found %2").arg(cor).arg(proc()->cor())));
    }

    void findCorRefusals()
    {
        QTest::ignoreMessage(QtDebugMsg, "Find CoR refused : no images loaded");
        QVERIFY(!run("ct_find_cor"));
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        ScanSettings s;
        s.width = 64;
        s.height = 4;
        s.projections = 30;
        QVERIFY(PhantomScan(s).writeScan(tmp.filePath("scan"), nullptr));
        loadScan(QDir(tmp.filePath("scan")).absolutePath());
        run("ct_proc_slice 4");
        QTest::ignoreMessage(QtDebugMsg, "Find CoR refused : slice outside the images : 4");
        QVERIFY(!run("ct_find_cor"));
        QCOMPARE(proc()->cor(), 32.0); // unchanged: half the detector, set on loading
    }
};

VORLO_TEST(TestFilterCommands)
#include "test_filter_commands.moc"
