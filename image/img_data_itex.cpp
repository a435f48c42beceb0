#include "image/img_data.h"

#include "image/pixel_block.h"
#include "util/text_util.h"

#include <QDebug>
#include <QFile>
#include <QtEndian>
#include <algorithm>
#include <limits>
#include <vector>

namespace {

const QString keyWidth = QStringLiteral("Prop_ImageWidth=");
const QString keyHeight = QStringLiteral("Prop_ImageHeight=");
const QString keyBytes = QStringLiteral("BytesPerPixel=");
const QString keyArea = QStringLiteral("areSource=");

// A base-10 integer within 32 bits, else 0.
int toInt(const QString &text)
{
    bool ok = false;
    const int v = text.toInt(&ok, 10);
    return ok ? v : 0;
}

// The first item of the value after the key; an empty value gives 0.
int firstIntAfterKey(const QString &item, const QString &key)
{
    const QStringList items = itemsAfterKey(item, key);
    return items.isEmpty() ? 0 : toInt(items.first());
}

// "areSource=" holds the corners x0, y0, x1, y1 of the read-out area.
void readArea(const QString &item, int &areaWidth, int &areaHeight)
{
    QString rest = item.mid(keyArea.size());
    rest.replace(QLatin1Char(','), QLatin1Char(' '));
    rest.remove(QLatin1Char('"'));
    qint64 v[4];
    for (qint64 &x : v) {
        QString one;
        rest = takeFirstItem(rest, one);
        x = toInt(one);
    }
    const auto fit = [](qint64 d) {
        return d >= std::numeric_limits<int>::min() && d <= std::numeric_limits<int>::max() ? int(d)
                                                                                            : 0;
    };
    areaWidth = fit(v[2] - v[0]);
    areaHeight = fit(v[3] - v[1]);
}

} // namespace

ImgDataITEX::ImgDataITEX() { init(); }

ImgDataITEX::~ImgDataITEX() = default;

void ImgDataITEX::init()
{
    dataOffset_ = 0;
    bytesPerPixel_ = 0;
}

bool ImgDataITEX::readProps(const QString &path, int &width, int &height)
{
    width = 0;
    height = 0;
    dataOffset_ = 0;
    bytesPerPixel_ = 0;

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qDebug() << "Can not open ITEX file to read props." << path;
        return false;
    }
    const QByteArray head = file.read(10);
    if (head.size() < 10) {
        qDebug() << "Error on reading ITEX file props." << path;
        return false;
    }
    // Bytes 2-3: length of the comment that starts at byte 64 (little-endian).
    const int commentLength = int(uchar(head[2])) | (int(uchar(head[3])) << 8);
    dataOffset_ = 64 + commentLength;
    if (commentLength == 0)
        return false;

    // The comment is read as exactly its length in bytes, so that line ends or
    // multi-byte characters never pull pixel bytes into the last entry.
    QByteArray raw;
    if (file.seek(64))
        raw = file.read(commentLength);
    if (raw.size() < commentLength) {
        qDebug() << "ITEX file ends inside its comment." << path;
        return false;
    }
    while (raw.endsWith('\0'))
        raw.chop(1);
    const QString comment = QString::fromUtf8(raw);

    // Entries are separated by commas outside double quotes; the quotes stay
    // in the entry. The entry after the last comma counts as well: camera
    // programs do not always end the comment with a comma.
    int areaWidth = 0;
    int areaHeight = 0;
    int bytes = 0;
    const auto examine = [&](const QString &item) {
        if (startsWithKey(item, keyWidth))
            width = firstIntAfterKey(item, keyWidth);
        else if (startsWithKey(item, keyHeight))
            height = firstIntAfterKey(item, keyHeight);
        else if (startsWithKey(item, keyBytes))
            bytes = firstIntAfterKey(item, keyBytes);
        else if (startsWithKey(item, keyArea))
            readArea(item, areaWidth, areaHeight);
    };
    QString item;
    bool quoted = false;
    for (const QChar c : comment) {
        if (c == QLatin1Char('"')) {
            quoted = !quoted;
            item += c;
        } else if (c == QLatin1Char(',') && !quoted) {
            examine(item);
            item.clear();
        } else {
            item += c;
        }
    }
    examine(item);

    if (width <= 0)
        width = areaWidth;
    if (height <= 0)
        height = areaHeight;
    if (width <= 0 || height <= 0)
        return false;

    // Never trust the header's sizes beyond what the file holds.
    const qint64 pixelCount = qint64(width) * qint64(height);
    const qint64 available = file.size() - dataOffset_;
    if (bytes == 0) {
        // No usable "BytesPerPixel=": only a block of exactly 2 or 4 bytes per
        // pixel tells the pixel width without guessing.
        if (available == pixelCount * 2) {
            bytes = 2;
        } else if (available % 4 == 0 && available / 4 == pixelCount) {
            bytes = 4;
        } else {
            qDebug() << "ITEX file without BytesPerPixel and a pixel block of neither 2 nor 4 bytes"
                        " per pixel :"
                     << qPrintable(QStringLiteral("(%1, %2), %3 bytes :")
                                       .arg(width)
                                       .arg(height)
                                       .arg(std::max<qint64>(available, 0)))
                     << path;
            return false;
        }
    }
    if (bytes != 2 && bytes != 4) {
        qDebug() << "ITEX file with unsupported BytesPerPixel :" << bytes << path;
        return false;
    }
    if (available < 0 || pixelCount > available / bytes) {
        qDebug() << "ITEX pixel block is shorter than the image size :"
                 << qPrintable(QStringLiteral("(%1, %2) x %3 bytes > %4 bytes :")
                                   .arg(width)
                                   .arg(height)
                                   .arg(bytes)
                                   .arg(std::max<qint64>(available, 0)))
                 << path;
        return false;
    }
    bytesPerPixel_ = bytes;
    return true;
}

