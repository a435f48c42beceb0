// Image displays: zoom about the mouse, panning, point picking, the view
// across image changes, the read-out row and saving of the visible part.
#include "display/color_bar.h"
#include "display/disp_a.h"
#include "display/img_disp.h"
#include "display/img_disp_wpv.h"
#include "display/raw_disp.h"
#include "tests/display/mouse_events.h"
#include "tests/test_registry.h"

#include <QGridLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <climits>

using namespace testmouse;

namespace {
QImage greyImage(int w, int h, int level)
{
    QImage img(w, h, QImage::Format_Grayscale8);
    img.fill(level);
    return img;
}

// A 512 x 512 display area showing a 512 x 512 image, shown and laid out.
struct Shown {
    ImgDisp disp;
    Shown(int iw = 512, int ih = 512)
    {
        disp.resize(512, 512);
        disp.show();
        QVERIFY(QTest::qWaitForWindowExposed(&disp));
        disp.image() = greyImage(iw, ih, 100);
        disp.newImage();
    }
    DispA *area() { return disp.dispA(); }
};

// Shows a display at the given size and waits until it is laid out.
bool shown(QWidget &w, int width, int height)
{
    w.resize(width, height);
    w.show();
    return QTest::qWaitForWindowExposed(&w);
}

bool near(double a, double b) { return std::fabs(a - b) < 1e-9 * std::max(1.0, std::fabs(b)); }
} // namespace

class ImgDispTest : public QObject {
    Q_OBJECT
private slots:
    void firstImageSetsView();
    void emptyImageDoesNothing();
    void wheelZoomsAboutTheMouse_data();
    void wheelZoomsAboutTheMouse();
    void zoomOutShowsBackground();
    void leftDragPans();
    void modifiedDragDoesNotPan();
    void clickOrPanByDistance_data();
    void clickOrPanByDistance();
    void clickBesideTheImagePicksNothing();
    void pickingCodes_data();
    void pickingCodes();
    void positionsTruncateTowardsZero();
    void viewSurvivesImageChange();
    void readOutRow();
    void wcbarForm();
    void saveVisiblePart();
    void failedSaveIsLogged();
};

void ImgDispTest::firstImageSetsView()
{
    ImgDisp d;
    QSignalSpy s(&d, &ImgDisp::newS);
    QVERIFY(!d.viewSet());
    d.image() = greyImage(300, 200, 0);
    d.newImage();
    QVERIFY(d.viewSet());
    QCOMPARE(d.view(), QRectF(0, 0, 300, 200));
    QCOMPARE(s.count(), 1);
    QCOMPARE(s.at(0).at(0).toRectF(), QRectF(0, 0, 300, 200));
    d.newImage();
    QCOMPARE(s.count(), 1);
}

void ImgDispTest::emptyImageDoesNothing()
{
    ImgDisp d;
    QSignalSpy s(&d, &ImgDisp::newS);
    d.newImage();
    d.image() = QImage(0, 10, QImage::Format_Grayscale8);
    d.newImage();
    QVERIFY(!d.viewSet());
    QCOMPARE(s.count(), 0);
    // The first real image still sets the view.
    d.image() = greyImage(4, 4, 0);
    d.newImage();
    QCOMPARE(d.view(), QRectF(0, 0, 4, 4));
}

void ImgDispTest::wheelZoomsAboutTheMouse_data()
{
    QTest::addColumn<QPointF>("mousePos");
    QTest::addColumn<int>("delta");
    QTest::addColumn<double>("size");
    QTest::newRow("notch up at centre") << QPointF(256, 256) << 120 << 512 / 1.1;
    QTest::newRow("notch down at centre") << QPointF(256, 256) << -120 << 563.2;
    QTest::newRow("notch up off centre") << QPointF(100, 400) << 120 << 512 / 1.1;
    QTest::newRow("two notches count as one") << QPointF(30, 70) << 240 << 512 / 1.1;
    QTest::newRow("fraction of notch down") << QPointF(500, 10) << -15 << 563.2;
}

