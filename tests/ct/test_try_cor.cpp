// The centre search ("Try CoR") without the main window: the list of centres,
// their hand-out over the parallel calculators and the panel's fields and
// button.
#include "ct/cor_series.h"
#include "ct/proc_ctrl.h"
#include "ct/range_dispatch.h"
#include "tests/test_registry.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <limits>

class TestCorSeries : public QObject {
    Q_OBJECT
private slots:
    void accepted_data()
    {
        QTest::addColumn<double>("from");
        QTest::addColumn<double>("to");
        QTest::addColumn<double>("step");
        QTest::addColumn<QVector<double>>("cors");
        QTest::newRow("upwards") << 510.0 << 512.0 << 0.5
                                 << QVector<double> { 510, 510.5, 511, 511.5, 512 };
        QTest::newRow("downwards") << 512.0 << 510.0 << -1.0 << QVector<double> { 512, 511, 510 };
        QTest::newRow("last one not reached")
            << 10.0 << 11.0 << 0.4 << QVector<double> { 10, 10.4, 10.8 };
        QTest::newRow("from equals to") << 300.25 << 300.25 << 2.0 << QVector<double> { 300.25 };
        QTest::newRow("from equals to, negative step")
            << 300.25 << 300.25 << -2.0 << QVector<double> { 300.25 };
        QTest::newRow("step larger than the span")
            << 100.0 << 101.0 << 5.0 << QVector<double> { 100 };
        // 0.1 is not exact in binary: 1000 + 10 * 0.1 must still count.
        QTest::newRow("decimal step reaches to")
            << 1000.0 << 1001.0 << 0.1
            << QVector<double> { 1000, 1000.1, 1000.2, 1000.3, 1000.4, 1000.5, 1000.6, 1000.7,
                   1000.8, 1000.9, 1001 };
    }
    void accepted()
    {
        QFETCH(double, from);
        QFETCH(double, to);
        QFETCH(double, step);
        QFETCH(QVector<double>, cors);
        QVector<double> out;
        QVERIFY(corSeries(from, to, step, out));
        QCOMPARE(out.size(), cors.size());
        for (int i = 0; i < out.size(); ++i)
            QVERIFY2(
                std::abs(out[i] - cors[i]) < 1e-9, qPrintable(QString::number(out[i], 'g', 17)));
        // Computed from the index, not summed up: the last centre carries no
        // accumulated rounding beyond one product.
        QCOMPARE(out.last(), from + (out.size() - 1) * step);
    }

    void limitOfCentres()
    {
        QVector<double> out;
        QVERIFY(corSeries(1, 1000, 1, out)); // 1000 centres
        QCOMPARE(out.size(), maxCorSeriesCount);
        QCOMPARE(out.last(), 1000.0);
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Try CoR refused : more than 1000"));
        QVERIFY(!corSeries(1, 1000.5, 0.5, out)); // 1999
        QVERIFY(out.isEmpty());
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Try CoR refused : more than 1000"));
        QVERIFY(!corSeries(1, 1e300, 1e-300, out));
        QVERIFY(out.isEmpty());
    }

