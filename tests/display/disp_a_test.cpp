// Display area, mouse record and coordinate mapping.
#include "display/ch_coord.h"
#include "display/disp_a.h"
#include "display/disp_a_w_layout.h"
#include "display/mouse_c.h"
#include "tests/display/mouse_events.h"
#include "tests/test_registry.h"

#include <QSignalSpy>
#include <QTest>

using namespace testmouse;

class DispATest : public QObject {
    Q_OBJECT
private slots:
    void mStat_data();
    void mStat();
    void recordsPressMoveRelease();
    void altMoveChangesNothing();
    void doubleClickKeepsPos();
    void wheelStepsAndFactor_data();
    void wheelStepsAndFactor();
    void sidewaysWheelIsIgnored();
    void paintLayersInOrder();
    void frameReemitsAreaSignals();
    void coordMapping_data();
    void coordMapping();
    void coordInverse();
};

void DispATest::mStat_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("mods");
    QTest::addColumn<int>("code");
    const Qt::KeyboardModifiers S = Qt::ShiftModifier, C = Qt::ControlModifier, A = Qt::AltModifier;
    const struct {
        const char *name;
        Qt::KeyboardModifiers m;
        int left;
    } rows[] = { { "none", Qt::NoModifier, 0 }, { "shift", S, 1 }, { "ctrl", C, 2 },
        { "alt", A, 3 }, { "shift+ctrl", S | C, 4 }, { "shift+alt", S | A, 5 },
        { "ctrl+alt", C | A, 6 }, { "all", S | C | A, 7 } };
    for (const auto &r : rows) {
        QTest::addRow("left %s", r.name) << int(Qt::LeftButton) << int(r.m) << r.left;
        QTest::addRow("right %s", r.name) << int(Qt::RightButton) << int(r.m) << r.left + 8;
        QTest::addRow("middle %s", r.name) << int(Qt::MiddleButton) << int(r.m) << 16;
    }
    // Keys other than Shift, Ctrl and Alt are not looked at.
    QTest::addRow("left meta") << int(Qt::LeftButton) << int(Qt::MetaModifier) << 0;
    QTest::addRow("right keypad+ctrl")
        << int(Qt::RightButton) << int(Qt::KeypadModifier | Qt::ControlModifier) << 10;
    QTest::addRow("no button") << int(Qt::NoButton) << 0 << 16;
}

void DispATest::mStat()
{
    QFETCH(int, button);
    QFETCH(int, mods);
    QFETCH(int, code);
    QCOMPARE(int(MouseC::mStat(Qt::MouseButton(button), Qt::KeyboardModifiers(mods))), code);
}

void DispATest::recordsPressMoveRelease()
{
    DispA a;
    a.resize(200, 100);
    MouseC &m = a.mouse();
    QCOMPARE(m.pos, QPoint(0, 0));
    QVERIFY(!m.pressed);

    QSignalSpy moved(&a, &DispA::mouseMoved0);
    QSignalSpy pressed(&a, &DispA::mousePressed0);
    QSignalSpy released(&a, &DispA::mouseReleased0);
    QSignalSpy mMoved(&m, &MouseC::mMoved);

    move(&a, QPointF(10.7, 20.2));
    QCOMPARE(m.pos, QPoint(10, 20)); // truncated
    QCOMPARE(m.prevPos, QPoint(0, 0));
    QCOMPARE(m.button, Qt::NoButton);

    press(&a, QPointF(30, 40), Qt::RightButton, Qt::ShiftModifier);
    QCOMPARE(m.prevPos, QPoint(10, 20));
    QCOMPARE(m.pos, QPoint(30, 40));
    QCOMPARE(m.pressPos, QPoint(30, 40));
    QVERIFY(m.pressed);
    QCOMPARE(m.pressButton, Qt::RightButton);
    QCOMPARE(m.pressModifiers, Qt::KeyboardModifiers(Qt::ShiftModifier));
    QCOMPARE(m.pressStat(), MouseC::ShiftRight);

    release(&a, QPointF(50, 60), Qt::RightButton);
    QVERIFY(!m.pressed);
    QCOMPARE(m.releasePos, QPoint(50, 60));
    QCOMPARE(m.prevPos, QPoint(30, 40));
    QCOMPARE(m.releaseButton, Qt::RightButton);
    QCOMPARE(m.releaseModifiers, Qt::KeyboardModifiers());
    // The press record stays until the next press.
    QCOMPARE(m.pressPos, QPoint(30, 40));

    QCOMPARE(moved.count(), 1);
    QCOMPARE(pressed.count(), 1);
    QCOMPARE(released.count(), 1);
    QCOMPARE(mMoved.count(), 1);
}

