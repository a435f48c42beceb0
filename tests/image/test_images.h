#pragma once
// Writers of small image files for the image tests, and a capture of the
// debug log.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <cstdint>
#include <vector>

namespace testimg {

// An ITEX file: "IM", the comment length, 60 header bytes, the comment, then
// the pixel bytes as given.
QByteArray itexBytes(const QByteArray &comment, const QByteArray &pixels);
// Little-endian pixel bytes of 16- or 32-bit values.
QByteArray pixels16(const std::vector<quint16> &v);
QByteArray pixels32(const std::vector<quint32> &v);
// A comment with the three size entries, each followed by a comma.
QByteArray sizeComment(int width, int height, int bytesPerPixel);
bool writeFile(const QString &path, const QByteArray &bytes);

// The value of pixel (x, y) in the test pattern of the given size: distinct
// for every pixel and not symmetric in x and y.
inline quint32 pattern(int x, int y, int width) { return quint32(y * width + x) * 7u + 3u; }

enum class TiffLayout { Strips, Tiles };
struct TiffKind {
    int width = 0;
    int height = 0;
    int bits = 16;
    int sampleFormat = 1; // SAMPLEFORMAT_UINT
    int samples = 1;
    int photometric = 1; // PHOTOMETRIC_MINISBLACK
    int compression = 1; // COMPRESSION_NONE
    TiffLayout layout = TiffLayout::Strips;
    int rowsPerStrip = 3;
    int tileSize = 16;
    bool bigEndian = false;
    int rowsWritten = -1; // fewer rows than height leave the last strips empty
};
// Writes a TIFF of the kind whose pixel (x, y) holds the sample bytes of
// data[(y * width + x) * samples ...]; data holds the samples in host order.
bool writeTiff(const QString &path, const TiffKind &kind, const QByteArray &data);

// Collects every debug message while it lives.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    const QStringList &lines() const;
    bool contains(const QString &part) const;
};

// Number of file descriptors the process holds open.
int openDescriptors();

} // namespace testimg
