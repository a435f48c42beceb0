#include "ct/proc_ctrl.h"
#include "tests/test_registry.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>

class TestProcCtrl : public QObject {
    Q_OBJECT

    static QLineEdit *edit(ProcCtrl &p, const char *name)
    {
        auto *e = p.findChild<QLineEdit *>(name);
        if (!e)
            qFatal("no line edit %s", name);
        return e;
    }
    // Types a text into a field and leaves it, as a user does.
    static void typeAndLeave(ProcCtrl &p, const char *name, const QString &text)
    {
        QLineEdit *e = edit(p, name);
        e->setText(text);
        emit e->editingFinished();
    }

private slots:
    void startsFromFieldDefaults()
    {
        ProcCtrl p;
        QCOMPARE(p.sliceNo(), 1000);
        QCOMPARE(p.cor(), 1000.0);
        QVERIFY(!p.rotAxIsV());
        QVERIFY(p.findChild<QRadioButton *>("RotAxH")->isChecked());
        QCOMPARE(p.recordedSlice1(), -1);
        QCOMPARE(p.recordedSlice2(), -1);
        QVERIFY(edit(p, "RecordedCoR1")->text().isEmpty());
        QVERIFY(p.autoUpdate());
        QVERIFY(!p.autoExec());
        QCOMPARE(p.windowTitle(), QString("Proc Control"));
    }

    void sliceSignalsOnlyOnRealChange()
    {
        ProcCtrl p;
        QSignalSpy spy(&p, &ProcCtrl::sliceNoUpdated);
        typeAndLeave(p, "SliceNo", "1000");
        p.setSliceNo(1000);
        QCOMPARE(spy.count(), 0);

        typeAndLeave(p, "SliceNo", " 512 ");
        QCOMPARE(spy.count(), 1);
        QCOMPARE(p.sliceNo(), 512);
        typeAndLeave(p, "SliceNo", "512");
        QCOMPARE(spy.count(), 1);

        p.setSliceNo(7);
        QCOMPARE(spy.count(), 2);
        QCOMPARE(edit(p, "SliceNo")->text(), QString("7"));

        // Text that is no number, or does not fit in 32 bits, reads as 0.
        typeAndLeave(p, "SliceNo", "abc");
        QCOMPARE(p.sliceNo(), 0);
        QCOMPARE(spy.count(), 3);
        typeAndLeave(p, "SliceNo", "4294967296");
        QCOMPARE(p.sliceNo(), 0);
        QCOMPARE(spy.count(), 3);
    }

    void corSignalsOnlyOnRealChange()
    {
        ProcCtrl p;
        QSignalSpy spy(&p, &ProcCtrl::corUpdated);
        p.setCor(1000.0);
        typeAndLeave(p, "Cor", "1000.0");
        QCOMPARE(spy.count(), 0);

        p.setCor(1023.456789);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(edit(p, "Cor")->text(), QString("1023.46"));

        typeAndLeave(p, "Cor", "not a number");
        QCOMPARE(p.cor(), 0.0);
        QCOMPARE(spy.count(), 2);
        typeAndLeave(p, "Cor", "junk");
        QCOMPARE(spy.count(), 2);

        // The decimal point is a point whatever the locale.
        typeAndLeave(p, "Cor", "12.5");
        QCOMPARE(p.cor(), 12.5);
        QCOMPARE(spy.count(), 3);
    }

    void axisSignalsOnlyOnRealChange()
    {
        ProcCtrl p;
        QSignalSpy spy(&p, &ProcCtrl::rotAxUpdated);
        auto *h = p.findChild<QRadioButton *>("RotAxH");
        auto *v = p.findChild<QRadioButton *>("RotAxV");
        h->click();
        QCOMPARE(spy.count(), 0);
        v->click();
        QCOMPARE(spy.count(), 1);
        QVERIFY(p.rotAxIsV());
        p.setRotAxIsV(true);
        QCOMPARE(spy.count(), 1);
        p.setRotAxIsV(false);
        QCOMPARE(spy.count(), 2);
        QVERIFY(h->isChecked());
        QVERIFY(!p.rotAxIsV());
    }

    void togglesAnnounceThemselves()
    {
        ProcCtrl p;
        QSignalSpy upd(&p, &ProcCtrl::autoUpdateUpdated);
        QSignalSpy exe(&p, &ProcCtrl::autoExecUpdated);
        p.setAutoUpdate(false);
        p.setAutoExec(true);
        p.setAutoExec(true);
        QCOMPARE(upd.count(), 1);
        QCOMPARE(exe.count(), 1);
    }

