#include "ct/ct_calc.h"
#include "ct/proc_ctrl.h"
#include "ct/sinogram.h"
#include "display/color_bar.h"
#include "display/img_disp_wpv.h"
#include "tests/ct/phantom_stack.h"
#include "tests/test_registry.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <cmath>
#include <vector>

class TestCtCalc : public QObject {
    Q_OBJECT

    // 64-pixel detector, axis at 31.5: sinogram rows of 61 samples, grid N = 60.
    static constexpr int W = 64;
    static constexpr int M = 90;
    static constexpr double Cor = 31.5;
    static constexpr int N = 60;
    static constexpr double Mu = 0.02;

    struct Rig {
        phantom::Stack s;
        ProcCtrl proc;
        Sinogram panel;
        CtCalc calc;
        CtRunParams params;
        bool ok = false;

        explicit Rig(int count = M, double dx = 6, double dz = -4, double radius = 10)
        {
            ok = s.addDisk(count, W, 3, Cor, dx, dz, radius, Mu);
            panel.setProcCtrl(&proc);
            panel.setImgDatas(&s.stack);
            proc.setAutoUpdate(false);
            proc.setRotAxIsV(true);
            proc.setSliceNo(1);
            proc.setCor(Cor);
            proc.fillRunParams(params, true, false);
            calc.setRunParams(&params);
            calc.setSinogram(&panel);
        }
        QLineEdit *field(const char *name) { return calc.findChild<QLineEdit *>(name); }
        void setAtOnce(bool f) { calc.findChild<QCheckBox *>("CalcAtOnce")->setChecked(f); }
        // Runs one calculation to its end; false when it did not finish.
        bool run()
        {
            QSignalSpy done(&calc, &CtCalc::calcFinished);
            calc.calcCt();
            return done.count() == 1 || done.wait(20000);
        }
        std::vector<double> grid() const
        {
            const BpKernel &k = calc.kernel();
            return std::vector<double>(k.result(), k.result() + std::size_t(k.n()) * k.n());
        }
    };

    // Mean of the grid over pixels within `rad` of (cx, cz).
    static double meanAround(const std::vector<double> &g, double cx, double cz, double rad)
    {
        double sum = 0;
        int n = 0;
        for (int z = 0; z < N; ++z)
            for (int x = 0; x < N; ++x)
                if (std::hypot(x - cx, z - cz) < rad) {
                    sum += g[std::size_t(z) * N + x];
                    ++n;
                }
        return n ? sum / n : 0.0;
    }

private slots:
    void atOnceReconstructsDiskPhantom()
    {
        Rig r;
        QVERIFY(r.ok);
        QSignalSpy cr(&r.calc, &CtCalc::cRUpdated);
        QVERIFY(r.run());
        QVERIFY(!r.calc.isRunning());
        QCOMPARE(r.calc.kernel().n(), N);
        QCOMPARE(r.field("ShowSliceNo")->text(), QString("1"));
        QVERIFY(!r.field("StartT")->text().isEmpty());
        QVERIFY(!r.field("EndT")->text().isEmpty());

        // First run: the calculation region becomes the whole grid.
        QCOMPARE(cr.count(), 1);
        QVERIFY(r.calc.isCRegionSet());
        QCOMPARE(r.calc.calcRegion(), QRectF(0, 0, N, N));

        // The filter weights bin k by k * 2 pi / N and the sum is divided by
        // N * M, so a flat disk of mu per pixel comes out as 2 mu (within the
        // few per cent that an unpadded ramp filter loses); the background
        // stays near 0.
        const std::vector<double> g = r.grid();
        const double h = N / 2.0;
        const double inside = meanAround(g, h + 6, h - 4, 6.0);
        QVERIFY2(std::abs(inside - 2 * Mu) < 0.07 * 2 * Mu, qPrintable(QString::number(inside)));
        const double outside = meanAround(g, h - 12, h + 12, 3.0);
        QVERIFY2(std::abs(outside) < 0.1 * 2 * Mu, qPrintable(QString::number(outside)));
        // Nothing outside the inscribed circle.
        QCOMPARE(g[0], 0.0);
        QCOMPARE(g[std::size_t(N / 2) * N], 0.0);

        // The picture spans the result range.
        const QImage &img = r.calc.display()->image();
        QCOMPARE(img.size(), QSize(N, N));
        const ColorBar &bar = r.calc.display()->colorBar();
        QCOMPARE(bar.minV(), r.calc.kernel().resultMin());
        QCOMPARE(bar.maxV(), r.calc.kernel().resultMax());
        QVERIFY(bar.maxV() > 2 * Mu * 0.9);

        // A second run keeps the region the first one set.
        r.calc.setCR(5, 5, 50, 50);
        QVERIFY(r.run());
        QCOMPARE(r.calc.calcRegion(), QRectF(QPointF(5, 5), QPointF(50, 50)));
    }

