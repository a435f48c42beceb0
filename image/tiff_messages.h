#pragma once
// libtiff's messages go to the debug log instead of stderr. The handlers are
// given per file (TIFFOpenOptions), so several threads may read and write
// TIFF files at once.
#include <QDebug>
#include <cstdarg>
#include <cstdio>
#include <tiffio.h>

inline int logTiffError(TIFF *, void *, const char *module, const char *fmt, va_list ap)
{
    char text[512];
    std::vsnprintf(text, sizeof text, fmt, ap);
    qDebug() << "TIFF:" << (module ? module : "") << text;
    return 1;
}

inline int ignoreTiffWarning(TIFF *, void *, const char *, const char *, va_list) { return 1; }