void ImgDispTest::wheelZoomsAboutTheMouse()
{
    QFETCH(QPointF, mousePos);
    QFETCH(int, delta);
    QFETCH(double, size);
    Shown s;
    QCOMPARE(s.area()->size(), QSize(512, 512));
    QSignalSpy spy(&s.disp, &ImgDisp::newS);
    move(s.area(), mousePos);
    const QPointF before(
        s.area()->coord().pixelToDataX(mousePos.x()), s.area()->coord().pixelToDataY(mousePos.y()));
    QCOMPARE(before, mousePos); // the view is the whole image, one image pixel per area pixel
    wheel(s.area(), mousePos, delta);
    const QRectF v = s.disp.view();
    QVERIFY(near(v.width(), size));
    QVERIFY(near(v.height(), size));
    // The image point under the mouse stays under it.
    QVERIFY(near(s.area()->coord().pixelToDataX(mousePos.x()), before.x()));
    QVERIFY(near(s.area()->coord().pixelToDataY(mousePos.y()), before.y()));
    QVERIFY(near(v.x() + mousePos.x() / 512 * v.width(), before.x()));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toRectF(), v);
}

void ImgDispTest::zoomOutShowsBackground()
{
    Shown s;
    move(s.area(), QPointF(256, 256)); // the zoom centre is the last mouse position
    wheel(s.area(), QPointF(256, 256), -120);
    QVERIFY(near(s.disp.view().x(), 256 - 281.6));
    const QImage shot = s.area()->grab().toImage();
    QCOMPARE(shot.pixelColor(3, 3), QColor(Qt::white));
    QCOMPARE(shot.pixelColor(508, 508), QColor(Qt::white));
    QCOMPARE(shot.pixelColor(256, 256), QColor(100, 100, 100));
    QCOMPARE(shot.pixelColor(40, 256), QColor(100, 100, 100)); // image starts at 25.6 / 1.1
}

void ImgDispTest::leftDragPans()
{
    Shown s;
    QSignalSpy ns(&s.disp, &ImgDisp::newS);
    QSignalSpy picked(&s.disp, &ImgDisp::selectedAPoint);
    press(s.area(), QPointF(100, 100));
    move(s.area(), QPointF(130, 110), Qt::LeftButton);
    move(s.area(), QPointF(150, 120), Qt::LeftButton);
    QCOMPARE(s.disp.view(), QRectF(-50, -20, 512, 512));
    QCOMPARE(ns.count(), 2);
    release(s.area(), QPointF(150, 120));
    // A pan is not a click: its release picks nothing.
    QCOMPARE(picked.count(), 0);
    // A zoomed view pans in image pixels, not area pixels.
    wheel(s.area(), QPointF(0, 0), -120); // view 563.2 wide: 1.1 image pixels per area pixel
    const QRectF v = s.disp.view();
    press(s.area(), QPointF(200, 200));
    move(s.area(), QPointF(100, 200), Qt::LeftButton);
    QVERIFY(near(s.disp.view().x(), v.x() + 100 * 1.1));
    QVERIFY(near(s.disp.view().y(), v.y()));
}

void ImgDispTest::modifiedDragDoesNotPan()
{
    Shown s;
    QSignalSpy ns(&s.disp, &ImgDisp::newS);
    QSignalSpy picked(&s.disp, &ImgDisp::selectedAPoint);
    QSignalSpy pos(&s.disp, &ImgDisp::newPos);
    for (auto mods : { Qt::ShiftModifier, Qt::ControlModifier }) {
        press(s.area(), QPointF(100, 100), Qt::LeftButton, mods);
        move(s.area(), QPointF(150, 120), Qt::LeftButton, mods);
        release(s.area(), QPointF(150, 120), Qt::LeftButton, mods);
    }
    // A right drag does not pan either.
    press(s.area(), QPointF(100, 100), Qt::RightButton);
    move(s.area(), QPointF(10, 10), Qt::RightButton);
    QCOMPARE(s.disp.view(), QRectF(0, 0, 512, 512));
    QCOMPARE(ns.count(), 0);
    QCOMPARE(picked.count(), 0);
    QCOMPARE(pos.count(), 3);
}

