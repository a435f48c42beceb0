#include "ct/float_tiff.h"

#include "image/tiff_messages.h"

#include <QDebug>
#include <QFile>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <tiffio.h>

namespace {

// Strips of about 64 KiB keep a reader's memory small and each write large.
quint32 rowsPerStrip(int width)
{
    const qint64 rowBytes = qint64(width) * qint64(sizeof(float));
    const qint64 rows = (qint64(64) << 10) / rowBytes;
    return quint32(rows < 1 ? 1 : rows);
}

bool writeTo(TIFF *tif, const float *values, int width, int height)
{
    const quint32 strip = rowsPerStrip(width);
    bool ok = TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, quint32(width))
        && TIFFSetField(tif, TIFFTAG_IMAGELENGTH, quint32(height))
        && TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, quint16(1))
        && TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, quint16(32))
        && TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, quint16(SAMPLEFORMAT_IEEEFP))
        && TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, quint16(PHOTOMETRIC_MINISBLACK))
        && TIFFSetField(tif, TIFFTAG_PLANARCONFIG, quint16(PLANARCONFIG_CONTIG))
        && TIFFSetField(tif, TIFFTAG_COMPRESSION, quint16(COMPRESSION_NONE))
        && TIFFSetField(tif, TIFFTAG_ORIENTATION, quint16(ORIENTATION_TOPLEFT))
        && TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, strip)
        && TIFFSetField(tif, TIFFTAG_XRESOLUTION, 1.0f)
        && TIFFSetField(tif, TIFFTAG_YRESOLUTION, 1.0f)
        && TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, quint16(RESUNIT_NONE))
        && TIFFSetField(tif, TIFFTAG_SOFTWARE, "Vorlo2");
    const tmsize_t rowBytes = tmsize_t(width) * tmsize_t(sizeof(float));
    for (quint32 y0 = 0; ok && y0 < quint32(height); y0 += strip) {
        const quint32 rows = qMin(strip, quint32(height) - y0);
        // libtiff does not change the data of an uncompressed strip.
        void *data = const_cast<float *>(values + qsizetype(y0) * width);
        ok = TIFFWriteEncodedStrip(tif, y0 / strip, data, rowBytes * tmsize_t(rows)) >= 0;
    }
    return ok;
}

} // namespace

std::vector<float> floatGrid(const double *values, int width, int height)
{
    if (!values || width <= 0 || height <= 0)
        return {};
    const size_t count = size_t(width) * size_t(height);
    std::vector<float> out(count);
    for (size_t i = 0; i < count; ++i)
        out[i] = float(values[i]);
    return out;
}

bool writeFloatTiff(const QString &path, const float *values, int width, int height)
{
    // Classic TIFF holds at most 4 GiB; the grids here are far smaller.
    const qint64 bytes = qint64(width) * qint64(height) * qint64(sizeof(float));
    if (!values || width <= 0 || height <= 0 || bytes >= (qint64(1) << 32) - (qint64(1) << 20)) {
        qDebug() << "Can't write file : " << path << "(image size" << width << "x" << height << ")";
        return false;
    }
    // Written under a temporary name and renamed when complete, so that a
    // viewer watching the folder never opens a half-written slice and an
    // older file of the same name stays until the new one is whole.
    const QString part = path + QStringLiteral(".part");
    const QByteArray partName = QFile::encodeName(part);
    TIFFOpenOptions *opts = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(opts, logTiffError, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(opts, ignoreTiffWarning, nullptr);
    TIFF *tif = TIFFOpenExt(partName.constData(), "w", opts);
    TIFFOpenOptionsFree(opts);
    if (!tif) {
        qDebug() << "Can't write file : " << path;
        return false;
    }
    bool ok = writeTo(tif, values, width, height);
    ok = TIFFWriteDirectory(tif) && ok;
    ok = TIFFFlush(tif) && ok;
    TIFFClose(tif);
    ok = ok && std::rename(partName.constData(), QFile::encodeName(path).constData()) == 0;
    if (!ok) {
        QFile::remove(part);
        qDebug() << "Can't write file : " << path;
    }
    return ok;
}
