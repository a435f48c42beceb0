#include "image/img_data.h"

#include "image/pixel_block.h"
#include "image/tiff_messages.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <tiffio.h>

namespace {

// Largest decoded image accepted. Within it, the memory for the pixels is
// what the header's width x height x sample size says: a compressed file may
// expand by any ratio (a constant image in one LZW strip expands more than
// 1000 times, ZSTD and LZMA far more), and decoding stops at the first strip
// or tile that does not deliver its rows.
constexpr qint64 maxPixels = qint64(1) << 30;
// Decoded (compressed) images are also held to 1 GiB of pixels in memory.
constexpr qint64 maxDecodedBytes = qint64(1) << 30;

struct TiffFile {
    TIFF *tif = nullptr;
    explicit TiffFile(const QString &path)
    {
        TIFFOpenOptions *opts = TIFFOpenOptionsAlloc();
        TIFFOpenOptionsSetErrorHandlerExtR(opts, logTiffError, nullptr);
        TIFFOpenOptionsSetWarningHandlerExtR(opts, ignoreTiffWarning, nullptr);
        TIFFOpenOptionsSetMaxSingleMemAlloc(opts, tmsize_t(256) << 20);
        tif = TIFFOpenExt(QFile::encodeName(path).constData(), "rm", opts);
        TIFFOpenOptionsFree(opts);
    }
    ~TiffFile()
    {
        if (tif)
            TIFFClose(tif);
    }
    TiffFile(const TiffFile &) = delete;
    TiffFile &operator=(const TiffFile &) = delete;
};

struct TiffLayout {
    quint32 width = 0;
    quint32 height = 0;
    quint16 bits = 0;
    quint16 format = 0;
    quint16 samples = 0;
    quint16 photometric = 0;
    quint16 compression = 0;
};

// The pixel format of a single-sample greyscale image, or None.
PixelFormat formatOf(const TiffLayout &t)
{
    if (t.samples != 1)
        return PixelFormat::None;
    if (t.photometric != PHOTOMETRIC_MINISBLACK && t.photometric != PHOTOMETRIC_MINISWHITE)
        return PixelFormat::None;
    switch (t.format) {
    case SAMPLEFORMAT_UINT:
        return t.bits == 8 ? PixelFormat::U8
            : t.bits == 16 ? PixelFormat::U16
            : t.bits == 32 ? PixelFormat::U32
                           : PixelFormat::None;
    case SAMPLEFORMAT_INT:
        return t.bits == 8 ? PixelFormat::I8
            : t.bits == 16 ? PixelFormat::I16
            : t.bits == 32 ? PixelFormat::I32
                           : PixelFormat::None;
    case SAMPLEFORMAT_IEEEFP:
        return t.bits == 32 ? PixelFormat::F32 : PixelFormat::None;
    default:
        return PixelFormat::None;
    }
}

TiffLayout layoutOf(TIFF *tif)
{
    TiffLayout t;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &t.width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &t.height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &t.bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &t.format);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &t.samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &t.compression);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &t.photometric))
        t.photometric = PHOTOMETRIC_MINISBLACK;
    return t;
}

bool readStrips(TIFF *tif, unsigned char *dst, std::size_t rowBytes, quint32 height)
{
    quint32 rowsPerStrip = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    rowsPerStrip = std::clamp<quint32>(rowsPerStrip, 1, height);
    const std::size_t total = rowBytes * height;
    const quint32 strips = TIFFNumberOfStrips(tif);
    std::size_t done = 0;
    for (quint32 s = 0; s < strips && done < total; ++s) {
        const std::size_t want = std::min<std::size_t>(rowBytes * rowsPerStrip, total - done);
        const tmsize_t got = TIFFReadEncodedStrip(tif, s, dst + done, tmsize_t(want));
        if (got < 0 || std::size_t(got) < want)
            return false;
        done += want;
    }
    return done == total;
}

bool readTiles(TIFF *tif, unsigned char *dst, int bytes, quint32 width, quint32 height)
{
    quint32 tw = 0;
    quint32 th = 0;
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tw);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &th);
    if (tw == 0 || th == 0)
        return false;
    const tmsize_t tileSize = TIFFTileSize(tif);
    if (tileSize <= 0 || std::size_t(tileSize) < std::size_t(tw) * th * std::size_t(bytes))
        return false;
    // Tile sizes are multiples of 16; one larger than the image so rounded is
    // of no use and would have the reader allocate what the header claims.
    const auto roundUp = [](quint32 v) { return (quint64(v) + 15) / 16 * 16; };
    const quint64 wholeImage = roundUp(width) * roundUp(height) * quint64(bytes);
    if (quint64(tw) > roundUp(width) * 16 || quint64(th) > roundUp(height) * 16
        || quint64(tileSize) > std::max<quint64>(wholeImage, quint64(1) << 20)) {
        qDebug() << "TIFF tile size does not fit the image :"
                 << qPrintable(QStringLiteral("tiles of %1 x %2 for %3 x %4 :")
                                   .arg(tw)
                                   .arg(th)
                                   .arg(width)
                                   .arg(height));
        return false;
    }
    auto tile = PixelBlock::allocate(std::size_t(tileSize));
    if (!tile)
        return false;
    unsigned char *buf = tile->writableData();
    const std::size_t rowBytes = std::size_t(width) * std::size_t(bytes);
    for (quint32 y0 = 0; y0 < height; y0 += th) {
        for (quint32 x0 = 0; x0 < width; x0 += tw) {
            if (TIFFReadTile(tif, buf, x0, y0, 0, 0) < 0)
                return false;
            const quint32 rows = std::min(th, height - y0);
            const std::size_t n = std::size_t(std::min(tw, width - x0)) * std::size_t(bytes);
            for (quint32 r = 0; r < rows; ++r)
                std::memcpy(dst + std::size_t(y0 + r) * rowBytes + std::size_t(x0) * bytes,
                    buf + std::size_t(r) * tw * std::size_t(bytes), n);
        }
    }
    return true;
}

