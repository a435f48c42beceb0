// The colour bar: value-to-grey mapping, handle dragging, limit fields and the
// painted ramp.
#include "display/color_bar.h"
#include "tests/display/mouse_events.h"
#include "tests/test_registry.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <limits>

using namespace testmouse;

namespace {
const int barH = 200;

// Presses at fromY, drags to toY and releases there, on a bar of height barH.
void drag(ColorBar &bar, int fromY, int toY)
{
    press(&bar, QPointF(10, fromY));
    move(&bar, QPointF(10, toY), Qt::LeftButton);
    release(&bar, QPointF(10, toY));
}
} // namespace

class ColorBarTest : public QObject {
    Q_OBJECT
private slots:
    void levelWithInitialHandles_data();
    void levelWithInitialHandles();
    void upperHandleToMiddle();
    void crossedHandlesInvert();
    void handlesBeyondTheEnds();
    void pressHalfWaySelectsNothing();
    void equalLimits();
    void limitFields();
    void setLimitsShowsThemWithoutSignal();
    void levelMapIsADetachedCopy();
    void controlPanelForm();
    void paintsRampAndHandles();
};

void ColorBarTest::levelWithInitialHandles_data()
{
    QTest::addColumn<double>("v");
    QTest::addColumn<int>("level");
    QTest::newRow("middle") << 0.5 << 128;
    QTest::newRow("just below top") << 0.999 << 255;
    QTest::newRow("top") << 1.0 << 255;
    QTest::newRow("above") << 7.0 << 255;
    QTest::newRow("bottom") << 0.0 << 0;
    QTest::newRow("below") << -1.0 << 0;
    QTest::newRow("quarter") << 0.25 << 64;
    QTest::newRow("nan") << std::numeric_limits<double>::quiet_NaN() << 0;
    QTest::newRow("inf") << std::numeric_limits<double>::infinity() << 255;
}

void ColorBarTest::levelWithInitialHandles()
{
    QFETCH(double, v);
    QFETCH(int, level);
    ColorBar bar;
    QCOMPARE(bar.level(v), level);
    QCOMPARE(bar.levelMap().level(v), level);
}

void ColorBarTest::upperHandleToMiddle()
{
    ColorBar bar;
    bar.resize(30, barH);
    QSignalSpy spy(&bar, &ColorBar::newBar);
    // A press near the top takes the upper handle; the press moves nothing.
    press(&bar, QPointF(10, 4));
    QVERIFY(bar.dragging());
    QCOMPARE(bar.hi(), 1.0);
    QCOMPARE(spy.count(), 0);
    move(&bar, QPointF(10, 100), Qt::LeftButton);
    QCOMPARE(spy.count(), 1);
    release(&bar, QPointF(10, 100));
    QVERIFY(!bar.dragging());
    QCOMPARE(bar.hi(), 0.5);
    QCOMPARE(bar.lo(), 0.0);
    QCOMPARE(bar.level(0.25), 128);
    QCOMPARE(bar.level(0.5), 255);
    QCOMPARE(bar.level(0.9), 255);
    QCOMPARE(bar.level(0.0), 0);
    // One announcement per move of a drag, none for a move that changes nothing.
    press(&bar, QPointF(10, 100));
    for (int y = 101; y <= 105; ++y)
        move(&bar, QPointF(10, y), Qt::LeftButton);
    move(&bar, QPointF(10, 105), Qt::LeftButton);
    release(&bar, QPointF(10, 100));
    QCOMPARE(spy.count(), 6);
    QCOMPARE(bar.hi(), 0.475);
    drag(bar, 105, 100);
    QCOMPARE(spy.count(), 7);
    // Moving without a button afterwards changes nothing.
    move(&bar, QPointF(10, 180));
    QCOMPARE(bar.hi(), 0.5);
    QCOMPARE(spy.count(), 7);
}

void ColorBarTest::crossedHandlesInvert()
{
    ColorBar bar;
    bar.resize(30, barH);
    drag(bar, 2, 150); // hi = 0.25
    drag(bar, 198, 50); // lo = 0.75, above hi
    QCOMPARE(bar.hi(), 0.25);
    QCOMPARE(bar.lo(), 0.75);
    // High values turn dark, low values light.
    QCOMPARE(bar.level(1.0), 0);
    QCOMPARE(bar.level(0.0), 255);
    QCOMPARE(bar.level(0.5), 128);
    QVERIFY(bar.level(0.7) < bar.level(0.3));
}

void ColorBarTest::handlesBeyondTheEnds()
{
    ColorBar bar;
    bar.resize(30, barH);
    bar.setMinV(100);
    bar.setMaxV(300);
    drag(bar, 1, -100); // above the bar: hi = 1.5
    drag(bar, 199, 300); // below the bar: lo = -0.5
    QCOMPARE(bar.hi(), 1.5);
    QCOMPARE(bar.lo(), -0.5);
    // The ramp is compressed, not clamped: the scale's ends are mid-greys.
    QCOMPARE(bar.level(100), 64); // (0 + 0.5) * 256 / 2
    QCOMPARE(bar.level(300), 192); // (1 + 0.5) * 256 / 2
    QCOMPARE(bar.level(200), 128);
}

void ColorBarTest::pressHalfWaySelectsNothing()
{
    ColorBar bar;
    bar.resize(30, barH);
    QSignalSpy spy(&bar, &ColorBar::newBar);
    press(&bar, QPointF(10, 100)); // f = 0.5: as far from lo = 0 as from hi = 1
    QVERIFY(!bar.dragging());
    move(&bar, QPointF(10, 20), Qt::LeftButton);
    release(&bar, QPointF(10, 20));
    QCOMPARE(bar.lo(), 0.0);
    QCOMPARE(bar.hi(), 1.0);
    QCOMPARE(spy.count(), 0);
}