void ImgDispTest::clickOrPanByDistance_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<QPointF>("releaseAt"); // pressed at (100, 100)
    QTest::addColumn<bool>("picks");
    QTest::newRow("left, still") << int(Qt::LeftButton) << QPointF(100, 100) << true;
    QTest::newRow("left, a hand's tremor") << int(Qt::LeftButton) << QPointF(104, 97) << true;
    QTest::newRow("left, 5 px across") << int(Qt::LeftButton) << QPointF(105, 100) << false;
    QTest::newRow("left, 6 px down") << int(Qt::LeftButton) << QPointF(100, 106) << false;
    QTest::newRow("left, far") << int(Qt::LeftButton) << QPointF(300, 250) << false;
    QTest::newRow("right, a hand's tremor") << int(Qt::RightButton) << QPointF(97, 103) << true;
    QTest::newRow("right, dragged") << int(Qt::RightButton) << QPointF(160, 100) << false;
}

void ImgDispTest::clickOrPanByDistance()
{
    QFETCH(int, button);
    QFETCH(QPointF, releaseAt);
    QFETCH(bool, picks);
    Shown s;
    QSignalSpy picked(&s.disp, &ImgDisp::selectedAPoint);
    const auto b = Qt::MouseButton(button);
    press(s.area(), QPointF(100, 100), b);
    move(s.area(), releaseAt, b);
    release(s.area(), releaseAt, b);
    QCOMPARE(picked.count(), picks ? 1 : 0);
    if (picks) {
        // The point under the mouse at the release: the image moved with a
        // left drag, so that is still near the grabbed point.
        QVERIFY(std::fabs(picked.at(0).at(0).toDouble() - 100) <= 4);
        QVERIFY(std::fabs(picked.at(0).at(1).toDouble() - 100) <= 4);
    }
}

void ImgDispTest::clickBesideTheImagePicksNothing()
{
    // A 256 x 256 image on a 512 x 512 area, zoomed out four notches about
    // the top-left corner: the view is 374.8 image pixels wide, the image
    // ends at area pixel 349.7 and the white background shows beyond.
    Shown s(256, 256);
    for (int i = 0; i < 4; ++i)
        wheel(s.area(), QPointF(0, 0), -120);
    QVERIFY(s.disp.view().width() > 370);
    QSignalSpy picked(&s.disp, &ImgDisp::selectedAPoint);
    click(s.area(), QPointF(400, 100));
    click(s.area(), QPointF(100, 400));
    click(s.area(), QPointF(450, 450), Qt::RightButton);
    QCOMPARE(picked.count(), 0);
    // Panned right and down: now the background lies left of and above it.
    press(s.area(), QPointF(100, 100));
    move(s.area(), QPointF(200, 200), Qt::LeftButton);
    release(s.area(), QPointF(200, 200));
    QVERIFY(s.disp.view().x() < 0 && s.disp.view().y() < 0);
    click(s.area(), QPointF(20, 20));
    QCOMPARE(picked.count(), 0);
    click(s.area(), QPointF(250, 250));
    QCOMPARE(picked.count(), 1);
    const double x = picked.at(0).at(0).toDouble();
    const double y = picked.at(0).at(1).toDouble();
    QVERIFY(x >= 0 && x < 256 && y >= 0 && y < 256);
}

void ImgDispTest::pickingCodes_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("mods");
    QTest::addColumn<int>("code"); // -1: nothing emitted
    QTest::newRow("left") << int(Qt::LeftButton) << 0 << 0;
    QTest::newRow("right") << int(Qt::RightButton) << 0 << 8;
    QTest::newRow("shift left") << int(Qt::LeftButton) << int(Qt::ShiftModifier) << -1;
    QTest::newRow("ctrl right") << int(Qt::RightButton) << int(Qt::ControlModifier) << -1;
    QTest::newRow("alt left") << int(Qt::LeftButton) << int(Qt::AltModifier) << -1;
    QTest::newRow("middle") << int(Qt::MiddleButton) << 0 << -1;
    QTest::newRow("left with meta") << int(Qt::LeftButton) << int(Qt::MetaModifier) << 0;
}

