#include "ct/cor_finder.h"

#include "ct/h_sgm.h"
#include "image/img_datas.h"

#include <QDebug>
#include <QString>
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace {
constexpr double kPi = 3.14159265358979323846;
} // namespace

CorFinderResult findCentre(const double *sgm, int width, int rows)
{
    CorFinderResult res;
    if (!sgm || width < corFinderMinWidth || rows < corFinderMinRows)
        return res;
    const double mid = 0.5 * double(width - 1);
    // The level outside the object: the mean over all projections of each of
    // the outermost columns on both sides, averaged. It is taken off every
    // sample when it stands out of the scatter of those columns (3 standard
    // errors), so that a real offset (no I0 image, another flux in I0) does
    // not pull the centroids towards the middle of the row, while the noise
    // of the I0 image's few edge pixels (common to all projections) is not
    // turned into one.
    const int edge = std::max(2, std::min(width / 32, 32));
    std::vector<double> cols;
    for (int k = 0; k < edge; ++k)
        for (int j : { k, width - 1 - k }) {
            double sum = 0.0;
            for (int i = 0; i < rows; ++i)
                sum += sgm[std::size_t(i) * std::size_t(width) + std::size_t(j)];
            cols.push_back(sum / double(rows));
        }
    double level = 0.0, scatter = 0.0;
    for (double v : cols)
        level += v;
    level /= double(cols.size());
    for (double v : cols)
        scatter += (v - level) * (v - level);
    const double stdErr = std::sqrt(scatter / double(cols.size() - 1) / double(cols.size()));
    const double base = std::isfinite(level) && std::fabs(level) > 3.0 * stdErr ? level : 0.0;
    // Normal equations of t_i = c + a cos + b sin, each projection weighted by
    // its total attenuation (a faint projection has a noisier centroid).
    double s[3][3] = {};
    double r[3] = {};
    double massMin = 0.0, massMax = 0.0, massSum = 0.0;
    for (int i = 0; i < rows; ++i) {
        const double *row = sgm + std::size_t(i) * std::size_t(width);
        double mass = 0.0, moment = 0.0;
        for (int j = 0; j < width; ++j) {
            const double v = row[j] - base;
            mass += v;
            moment += (double(j) - mid) * v;
        }
        if (!(mass > 0.0) || !std::isfinite(moment))
            continue;
        const double t = moment / mass;
        const double th = double(i) * kPi / double(rows);
        const double f[3] = { 1.0, std::cos(th), std::sin(th) };
        for (int p = 0; p < 3; ++p) {
            for (int q = 0; q < 3; ++q)
                s[p][q] += mass * f[p] * f[q];
            r[p] += mass * f[p] * t;
        }
        if (res.used == 0)
            massMin = massMax = mass;
        massMin = std::min(massMin, mass);
        massMax = std::max(massMax, mass);
        massSum += mass;
        ++res.used;
    }
    if (res.used < corFinderMinRows)
        return res;
    // Gaussian elimination with partial pivoting on the 3 x 3 system.
    double a[3][4];
    for (int p = 0; p < 3; ++p) {
        for (int q = 0; q < 3; ++q)
            a[p][q] = s[p][q];
        a[p][3] = r[p];
    }
    for (int c = 0; c < 3; ++c) {
        int piv = c;
        for (int p = c + 1; p < 3; ++p)
            if (std::fabs(a[p][c]) > std::fabs(a[piv][c]))
                piv = p;
        if (!(std::fabs(a[piv][c]) > 1e-12 * std::fabs(s[0][0])))
            return res; // angles that do not fix the sinusoid
        if (piv != c)
            for (int q = 0; q < 4; ++q)
                std::swap(a[c][q], a[piv][q]);
        for (int p = c + 1; p < 3; ++p) {
            const double k = a[p][c] / a[c][c];
            for (int q = c; q < 4; ++q)
                a[p][q] -= k * a[c][q];
        }
    }
    double x[3];
    for (int c = 2; c >= 0; --c) {
        double v = a[c][3];
        for (int q = c + 1; q < 3; ++q)
            v -= a[c][q] * x[q];
        x[c] = v / a[c][c];
    }
    if (!std::isfinite(x[0]))
        return res;
    res.ok = true;
    res.centre = x[0] + mid;
    res.amplitude = std::hypot(x[1], x[2]);
    res.massSpread = (massMax - massMin) / (massSum / double(res.used));
    res.consistent = res.massSpread <= 0.02;
    return res;
}

bool findCorOfSlice(const ImgDatas *stack, bool rotAxIsV, int slice, double &cor)
{
    if (!stack || stack->isEmpty()) {
        qDebug() << "Find CoR refused : no images loaded";
        return false;
    }
    const QSize size = stack->size();
    const int nDet = rotAxIsV ? size.width() : size.height();
    const int lines = rotAxIsV ? size.height() : size.width();
    if (slice < 0 || slice >= lines) {
        qDebug() << "Find CoR refused : slice outside the images :" << slice;
        return false;
    }
    const double mid = std::floor((nDet - 1) / 2.0);
    CorGeometry g;
    if (!CorGeometry::compute(rotAxIsV, mid, nDet, g) || g.width < corFinderMinWidth
        || stack->count() < corFinderMinRows) {
        qDebug().noquote() << QString("Find CoR refused : sinogram too small (%1 detector "
                                      "pixels, %2 projections)")
                                  .arg(nDet)
                                  .arg(stack->count());
        return false;
    }
    HSgm h;
    if (!genSinogram0(&h, stack, rotAxIsV, mid, slice) || h.width < corFinderMinWidth) {
        qDebug() << "Find CoR refused : no sinogram for slice" << slice;
        return false;
    }
    const CorFinderResult r = findCentre(h.sgm.get(), h.width, h.rows);
    if (!r.ok) {
        qDebug() << "Find CoR : no centre found in the sinogram of slice" << slice;
        return false;
    }
    // Sample j of the row lies at detector pixel mid - (half - 1) + j.
    cor = mid - double(g.half - 1) + r.centre;
    if (!r.consistent)
        qDebug().noquote() << QString("Find CoR : the projections' total attenuation varies "
                                      "by %1 %; the object may not lie wholly inside the "
                                      "detector, the centre may be off")
                                  .arg(100.0 * r.massSpread, 0, 'g', 3);
    return true;
}