// Uncompressed strips in host byte order that follow each other without a gap
// are the pixel block itself: map them instead of copying, like ITEX pixels.
std::unique_ptr<PixelBlock> mapPlainStrips(
    TIFF *tif, const QString &path, quint16 compression, std::size_t rowBytes, quint32 height)
{
    if (compression != COMPRESSION_NONE || TIFFIsTiled(tif) || TIFFIsByteSwapped(tif))
        return nullptr;
    quint32 rowsPerStrip = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    rowsPerStrip = std::clamp<quint32>(rowsPerStrip, 1, height);
    const quint32 strips = (height + rowsPerStrip - 1) / rowsPerStrip;
    if (TIFFNumberOfStrips(tif) < strips)
        return nullptr;
    const quint64 stripBytes = quint64(rowBytes) * rowsPerStrip;
    const quint64 total = quint64(rowBytes) * height;
    const quint64 first = TIFFGetStrileOffset(tif, 0);
    for (quint32 s = 0; s < strips; ++s) {
        const quint64 want = std::min<quint64>(stripBytes, total - quint64(s) * stripBytes);
        if (TIFFGetStrileOffset(tif, s) != first + quint64(s) * stripBytes
            || TIFFGetStrileByteCount(tif, s) < want)
            return nullptr;
    }
    if (first == 0 || first > quint64(std::numeric_limits<qint64>::max()) - total)
        return nullptr;
    return PixelBlock::mapFile(path, qint64(first), qint64(total));
}

} // namespace

ImgDataTiff::ImgDataTiff() { init(); }

ImgDataTiff::~ImgDataTiff() = default;

void ImgDataTiff::init() { tiffFlags_ = 0; }

bool ImgDataTiff::readProps(const QString &path, int &width, int &height)
{
    tiffFlags_ = 0;
    width = 0;
    height = 0;
    TiffFile file(path);
    if (!file.tif) {
        qDebug() << "Can not open TIFF file to read props." << path;
        return false;
    }
    const TiffLayout t = layoutOf(file.tif);
    const PixelFormat format = formatOf(t);
    if (format == PixelFormat::None) {
        qDebug() << "Unsupported TIFF image (only single-sample greyscale of 8, 16 or 32 bits) :"
                 << qPrintable(QStringLiteral("%1 samples of %2 bits, sample format %3,"
                                              " photometric %4 :")
                                   .arg(t.samples)
                                   .arg(t.bits)
                                   .arg(t.format)
                                   .arg(t.photometric))
                 << path;
        return false;
    }
    if (!TIFFIsCODECConfigured(t.compression)) {
        qDebug() << "TIFF file with an unsupported compression :" << t.compression << path;
        return false;
    }
    const qint64 pixels = qint64(t.width) * qint64(t.height);
    const qint64 bytes = pixels * bytesOf(format);
    const qint64 fileSize = QFileInfo(path).size();
    // Plain pixels must all be in the file; compressed ones only in the image.
    const bool plainTooLong = t.compression == COMPRESSION_NONE && bytes > fileSize;
    const bool decodedTooLarge = t.compression != COMPRESSION_NONE && bytes > maxDecodedBytes;
    if (t.width == 0 || t.height == 0 || t.width > quint32(std::numeric_limits<int>::max())
        || t.height > quint32(std::numeric_limits<int>::max()) || pixels > maxPixels || plainTooLong
        || decodedTooLarge) {
        qDebug()
            << "TIFF image size does not fit the file :"
            << qPrintable(
                   QStringLiteral("(%1, %2), %3 bytes :").arg(t.width).arg(t.height).arg(fileSize))
            << path;
        return false;
    }
    width = int(t.width);
    height = int(t.height);
    setPixelFormat(format);
    return true;
}

bool ImgDataTiff::open()
{
    // TIFF pixels are always held in memory, whatever keepInMemory says:
    // mapped when the file holds them plainly, decoded otherwise.
    TiffFile file(fileName());
    if (!file.tif) {
        qDebug() << "Can not open TIFF file" << fileName();
        return false;
    }
    const TiffLayout t = layoutOf(file.tif);
    const PixelFormat format = formatOf(t);
    if (format != pixelFormat() || int(t.width) != width() || int(t.height) != height()) {
        qDebug() << "TIFF file changed while loading" << fileName();
        return false;
    }
    const int bytes = bytesOf(format);
    const std::size_t rowBytes = std::size_t(width()) * std::size_t(bytes);
    auto mapped = mapFile()
        ? mapPlainStrips(file.tif, fileName(), t.compression, rowBytes, t.height)
        : nullptr;
    if (mapped) {
        setPixels(std::move(mapped), format);
        return true;
    }
    auto block = PixelBlock::allocate(rowBytes * std::size_t(height()));
    if (!block) {
        qDebug() << "Not enough memory for TIFF image" << fileName();
        return false;
    }
    const bool ok = TIFFIsTiled(file.tif)
        ? readTiles(file.tif, block->writableData(), bytes, t.width, t.height)
        : readStrips(file.tif, block->writableData(), rowBytes, t.height);
    if (!ok) {
        qDebug() << "Can not decode TIFF file" << fileName();
        return false;
    }
    setPixels(std::move(block), format);
    return true;
}

double *ImgDataTiff::row(int i, double *buffer) const
{
    return ready() && hasPixels() ? rowFromPixels(i, buffer) : buffer;
}

double *ImgDataTiff::column(int j, double *buffer) const
{
    return ready() && hasPixels() ? columnFromPixels(j, buffer) : buffer;
}