void ImgDispTest::pickingCodes()
{
    QFETCH(int, button);
    QFETCH(int, mods);
    QFETCH(int, code);
    ImgDisp d;
    QVERIFY(shown(d, 256, 128));
    QCOMPARE(d.dispA()->size(), QSize(256, 128));
    d.image() = greyImage(512, 512, 0);
    d.newImage(); // 2 image pixels across, 4 down per area pixel
    QSignalSpy picked(&d, &ImgDisp::selectedAPoint);
    click(d.dispA(), QPointF(10, 20), Qt::MouseButton(button), Qt::KeyboardModifiers(mods));
    if (code < 0) {
        QCOMPARE(picked.count(), 0);
        return;
    }
    QCOMPARE(picked.count(), 1);
    QCOMPARE(picked.at(0).at(0).toDouble(), 20.0);
    QCOMPARE(picked.at(0).at(1).toDouble(), 80.0);
    QCOMPARE(int(picked.at(0).at(2).value<MouseC::MStat>()), code);
}

void ImgDispTest::positionsTruncateTowardsZero()
{
    ImgDisp d;
    QVERIFY(shown(d, 100, 100));
    QCOMPARE(d.dispA()->size(), QSize(100, 100));
    d.image() = greyImage(10, 10, 0);
    d.newImage(); // 0.1 image pixel per area pixel
    QSignalSpy pos(&d, &ImgDisp::newPos);
    move(d.dispA(), QPointF(57, 99));
    QCOMPARE(pos.last().at(0).toInt(), 5);
    QCOMPARE(pos.last().at(1).toInt(), 9);
    // Left of the image: -4.5 truncates to -4.
    press(d.dispA(), QPointF(2, 99));
    move(d.dispA(), QPointF(57, 99), Qt::LeftButton); // pans by -5.5 image pixels
    release(d.dispA(), QPointF(57, 99));
    move(d.dispA(), QPointF(10, 50));
    QCOMPARE(pos.last().at(0).toInt(), -4);
    // Far outside the 32-bit range.
    for (int i = 0; i < 400; ++i)
        wheel(d.dispA(), QPointF(99, 99), -120);
    move(d.dispA(), QPointF(0, 0));
    QCOMPARE(pos.last().at(0).toInt(), INT_MIN);
}

void ImgDispTest::viewSurvivesImageChange()
{
    ImgDispWPV d;
    d.resize(600, 600);
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    d.image() = greyImage(512, 512, 0);
    d.newImage();
    move(d.dispA(), QPointF(50, 60));
    wheel(d.dispA(), QPointF(50, 60), 120);
    const QRectF zoomed = d.view();
    QSignalSpy ns(&d, &ImgDisp::newS);
    d.image() = greyImage(256, 128, 200);
    d.newImage();
    QCOMPARE(d.view(), zoomed);
    QCOMPARE(ns.count(), 0);
    auto *reset = d.findChild<QPushButton *>("ResetScale");
    QVERIFY(reset);
    QCOMPARE(reset->text(), QString("Scale Reset"));
    QTest::mouseClick(reset, Qt::LeftButton);
    QCOMPARE(d.view(), QRectF(0, 0, 256, 128));
    QCOMPARE(ns.count(), 0);
    // The mapping follows the reset view at once.
    const DispA *a = d.dispA();
    QCOMPARE(a->coord().pixelToDataX(a->width()), 256.0);
    QCOMPARE(a->coord().pixelToDataY(a->height()), 128.0);
}

