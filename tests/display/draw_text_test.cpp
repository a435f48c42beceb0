// Fitted, rotated text of the colour-bar labels.
#include "display/draw_text.h"
#include "tests/test_registry.h"

#include <QImage>
#include <QPainter>
#include <QTest>

class DrawTextTest : public QObject {
    Q_OBJECT
private slots:
    void pointSize_data();
    void pointSize();
    void drawsInsideRotatedBox();
    void withoutFitReturnsEmpty();
};

void DrawTextTest::pointSize_data()
{
    QTest::addColumn<QSizeF>("measured");
    QTest::addColumn<double>("length");
    QTest::addColumn<double>("thickness");
    QTest::addColumn<double>("maxSize");
    QTest::addColumn<double>("expected");
    QTest::newRow("long text halves") << QSizeF(190, 12) << 95.0 << 30.0 << 0.0 << 5.0;
    QTest::newRow("thickness limits") << QSizeF(50, 12) << 95.0 << 6.0 << 0.0 << 5.0;
    QTest::newRow("capped by max") << QSizeF(40, 10) << 95.0 << 20.0 << 10.0 << 10.0;
    QTest::newRow("max larger than fit") << QSizeF(190, 12) << 95.0 << 30.0 << 10.0 << 5.0;
    QTest::newRow("no cap when max 0") << QSizeF(40, 10) << 95.0 << 20.0 << 0.0 << 20.0;
    QTest::newRow("empty text counts 1") << QSizeF(0, 0) << 95.0 << 20.0 << 0.0 << 10.0;
}

void DrawTextTest::pointSize()
{
    QFETCH(QSizeF, measured);
    QFETCH(double, length);
    QFETCH(double, thickness);
    QFETCH(double, maxSize);
    QFETCH(double, expected);
    QCOMPARE(DrawText::fittedPointSize(measured, length, thickness, maxSize), expected);
}

void DrawTextTest::drawsInsideRotatedBox()
{
    // A vertical box (text running downwards) centred at (20, 100), 95 long
    // and 30 thick: every painted pixel lies inside it on screen.
    QImage img(40, 200, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setPen(Qt::black);
    DrawText dt;
    const QRectF m = dt.drawFitted(&p, 90, DrawText::Box { 20, 100, -95, 30 }, QFont(),
        Qt::AlignCenter, true, QStringLiteral("12345.6"), 10, true, QColor(255, 0, 0));
    p.end();
    QVERIFY(m.width() > 0 && m.height() > 0);
    int painted = 0;
    int dark = 0;
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            const QColor c = img.pixelColor(x, y);
            if (c == QColor(Qt::white))
                continue;
            // Allow one pixel of antialiasing around the box.
            QVERIFY2(x >= 4 && x <= 36 && y >= 51 && y <= 149,
                qPrintable(QString("pixel at %1,%2").arg(x).arg(y)));
            ++painted;
            if (c.red() < 100)
                ++dark;
        }
    }
    QVERIFY(painted >= 30 * 94); // the fill covers the box (negative length normalised)
    QVERIFY(dark > 0); // and the text was drawn on it
    // The painter's state is back as it was.
    QPainter q(&img);
    QVERIFY(q.transform().isIdentity());
}

void DrawTextTest::withoutFitReturnsEmpty()
{
    QImage img(50, 50, QImage::Format_RGB32);
    QPainter p(&img);
    const QFont before = p.font();
    DrawText dt;
    QFont big;
    big.setPointSize(30);
    const QRectF m = dt.drawFitted(&p, 0, DrawText::Box { 25, 25, 40, 20 }, big, Qt::AlignLeft,
        false, QStringLiteral("x"), 0, false, QColor());
    QVERIFY(m.isEmpty());
    QCOMPARE(p.font(), before);
    QVERIFY(p.transform().isIdentity());
}

VORLO_TEST(DrawTextTest)
#include "draw_text_test.moc"