    void refused_data()
    {
        const double inf = std::numeric_limits<double>::infinity();
        const double nan = std::numeric_limits<double>::quiet_NaN();
        QTest::addColumn<double>("from");
        QTest::addColumn<double>("to");
        QTest::addColumn<double>("step");
        QTest::addColumn<QString>("reason");
        QTest::newRow("zero step") << 500.0 << 510.0 << 0.0 << "the step is 0";
        QTest::newRow("zero step, one centre") << 500.0 << 500.0 << 0.0 << "the step is 0";
        QTest::newRow("step away upwards") << 500.0 << 510.0 << -1.0 << "the step leads away";
        QTest::newRow("step away downwards") << 510.0 << 500.0 << 1.0 << "the step leads away";
        QTest::newRow("infinite to") << 500.0 << inf << 1.0 << "a value is not a number";
        QTest::newRow("nan step") << 500.0 << 510.0 << nan << "a value is not a number";
        QTest::newRow("nan from") << nan << 510.0 << 1.0 << "a value is not a number";
        QTest::newRow("zero centre") << 0.0 << 10.0 << 1.0 << "a centre of 0 or less";
        QTest::newRow("negative centre") << 5.0 << -5.0 << -1.0 << "a centre of 0 or less";
    }
    void refused()
    {
        QFETCH(double, from);
        QFETCH(double, to);
        QFETCH(double, step);
        QFETCH(QString, reason);
        QVector<double> out { 1, 2, 3 };
        QTest::ignoreMessage(QtDebugMsg,
            QRegularExpression("^Try CoR refused : " + QRegularExpression::escape(reason)));
        QVERIFY(!corSeries(from, to, step, out));
        QVERIFY(out.isEmpty());
    }
};

namespace {

struct TryRecorder {
    explicit TryRecorder(RangeDispatch &d)
    {
        QObject::connect(
            &d, &RangeDispatch::startTryCt, &d, [this](int c, bool v, double cor, int slice) {
                calculators << c;
                cors << cor;
                slices << slice;
                vertical << v;
            });
        QObject::connect(&d, &RangeDispatch::startCt, &d,
            [this](int, bool, double, int, bool) { ++rangeHandouts; });
        QObject::connect(&d, &RangeDispatch::finished, &d, [this] { ++finished; });
    }
    QVector<int> calculators;
    QVector<double> cors;
    QVector<int> slices;
    QVector<bool> vertical;
    int rangeHandouts = 0;
    int finished = 0;
};

CtRunParams tryParams(int threads)
{
    CtRunParams p;
    p.rotAxIsV = true;
    p.threads = threads;
    p.cor = 700; // not used by a centre search
    p.sliceFrom = 0;
    p.sliceTo = 99;
    p.sliceStep = 1;
    return p;
}

} // namespace

class TestCorDispatch : public QObject {
    Q_OBJECT
private slots:
    // Five centres over two calculators: each centre goes out once, to an idle
    // calculator, whichever of the two finishes first; the run ends once, after
    // the last report.
    void fiveCentresTwoCalculators_data()
    {
        QTest::addColumn<QVector<int>>(
            "reportOrder"); // which busy calculator reports: 0 first, 1 last
        QTest::newRow("first finishes first") << QVector<int> { 0, 0, 0, 0, 0 };
        QTest::newRow("last finishes first") << QVector<int> { 1, 1, 1, 1, 1 };
        QTest::newRow("alternating") << QVector<int> { 1, 0, 1, 0, 0 };
    }
    void fiveCentresTwoCalculators()
    {
        QFETCH(QVector<int>, reportOrder);
        RangeDispatch d;
        d.setCalculatorCount(2);
        TryRecorder r(d);
        const QVector<double> cors { 510.1, 510.6, 511.1, 511.6, 512.1 };
        d.startCors(tryParams(2), 37, cors);
        QCOMPARE(r.calculators, QVector<int>({ 0, 1 }));
        QVERIFY(d.isRunning());
        for (int k = 0; k < reportOrder.size(); ++k) {
            QVector<int> busyOnes;
            for (int i = 0; i < 2; ++i)
                if (d.isBusy(i))
                    busyOnes << i;
            QVERIFY(!busyOnes.isEmpty());
            const int who = busyOnes[std::min<int>(reportOrder[k], busyOnes.size() - 1)];
            const int before = r.cors.size();
            d.calcFinished(who);
            // A centre left goes to the calculator that has just become idle.
            if (before < cors.size()) {
                QCOMPARE(r.cors.size(), before + 1);
                QCOMPARE(r.calculators.last(), who);
            }
        }
        QCOMPARE(r.cors, cors);
        QCOMPARE(r.slices, QVector<int>(5, 37));
        QCOMPARE(r.vertical, QVector<bool>(5, true));
        QCOMPARE(r.rangeHandouts, 0);
        QCOMPARE(r.finished, 1);
        QVERIFY(!d.isRunning());
        QCOMPARE(d.corsLeft(), 0);
        // A late report from nobody's job changes nothing.
        d.calcFinished(0);
        QCOMPARE(r.finished, 1);
    }

