// Compressed TIFFs that expand far beyond their file size are valid images: a
// constant dark frame in one LZW strip, and ZSTD or LZMA ones. Their decoded
// size is what the header says; a header claiming more than the reader takes
// is still refused.
#include "image/img_data.h"
#include "tests/image/test_images.h"
#include "tests/test_registry.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <tiffio.h>
#include <vector>

using namespace testimg;

class TestTiffCodecs : public QObject {
    Q_OBJECT
private slots:
    void highlyCompressedImagesLoad_data()
    {
        QTest::addColumn<int>("compression");
        QTest::addColumn<int>("rowsPerStrip");
        QTest::newRow("LZW, one strip") << int(COMPRESSION_LZW) << 2048;
        QTest::newRow("ZSTD") << int(COMPRESSION_ZSTD) << 256;
        QTest::newRow("LZMA, one strip") << int(COMPRESSION_LZMA) << 2048;
    }

    void highlyCompressedImagesLoad()
    {
        QFETCH(int, compression);
        QFETCH(int, rowsPerStrip);
        if (!TIFFIsCODECConfigured(quint16(compression)))
            QSKIP("this libtiff has no such codec");
        TiffKind k;
        k.width = 2048;
        k.height = 2048;
        k.compression = compression;
        k.rowsPerStrip = rowsPerStrip;
        // A constant dark frame (both bytes of a sample alike, as LZW likes
        // best) with one odd pixel in the last row.
        std::vector<quint16> v(std::size_t(k.width) * k.height, 257);
        v.back() = 4000;
        const QByteArray data(reinterpret_cast<const char *>(v.data()), qsizetype(v.size() * 2));
        QTemporaryDir tmp;
        const QString path = tmp.filePath("dark.tif");
        QVERIFY(writeTiff(path, k, data));
        const qint64 fileSize = QFileInfo(path).size();
        // It expands more than 1100 times (deflate cannot: its best is ~1030).
        QVERIFY2(qint64(data.size()) > 1100 * fileSize, qPrintable(QString::number(fileSize)));

        LogCapture log;
        std::unique_ptr<ImgData> img(createImgData(fileType(path)));
        img->setFileName(path);
        QVERIFY2(img->load(), qPrintable(log.lines().join('\n')));
        QCOMPARE(img->width(), 2048);
        QCOMPARE(img->height(), 2048);
        std::vector<double> line(2048);
        img->row(0, line.data());
        QCOMPARE(line[0], 257.0);
        img->column(2047, line.data());
        QCOMPARE(line[2046], 257.0);
        QCOMPARE(line[2047], 4000.0);
    }
};

VORLO_TEST(TestTiffCodecs)
#include "test_tiff_codecs.moc"
