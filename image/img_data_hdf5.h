#pragma once
// One image of a CT scan held in an HDF5 file (see Hdf5Scan): a projection,
// or the mean of the scan's flat fields or of its dark fields.
//
// A projection holds no pixels: rows and columns are read from the file when
// asked (the scan keeps the row band a sinogram build needs), so a stack of
// thousands of projections costs almost no memory. The images of one file
// share its Hdf5Scan. A mean is computed at load and held in memory.
//
// Made by createImgData for an HDF5 file the image is the first projection,
// unless setPart() chooses a mean (the I0 and BG selectors do).
#include "image/img_data.h"

#include <memory>

class Hdf5Scan;

class ImgDataHdf5 : public ImgData {
public:
    enum class Part { Projection, FlatMean, DarkMean };

    ImgDataHdf5();
    // Projection p of an opened scan (the stack makes its members this way).
    ImgDataHdf5(std::shared_ptr<Hdf5Scan> scan, Part part, int projection = 0);
    ~ImgDataHdf5() override;

    void setPart(Part part) { part_ = part; }
    Part part() const { return part_; }
    int projection() const { return projection_; }

    double *row(int i, double *buffer) const override;
    double *column(int j, double *buffer) const override;

protected:
    void init() override;
    bool readProps(const QString &path, int &width, int &height) override;
    bool open() override;
    bool readWhole(double *dst) const override;
    bool readPixel(int x, int y, double &v) const override;

private:
    std::shared_ptr<Hdf5Scan> scan_;
    Part part_ = Part::Projection;
    int projection_ = 0;
};