    // Threads below the number of calculators leave the others alone; stopping
    // hands out nothing more and a range run afterwards is a range run again.
    void threadsStopAndRangeAfterwards()
    {
        RangeDispatch d;
        d.setCalculatorCount(3);
        TryRecorder r(d);
        d.startCors(tryParams(1), 5, { 100, 101, 102 });
        QCOMPARE(r.calculators, QVector<int>({ 0 }));
        d.calcFinished(0);
        QCOMPARE(r.calculators, QVector<int>({ 0, 0 }));
        d.stop();
        d.calcFinished(0);
        QCOMPARE(r.cors.size(), 2);
        QCOMPARE(r.finished, 0);
        d.startRange(tryParams(2), false);
        QCOMPARE(r.rangeHandouts, 2);
        QCOMPARE(r.cors.size(), 2);
    }

    void noCentreEndsAtOnce()
    {
        RangeDispatch d;
        d.setCalculatorCount(2);
        TryRecorder r(d);
        d.startCors(tryParams(2), 5, {});
        QCOMPARE(r.finished, 1);
        QVERIFY(r.cors.isEmpty());
    }
};

class TestTryCorPanel : public QObject {
    Q_OBJECT
private slots:
    void buttonSendsTheFields()
    {
        ProcCtrl pc;
        auto *from = pc.findChild<QLineEdit *>("TryCorFrom");
        auto *to = pc.findChild<QLineEdit *>("TryCorTo");
        auto *step = pc.findChild<QLineEdit *>("TryCorStep");
        auto *button = pc.findChild<QPushButton *>("TryCor");
        QVERIFY(from && to && step && button);
        QCOMPARE(button->text(), QString("Try CoR"));
        for (QLineEdit *e : { from, to, step })
            QVERIFY(e->maximumWidth() <= 60);
        QSignalSpy tried(&pc, &ProcCtrl::tryCor);
        from->setText("1023.5");
        to->setText(" 1019.25");
        step->setText("-0.75");
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(tried.count(), 1);
        QCOMPARE(tried.at(0).at(0).toDouble(), 1023.5);
        QCOMPARE(tried.at(0).at(1).toDouble(), 1019.25);
        QCOMPARE(tried.at(0).at(2).toDouble(), -0.75);
        // Text that is not a number reads as 0, which the search refuses.
        step->setText("abc");
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(tried.at(1).at(2).toDouble(), 0.0);
    }

    void setterWritesFieldsQuietly()
    {
        ProcCtrl pc;
        QSignalSpy tried(&pc, &ProcCtrl::tryCor);
        QSignalSpy cor(&pc, &ProcCtrl::corUpdated);
        pc.setTryCor(511.25, 513, 0.5);
        QCOMPARE(pc.findChild<QLineEdit *>("TryCorFrom")->text(), QString("511.25"));
        QCOMPARE(pc.findChild<QLineEdit *>("TryCorTo")->text(), QString("513"));
        QCOMPARE(pc.findChild<QLineEdit *>("TryCorStep")->text(), QString("0.5"));
        QCOMPARE(pc.tryCorFrom(), 511.25);
        QCOMPARE(tried.count(), 0);
        QCOMPARE(cor.count(), 0);
        QCOMPARE(pc.cor(), 1000.0);
    }
};

VORLO_TEST(TestCorSeries)
VORLO_TEST(TestCorDispatch)
VORLO_TEST(TestTryCorPanel)
#include "test_try_cor.moc"
