// The method choice as the user drives it in the window: the panel's
// default, "ct_method", setup files, and the single-slice calculator with the
// Fourier method (always in one pass, the same scale as the back-projection).
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

class TestMethodCommands : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<Body> body;
    std::unique_ptr<CommandTable> table;

    ProcCtrl *proc() { return child<ProcCtrl>(*body, "procCtrl"); }

    bool run(const QString &line)
    {
        body->batch()->setOk(true);
        table->exec(BatchCmd(line));
        return body->batch()->isOk();
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

    void commandAndPanel()
    {
        auto *sel = child<QComboBox>(*body, "AlgorithmSel");
        QCOMPARE(sel->count(), 2);
        QCOMPARE(sel->currentText(), QString("FBP"));
        CtRunParams p;
        p.method = ReconMethod::Fourier;
        proc()->fillRunParams(p, false, true);
        QCOMPARE(p.method, ReconMethod::Fbp);

        QVERIFY(run("ct_method FOURIER"));
        QCOMPARE(sel->currentText(), QString("Fourier"));
        proc()->fillRunParams(p, false, true);
        QCOMPARE(p.method, ReconMethod::Fourier);
        QTest::ignoreMessage(QtDebugMsg, "Unknown method : \"gridrec\"");
        QVERIFY(!run("ct_method gridrec"));
        QTest::ignoreMessage(QtDebugMsg, "Unknown method : \"\"");
        QVERIFY(!run("ct_method"));
        QCOMPARE(proc()->method(), ReconMethod::Fourier);
        QVERIFY(run("CT_METHOD fbp"));
        QCOMPARE(proc()->method(), ReconMethod::Fbp);
    }

    // Always written, so a setup saved with the back-projection resets a
    // Fourier choice made since; a chosen method reads back.
    void setupRoundTrip()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const QString plain = tmp.filePath("plain.cfg");
        QVERIFY(table->saveSetup(plain));
        QVERIFY(readAll(plain).contains("\nct_method                fbp\n"));
        run("ct_method fourier");
        const QString set = tmp.filePath("set.cfg");
        QVERIFY(table->saveSetup(set));
        QVERIFY(readAll(set).contains("\nct_method                fourier\n"));
        cleanup();
        init();
        QVERIFY(table->loadSetup(set));
        QCOMPARE(proc()->method(), ReconMethod::Fourier);
        QVERIFY(table->loadSetup(plain));
        QCOMPARE(proc()->method(), ReconMethod::Fbp);
    }

    // The single-slice calculator with the Fourier method: done in one pass
    // even with "At Once" unchecked, the body around the axis at 2 mu as with
    // the padded back-projection, and the back-projection's buffers freed.
    void singleSliceCalculator()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        ScanSettings s;
        s.width = 96;
        s.height = 4;
        s.projections = 120;
        QVERIFY(PhantomScan(s).writeScan(tmp.filePath("scan"), nullptr));
        const QString dir = QDir(tmp.filePath("scan")).absolutePath();
        run("ct_rot_ax_is_v 1");
        run(QString("images_load %1 proj_*.img").arg(dir));
        QTRY_VERIFY_WITH_TIMEOUT(!body->isLoading(), 30000);
        run(QString("i0_load %1/I0.img").arg(dir));
        run(QString("bg_load %1/BG.img").arg(dir));
        QTRY_VERIFY_WITH_TIMEOUT(!body->isLoading(), 30000);
        run("ct_proc_slice 2");
        run("ct_cor 48");
        run("calc_ct1 1");
        run("ct_auto_exec 0");
        run("ct_filter ramp_padded");
        body->ctCalc()->findChild<QCheckBox *>("CalcAtOnce")->setChecked(false);
        const double mu = 1.0 / 47.0;
        double reading[2] = {};
        for (int k = 0; k < 2; ++k) {
            run(k == 0 ? "ct_method fourier" : "ct_method fbp");
            QSignalSpy finished(body.get(), &Body::calcFinished);
            table->exec(BatchCmd("calc_exec"));
            QVERIFY(finished.wait(60000));
            const CtCalc *c = body->ctCalc();
            QCOMPARE(c->method(), k == 0 ? ReconMethod::Fourier : ReconMethod::Fbp);
            if (k == 0) {
                QVERIFY(!c->isRunning());
                QVERIFY(!c->kernel().prepared());
                QCOMPARE(c->fourierRecon().n(), 92);
            } else {
                QVERIFY(c->fourierRecon().result() == nullptr);
                // One by one: wait for the last projection.
                QTRY_VERIFY_WITH_TIMEOUT(!c->isRunning(), 60000);
            }
            double sum = 0;
            int cnt = 0;
            for (int z = 42; z <= 50; ++z)
                for (int x = 42; x <= 50; ++x) {
                    sum += k == 0 ? c->fourierRecon().resultAt(z, x) : c->kernel().resultAt(z, x);
                    ++cnt;
                }
            reading[k] = sum / cnt / (2.0 * mu) - 1.0;
        }
        qDebug() << "body against 2 mu: Fourier" << reading[0] << "back-projection" << reading[1];
        QVERIFY(std::fabs(reading[0]) < 0.02);
        QVERIFY(std::fabs(reading[0] - reading[1]) < 0.005);
    }
};

VORLO_TEST(TestMethodCommands)
#include "test_method_commands.moc"
