#include "image/img_data.h"
#include "image/level_map.h"
#include "tests/image/test_images.h"
#include "tests/test_registry.h"

#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

using namespace testimg;

namespace {

std::unique_ptr<ImgData> loadItex(const QString &path, bool inMemory = true)
{
    std::unique_ptr<ImgData> img(createImgData(fileType(path)));
    if (!img)
        return nullptr;
    img->setKeepInMemory(inMemory);
    img->setMapFile(true); // as a stack member: mapped when it can be
    img->setFileName(path);
    img->load();
    return img;
}

std::vector<quint16> pattern16(int w, int h)
{
    std::vector<quint16> v;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            v.push_back(quint16(pattern(x, y, w)));
    return v;
}

} // namespace

class TestItexHeader : public QObject {
    Q_OBJECT
private slots:
    void readsSizes_data();
    void readsSizes();
    void refusesShortHeaders();
    void refusesEmptyComment();
};

void TestItexHeader::readsSizes_data()
{
    QTest::addColumn<QByteArray>("comment");
    QTest::addColumn<int>("blockBytes");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("bytesPerPixel");
    QTest::addColumn<QString>("logged");

    QTest::newRow("three keys") << sizeComment(64, 48, 2) << 64 * 48 * 2 << true << 64 << 48 << 2
                                << QString();
    QTest::newRow("32-bit pixels")
        << sizeComment(6, 5, 4) << 6 * 5 * 4 << true << 6 << 5 << 4 << QString();
    QTest::newRow("last entry without comma")
        << QByteArray("BytesPerPixel=2,Prop_ImageHeight=4,Prop_ImageWidth=8") << 64 << true << 8
        << 4 << 2 << QString();
    QTest::newRow("areSource fallback")
        << QByteArray("Camera=\"C4880\",BytesPerPixel=2,areSource=\"10,20,650,500\",")
        << 640 * 480 * 2 << true << 640 << 480 << 2 << QString();
    QTest::newRow("size keys win over areSource")
        << QByteArray("areSource=\"0,0,100,100\",Prop_ImageWidth=8,Prop_ImageHeight=4,"
                      "BytesPerPixel=2,")
        << 64 << true << 8 << 4 << 2 << QString();
    QTest::newRow("quoted comma stays in its entry")
        << QByteArray("Note=\"x,Prop_ImageWidth=99\",Prop_ImageWidth=8,Prop_ImageHeight=4,"
                      "BytesPerPixel=2,")
        << 64 << true << 8 << 4 << 2 << QString();
    QTest::newRow("value with blanks and quotes")
        << QByteArray("Prop_ImageWidth=\"8\" px,Prop_ImageHeight= 4 ,BytesPerPixel=2,") << 64
        << true << 8 << 4 << 2 << QString();
    QTest::newRow("line ends and multi-byte text keep the length in bytes")
        << QByteArray(
               "Prop_ImageWidth=8,\r\nOp=\xc3\x84\xc3\x96,Prop_ImageHeight=4,BytesPerPixel=2")
        << 64 << true << 8 << 4 << 2 << QString();
    QTest::newRow("NUL padding after the last entry")
        << QByteArray("Prop_ImageWidth=8,Prop_ImageHeight=4,BytesPerPixel=4\0\0\0\0", 53) << 128
        << true << 8 << 4 << 4 << QString();
    QTest::newRow("width beyond 32 bits")
        << QByteArray("Prop_ImageWidth=4294967304,Prop_ImageHeight=4,BytesPerPixel=2,") << 64
        << false << 0 << 0 << 0 << QString();
    QTest::newRow("width beyond 32 bits, areSource fallback")
        << QByteArray("Prop_ImageWidth=4294967304,Prop_ImageHeight=4,BytesPerPixel=2,"
                      "areSource=\"2,0,10,4\",")
        << 64 << true << 8 << 4 << 2 << QString();
    QTest::newRow("negative width, areSource fallback") << QByteArray(
        "Prop_ImageWidth=-8,Prop_ImageHeight=4,BytesPerPixel=2,areSource=\"2,0,10,9\",")
                                                        << 64 << true << 8 << 4 << 2 << QString();
    QTest::newRow("empty value") << QByteArray(
        "Prop_ImageWidth=,Prop_ImageHeight=4,BytesPerPixel=2,")
                                 << 64 << false << 0 << 0 << 0 << QString();
    QTest::newRow("keys are case-sensitive")
        << QByteArray("prop_imagewidth=8,Prop_ImageHeight=4,BytesPerPixel=2,") << 64 << false << 0
        << 0 << 0 << QString();
    QTest::newRow("no BytesPerPixel, block of 2 bytes per pixel")
        << QByteArray("Prop_ImageWidth=8,Prop_ImageHeight=4,") << 64 << true << 8 << 4 << 2
        << QString();
    QTest::newRow("no BytesPerPixel, block of 4 bytes per pixel")
        << QByteArray("Prop_ImageWidth=8,Prop_ImageHeight=4,") << 128 << true << 8 << 4 << 4
        << QString();
    QTest::newRow("no BytesPerPixel, block of neither")
        << QByteArray("Prop_ImageWidth=8,Prop_ImageHeight=4,") << 96 << false << 0 << 0 << 0
        << QStringLiteral("neither 2 nor 4 bytes per pixel");
    QTest::newRow("3 bytes per pixel") << sizeComment(8, 4, 3) << 96 << false << 0 << 0 << 0
                                       << QStringLiteral("unsupported BytesPerPixel : 3");
    QTest::newRow("truncated pixel block") << sizeComment(8, 4, 2) << 63 << false << 0 << 0 << 0
                                           << QStringLiteral("(8, 4) x 2 bytes > 63 bytes");
    QTest::newRow("sizes whose product overflows")
        << sizeComment(2000000000, 2000000000, 4) << 64 << false << 0 << 0 << 0
        << QStringLiteral("pixel block is shorter than the image size");
    QTest::newRow("no pixel block at all") << sizeComment(8, 4, 2) << 0 << false << 0 << 0 << 0
                                           << QStringLiteral("shorter than the image size");
}