void ColorBarTest::equalLimits()
{
    ColorBar bar;
    bar.setMinV(3);
    bar.setMaxV(3);
    QCOMPARE(bar.level(4), 255);
    QCOMPARE(bar.level(2), 0);
    QCOMPARE(bar.level(3), 0);
}

void ColorBarTest::limitFields()
{
    ColorBar bar;
    auto *minLE = bar.controlPanel()->findChild<QLineEdit *>("CMinLE");
    auto *maxLE = bar.controlPanel()->findChild<QLineEdit *>("CMaxLE");
    QVERIFY(minLE && maxLE);
    QCOMPARE(minLE->text(), QString("0"));
    QCOMPARE(maxLE->text(), QString("1"));
    QSignalSpy spy(&bar, &ColorBar::newBar);

    maxLE->setText("2.5e3");
    emit maxLE->editingFinished();
    QCOMPARE(bar.maxV(), 2500.0);
    QCOMPARE(spy.count(), 1);

    minLE->setText("500");
    emit minLE->editingFinished();
    QCOMPARE(bar.minV(), 500.0);
    QCOMPARE(bar.level(1500), 128);

    // Not a number: the limit becomes 0 and the bar still announces it.
    minLE->setText("abc");
    emit minLE->editingFinished();
    QCOMPARE(bar.minV(), 0.0);
    QCOMPARE(spy.count(), 3);

    // A comma is not a decimal point, whatever the locale.
    minLE->setText("1,5");
    emit minLE->editingFinished();
    QCOMPARE(bar.minV(), 0.0);
}

void ColorBarTest::setLimitsShowsThemWithoutSignal()
{
    ColorBar bar;
    QSignalSpy spy(&bar, &ColorBar::newBar);
    bar.setMinV(-0.000123456789);
    bar.setMaxV(1234567.0);
    QCOMPARE(bar.controlPanel()->findChild<QLineEdit *>("CMinLE")->text(), QString("-0.000123457"));
    QCOMPARE(bar.controlPanel()->findChild<QLineEdit *>("CMaxLE")->text(), QString("1.23457e+06"));
    QCOMPARE(bar.minV(), -0.000123456789);
    QCOMPARE(spy.count(), 0);

    QVERIFY(!bar.isFixed());
    bar.setFixColorScale(true);
    QVERIFY(bar.isFixed());
    QVERIFY(bar.controlPanel()->findChild<QCheckBox *>("CFix")->isChecked());
    bar.setFixColorScale(false);
    QVERIFY(!bar.isFixed());
}

void ColorBarTest::levelMapIsADetachedCopy()
{
    ColorBar bar;
    bar.resize(30, barH);
    bar.setMinV(10);
    bar.setMaxV(20);
    drag(bar, 3, 100);
    const LevelMap m = bar.levelMap();
    QCOMPARE(m.minV, 10.0);
    QCOMPARE(m.maxV, 20.0);
    QCOMPARE(m.lo, 0.0);
    QCOMPARE(m.hi, 0.5);
    for (double v = 5; v < 25; v += 0.37)
        QCOMPARE(m.level(v), bar.level(v));
    bar.setMaxV(40);
    QCOMPARE(m.maxV, 20.0);
    QCOMPARE(m.level(15), 255);
    QCOMPARE(bar.level(15), 85); // (5 / 30) * 256 / 0.5
}

void ColorBarTest::controlPanelForm()
{
    ColorBar bar;
    QFrame *panel = bar.controlPanel();
    QCOMPARE(panel->objectName(), QString("CBarUIBase"));
    QCOMPARE(panel->findChild<QCheckBox *>("CFix")->text(), QString("Fix"));
    QCOMPARE(panel->findChild<QLabel *>("CMinLbl")->text(), QString("Min"));
    QCOMPARE(panel->findChild<QLabel *>("CMaxLbl")->text(), QString("Max"));
    auto *le = panel->findChild<QLineEdit *>("CMinLE");
    QCOMPARE(le->styleSheet(), QString("background-color: rgb(255, 255, 255);"));
    QVERIFY(le->alignment() & Qt::AlignRight);
    // Wider than the form's 60 pixels: a limit such as -0.000123457 shows whole.
    QVERIFY(le->maximumWidth() >= 60);
}

void ColorBarTest::paintsRampAndHandles()
{
    ColorBar bar;
    const int h = 400;
    bar.resize(30, h);
    drag(bar, 2, 100); // hi = 0.75 -> handle line at y = 100
    QCOMPARE(bar.hi(), 0.75);
    const QImage shot = bar.grab().toImage();
    QCOMPARE(shot.height(), h);
    // Rows count from the bottom: row y shows the level of (h - 1 - y) / h.
    const LevelMap ramp { 0, 1, bar.lo(), bar.hi() };
    for (int y : { 150, 200, 250, 300, 310 }) {
        const int l = ramp.level(double(h - 1 - y) / h);
        QCOMPARE(shot.pixelColor(0, y), QColor(l, l, l));
    }
    QCOMPARE(shot.pixelColor(1, 99), QColor(255, 255, 255)); // at and above hi: white
    QCOMPARE(shot.pixelColor(1, 100), QColor(0, 192, 255)); // upper handle
    // The label colour appears only where the labels are.
    bool labelTop = false;
    for (int y = 3; y < 98; ++y)
        for (int x = 0; x < 30; ++x)
            labelTop
                = labelTop || shot.pixelColor(x, y).green() > shot.pixelColor(x, y).red() + 100;
    QVERIFY(labelTop);
}

VORLO_TEST(ColorBarTest)
#include "color_bar_test.moc"
