#include "tools/phantom_itex.h"

#include <QByteArray>
#include <QDebug>
#include <QSaveFile>
#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

void putU16(char *at, unsigned v) { qToLittleEndian<quint16>(quint16(v), at); }

} // namespace

bool writeItexImage(const QString &path, int width, int height, int bytesPerPixel,
    const std::vector<double> &counts, const QStringList &extraEntries)
{
    if (width <= 0 || height <= 0 || width > 65535 || height > 65535
        || (bytesPerPixel != 2 && bytesPerPixel != 4)
        || counts.size() != std::size_t(width) * std::size_t(height)) {
        qDebug() << "Can not write ITEX image of this size or pixel width :"
                 << qPrintable(
                        QStringLiteral("(%1, %2) x %3 :").arg(width).arg(height).arg(bytesPerPixel))
                 << path;
        return false;
    }

    QString comment = QStringLiteral("Prop_ImageWidth=%1,Prop_ImageHeight=%2,BytesPerPixel=%3,")
                          .arg(width)
                          .arg(height)
                          .arg(bytesPerPixel);
    for (const QString &e : extraEntries)
        comment += e + QLatin1Char(',');
    const QByteArray text = comment.toLatin1();
    if (text.size() > 65535) {
        qDebug() << "ITEX comment too long :" << path;
        return false;
    }

    QByteArray head(64, '\0');
    head[0] = 'I';
    head[1] = 'M';
    putU16(head.data() + 2, unsigned(text.size()));
    putU16(head.data() + 4, unsigned(width));
    putU16(head.data() + 6, unsigned(height));
    // Bytes 8-11: offset of the read-out area (0, 0); 12-13: pixel type, 2 for
    // 16-bit and 3 for 32-bit pixels.
    putU16(head.data() + 12, bytesPerPixel == 2 ? 2u : 3u);

    const double top = bytesPerPixel == 2 ? 65535.0 : 4294967295.0;
    QByteArray pixels(qsizetype(counts.size()) * bytesPerPixel, '\0');
    char *dst = pixels.data();
    for (const double c : counts) {
        // NaN ends up as 0, like any value below the range.
        const double v = c > 0.0 ? std::min(std::floor(c + 0.5), top) : 0.0;
        if (bytesPerPixel == 2) {
            qToLittleEndian<quint16>(quint16(v), dst);
            dst += 2;
        } else {
            qToLittleEndian<quint32>(quint32(v), dst);
            dst += 4;
        }
    }

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(head) != head.size()
        || file.write(text) != text.size() || file.write(pixels) != pixels.size()
        || !file.commit()) {
        qDebug() << "Can not write ITEX image :" << path;
        return false;
    }
    return true;
}