    void recordsShiftAndInterpolate()
    {
        ProcCtrl p;
        p.setSliceNo(100);
        p.setCor(1000.2);
        p.findChild<QAbstractButton *>("RecCoR")->click();
        QCOMPARE(edit(p, "RecordedCoR1")->text(), QString("1000.2 at 100"));
        QVERIFY(edit(p, "RecordedCoR2")->text().isEmpty());

        CtRunParams one;
        p.fillRunParams(one, true, false);
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^pcps 100 -1 "));
        QCOMPARE(ProcCtrl::corForSlice(one, 500), 1000.2);

        p.setSliceNo(900);
        p.setCor(1003.4);
        p.findChild<QAbstractButton *>("RecCoR")->click();
        QCOMPARE(edit(p, "RecordedCoR1")->text(), QString("1003.4 at 900"));
        QCOMPARE(edit(p, "RecordedCoR2")->text(), QString("1000.2 at 100"));

        CtRunParams two;
        p.fillRunParams(two, true, false);
        QTest::ignoreMessage(QtDebugMsg, "pcps 900 100 1003.4 1000.2 500 1001.8");
        QCOMPARE(ProcCtrl::corForSlice(two, 500), 1001.8);
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^pcps "));
        QVERIFY(qAbs(ProcCtrl::corForSlice(two, 1400) - 1005.4) < 1e-9);

        p.findChild<QAbstractButton *>("ClearRecCoR")->click();
        QCOMPARE(p.recordedSlice1(), -1);
        QCOMPARE(p.recordedSlice2(), -1);
        QVERIFY(edit(p, "RecordedCoR1")->text().isEmpty());
        QVERIFY(edit(p, "RecordedCoR2")->text().isEmpty());
    }

    void corForSliceFallsBackToCor_data()
    {
        QTest::addColumn<int>("s1");
        QTest::addColumn<int>("s2");
        QTest::newRow("none recorded") << -1 << -1;
        QTest::newRow("second missing") << 300 << -1;
        QTest::newRow("first missing") << -1 << 300;
        QTest::newRow("same slice twice") << 300 << 300;
    }
    void corForSliceFallsBackToCor()
    {
        QFETCH(int, s1);
        QFETCH(int, s2);
        CtRunParams r;
        r.cor = 777.5;
        r.recordedSlice1 = s1;
        r.recordedSlice2 = s2;
        r.recordedCor1 = 10;
        r.recordedCor2 = 20;
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^pcps "));
        QCOMPARE(ProcCtrl::corForSlice(r, 50), 777.5);
    }

    void setupRecordsShowAsTyped()
    {
        ProcCtrl p;
        p.setRecordedCor1(500, 1023.5);
        p.setRecordedCor2(-3, 99.0);
        QCOMPARE(edit(p, "RecordedCoR1")->text(), QString("1023.5 at 500"));
        QVERIFY(edit(p, "RecordedCoR2")->text().isEmpty());
        CtRunParams r;
        p.fillRunParams(r, false, true);
        QCOMPARE(r.recordedSlice1, 500);
        QCOMPARE(r.recordedCor1, 1023.5);
        QCOMPARE(r.recordedSlice2, -3);
    }

    void stepFollowsRangeDirection_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<int>("typed");
        QTest::addColumn<int>("step");
        QTest::newRow("downwards range") << 100 << 10 << 5 << -5;
        QTest::newRow("negative typed, upwards") << 10 << 100 << -5 << 5;
        QTest::newRow("both negative") << 100 << 10 << -5 << -5;
        QTest::newRow("single slice") << 42 << 42 << 3 << 3;
        QTest::newRow("zero step taken as one") << 0 << 99 << 0 << 1;
        QTest::newRow("zero step, downwards") << 99 << 0 << 0 << -1;
        QTest::newRow("most negative step") << 0 << 9 << int(-2147483647 - 1) << 2147483647;
    }
    void stepFollowsRangeDirection()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(int, typed);
        QFETCH(int, step);
        ProcCtrl p;
        p.setSliceFrom(from);
        p.setSliceTo(to);
        p.setSliceStep(typed);
        CtRunParams r;
        p.fillRunParams(r, false, true);
        QCOMPARE(r.sliceFrom, from);
        QCOMPARE(r.sliceTo, to);
        QCOMPARE(r.sliceStep, step);
        QCOMPARE(r.currentSlice, from);
    }

    void fillsEveryField()
    {
        ProcCtrl p;
        QSignalSpy any(&p, &ProcCtrl::sliceNoUpdated);
        p.setMaxThreads(8);
        p.setThreads(6);
        p.setAngleOffset(-12.25);
        p.setAutoExec(true);
        p.setRotAxIsV(true);
        p.setSliceNo(321);
        p.setCor(654.25);
        // Setting the range fields announces nothing.
        p.setSliceFrom(3);
        p.setSliceTo(30);
        QCOMPARE(any.count(), 1);

        CtRunParams r;
        r.upperLimit = 1;
        p.fillRunParams(r, true, true);
        QVERIFY(r.calcCt1 && r.calcCt2 && r.rotAxIsV && r.autoExec);
        QCOMPARE(r.sliceNo, 321);
        QCOMPARE(r.cor, 654.25);
        QCOMPARE(r.angleOffset, -12.25);
        QCOMPARE(r.threads, 6);
        QCOMPARE(r.upperLimit, 10.0);
        QCOMPARE(r.lowerLimit, -10.0);
        QCOMPARE(r.offset, 10.0);
        QCOMPARE(p.findChild<QLabel *>("MaxThreads")->text(), QString("/8"));
        p.setThreads(12);
        QCOMPARE(p.threads(), 8);
    }
};

VORLO_TEST(TestProcCtrl)
#include "test_proc_ctrl.moc"
