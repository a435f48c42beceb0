#include "ct/h_sgm.h"

#include "image/img_data.h"
#include "image/img_datas.h"

#include <QDebug>

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

bool HSgm::resize(int newWidth, int newRows)
{
    if (built() && newWidth > 0 && newRows > 0
        && std::size_t(newWidth) * std::size_t(newRows) == std::size_t(width) * std::size_t(rows)) {
        width = newWidth;
        rows = newRows;
        return true;
    }
    sgm.reset();
    raw.reset();
    width = newWidth;
    rows = newRows;
    if (newWidth <= 0 || newRows <= 0)
        return true;
    const std::size_t count = std::size_t(newWidth) * std::size_t(newRows);
    sgm.reset(new (std::nothrow) double[count]);
    raw.reset(new (std::nothrow) double[count]);
    if (!sgm || !raw) {
        sgm.reset();
        raw.reset();
        qDebug() << "Can't allocate the sinogram :" << newWidth << "x" << newRows;
        return false;
    }
    return true;
}

bool CorGeometry::compute(bool rotAxIsV, double cor, int nDet, CorGeometry &g)
{
    if (!std::isfinite(cor))
        return false;
    const double fl = std::floor(cor);
    if (fl <= 0.0 || std::ceil(cor) >= double(nDet))
        return false;
    // Here 1 <= cor <= nDet - 1, so both distances to the detector ends are >= 0.
    g.rotAxIsV = rotAxIsV;
    g.cor = cor;
    g.corInt = int(fl);
    g.corFrac = cor - fl;
    g.half = int(std::floor(std::min(cor, double(nDet) - cor - 1.0)));
    g.width = 2 * g.half - 1;
    return true;
}

void resampleLine(const double *line, const CorGeometry &g, double *out)
{
    const double f = g.corFrac;
    double *o = out;
    for (int i = 1 - g.half; i <= g.half - 1; ++i) {
        const int idx = g.corInt + i;
        *o++ = line[idx] + f * (line[idx + 1] - line[idx]);
    }
}

namespace {

void logChangedFile(int slice, const ImgData *img)
{
    qDebug() << "Sinogram of slice" << slice
             << "not built, image file changed since loading : " << img->fileName();
}

bool hasSize(const ImgData *img, int w, int h) { return img->width() == w && img->height() == h; }

// Reads detector line `slice` of img into line (nDet values).
void readLine(const ImgData *img, bool rotAxIsV, int slice, double *line)
{
    if (rotAxIsV)
        img->row(slice, line);
    else
        img->column(slice, line);
}

} // namespace

bool genSinogram0(HSgm *hSgm, int imgWidth, int imgHeight, const ImgData *const *projections,
    int count, const ImgData *i0, const ImgData *bg, bool rotAxIsV, double cor, int slice)
{
    if (!hSgm || count < 0 || (count > 0 && !projections))
        return false;
    const int nDet = rotAxIsV ? imgWidth : imgHeight;
    const int lines = rotAxIsV ? imgHeight : imgWidth;

    CorGeometry g;
    if (!CorGeometry::compute(rotAxIsV, cor, nDet, g))
        return false; // no centre on this detector: the previous sinogram stays

    if (slice < 0 || slice >= lines) {
        qDebug() << "Slice is out of the image lines :" << slice << "not in 0 ..." << lines - 1;
        return false;
    }
    for (int k = 0; k < count; ++k) {
        const ImgData *img = projections[k];
        if (!img || !img->ready() || !hasSize(img, imgWidth, imgHeight)) {
            qDebug() << "Mismatch image size in sinogram : image" << k << ":"
                     << (img ? img->fileName() : QString());
            return false;
        }
        if (img->fileRefused()) {
            logChangedFile(slice, img);
            return false;
        }
    }
    if (i0 && !i0->ready())
        i0 = nullptr;
    if (bg && !bg->ready())
        bg = nullptr;
    if (i0 && !hasSize(i0, imgWidth, imgHeight)) {
        qDebug() << "Mismatch I0 image size :"
                 << QString("(%1, %2) != (%3, %4) :")
                        .arg(i0->width())
                        .arg(i0->height())
                        .arg(imgWidth)
                        .arg(imgHeight)
                 << i0->fileName();
        return false;
    }
    if (bg && !hasSize(bg, imgWidth, imgHeight)) {
        qDebug() << "Mismatch BG image size :"
                 << QString("(%1, %2) != (%3, %4) :")
                        .arg(bg->width())
                        .arg(bg->height())
                        .arg(imgWidth)
                        .arg(imgHeight)
                 << bg->fileName();
        return false;
    }

    hSgm->slice = slice;
    if (!hSgm->resize(g.width, count) || !hSgm->built())
        return false; // no samples or no projections: the holder has no arrays

    const int w = g.width;
    std::vector<double> line(std::size_t(nDet), 0.0);
    std::vector<double> i0Line(std::size_t(w), 1.0);
    std::vector<double> bgLine(std::size_t(w), 0.0);
    if (i0) {
        readLine(i0, rotAxIsV, slice, line.data());
        resampleLine(line.data(), g, i0Line.data());
    }
    if (bg) {
        readLine(bg, rotAxIsV, slice, line.data());
        resampleLine(line.data(), g, bgLine.data());
    }
    // a = I0 - BG does not depend on the projection.
    for (int j = 0; j < w; ++j) {
        double a = i0Line[std::size_t(j)] - bgLine[std::size_t(j)];
        if (!(a > 0.0))
            a = 1.0;
        i0Line[std::size_t(j)] = a;
    }

    for (int k = 0; k < count; ++k) {
        readLine(projections[k], rotAxIsV, slice, line.data());
        double *rawRow = hSgm->rawRow(k);
        double *sgmRow = hSgm->sgmRow(k);
        resampleLine(line.data(), g, rawRow);
        for (int j = 0; j < w; ++j) {
            double b = rawRow[j] - bgLine[std::size_t(j)];
            if (!(b > 0.0))
                b = 1.0;
            sgmRow[j] = std::log(i0Line[std::size_t(j)] / b);
        }
    }
    // Every line has been read: a file that is still as it was at load now
    // cannot have given this slice anything else. One changed since load (or
    // cut during the reads) may have mixed old and new values: no sinogram.
    for (int k = 0; k < count; ++k) {
        if (!projections[k]->checkFile()) {
            logChangedFile(slice, projections[k]);
            hSgm->resize(0, 0);
            return false;
        }
    }
    return true;
}

bool genSinogram0(HSgm *hSgm, const ImgDatas *stack, bool rotAxIsV, double cor, int slice)
{
    if (!hSgm || !stack)
        return false;
    const int count = stack->count();
    std::vector<const ImgData *> imgs(std::size_t(count), nullptr);
    for (int k = 0; k < count; ++k)
        imgs[std::size_t(k)] = stack->at(k);
    const QSize size = stack->size();
    return genSinogram0(hSgm, size.width(), size.height(), imgs.data(), count, stack->i0(),
        stack->bg(), rotAxIsV, cor, slice);
}