void DispATest::altMoveChangesNothing()
{
    DispA a;
    a.resize(100, 100);
    move(&a, QPointF(5, 5));
    QSignalSpy moved(&a, &DispA::mouseMoved0);
    move(&a, QPointF(50, 50), Qt::NoButton, Qt::AltModifier);
    move(&a, QPointF(60, 60), Qt::LeftButton, Qt::AltModifier | Qt::ShiftModifier);
    QCOMPARE(moved.count(), 0);
    QCOMPARE(a.mouse().pos, QPoint(5, 5));
    QCOMPARE(a.mouse().modifiers, Qt::KeyboardModifiers());
}

void DispATest::doubleClickKeepsPos()
{
    DispA a;
    a.resize(100, 100);
    move(&a, QPointF(10, 10));
    QSignalSpy dc(&a, &DispA::mouseDoubleClicked0);
    send(&a, QEvent::MouseButtonDblClick, QPointF(70, 80), Qt::LeftButton, Qt::LeftButton,
        Qt::ControlModifier);
    QCOMPARE(dc.count(), 1);
    QCOMPARE(a.mouse().dClickPos, QPoint(70, 80));
    QCOMPARE(a.mouse().dClickButton, Qt::LeftButton);
    QCOMPARE(a.mouse().dClickModifiers, Qt::KeyboardModifiers(Qt::ControlModifier));
    QCOMPARE(a.mouse().pos, QPoint(10, 10));
    move(&a, QPointF(20, 30));
    QCOMPARE(a.mouse().prevPos, QPoint(10, 10));
}

void DispATest::wheelStepsAndFactor_data()
{
    QTest::addColumn<int>("delta");
    QTest::addColumn<double>("steps");
    QTest::addColumn<double>("factor");
    QTest::newRow("one notch up") << 120 << 1.0 << 1 / 1.1;
    QTest::newRow("two notches up") << 240 << 2.0 << 1 / 1.1;
    QTest::newRow("one notch down") << -120 << -1.0 << 1.1;
    QTest::newRow("fine step down") << -30 << -0.25 << 1.1;
}

void DispATest::wheelStepsAndFactor()
{
    QFETCH(int, delta);
    QFETCH(double, steps);
    QFETCH(double, factor);
    DispA a;
    a.resize(100, 100);
    QSignalSpy spy(&a, &DispA::wheelMoved0);
    wheel(&a, QPointF(50, 50), delta);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(a.wheelSteps(), steps);
    QCOMPARE(a.wheelFactor(), factor);
}

void DispATest::sidewaysWheelIsIgnored()
{
    DispA a;
    a.resize(100, 100);
    wheel(&a, QPointF(50, 50), -120);
    QSignalSpy spy(&a, &DispA::wheelMoved0);
    QWheelEvent e(QPointF(50, 50), a.mapToGlobal(QPointF(50, 50)), QPoint(), QPoint(120, 0),
        Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&a, &e);
    QCOMPARE(spy.count(), 0);
    QCOMPARE(a.wheelSteps(), -1.0);
    QCOMPARE(a.wheelFactor(), 1.1);
}

