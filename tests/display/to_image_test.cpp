// Display images of image files and of stack members through a colour bar.
#include "display/color_bar.h"
#include "image/img_data.h"
#include "image/img_datas.h"
#include "tests/test_registry.h"

#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <functional>
#include <memory>

namespace {
// Writes a 16-bit ITEX file with pixel (x, y) = f(x, y).
bool writeItex(const QString &path, int w, int h, const std::function<quint16(int, int)> &f)
{
    const QByteArray comment
        = QStringLiteral("Prop_ImageWidth=%1,Prop_ImageHeight=%2,BytesPerPixel=2,")
              .arg(w)
              .arg(h)
              .toLatin1();
    QByteArray header(64, '\0');
    header[0] = 'I';
    header[1] = 'M';
    qToLittleEndian<quint16>(quint16(comment.size()), header.data() + 2);
    QByteArray pixels(w * h * 2, '\0');
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            qToLittleEndian<quint16>(f(x, y), pixels.data() + 2 * (y * w + x));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    return file.write(header + comment + pixels) == 64 + comment.size() + pixels.size();
}

std::unique_ptr<ImgData> loadImage(const QString &path)
{
    std::unique_ptr<ImgData> img(createImgData(fileType(path)));
    if (!img)
        return nullptr;
    img->setKeepInMemory(true);
    img->setFileName(path);
    img->load();
    return img;
}

quint16 ramp(int x, int y) { return quint16(1000 + 10 * x + 100 * y); }
} // namespace

class ToImageTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void limitsFollowTheImage();
    void fixedBarKeepsItsLimits();
    void notReadyLeavesImageAlone();
    void makeImageBounds();

private:
    QTemporaryDir dir;
    QString file(const QString &name) const { return dir.filePath(name); }
};

void ToImageTest::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY(writeItex(file("a.img"), 7, 5, ramp));
    QVERIFY(writeItex(file("b.img"), 7, 5, [](int x, int) { return quint16(x); }));
}

void ToImageTest::limitsFollowTheImage()
{
    auto img = loadImage(file("a.img"));
    QVERIFY(img && img->ready());
    ColorBar bar;
    QImage out;
    img->toImage(out, bar);
    QCOMPARE(bar.minV(), 1000.0);
    QCOMPARE(bar.maxV(), 1000.0 + 60 + 400);
    QCOMPARE(out.format(), QImage::Format_Grayscale8);
    QCOMPARE(out.size(), QSize(7, 5));
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x)
            QCOMPARE(int(out.constScanLine(y)[x]), bar.level(ramp(x, y)));
    QCOMPARE(int(out.constScanLine(0)[0]), 0);
    QCOMPARE(int(out.constScanLine(4)[6]), 255);
}

void ToImageTest::fixedBarKeepsItsLimits()
{
    auto img = loadImage(file("a.img"));
    QVERIFY(img && img->ready());
    ColorBar bar;
    bar.setMinV(1100);
    bar.setMaxV(1300);
    bar.setFixColorScale(true);
    QSignalSpy spy(&bar, &ColorBar::newBar);
    QImage out;
    img->toImage(out, bar);
    QCOMPARE(bar.minV(), 1100.0);
    QCOMPARE(bar.maxV(), 1300.0);
    QCOMPARE(spy.count(), 0);
    QCOMPARE(int(out.constScanLine(0)[6]), 0); // 1060, below the scale
    QCOMPARE(int(out.constScanLine(4)[0]), 255); // 1400, above it
    QCOMPARE(int(out.constScanLine(2)[0]), 128); // 1200, the middle
}

void ToImageTest::notReadyLeavesImageAlone()
{
    QFile bad(file("short.img"));
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write("IM\x05");
    bad.close();
    std::unique_ptr<ImgData> img(createImgData(ImgFileITEX));
    img->setFileName(bad.fileName());
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("Error on reading ITEX file props"));
    QVERIFY(!img->load());
    ColorBar bar;
    bar.setMinV(5);
    QImage out(3, 3, QImage::Format_Grayscale8);
    out.fill(77);
    img->toImage(out, bar);
    QCOMPARE(out.size(), QSize(3, 3));
    QCOMPARE(int(out.constScanLine(1)[1]), 77);
    QCOMPARE(bar.minV(), 5.0);
}

void ToImageTest::makeImageBounds()
{
    ImgDatas stack;
    ColorBar bar;
    QImage out(2, 2, QImage::Format_Grayscale8);
    out.fill(9);
    QSignalSpy updated(&stack, &ImgDatas::imageUpdated);
    QVERIFY(!stack.makeImage(0, out, bar)); // empty stack
    QVERIFY(stack.add(file("a.img")));
    QVERIFY(stack.add(file("b.img")));
    QVERIFY(!stack.makeImage(-1, out, bar));
    QVERIFY(!stack.makeImage(stack.count(), out, bar));
    QCOMPARE(updated.count(), 0);
    QCOMPARE(out.size(), QSize(2, 2));
    QCOMPARE(int(out.constScanLine(0)[0]), 9);

    QVERIFY(stack.makeImage(1, out, bar));
    QCOMPARE(updated.count(), 1);
    QCOMPARE(out.size(), QSize(7, 5));
    QCOMPARE(bar.maxV(), 6.0); // limits of member 1
    QCOMPARE(int(out.constScanLine(3)[3]), 128);
}

VORLO_TEST(ToImageTest)
#include "to_image_test.moc"
