#include "ct/float_tiff.h"

#include "image/tiff_messages.h"
#include "util/safe_file.h"

#include <QDebug>
#include <QFile>
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// A TIFF file that libtiff writes into memory.
struct MemoryTiff {
    QByteArray bytes;
    qint64 pos = 0;
    bool failed = false;
};

tmsize_t memRead(thandle_t h, void *buf, tmsize_t n)
{
    auto *m = static_cast<MemoryTiff *>(h);
    const qint64 avail = std::max<qint64>(0, m->bytes.size() - m->pos);
    const qint64 got = std::min<qint64>(avail, n);
    if (got > 0)
        std::memcpy(buf, m->bytes.constData() + m->pos, size_t(got));
    m->pos += got;
    return tmsize_t(got);
}

tmsize_t memWrite(thandle_t h, void *buf, tmsize_t n)
{
    auto *m = static_cast<MemoryTiff *>(h);
    const qint64 end = m->pos + qint64(n);
    if (n < 0 || end > (qint64(1) << 31) - 1) {
        m->failed = true;
        return -1;
    }
    if (end > m->bytes.size())
        m->bytes.resize(qsizetype(end), '\0');
    std::memcpy(m->bytes.data() + m->pos, buf, size_t(n));
    m->pos = end;
    return n;
}

toff_t memSeek(thandle_t h, toff_t off, int whence)
{
    auto *m = static_cast<MemoryTiff *>(h);
    qint64 base = 0;
    if (whence == SEEK_CUR)
        base = m->pos;
    else if (whence == SEEK_END)
        base = m->bytes.size();
    const qint64 to = base + qint64(off);
    if (to < 0)
        return toff_t(-1);
    m->pos = to;
    return toff_t(to);
}

int memClose(thandle_t) { return 0; }

toff_t memSize(thandle_t h) { return toff_t(static_cast<MemoryTiff *>(h)->bytes.size()); }

int memMap(thandle_t, void **, toff_t *) { return 0; }

void memUnmap(thandle_t, void *, toff_t) { }

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

QByteArray encodeFloatTiff(const float *values, int width, int height)
{
    // Classic TIFF holds at most 4 GiB; the grids here are far smaller.
    const qint64 bytes = qint64(width) * qint64(height) * qint64(sizeof(float));
    if (!values || width <= 0 || height <= 0 || bytes >= (qint64(1) << 31) - (qint64(1) << 20))
        return {};
    MemoryTiff mem;
    mem.bytes.reserve(qsizetype(bytes) + 4096);
    TIFFOpenOptions *opts = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(opts, logTiffError, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(opts, ignoreTiffWarning, nullptr);
    TIFF *tif = TIFFClientOpenExt("float tiff", "wm", &mem, memRead, memWrite, memSeek, memClose,
        memSize, memMap, memUnmap, opts);
    TIFFOpenOptionsFree(opts);
    if (!tif)
        return {};
    bool ok = writeTo(tif, values, width, height);
    ok = TIFFWriteDirectory(tif) && ok;
    ok = TIFFFlush(tif) && ok;
    TIFFClose(tif);
    return ok && !mem.failed ? mem.bytes : QByteArray();
}

bool writeFloatTiff(const QString &path, const float *values, int width, int height)
{
    const QByteArray file = encodeFloatTiff(values, width, height);
    if (file.isEmpty()) {
        qDebug() << "Can't write file : " << path << "(image size" << width << "x" << height << ")";
        return false;
    }
    // Whole under its name or not at all, so that a viewer watching the folder
    // never opens a half-written slice and an older file of the same name
    // stays until the new one is complete.
    return writeWholeFile(path, file);
}