void DispATest::paintLayersInOrder()
{
    DispA a;
    a.resize(64, 48);
    QStringList order;
    QPainter *seen[3] = {};
    connect(&a, &DispA::drawImage0, [&](QPainter *p) {
        order << "0";
        seen[0] = p;
    });
    connect(&a, &DispA::drawImage1, [&](QPainter *p) {
        order << "1";
        seen[1] = p;
        p->fillRect(QRect(0, 0, 10, 10), Qt::black);
    });
    connect(&a, &DispA::drawImage2, [&](QPainter *p) {
        order << "2";
        seen[2] = p;
    });
    const QImage shot = a.grab().toImage();
    QCOMPARE(order, QStringList({ "0", "1", "2" }));
    QVERIFY(seen[0] && seen[0] == seen[1] && seen[1] == seen[2]);
    // White background under the layers, and the pixel area set at the paint.
    QCOMPARE(shot.pixelColor(40, 40), QColor(Qt::white));
    QCOMPARE(shot.pixelColor(5, 5), QColor(Qt::black));
    QCOMPARE(a.coord().plotArea.x1, 64.0);
    QCOMPARE(a.coord().plotArea.yBottom, 48.0);
    QCOMPARE(a.coord().plotArea.yTop, 0.0);
}

void DispATest::frameReemitsAreaSignals()
{
    DispAWLayout f;
    QCOMPARE(f.objectName(), QString("DispAWLayout"));
    QVERIFY(f.dispA());
    QCOMPARE(f.dispA()->objectName(), QString("dispA"));
    QCOMPARE(f.dispA()->frameShape(), QFrame::NoFrame);
    QSignalSpy p(&f, &DispAWLayout::mousePressed0);
    QSignalSpy w(&f, &DispAWLayout::wheelMoved0);
    QSignalSpy d(&f, &DispAWLayout::drawImage2);
    f.resize(100, 100);
    press(f.dispA(), QPointF(1, 1));
    wheel(f.dispA(), QPointF(1, 1), 120);
    f.grab();
    QCOMPARE(p.count(), 1);
    QCOMPARE(w.count(), 1);
    QVERIFY(d.count() >= 1);
}

void DispATest::coordMapping_data()
{
    QTest::addColumn<double>("px");
    QTest::addColumn<double>("py");
    QTest::addColumn<double>("dx");
    QTest::addColumn<double>("dy");
    // Pixel area 640 x 480 (y down), data x 100..300, y 100 at the top, 300 at the bottom.
    QTest::newRow("top left") << 0.0 << 0.0 << 100.0 << 100.0;
    QTest::newRow("bottom right") << 640.0 << 480.0 << 300.0 << 300.0;
    QTest::newRow("centre") << 320.0 << 240.0 << 200.0 << 200.0;
    QTest::newRow("outside") << -64.0 << 960.0 << 80.0 << 500.0;
}

void DispATest::coordMapping()
{
    QFETCH(double, px);
    QFETCH(double, py);
    QFETCH(double, dx);
    QFETCH(double, dy);
    ChCoord c;
    c.setPixelArea(0, 480, 640, 0);
    c.setRange(100, 300, 300, 100);
    QCOMPARE(c.pixelToDataX(px), dx);
    QCOMPARE(c.pixelToDataY(py), dy);
    QCOMPARE(c.dataToPixelX(dx), px);
    QCOMPARE(c.dataToPixelY(dy), py);
}

void DispATest::coordInverse()
{
    ChCoord c;
    // Initial mapping is the identity on [0, 1].
    QCOMPARE(c.pixelToDataX(0.25), 0.25);
    QCOMPARE(c.dataToPixelY(0.75), 0.75);
    c.setPixelArea(0, 480, 640, 0);
    c.setRange(100, 300, 300, 100);
    QCOMPARE(c.dataLengthToPixelX(10), 32.0);
    QCOMPARE(c.dataLengthToPixelY(10), 24.0);
    // A range running backwards maps backwards.
    c.setRange(300, 100, 100, 300);
    QCOMPARE(c.pixelToDataX(0), 300.0);
    QCOMPARE(c.pixelToDataY(0), 300.0);
    QCOMPARE(c.dataLengthToPixelX(10), -32.0);
}

VORLO_TEST(DispATest)
#include "disp_a_test.moc"