    void angleOffsetTurnsTheSlice()
    {
        Rig r(M, 10, 0, 6);
        QVERIFY(r.ok);
        r.params.angleOffset = 90.0;
        QVERIFY(r.run());
        // Every projection turned by 90 degrees puts the disk at (h + dz, h - dx).
        const std::vector<double> g = r.grid();
        const double h = N / 2.0;
        QVERIFY(meanAround(g, h, h - 10, 3.0) > 0.9 * 2 * Mu);
        QVERIFY(std::abs(meanAround(g, h + 10, h, 3.0)) < 0.1 * 2 * Mu);
    }

    void oneByOneRedrawsAfterEachProjection()
    {
        Rig ref(30);
        QVERIFY(ref.ok);
        QVERIFY(ref.run());
        const std::vector<double> atOnce = ref.grid();

        Rig r(30);
        QVERIFY(r.ok);
        r.setAtOnce(false);
        QSignalSpy steps(&r.calc, &CtCalc::finishedCalcOne);
        QStringList spentDuring;
        QList<QImage> pictures;
        connect(&r.calc, &CtCalc::finishedCalcOne, this, [&] {
            spentDuring << r.field("SpentT")->text();
            pictures << r.calc.display()->image();
        });
        QVERIFY(r.run());
        QCOMPARE(steps.count(), 30);
        QVERIFY(!r.calc.isRunning());
        // SpentT is written once, at the end.
        QCOMPARE(spentDuring.count(), 30);
        QVERIFY(std::all_of(
            spentDuring.begin(), spentDuring.end(), [](const QString &t) { return t == "0"; }));
        // The picture is redrawn after every projection, building up.
        QVERIFY(pictures.first() != pictures.last());
        QVERIFY(pictures[1] != pictures[2]);
        // Projection by projection sums the same as one pass.
        const std::vector<double> g = r.grid();
        for (std::size_t i = 0; i < g.size(); ++i)
            QVERIFY(std::abs(g[i] - atOnce[i]) < 1e-12);
    }

    void stopLeavesPartialSliceAndDropsQueuedSteps()
    {
        Rig ref(30);
        QVERIFY(ref.ok);
        QVERIFY(ref.run());
        const std::vector<double> atOnce = ref.grid();

        Rig r(30);
        QVERIFY(r.ok);
        r.setAtOnce(false);
        QSignalSpy steps(&r.calc, &CtCalc::finishedCalcOne);
        QSignalSpy done(&r.calc, &CtCalc::calcFinished);
        // Stop from inside the third step, as a click on "Calc" would.
        auto stopper = connect(&r.calc, &CtCalc::finishedCalcOne, this, [&] {
            if (steps.count() == 3)
                r.calc.calcCt();
        });
        r.calc.calcCt();
        QVERIFY(done.wait(20000));
        disconnect(stopper);
        QTest::qWait(200);
        QCOMPARE(steps.count(), 3);
        QCOMPARE(done.count(), 1);
        QVERIFY(!r.calc.isRunning());
        const std::vector<double> partial = r.grid();
        QVERIFY(r.calc.kernel().resultValid());
        QVERIFY(partial != atOnce);
        QCOMPARE(r.calc.display()->image().size(), QSize(N, N));

        // A step that arrives after the stop changes nothing.
        QMetaObject::invokeMethod(&r.calc, "calcOne", Qt::QueuedConnection, Q_ARG(int, 3));
        QTest::qWait(50);
        QVERIFY(r.grid() == partial);
        QCOMPARE(steps.count(), 3);

        // The next run starts afresh and does every projection exactly once,
        // even when a step of an earlier run is still on its way.
        steps.clear();
        done.clear();
        r.calc.calcCt();
        QMetaObject::invokeMethod(&r.calc, "calcOne", Qt::QueuedConnection, Q_ARG(int, 5));
        QVERIFY(done.wait(20000));
        QTest::qWait(50);
        QCOMPARE(done.count(), 1);
        QCOMPARE(steps.count(), 30);
        const std::vector<double> g = r.grid();
        for (std::size_t i = 0; i < g.size(); ++i)
            QVERIFY(std::abs(g[i] - atOnce[i]) < 1e-12);
    }

    void calculationRegionLimitsBackProjection()
    {
        Rig r(30);
        QVERIFY(r.ok);
        QVERIFY(r.run());
        const std::vector<double> full = r.grid();

        // x from trunc(10.5) = 10 while x < 20.5: columns 10 ... 20; z 0 ... 59.
        r.calc.setCR(10.5, 0.5, 20.5, N);
        QVERIFY(r.run());
        const std::vector<double> part = r.grid();
        int inside = 0;
        for (int z = 0; z < N; ++z)
            for (int x = 0; x < N; ++x) {
                const std::size_t i = std::size_t(z) * N + x;
                if (x >= 10 && x <= 20) {
                    QCOMPARE(part[i], full[i]);
                    inside += full[i] != 0.0;
                } else {
                    QCOMPARE(part[i], 0.0);
                }
            }
        QVERIFY(inside > 300);

        // A region far larger than the grid reconstructs the inscribed circle only.
        r.calc.setCR(-500, -500, 5000, 5000);
        QVERIFY(r.run());
        QVERIFY(r.grid() == full);
    }

