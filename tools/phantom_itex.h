#pragma once
// Writing ITEX image files, the detector's own format, as the program reads them.
//
// Layout: a 64-byte header ("IM", comment length L as unsigned 16-bit
// little-endian, then width, height, x and y offset and a pixel-type code as
// unsigned 16-bit numbers, the rest zero), the comment of L ASCII bytes from
// byte 64, then the pixel block: height rows top to bottom of width unsigned
// little-endian pixels of 2 or 4 bytes, [y][x].
//
// The comment always carries "Prop_ImageWidth=", "Prop_ImageHeight=" and
// "BytesPerPixel=", each entry followed by a comma (the reader only examines
// entries that a comma closes).
#include <QString>
#include <QStringList>
#include <vector>

// Writes counts (width * height values, [y][x]) to path, each rounded to the
// nearest integer and clamped to the pixel range (0 ... 65535 for 2 bytes per
// pixel, 0 ... 4294967295 for 4). extraEntries are appended to the comment as
// "key=value" entries (they must not contain commas outside quotes). The file
// replaces an old one only once it is complete. False, with a log line, on a
// size or pixel width that cannot be written, or when the file cannot be written.
bool writeItexImage(const QString &path, int width, int height, int bytesPerPixel,
    const std::vector<double> &counts, const QStringList &extraEntries = {});
