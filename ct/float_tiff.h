#pragma once
// Reconstructed slices as 32-bit IEEE float TIFF files: one sample per pixel,
// rows top to bottom, resolution one unit per pixel. Image viewers open a
// folder of them as a stack of slices.
#include <QByteArray>
#include <QString>
#include <vector>

// The grid's values (row-major, values[y * width + x]) rounded to float.
std::vector<float> floatGrid(const double *values, int width, int height);

// The whole TIFF file of the values, made in memory; empty when the size is
// impossible or the encoding fails.
QByteArray encodeFloatTiff(const float *values, int width, int height);

// Writes the values as a float TIFF; false (logged with the path) when the
// size is impossible or the file cannot be written completely. The file
// appears under its name only when complete; a failed write leaves an older
// file of that name as it was.
bool writeFloatTiff(const QString &path, const float *values, int width, int height);