    void regionsAnnounceOnlyRealChanges()
    {
        CtCalc c;
        QSignalSpy drSpy(&c, &CtCalc::dRUpdated);
        QSignalSpy crSpy(&c, &CtCalc::cRUpdated);
        QCOMPARE(c.calcRegion(), QRectF(QPointF(0, 0), QPointF(2047, 2047)));
        QVERIFY(!c.isCRegionSet());

        c.setDR(1.25, 2.5, 40.75, 30.5);
        c.setDR(1.25, 2.5, 40.75, 30.5);
        QCOMPARE(drSpy.count(), 1);
        QCOMPARE(drSpy.first().at(2).toDouble(), 40.75);
        QCOMPARE(c.findChild<QLineEdit *>("Drx1")->text(), QString("40.75"));

        // The visible part of the display becomes the display region.
        QMetaObject::invokeMethod(&c, "noticedNewS", Q_ARG(QRectF, QRectF(3, 4, 10, 20)));
        QCOMPARE(drSpy.count(), 2);
        QCOMPARE(c.dispRegion(), QRectF(QPointF(3, 4), QPointF(13, 24)));

        // "Set To C. Region" rounds outwards to whole pixels.
        c.setDR(1.25, 2.5, 40.75, 30.5);
        c.findChild<QPushButton *>("SetCRegion")->click();
        QCOMPARE(crSpy.count(), 1);
        QCOMPARE(c.calcRegion(), QRectF(QPointF(1, 2), QPointF(41, 31)));
        QVERIFY(c.isCRegionSet());
        c.setCR(1, 2, 41, 31);
        QCOMPARE(crSpy.count(), 1);
    }

    void valueReadOutFollowsTheGrid()
    {
        Rig r(30);
        QVERIFY(r.ok);
        QLineEdit *val = r.calc.display()->findChild<QLineEdit *>("Val");
        QVERIFY(val);
        val->setText("keep");
        // Nothing to read before a calculation.
        QMetaObject::invokeMethod(
            &r.calc, "noticedNewPos", Q_ARG(double, 30.0), Q_ARG(double, 30.0));
        QCOMPARE(val->text(), QString("keep"));
        QVERIFY(r.run());
        QMetaObject::invokeMethod(
            &r.calc, "noticedNewPos", Q_ARG(double, 36.7), Q_ARG(double, 26.2));
        QCOMPARE(val->text(), QString::number(r.calc.kernel().resultAt(26, 36), 'g', 6));
        const QString shown = val->text();
        QMetaObject::invokeMethod(&r.calc, "noticedNewPos", Q_ARG(double, N), Q_ARG(double, 3.0));
        QMetaObject::invokeMethod(
            &r.calc, "noticedNewPos", Q_ARG(double, -1.0), Q_ARG(double, 3.0));
        QCOMPARE(val->text(), shown);
    }

    void refusesRunsWithoutSinogram()
    {
        // An empty stack: no sinogram, the calculator neither starts nor ends.
        phantom::Stack empty;
        ProcCtrl proc;
        Sinogram panel;
        panel.setProcCtrl(&proc);
        panel.setImgDatas(&empty.stack);
        CtCalc c;
        QSignalSpy done(&c, &CtCalc::calcFinished);
        c.calcCt(); // no panel attached yet
        c.setSinogram(&panel);
        c.calcCt();
        QVERIFY(!done.wait(200));
        QVERIFY(!c.isRunning());
        QVERIFY(!c.isCRegionSet());
        QVERIFY(!c.kernel().prepared());

        // A centre at pixel 1 leaves one sample per row: nothing to reconstruct.
        phantom::Stack one;
        QVERIFY(one.addAll(4, 8, 2, [](int, int x, int) { return 100 + x; }));
        panel.setImgDatas(&one.stack);
        proc.setSliceNo(0);
        proc.setCor(1.0);
        c.calcCt();
        QVERIFY(!done.wait(200));
        QVERIFY(!c.kernel().prepared());
    }

    void forcedColourRange()
    {
        Rig r(30);
        QVERIFY(r.ok);
        r.calc.setFixColorScale(true);
        r.calc.setCBarMinMaxForced(-1.0, 1.0);
        QVERIFY(r.run());
        const ColorBar &bar = r.calc.display()->colorBar();
        QVERIFY(bar.isFixed());
        QCOMPARE(bar.minV(), -1.0);
        QCOMPARE(bar.maxV(), 1.0);
        // Values near 0 sit in the middle of a fixed -1 ... 1 scale.
        const int level = r.calc.display()->image().constScanLine(N / 2 + 12)[N / 2 - 12];
        QCOMPARE(level, bar.level(r.calc.kernel().resultAt(N / 2 + 12, N / 2 - 12)));
        QVERIFY(std::abs(level - 128) <= 2);
    }
};

VORLO_TEST(TestCtCalc)
#include "test_ct_calc.moc"
