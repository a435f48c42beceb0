#include "image/img_data.h"
#include "tests/image/test_images.h"
#include "tests/test_registry.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <cstring>
#include <memory>
#include <tiffio.h>

using namespace testimg;

namespace {

// A value per pixel that fits every sample kind: signed kinds get negative
// values, the float kind fractions.
double sampleValue(int x, int y, int bits, int sampleFormat)
{
    const int k = y * 41 + x * 3;
    if (sampleFormat == SAMPLEFORMAT_IEEEFP)
        return (k - 50) * 0.25;
    if (sampleFormat == SAMPLEFORMAT_INT)
        return bits == 8 ? (k % 256) - 128 : (k - 200) * (bits == 32 ? 100000 : 37);
    return bits == 8
        ? k % 256
        : double(quint32(k) * (bits == 32 ? 1000003u : 211u) % (bits == 16 ? 65536u : 4294967291u));
}

QByteArray samples(const TiffKind &s)
{
    QByteArray data;
    for (int y = 0; y < s.height; ++y) {
        for (int x = 0; x < s.width; ++x) {
            const double v = sampleValue(x, y, s.bits, s.sampleFormat);
            char b[4];
            if (s.sampleFormat == SAMPLEFORMAT_IEEEFP) {
                const float f = float(v);
                std::memcpy(b, &f, 4);
            } else if (s.bits == 8) {
                b[0] = char(qint64(v));
            } else if (s.bits == 16) {
                const quint16 u = quint16(qint64(v));
                std::memcpy(b, &u, 2);
            } else {
                const quint32 u = quint32(qint64(v));
                std::memcpy(b, &u, 4);
            }
            data.append(b, s.bits / 8);
        }
    }
    return data;
}

std::unique_ptr<ImgData> loadFile(const QString &path)
{
    std::unique_ptr<ImgData> img(createImgData(fileType(path)));
    if (!img)
        return nullptr;
    img->setKeepInMemory(true);
    img->setMapFile(true); // as a stack member: mapped when it can be
    img->setFileName(path);
    img->load();
    return img;
}

} // namespace

class TestTiff : public QObject {
    Q_OBJECT
private slots:
    void decodes_data();
    void decodes();
    void refusesUndecodableKinds_data();
    void refusesUndecodableKinds();
    void refusesTruncatedFile();
    void refusesTilesLargerThanTheImage();
};

void TestTiff::decodes_data()
{
    QTest::addColumn<int>("bits");
    QTest::addColumn<int>("sampleFormat");
    QTest::addColumn<bool>("tiles");
    QTest::addColumn<int>("compression");
    QTest::addColumn<bool>("bigEndian");
    QTest::addColumn<int>("format");

    const int u = SAMPLEFORMAT_UINT, i = SAMPLEFORMAT_INT, f = SAMPLEFORMAT_IEEEFP;
    const int none = COMPRESSION_NONE, lzw = COMPRESSION_LZW, zip = COMPRESSION_ADOBE_DEFLATE;
    QTest::newRow("u8 strips") << 8 << u << false << none << false << int(PixelFormat::U8);
    QTest::newRow("i8 tiles") << 8 << i << true << none << false << int(PixelFormat::I8);
    QTest::newRow("u16 strips") << 16 << u << false << none << false << int(PixelFormat::U16);
    QTest::newRow("u16 strips LZW") << 16 << u << false << lzw << false << int(PixelFormat::U16);
    QTest::newRow("u16 tiles") << 16 << u << true << none << false << int(PixelFormat::U16);
    QTest::newRow("u16 strips big-endian")
        << 16 << u << false << none << true << int(PixelFormat::U16);
    QTest::newRow("i16 tiles deflate") << 16 << i << true << zip << false << int(PixelFormat::I16);
    QTest::newRow("u32 strips") << 32 << u << false << none << false << int(PixelFormat::U32);
    QTest::newRow("i32 tiles big-endian")
        << 32 << i << true << none << true << int(PixelFormat::I32);
    QTest::newRow("f32 strips deflate")
        << 32 << f << false << zip << false << int(PixelFormat::F32);
    QTest::newRow("f32 tiles big-endian")
        << 32 << f << true << none << true << int(PixelFormat::F32);
}