void TestItexHeader::readsSizes()
{
    QFETCH(QByteArray, comment);
    QFETCH(int, blockBytes);
    QFETCH(bool, ok);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, bytesPerPixel);
    QFETCH(QString, logged);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("h.img"));
    QByteArray block(blockBytes, '\0');
    for (int k = 0; k < blockBytes; ++k)
        block[k] = char(k * 13 + 1);
    QVERIFY(writeFile(path, itexBytes(comment, block)));

    LogCapture log;
    auto img = loadItex(path);
    QVERIFY(img);
    QCOMPARE(img->ready(), ok);
    if (ok) {
        QCOMPARE(img->width(), width);
        QCOMPARE(img->height(), height);
        auto *itex = dynamic_cast<ImgDataITEX *>(img.get());
        QCOMPARE(itex->bytesPerPixel(), bytesPerPixel);
        QCOMPARE(itex->dataOffset(), 64 + comment.size());
        // The first pixel is the first bytes of the block, little-endian.
        const quint32 first = bytesPerPixel == 2 ? qFromLittleEndian<quint16>(block.constData())
                                                 : qFromLittleEndian<quint32>(block.constData());
        QCOMPARE(img->value(0, 0), double(first));
        QVERIFY(log.lines().isEmpty());
    } else {
        QCOMPARE(img->pixelFormat(), PixelFormat::None);
        if (!logged.isEmpty()) {
            QVERIFY2(log.contains(logged), qPrintable(log.lines().join('\n')));
            QVERIFY(log.contains(path)); // every refusal names the file
        }
    }
}

void TestItexHeader::refusesShortHeaders()
{
    QTemporaryDir dir;
    const QString tiny = dir.filePath(QStringLiteral("tiny.img"));
    QVERIFY(writeFile(tiny, QByteArray("IM\x10\x00\x00", 5)));
    {
        LogCapture log;
        auto img = loadItex(tiny);
        QVERIFY(!img->ready());
        QCOMPARE(log.lines(),
            QStringList { QStringLiteral("Error on reading ITEX file props. \"%1\"").arg(tiny) });
    }
    // The comment length points past the end of the file.
    const QString cut = dir.filePath(QStringLiteral("cut.img"));
    QVERIFY(writeFile(cut, itexBytes(sizeComment(8, 4, 2), QByteArray()).left(64 + 20)));
    {
        LogCapture log;
        auto img = loadItex(cut);
        QVERIFY(!img->ready());
        QVERIFY(log.contains(QStringLiteral("ends inside its comment")));
    }
}

