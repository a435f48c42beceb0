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

namespace {

// A little-endian LZW TIFF of one strip of junk claiming w x h 16-bit pixels.
QByteArray lzwClaiming(quint32 w, quint32 h)
{
    QByteArray out("II*\0", 4);
    const auto u16 = [&out](quint16 v) { out.append(char(v & 0xff)).append(char(v >> 8)); };
    const auto u32 = [&u16](quint32 v) {
        u16(quint16(v & 0xffff));
        u16(quint16(v >> 16));
    };
    u32(8 + 64);
    out.append(QByteArray(64, '\x11'));
    const struct {
        quint16 tag, type;
        quint32 value;
    } entries[] = { { 256, 4, w }, { 257, 4, h }, { 258, 3, 16 }, { 259, 3, COMPRESSION_LZW },
        { 262, 3, 1 }, { 273, 4, 8 }, { 277, 3, 1 }, { 278, 4, h }, { 279, 4, 64 } };
    u16(quint16(std::size(entries)));
    for (const auto &e : entries) {
        u16(e.tag);
        u16(e.type);
        u32(1);
        if (e.type == 3) {
            u16(quint16(e.value));
            u16(0);
        } else {
            u32(e.value);
        }
    }
    u32(0);
    return out;
}

} // namespace

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

    void headerSizeStillBounded()
    {
        QTemporaryDir tmp;
        // More than the reader decodes into memory (1 GiB): refused at once.
        const QString huge = tmp.filePath("huge.tif");
        QVERIFY(writeFile(huge, lzwClaiming(30000, 20000)));
        {
            LogCapture log;
            std::unique_ptr<ImgData> img(createImgData(fileType(huge)));
            img->setFileName(huge);
            QVERIFY(!img->load());
            QVERIFY(log.contains("TIFF image size does not fit the file"));
        }
        // Within it but with junk for pixels: the header is taken, the
        // decoding fails and the image is refused.
        const QString junk = tmp.filePath("junk.tif");
        QVERIFY(writeFile(junk, lzwClaiming(4096, 4096)));
        LogCapture log;
        std::unique_ptr<ImgData> img(createImgData(fileType(junk)));
        img->setFileName(junk);
        QVERIFY(!img->load());
        QVERIFY2(log.contains("Can not decode TIFF file"), qPrintable(log.lines().join('\n')));
    }
};

VORLO_TEST(TestTiffCodecs)
#include "test_tiff_codecs.moc"