void TestTiff::decodes()
{
    QFETCH(int, bits);
    QFETCH(int, sampleFormat);
    QFETCH(bool, tiles);
    QFETCH(int, compression);
    QFETCH(bool, bigEndian);
    QFETCH(int, format);

    TiffKind s;
    // Not a multiple of the tile size or of the rows per strip, so the last
    // tiles and the last strip are partial.
    s.width = 40;
    s.height = 23;
    s.bits = bits;
    s.sampleFormat = sampleFormat;
    s.layout = tiles ? TiffLayout::Tiles : TiffLayout::Strips;
    s.compression = compression;
    s.bigEndian = bigEndian;
    QTemporaryDir dir;
    // The name does not decide the kind.
    const QString path = dir.filePath(QStringLiteral("t.img"));
    QVERIFY(writeTiff(path, s, samples(s)));
    QCOMPARE(int(fileType(path)), int(ImgFileTIFF));

    LogCapture log;
    auto img = loadFile(path);
    QVERIFY2(img->ready(), qPrintable(log.lines().join('\n')));
    QCOMPARE(img->width(), s.width);
    QCOMPARE(img->height(), s.height);
    QCOMPARE(int(img->pixelFormat()), format);
    // Plain strips in host order are mapped from the file, the rest decoded.
    QCOMPARE(img->pixelsMapped(), !tiles && compression == COMPRESSION_NONE && !bigEndian);

    std::vector<double> row(s.width);
    double lo = 1e300, hi = -1e300;
    for (int y = 0; y < s.height; ++y) {
        img->row(y, row.data());
        for (int x = 0; x < s.width; ++x) {
            const double want = sampleValue(x, y, bits, sampleFormat);
            QCOMPARE(row[x], want);
            lo = std::min(lo, want);
            hi = std::max(hi, want);
        }
    }
    std::vector<double> col(s.height);
    img->column(s.width - 1, col.data());
    for (int y = 0; y < s.height; ++y)
        QCOMPARE(col[y], sampleValue(s.width - 1, y, bits, sampleFormat));
    img->scanMinMax();
    QCOMPARE(img->minV(), lo);
    QCOMPARE(img->maxV(), hi);
}

void TestTiff::refusesUndecodableKinds_data()
{
    QTest::addColumn<int>("bits");
    QTest::addColumn<int>("sampleFormat");
    QTest::addColumn<int>("samples");
    QTest::addColumn<int>("photometric");
    QTest::newRow("RGB") << 8 << SAMPLEFORMAT_UINT << 3 << PHOTOMETRIC_RGB;
    QTest::newRow("grey with alpha") << 8 << SAMPLEFORMAT_UINT << 2 << PHOTOMETRIC_MINISBLACK;
    QTest::newRow("palette") << 8 << SAMPLEFORMAT_UINT << 1 << PHOTOMETRIC_PALETTE;
    QTest::newRow("64-bit float") << 64 << SAMPLEFORMAT_IEEEFP << 1 << PHOTOMETRIC_MINISBLACK;
    QTest::newRow("16-bit float") << 16 << SAMPLEFORMAT_IEEEFP << 1 << PHOTOMETRIC_MINISBLACK;
}

void TestTiff::refusesUndecodableKinds()
{
    QFETCH(int, bits);
    QFETCH(int, sampleFormat);
    QFETCH(int, samples);
    QFETCH(int, photometric);
    TiffKind s;
    s.width = 8;
    s.height = 4;
    s.bits = bits;
    s.sampleFormat = sampleFormat;
    s.samples = samples;
    s.photometric = photometric;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("c.tif"));
    QVERIFY(writeTiff(path, s, QByteArray(8 * 4 * samples * bits / 8, '\x11')));
    LogCapture log;
    auto img = loadFile(path);
    QVERIFY(img);
    QVERIFY(!img->ready());
    QVERIFY2(
        log.contains(QStringLiteral("Unsupported TIFF image")), qPrintable(log.lines().join('\n')));
    QVERIFY(log.contains(path));
}