void TestItexHeader::refusesEmptyComment()
{
    // Without a comment there are no sizes, even when pixels follow.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("nocomment.img"));
    QVERIFY(writeFile(path, itexBytes(QByteArray(), pixels16(pattern16(8, 4)))));
    auto img = loadItex(path);
    QVERIFY(!img->ready());
}

class TestItexPixels : public QObject {
    Q_OBJECT
private slots:
    void rowsAndColumns_data();
    void rowsAndColumns();
    void unsigned32BitValues();
    void minMaxScan();
    void greyImage_data();
    void greyImage();
    void concurrentReads_data();
    void concurrentReads();
    void fileGoneAfterLoad();
};

void TestItexPixels::rowsAndColumns_data()
{
    QTest::addColumn<int>("bytesPerPixel");
    QTest::addColumn<bool>("inMemory");
    QTest::addColumn<QByteArray>("extraComment");
    QTest::newRow("16-bit in memory") << 2 << true << QByteArray();
    QTest::newRow("16-bit from file") << 2 << false << QByteArray();
    QTest::newRow("32-bit in memory") << 4 << true << QByteArray();
    QTest::newRow("32-bit from file") << 4 << false << QByteArray();
    // An odd comment length puts the pixels at an odd byte of the file.
    QTest::newRow("16-bit at odd offset") << 2 << true << QByteArray("Op=x,");
    QTest::newRow("32-bit at odd offset from file") << 4 << false << QByteArray("Op=xyz,");
}

void TestItexPixels::rowsAndColumns()
{
    QFETCH(int, bytesPerPixel);
    QFETCH(bool, inMemory);
    QFETCH(QByteArray, extraComment);
    const int w = 7;
    const int h = 5;
    std::vector<quint32> v32;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            v32.push_back(pattern(x, y, w));
    const std::vector<quint16> v16(v32.begin(), v32.end());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.img"));
    QVERIFY(writeFile(path,
        itexBytes(extraComment + sizeComment(w, h, bytesPerPixel),
            bytesPerPixel == 2 ? pixels16(v16) : pixels32(v32))));
    auto img = loadItex(path, inMemory);
    QVERIFY(img->ready());
    QCOMPARE(img->pixelFormat(), bytesPerPixel == 2 ? PixelFormat::U16 : PixelFormat::U32);
    QCOMPARE(img->pixelsMapped(), inMemory);

    std::vector<double> row(w + 1, -1.0);
    for (int y = 0; y < h; ++y) {
        QCOMPARE(img->row(y, row.data()), row.data());
        for (int x = 0; x < w; ++x)
            QCOMPARE(row[x], double(pattern(x, y, w)));
        QCOMPARE(row[w], -1.0); // nothing written past the row
    }
    std::vector<double> col(h + 1, -1.0);
    for (int x = 0; x < w; ++x) {
        QCOMPARE(img->column(x, col.data()), col.data());
        for (int y = 0; y < h; ++y)
            QCOMPARE(col[y], double(pattern(x, y, w)));
        QCOMPARE(col[h], -1.0);
    }
    QCOMPARE(img->value(w - 1, h - 1), double(pattern(w - 1, h - 1, w)));
    QCOMPARE(img->value(w, 0), 0.0);
    QCOMPARE(img->value(0, -1), 0.0);
}

void TestItexPixels::unsigned32BitValues()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("u32.img"));
    QVERIFY(writeFile(
        path, itexBytes(sizeComment(3, 1, 4), pixels32({ 0u, 0x80000000u, 0xFFFFFFFFu }))));
    auto img = loadItex(path);
    double row[3];
    img->row(0, row);
    QCOMPARE(row[1], 2147483648.0);
    QCOMPARE(row[2], 4294967295.0);
}

void TestItexPixels::minMaxScan()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("m.img"));
    QVERIFY(
        writeFile(path, itexBytes(sizeComment(3, 2, 2), pixels16({ 500, 20, 65535, 7, 300, 9 }))));
    for (bool inMemory : { true, false }) {
        auto img = loadItex(path, inMemory);
        QVERIFY(!img->minMaxValid());
        img->scanMinMax();
        QVERIFY(img->minMaxValid());
        QCOMPARE(img->minV(), 7.0);
        QCOMPARE(img->maxV(), 65535.0);
    }
    // An image that did not load keeps its initial extremes.
    std::unique_ptr<ImgData> empty(createImgData(ImgFileITEX));
    empty->scanMinMax();
    QVERIFY(!empty->minMaxValid());
}

