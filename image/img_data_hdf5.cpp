#include "image/img_data_hdf5.h"

#include "image/hdf5_scan.h"
#include "image/pixel_block.h"

#include <QDebug>
#include <cstring>

ImgDataHdf5::ImgDataHdf5() { init(); }

ImgDataHdf5::ImgDataHdf5(std::shared_ptr<Hdf5Scan> scan, Part part, int projection)
{
    init();
    scan_ = std::move(scan);
    part_ = part;
    projection_ = projection;
}

ImgDataHdf5::~ImgDataHdf5() = default;

void ImgDataHdf5::init()
{
    ImgData::init();
    part_ = Part::Projection;
    projection_ = 0;
}

bool ImgDataHdf5::readProps(const QString &path, int &width, int &height)
{
    width = 0;
    height = 0;
    if (!scan_) {
        QString why;
        scan_ = Hdf5Scan::open(path, why);
        if (!scan_) {
            qDebug() << "HDF5 file refused :" << qPrintable(why) << ":" << path;
            return false;
        }
    }
    if (part_ == Part::FlatMean && scan_->flats() == 0) {
        qDebug() << "HDF5 file refused : no flat fields for I0 :" << path;
        return false;
    }
    if (part_ == Part::DarkMean && scan_->darks() == 0) {
        qDebug() << "HDF5 file refused : no dark fields for BG :" << path;
        return false;
    }
    if (part_ == Part::Projection && (projection_ < 0 || projection_ >= scan_->projections()))
        return false;
    width = scan_->width();
    height = scan_->height();
    return true;
}

bool ImgDataHdf5::open()
{
    if (part_ == Part::Projection) {
        setPixelFormat(PixelFormat::None);
        return true;
    }
    std::vector<double> mean;
    if (!scan_->mean(part_ == Part::FlatMean, mean)) {
        qDebug() << "HDF5 file refused : its" << (part_ == Part::FlatMean ? "flat" : "dark")
                 << "fields can't be read :" << fileName();
        return false;
    }
    std::unique_ptr<PixelBlock> block = PixelBlock::allocate(mean.size() * sizeof(double));
    if (!block)
        return false;
    std::memcpy(block->writableData(), mean.data(), mean.size() * sizeof(double));
    setPixels(std::move(block), PixelFormat::F64);
    return true;
}

double *ImgDataHdf5::row(int i, double *buffer) const
{
    if (!ready())
        return buffer;
    if (hasPixels())
        return rowFromPixels(i, buffer);
    if (fileRefused() || !scan_->row(projection_, i, buffer)) {
        std::fill(buffer, buffer + width(), 0.0);
        refuse();
    }
    return buffer;
}

double *ImgDataHdf5::column(int j, double *buffer) const
{
    if (!ready())
        return buffer;
    if (hasPixels())
        return columnFromPixels(j, buffer);
    if (fileRefused() || !scan_->column(projection_, j, buffer)) {
        std::fill(buffer, buffer + height(), 0.0);
        refuse();
    }
    return buffer;
}

bool ImgDataHdf5::readWhole(double *dst) const
{
    if (hasPixels() || !scan_ || fileRefused())
        return false;
    if (scan_->frame(projection_, dst))
        return true;
    refuse();
    return false;
}

bool ImgDataHdf5::readPixel(int x, int y, double &v) const
{
    // A read-out of the displayed image: one pixel, not a band of every
    // projection (the frame's chunks stay in the chunk cache).
    if (hasPixels() || !scan_ || fileRefused())
        return false;
    if (scan_->pixel(projection_, x, y, v))
        return true;
    refuse();
    v = 0.0;
    return true;
}
