#include "select/seek_ctrl.h"
#include "tests/test_registry.h"

#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>

class SeekCtrlTest : public QObject
{
    Q_OBJECT

private slots:
    void steps_data()
    {
        QTest::addColumn<int>("max");
        QTest::addColumn<int>("start");
        QTest::addColumn<bool>("up");
        QTest::addColumn<int>("target"); // -1: nothing emitted
        QTest::newRow("inc limited to max") << 100 << 95 << true << 100;
        QTest::newRow("inc by ten") << 100 << 20 << true << 30;
        QTest::newRow("inc at max") << 100 << 100 << true << -1;
        QTest::newRow("dec below ten to zero") << 100 << 7 << false << 0;
        QTest::newRow("dec at ten to zero") << 100 << 10 << false << 0;
        QTest::newRow("dec by ten") << 100 << 55 << false << 45;
        QTest::newRow("dec at zero") << 100 << 0 << false << -1;
        QTest::newRow("nothing loaded") << 0 << 0 << true << -1;
    }
    void steps()
    {
        QFETCH(int, max);
        QFETCH(int, start);
        QFETCH(bool, up);
        QFETCH(int, target);
        SeekCtrl s;
        s.setMaximum(max);
        s.setValue(start);
        QCOMPARE(s.value(), start);
        QSignalSpy spy(&s, &SeekCtrl::newIndex);
        s.findChild<QToolButton *>(up ? "Inc" : "Dec")->click();
        if (target < 0) {
            QCOMPARE(spy.count(), 0);
            QCOMPARE(s.value(), start);
            return;
        }
        QVERIFY(spy.count() >= 1);
        // Repeats of the same index are allowed; every emission names the target.
        for (const auto &args : spy)
            QCOMPARE(args.at(0).toInt(), target);
        QCOMPARE(s.findChild<QSlider *>("Seek")->value(), target);
        QCOMPARE(s.findChild<QSpinBox *>("Index")->value(), target);
    }

    void sliderAndSpinBoxFollowEachOther()
    {
        SeekCtrl s;
        s.setMaximum(50);
        QSignalSpy spy(&s, &SeekCtrl::newIndex);
        s.sliderMoved(12);
        QCOMPARE(s.findChild<QSpinBox *>("Index")->value(), 12);
        QCOMPARE(spy.last().at(0).toInt(), 12);
        s.findChild<QSpinBox *>("Index")->setValue(30);
        QCOMPARE(s.findChild<QSlider *>("Seek")->value(), 30);
        QCOMPARE(spy.last().at(0).toInt(), 30);
    }

    void valueClampedAndReset()
    {
        SeekCtrl s;
        s.setMaximum(9);
        s.setValue(99999);
        QCOMPARE(s.value(), 9);
        s.setValue(-3);
        QCOMPARE(s.value(), 0);
        s.setValue(5);
        s.reset();
        QCOMPARE(s.value(), 0);
        QCOMPARE(s.maximum(), 0);
        QCOMPARE(s.findChild<QSpinBox *>("Index")->maximum(), 0);
    }
};

VORLO_TEST(SeekCtrlTest)
#include "test_seek_ctrl.moc"