void TestTiff::refusesTruncatedFile()
{
    TiffKind s;
    s.width = 64;
    s.height = 64;
    s.rowsPerStrip = 8;
    QTemporaryDir dir;
    // The pixels end half-way: the directory lists strips that hold nothing.
    // Uncompressed, the file is too short for the image; compressed, the
    // decoder finds the strips empty.
    s.rowsWritten = 32;
    for (int compression : { COMPRESSION_NONE, COMPRESSION_LZW }) {
        s.compression = compression;
        const QString missing = dir.filePath(QStringLiteral("missing%1.tif").arg(compression));
        QVERIFY(writeTiff(missing, s, samples(s)));
        LogCapture log;
        auto img = loadFile(missing);
        QVERIFY(!img->ready());
        const QString why = compression == COMPRESSION_NONE
            ? QStringLiteral("TIFF image size does not fit the file")
            : QStringLiteral("Can not decode TIFF file");
        QVERIFY2(log.contains(why), qPrintable(log.lines().join(QLatin1Char('\n'))));
        QVERIFY(log.contains(missing));
    }
    // libtiff writes the directory after the pixels: a file cut in half has none.
    const QString cut = dir.filePath(QStringLiteral("cut.tif"));
    s.rowsWritten = -1;
    s.compression = COMPRESSION_NONE;
    QVERIFY(writeTiff(cut, s, samples(s)));
    QFile f(cut);
    QVERIFY(f.resize(f.size() / 2));
    {
        LogCapture log;
        auto img = loadFile(cut);
        QVERIFY(!img->ready());
        QVERIFY(log.contains(QStringLiteral("Can not open TIFF file to read props.")));
    }
}

namespace {

// A little-endian TIFF of w x h 32-bit float pixels in one tile of tw x th,
// its directory written by hand so that any tile size can be claimed.
QByteArray handTiledTiff(quint32 w, quint32 h, quint32 tw, quint32 th, quint32 tileBytes)
{
    QByteArray out("II*\0", 4);
    const auto u16 = [&out](quint16 v) { out.append(char(v & 0xff)).append(char(v >> 8)); };
    const auto u32 = [&u16](quint32 v) {
        u16(quint16(v & 0xffff));
        u16(quint16(v >> 16));
    };
    const quint32 dataAt = 8;
    u32(dataAt + tileBytes); // the directory follows the tile's bytes
    out.append(QByteArray(int(tileBytes), '\0'));
    struct Entry {
        quint16 tag, type;
        quint32 value;
    };
    const Entry entries[] = { { 256, 4, w }, { 257, 4, h }, { 258, 3, 32 }, { 259, 3, 1 },
        { 262, 3, 1 }, { 277, 3, 1 }, { 322, 4, tw }, { 323, 4, th }, { 324, 4, dataAt },
        { 325, 4, tileBytes }, { 339, 3, 3 } };
    u16(quint16(std::size(entries)));
    for (const Entry &e : entries) {
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

// A tile width far beyond the image (found by fuzzing: 285212688 for a 20 x 18
// image, 18 GB for one tile) is refused before anything is allocated; an
// honest tiled file of the same image is read.
void TestTiff::refusesTilesLargerThanTheImage()
{
    QTemporaryDir dir;
    const QString bad = dir.filePath(QStringLiteral("bad-tiles.tif"));
    {
        QFile f(bad);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(handTiledTiff(20, 18, 285212688, 16, 4096));
    }
    {
        LogCapture log;
        auto img = loadFile(bad);
        QVERIFY(!img->ready());
        QVERIFY2(log.contains(QStringLiteral("TIFF tile size does not fit the image")),
            qPrintable(log.lines().join(QLatin1Char('\n'))));
    }
    const QString good = dir.filePath(QStringLiteral("good-tiles.tif"));
    {
        QFile f(good);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(handTiledTiff(20, 18, 32, 32, 32 * 32 * 4));
    }
    auto img = loadFile(good);
    QVERIFY(img->ready());
    QCOMPARE(img->width(), 20);
    QCOMPARE(img->value(19, 17), 0.0);
}

VORLO_TEST(TestTiff)
#include "test_tiff.moc"
