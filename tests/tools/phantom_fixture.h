#pragma once
// Reading the tool's files back through the program's own reader, and
// reconstructing a slice of them with the program's own sinogram builder and
// back-projection kernel.
#include "ct/bp_kernel.h"
#include "ct/h_sgm.h"
#include "image/img_data.h"

#include <QString>
#include <QStringList>
#include <cmath>
#include <memory>
#include <vector>

namespace phantomtest {

// The creators' sequence: kind from the content, load into memory; null on failure.
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

// A reconstructed slice: N x N values, [z][x], rotation axis at (h, h).
struct Slice {
    int n = 0;
    std::vector<double> grid;
    double h() const { return 0.5 * n; }
    double at(int x, int z) const { return grid[std::size_t(z) * n + x]; }
    // Mean over the pixels within radius r of the phantom point (px, pz), given
    // relative to the axis.
    double mean(double px, double pz, double r, double r0 = -1) const
    {
        double sum = 0;
        int count = 0;
        for (int z = 0; z < n; ++z)
            for (int x = 0; x < n; ++x) {
                const double d = std::hypot(x - h() - px, z - h() - pz);
                if (d < r && d >= r0) {
                    sum += at(x, z);
                    ++count;
                }
            }
        return count ? sum / count : NAN;
    }
    // The phantom point (relative to the axis) of the largest value within
    // radius r of (px, pz).
    void peak(double px, double pz, double r, double &qx, double &qz) const
    {
        double best = -1e300;
        for (int z = 0; z < n; ++z)
            for (int x = 0; x < n; ++x)
                if (std::hypot(x - h() - px, z - h() - pz) < r && at(x, z) > best) {
                    best = at(x, z);
                    qx = x - h();
                    qz = z - h();
                }
    }
};

// Builds the sinogram of image row `slice` from the projection files with the
// I0 and BG files (either may be empty: none) and reconstructs it over the
// whole grid. n stays 0 when a file cannot be read or nothing can be built.
inline Slice reconstruct(const QStringList &projections, const QString &i0Path,
    const QString &bgPath, double cor, int slice, BpNormalisation norm = BpNormalisation::Parallel)
{
    Slice out;
    std::vector<std::unique_ptr<ImgData>> images;
    std::vector<const ImgData *> raw;
    for (const QString &p : projections) {
        images.push_back(loadImage(p));
        if (!images.back())
            return out;
        raw.push_back(images.back().get());
    }
    std::unique_ptr<ImgData> i0 = i0Path.isEmpty() ? nullptr : loadImage(i0Path);
    std::unique_ptr<ImgData> bg = bgPath.isEmpty() ? nullptr : loadImage(bgPath);
    if (raw.empty() || (!i0Path.isEmpty() && !i0) || (!bgPath.isEmpty() && !bg))
        return out;
    HSgm sgm;
    if (!genSinogram0(&sgm, raw.front()->width(), raw.front()->height(), raw.data(),
            int(raw.size()), i0.get(), bg.get(), true, cor, slice))
        return out;
    BpKernel kernel(norm);
    const int n = BpKernel::gridSizeFor(sgm.width);
    if (!kernel.reconstruct(sgm.sgm.get(), sgm.width, sgm.rows, 0, 0, n, n, 0.0))
        return out;
    out.n = n;
    out.grid.assign(kernel.result(), kernel.result() + std::size_t(n) * n);
    return out;
}

} // namespace phantomtest
