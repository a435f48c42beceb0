#include "image/img_data.h"
#include "tests/image/test_images.h"
#include "tests/test_registry.h"

#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace testimg;

class TestImgFileType : public QObject {
    Q_OBJECT
private slots:
    void detectsByContent_data();
    void detectsByContent();
    void missingFileLogsThreeLinesInOrder();
    void createsTheKind();
};

void TestImgFileType::detectsByContent_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("type");
    const QByteArray itex = itexBytes(sizeComment(2, 1, 2), pixels16({ 1, 2 }));
    QTest::newRow("ITEX named .img") << "a.img" << itex << int(ImgFileITEX);
    QTest::newRow("ITEX named .tif") << "a.tif" << itex << int(ImgFileITEX);
    QTest::newRow("II named .img") << "b.img" << QByteArray("II*\0", 4) << int(ImgFileTIFF);
    QTest::newRow("MM without extension") << "c" << QByteArray("MM\0*", 4) << int(ImgFileTIFF);
    QTest::newRow("IM only") << "d.dat" << QByteArray("IM") << int(ImgFileITEX);
    QTest::newRow("MI is neither") << "e.tif" << QByteArray("MI\0*", 4) << int(ImgFileUnknown);
    QTest::newRow("PNG named .img") << "f.img" << QByteArray("\x89PNG\r\n") << int(ImgFileUnknown);
    QTest::newRow("one byte") << "g.img" << QByteArray("I") << int(ImgFileUnknown);
    QTest::newRow("empty") << "h.tif" << QByteArray() << int(ImgFileUnknown);
}

void TestImgFileType::detectsByContent()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(int, type);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    QVERIFY(writeFile(path, content));
    LogCapture log;
    QCOMPARE(int(fileType(path)), type);
    QCOMPARE(isItexFile(path), type == ImgFileITEX);
    if (type == ImgFileUnknown)
        QCOMPARE(log.lines().value(0), QStringLiteral("Unknown file type :  \"%1\"").arg(path));
    else
        QVERIFY(!log.contains(QStringLiteral("Unknown file type")));
}

void TestImgFileType::missingFileLogsThreeLinesInOrder()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("missing.img"));
    LogCapture log;
    const ImgFileType type = fileType(path);
    QCOMPARE(int(type), int(ImgFileUnknown));
    QCOMPARE(log.lines(),
        QStringList({ QStringLiteral("Check File Type (ITEX):: Can not open \"%1\"").arg(path),
            QStringLiteral("Check File Type (TIFF):: Can not open \"%1\"").arg(path),
            QStringLiteral("Unknown file type :  \"%1\"").arg(path) }));
    QVERIFY(createImgData(type) == nullptr);
}

void TestImgFileType::createsTheKind()
{
    std::unique_ptr<ImgData> itex(createImgData(ImgFileITEX));
    std::unique_ptr<ImgData> tiff(createImgData(ImgFileTIFF));
    QVERIFY(dynamic_cast<ImgDataITEX *>(itex.get()));
    QVERIFY(dynamic_cast<ImgDataTiff *>(tiff.get()));
    QVERIFY(createImgData(ImgFileType(7)) == nullptr);
    // A new image is empty and not ready until loaded.
    QVERIFY(!itex->ready());
    QVERIFY(itex->keepInMemory());
    QCOMPARE(itex->width(), 0);
    QVERIFY(!itex->minMaxValid());
    QCOMPARE(itex->minV(), std::numeric_limits<double>::max());
    QCOMPARE(itex->maxV(), -std::numeric_limits<double>::max());
    double buf[2] = { 5.0, 6.0 };
    itex->row(0, buf);
    QCOMPARE(buf[0], 5.0); // nothing read from an image that is not loaded
}

VORLO_TEST(TestImgFileType)
#include "test_img_file_type.moc"