void TestItexPixels::greyImage_data()
{
    QTest::addColumn<int>("bytesPerPixel");
    QTest::addColumn<bool>("inMemory");
    QTest::addColumn<double>("lo");
    QTest::addColumn<double>("hi");
    QTest::newRow("16-bit, full scale") << 2 << true << 0.0 << 1.0;
    QTest::newRow("16-bit, narrowed handles") << 2 << true << 0.25 << 0.6;
    QTest::newRow("32-bit, full scale") << 4 << true << 0.0 << 1.0;
    QTest::newRow("32-bit from file, handles outside") << 4 << false << -0.5 << 1.5;
}

void TestItexPixels::greyImage()
{
    QFETCH(int, bytesPerPixel);
    QFETCH(bool, inMemory);
    QFETCH(double, lo);
    QFETCH(double, hi);
    const int w = 37;
    const int h = 11;
    std::vector<quint32> v32;
    for (int k = 0; k < w * h; ++k)
        v32.push_back(quint32((k * 2654435761u) % 60000u));
    const std::vector<quint16> v16(v32.begin(), v32.end());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("g.img"));
    QVERIFY(writeFile(path,
        itexBytes(
            sizeComment(w, h, bytesPerPixel), bytesPerPixel == 2 ? pixels16(v16) : pixels32(v32))));
    auto img = loadItex(path, inMemory);
    img->scanMinMax();
    const LevelMap map { img->minV(), img->maxV(), lo, hi };
    QImage grey;
    img->toImage(grey, map);
    QCOMPARE(grey.format(), QImage::Format_Grayscale8);
    QCOMPARE(grey.size(), QSize(w, h));
    int dark = 0;
    int bright = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const int level = grey.constScanLine(y)[x];
            QCOMPARE(level, map.level(double(v32[std::size_t(y * w + x)])));
            dark += level == 0;
            bright += level == 255;
        }
    }
    // Handles inside the scale clip both ends; handles outside it clip neither.
    if (lo >= 0.0 && hi <= 1.0)
        QVERIFY(dark > 0 && bright > 0);
    else
        QCOMPARE(dark + bright, 0);

    // An image that is not loaded leaves the picture alone.
    std::unique_ptr<ImgData> empty(createImgData(ImgFileITEX));
    empty->toImage(grey, map);
    QCOMPARE(grey.size(), QSize(w, h));
}

void TestItexPixels::concurrentReads_data()
{
    QTest::addColumn<bool>("inMemory");
    QTest::newRow("in memory") << true;
    QTest::newRow("from file") << false;
}

void TestItexPixels::concurrentReads()
{
    QFETCH(bool, inMemory);
    const int w = 64;
    const int h = 48;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("c.img"));
    QVERIFY(writeFile(path, itexBytes(sizeComment(w, h, 2), pixels16(pattern16(w, h)))));
    auto img = loadItex(path, inMemory);
    QVERIFY(img->ready());
    const ImgData *shared = img.get();
    std::atomic<int> wrong { 0 };
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([shared, t, &wrong] {
            std::vector<double> row(w), col(h);
            for (int pass = 0; pass < 5; ++pass) {
                for (int k = 0; k < h; ++k) {
                    const int y = (k + t * 7) % h;
                    shared->row(y, row.data());
                    for (int x = 0; x < w; ++x)
                        wrong += row[x] != double(quint16(pattern(x, y, w)));
                }
                for (int k = 0; k < w; ++k) {
                    const int x = (k + t * 5) % w;
                    shared->column(x, col.data());
                    for (int y = 0; y < h; ++y)
                        wrong += col[y] != double(quint16(pattern(x, y, w)));
                }
            }
        });
    }
    for (auto &th : threads)
        th.join();
    QCOMPARE(wrong.load(), 0);
}

void TestItexPixels::fileGoneAfterLoad()
{
    // Pixels in memory stay readable when the file is removed after loading.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("gone.img"));
    QVERIFY(writeFile(path, itexBytes(sizeComment(8, 4, 2), pixels16(pattern16(8, 4)))));
    auto img = loadItex(path);
    QVERIFY(QFile::remove(path));
    double row[8];
    img->row(3, row);
    QCOMPARE(row[5], double(pattern(5, 3, 8)));
}

VORLO_TEST(TestItexHeader)
VORLO_TEST(TestItexPixels)
#include "test_itex.moc"