bool ImgDataITEX::open()
{
    const PixelFormat format = bytesPerPixel_ == 2 ? PixelFormat::U16 : PixelFormat::U32;
    const qint64 length = qint64(width()) * qint64(height()) * bytesPerPixel_;
    if (!keepInMemory()) {
        // File-reading mode: every read opens the file on its own handle, so
        // no descriptor is held between reads.
        QFile file(fileName());
        if (!file.open(QIODevice::ReadOnly) || file.size() - dataOffset_ < length) {
            qDebug() << "Can not open ITEX file" << fileName();
            return false;
        }
        setPixelFormat(format);
        return true;
    }
    std::unique_ptr<PixelBlock> block;
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    if (mapFile())
        block = PixelBlock::mapFile(fileName(), dataOffset_, length);
#endif
    if (!block)
        block = PixelBlock::readFile(fileName(), dataOffset_, length);
    if (!block) {
        qDebug() << "Can not open ITEX file" << fileName();
        return false;
    }
#if Q_BYTE_ORDER == Q_BIG_ENDIAN
    // Pixels are held in host order; the file's are little-endian.
    unsigned char *p = block->writableData();
    if (bytesPerPixel_ == 2)
        qFromLittleEndian<quint16>(p, length / 2, p);
    else
        qFromLittleEndian<quint32>(p, length / 4, p);
#endif
    setPixels(std::move(block), format);
    return true;
}

bool ImgDataITEX::readBlock(qint64 pos, qint64 len, unsigned char *dst) const
{
    QFile file(fileName());
    if (!file.open(QIODevice::ReadOnly) || !file.seek(pos))
        return false;
    qint64 done = 0;
    while (done < len) {
        const qint64 n = file.read(reinterpret_cast<char *>(dst + done), len - done);
        if (n <= 0)
            return false;
        done += n;
    }
#if Q_BYTE_ORDER == Q_BIG_ENDIAN
    if (bytesPerPixel_ == 2)
        qFromLittleEndian<quint16>(dst, len / 2, dst);
    else
        qFromLittleEndian<quint32>(dst, len / 4, dst);
#endif
    return true;
}

double *ImgDataITEX::row(int i, double *buffer) const
{
    if (!ready())
        return buffer;
    if (hasPixels())
        return rowFromPixels(i, buffer);
    const std::size_t rowBytes = std::size_t(width()) * std::size_t(bytesPerPixel_);
    std::vector<unsigned char> line(rowBytes);
    if (!readBlock(dataOffset_ + qint64(i) * qint64(rowBytes), qint64(rowBytes), line.data())) {
        qDebug() << "Can not read ITEX file" << fileName();
        std::fill(buffer, buffer + width(), 0.0);
        return buffer;
    }
    convert(line.data(), pixelFormat(), width(), std::size_t(bytesPerPixel_), buffer);
    return buffer;
}

double *ImgDataITEX::column(int j, double *buffer) const
{
    if (!ready())
        return buffer;
    if (hasPixels())
        return columnFromPixels(j, buffer);
    // File-reading mode: walk the pixel block in bands of rows of a few MB.
    const std::size_t b = std::size_t(bytesPerPixel_);
    const std::size_t rowBytes = std::size_t(width()) * b;
    const int band
        = int(std::clamp<std::size_t>((std::size_t(4) << 20) / rowBytes, 1, std::size_t(height())));
    std::vector<unsigned char> chunk(rowBytes * std::size_t(band));
    for (int i0 = 0; i0 < height(); i0 += band) {
        const int rows = std::min(band, height() - i0);
        if (!readBlock(dataOffset_ + qint64(i0) * qint64(rowBytes), qint64(rowBytes) * rows,
                chunk.data())) {
            qDebug() << "Can not read ITEX file" << fileName();
            std::fill(buffer, buffer + height(), 0.0);
            return buffer;
        }
        convert(chunk.data() + std::size_t(j) * b, pixelFormat(), rows, rowBytes, buffer + i0);
    }
    return buffer;
}
