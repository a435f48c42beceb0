#include "tests/image/test_images.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QtEndian>
#include <cstring>
#include <tiffio.h>

namespace testimg {

QByteArray itexBytes(const QByteArray &comment, const QByteArray &pixels)
{
    QByteArray head(64, '\0');
    head[0] = 'I';
    head[1] = 'M';
    qToLittleEndian<quint16>(quint16(comment.size()), head.data() + 2);
    return head + comment + pixels;
}

QByteArray pixels16(const std::vector<quint16> &v)
{
    QByteArray b(int(v.size() * 2), '\0');
    for (std::size_t k = 0; k < v.size(); ++k)
        qToLittleEndian<quint16>(v[k], b.data() + 2 * k);
    return b;
}

QByteArray pixels32(const std::vector<quint32> &v)
{
    QByteArray b(int(v.size() * 4), '\0');
    for (std::size_t k = 0; k < v.size(); ++k)
        qToLittleEndian<quint32>(v[k], b.data() + 4 * k);
    return b;
}

QByteArray sizeComment(int width, int height, int bytesPerPixel)
{
    return QStringLiteral("Prop_ImageWidth=%1,Prop_ImageHeight=%2,BytesPerPixel=%3,")
        .arg(width)
        .arg(height)
        .arg(bytesPerPixel)
        .toLatin1();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

bool writeTiff(const QString &path, const TiffKind &s, const QByteArray &data)
{
    TIFF *tif = TIFFOpen(QFile::encodeName(path).constData(), s.bigEndian ? "wb" : "wl");
    if (!tif)
        return false;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, quint32(s.width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, quint32(s.height));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, quint16(s.bits));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, quint16(s.samples));
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, quint16(s.sampleFormat));
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, quint16(s.photometric));
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, quint16(PLANARCONFIG_CONTIG));
    TIFFSetField(tif, TIFFTAG_COMPRESSION, quint16(s.compression));
    if (s.photometric == PHOTOMETRIC_PALETTE) {
        std::vector<quint16> map(std::size_t(1) << s.bits, 0);
        TIFFSetField(tif, TIFFTAG_COLORMAP, map.data(), map.data(), map.data());
    }
    const int pixelBytes = s.bits / 8 * s.samples;
    const int rowBytes = s.width * pixelBytes;
    bool ok = data.size() >= rowBytes * s.height;
    if (ok && s.layout == TiffLayout::Strips) {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, quint32(s.rowsPerStrip));
        const int rows = s.rowsWritten >= 0 ? std::min(s.rowsWritten, s.height) : s.height;
        for (int y = 0; ok && y < rows; ++y) {
            QByteArray line = data.mid(y * rowBytes, rowBytes);
            ok = TIFFWriteScanline(tif, line.data(), quint32(y), 0) >= 0;
        }
    } else if (ok) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, quint32(s.tileSize));
        TIFFSetField(tif, TIFFTAG_TILELENGTH, quint32(s.tileSize));
        QByteArray tile(s.tileSize * s.tileSize * pixelBytes, '\0');
        for (int y0 = 0; ok && y0 < s.height; y0 += s.tileSize) {
            for (int x0 = 0; ok && x0 < s.width; x0 += s.tileSize) {
                tile.fill('\0');
                for (int r = 0; r < s.tileSize && y0 + r < s.height; ++r) {
                    const int n = std::min(s.tileSize, s.width - x0) * pixelBytes;
                    std::memcpy(tile.data() + r * s.tileSize * pixelBytes,
                        data.constData() + (y0 + r) * rowBytes + x0 * pixelBytes, n);
                }
                ok = TIFFWriteTile(tif, tile.data(), quint32(x0), quint32(y0), 0, 0) >= 0;
            }
        }
    }
    TIFFClose(tif);
    return ok;
}

namespace {
    QMutex logMutex;
    QStringList *captured = nullptr;
    QtMessageHandler previous = nullptr;

    void collect(QtMsgType, const QMessageLogContext &, const QString &msg)
    {
        QMutexLocker lock(&logMutex);
        if (captured)
            captured->append(msg);
    }
} // namespace

LogCapture::LogCapture()
{
    QMutexLocker lock(&logMutex);
    captured = new QStringList;
    previous = qInstallMessageHandler(collect);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(previous);
    QMutexLocker lock(&logMutex);
    delete captured;
    captured = nullptr;
}

const QStringList &LogCapture::lines() const { return *captured; }

bool LogCapture::contains(const QString &part) const
{
    QMutexLocker lock(&logMutex);
    for (const QString &l : *captured)
        if (l.contains(part))
            return true;
    return false;
}

int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd"))
                   .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
                   .size());
}

} // namespace testimg