void ImgDispTest::readOutRow()
{
    RawDisp d;
    QVERIFY(shown(d, 400, 400));
    d.image() = greyImage(1000, 1000, 0);
    d.newImage();
    auto *posX = d.findChild<QLineEdit *>("PosX");
    auto *posY = d.findChild<QLineEdit *>("PosY");
    auto *val = d.findChild<QLineEdit *>("Val");
    QVERIFY(posX && posY && val);
    QVERIFY(posX->isReadOnly());
    QCOMPARE(posX->styleSheet(), QString("background-color: rgb(255, 255, 232);"));
    QCOMPARE(posX->text(), QString("0"));
    QSignalSpy inv(&d, &ImgDispWPV::newPosInvY);
    QSignalSpy ns(&d, &ImgDisp::newS);
    const DispA *a = d.dispA();
    const double kx = 1000.0 / a->width();
    const double ky = 1000.0 / a->height();
    move(d.dispA(), QPointF(100, 50));
    QCOMPARE(posX->text(), QString::number(int(100 * kx)));
    QCOMPARE(posY->text(), QString::number(int(50 * ky)));
    QCOMPARE(inv.count(), 1);
    QCOMPARE(inv.at(0).at(0).toDouble(), double(int(100 * kx)));
    QCOMPARE(ns.count(), 0); // moving without a button never moves the view
    QCOMPARE(d.view(), QRectF(0, 0, 1000, 1000));
    d.noticedNewPos(1234567, -3);
    QCOMPARE(posX->text(), QString("1.23457e+06"));
    QCOMPARE(posY->text(), QString("-3"));
    d.setVal(65535.24);
    QCOMPARE(val->text(), QString("65535.2"));
}

void ImgDispTest::wcbarForm()
{
    ImgDispWPV d;
    QCOMPARE(d.objectName(), QString("ImgDispWPV"));
    QCOMPARE(d.width(), d.height());
    ColorBar *bar = d.findChild<ColorBar *>("CBar");
    QVERIFY(bar);
    QCOMPARE(&d.colorBar(), bar);
    QCOMPARE(bar->minimumWidth(), 25);
    // The bar's control panel and the read-out row sit in the display.
    QVERIFY(d.isAncestorOf(bar->controlPanel()));
    QVERIFY(d.isAncestorOf(d.pvFrame()));
    QSignalSpy nb(&d, &ImgDispWCBar::newBar);
    emit bar->newBar();
    QCOMPARE(nb.count(), 1);
    // Laid out: the bar is right of the image, the panel and read-out below.
    d.resize(500, 500);
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    QVERIFY(bar->geometry().left() >= d.dispA()->geometry().right());
    QVERIFY(bar->width() < 100);
    QVERIFY(d.pvFrame()->mapTo(&d, QPoint()).y() >= d.dispA()->geometry().bottom());
}

void ImgDispTest::saveVisiblePart()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    ImgDisp d;
    QVERIFY(shown(d, 100, 100));
    QCOMPARE(d.dispA()->size(), QSize(100, 100));
    QImage img(100, 80, QImage::Format_Grayscale8);
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 100; ++x)
            img.scanLine(y)[x] = uchar((x + 2 * y) & 0xff);
    d.image() = img;
    d.newImage();
    // Pan so that the view (-20, -9.6, 100, 80) sticks out top-left.
    press(d.dispA(), QPointF(0, 0));
    move(d.dispA(), QPointF(20.7, 12.75), Qt::LeftButton);
    release(d.dispA(), QPointF(20.7, 12.75));
    QCOMPARE(d.view().x(), -20.0); // mouse positions are whole pixels
    QCOMPARE(d.view().y(), -9.6);
    const QString f = dir.filePath("part.png");
    d.saveImage(f);
    QImage saved(f);
    QVERIFY(!saved.isNull());
    QCOMPARE(saved.size(), QSize(100, 80));
    const QImage expected = img.copy(QRect(-20, -9, 100, 80));
    QCOMPARE(saved.convertToFormat(QImage::Format_Grayscale8), expected);
    QCOMPARE(qGray(saved.pixel(30, 20)), (10 + 2 * 11) & 0xff);
}

void ImgDispTest::failedSaveIsLogged()
{
    ImgDisp d;
    d.image() = greyImage(8, 8, 1);
    d.newImage();
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Can not save image .*nodir/x\\.png"));
    d.saveImage("/nonexistent-vorlo-nodir/x.png");
}

VORLO_TEST(ImgDispTest)
#include "img_disp_test.moc"
