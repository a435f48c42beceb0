#pragma once
// Test fixtures for the CT panels: ITEX files written into a temporary folder
// and an image stack of analytic projections.
#include "image/img_data.h"
#include "image/img_datas.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>

namespace phantom {

// An ITEX file of w x h unsigned pixels of 4 (or 2) bytes, value f(x, y)
// rounded.
inline bool writeItex(const QString &path, int w, int h, const std::function<double(int, int)> &f,
    int bytesPerPixel = 4)
{
    const int bpp = bytesPerPixel == 2 ? 2 : 4;
    const QByteArray comment
        = QStringLiteral("Prop_ImageWidth=%1,Prop_ImageHeight=%2,BytesPerPixel=%3,")
              .arg(w)
              .arg(h)
              .arg(bpp)
              .toLatin1();
    QByteArray data(64, '\0');
    data[0] = 'I';
    data[1] = 'M';
    qToLittleEndian<quint16>(quint16(comment.size()), data.data() + 2);
    data += comment;
    QByteArray px(qsizetype(w) * h * bpp, '\0');
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double v = std::max(0.0, std::round(f(x, y)));
            char *at = px.data() + qsizetype(bpp) * (qsizetype(y) * w + x);
            if (bpp == 2)
                qToLittleEndian<quint16>(quint16(v), at);
            else
                qToLittleEndian<quint32>(quint32(v), at);
        }
    data += px;
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

inline std::unique_ptr<ImgData> loadImage(const QString &path)
{
    std::unique_ptr<ImgData> img(createImgData(fileType(path)));
    if (!img)
        return img;
    img->setKeepInMemory(true);
    img->setFileName(path);
    if (!img->load())
        img.reset();
    return img;
}

// Line integral through a disk of radius r and attenuation mu per pixel whose
// centre lies at detector offset t0.
inline double diskIntegral(double t, double t0, double r, double mu)
{
    const double d = t - t0;
    return std::abs(d) < r ? 2.0 * mu * std::sqrt(r * r - d * d) : 0.0;
}

// A stack of `count` projections of a w x h detector plus I0 and BG images.
// The folder, the stack and the two images live as long as this object.
struct Stack {
    QTemporaryDir dir;
    ImgDatas stack;
    std::unique_ptr<ImgData> i0;
    std::unique_ptr<ImgData> bg;

    Stack()
    {
        stack.setI0Ref(&i0);
        stack.setBgRef(&bg);
    }

    QString path(const QString &name) const { return dir.filePath(name); }

    // Adds projection k with pixel values f(k, x, y).
    bool add(int k, int w, int h, const std::function<double(int, int, int)> &f)
    {
        const QString p = path(QStringLiteral("p%1.img").arg(k, 5, 10, QLatin1Char('0')));
        return writeItex(p, w, h, [&](int x, int y) { return f(k, x, y); }) && stack.add(p);
    }
    bool addAll(int count, int w, int h, const std::function<double(int, int, int)> &f)
    {
        for (int k = 0; k < count; ++k)
            if (!add(k, w, h, f))
                return false;
        return true;
    }
    bool setI0(int w, int h, const std::function<double(int, int)> &f)
    {
        const QString p = path("i0.img");
        if (!writeItex(p, w, h, f))
            return false;
        i0 = loadImage(p);
        return bool(i0);
    }
    bool setBg(int w, int h, const std::function<double(int, int)> &f)
    {
        const QString p = path("bg.img");
        if (!writeItex(p, w, h, f))
            return false;
        bg = loadImage(p);
        return bool(bg);
    }

    // A disk phantom for a vertical rotation axis: every image row is the same
    // detector line. The disk (radius r, attenuation mu per pixel) sits at
    // (dx, dz) from the rotation axis, which is at detector pixel cor; the
    // projection k is taken at angle k * pi / count.
    bool addDisk(int count, int w, int h, double cor, double dx, double dz, double r, double mu,
        double i0v = 1.0e6, double bgv = 100.0)
    {
        if (!setI0(w, h, [=](int, int) { return i0v; })
            || !setBg(w, h, [=](int, int) { return bgv; }))
            return false;
        return addAll(count, w, h, [=](int k, int x, int) {
            const double th = k * M_PI / count;
            const double t0 = dx * std::cos(th) - dz * std::sin(th);
            return bgv + (i0v - bgv) * std::exp(-diskIntegral(x - cor, t0, r, mu));
        });
    }
};

} // namespace phantom
