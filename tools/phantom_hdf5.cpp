#include "tools/phantom_scan.h"

#include <hdf5.h>

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// Creates a 3-D data set of frames of the image size and writes frame by frame.
class Frames {
public:
    Frames(hid_t group, const char *name, hid_t fileType, hsize_t count, int width, int height,
        bool gzip)
        : w(width)
        , h(height)
    {
        const hsize_t dims[3] = { count, hsize_t(height), hsize_t(width) };
        const hsize_t chunk[3] = { 1, hsize_t(height), hsize_t(width) };
        const hid_t space = H5Screate_simple(3, dims, nullptr);
        const hid_t dcpl = H5Pcreate(H5P_DATASET_CREATE);
        H5Pset_chunk(dcpl, 3, chunk);
        if (gzip)
            H5Pset_deflate(dcpl, 4);
        d = H5Dcreate2(group, name, fileType, space, H5P_DEFAULT, dcpl, H5P_DEFAULT);
        H5Pclose(dcpl);
        H5Sclose(space);
    }
    ~Frames()
    {
        if (d >= 0)
            H5Dclose(d);
    }
    bool write(hsize_t k, const std::vector<double> &counts)
    {
        if (d < 0 || counts.size() != std::size_t(w) * std::size_t(h))
            return false;
        const hid_t fs = H5Dget_space(d);
        const hsize_t start[3] = { k, 0, 0 };
        const hsize_t count[3] = { 1, hsize_t(h), hsize_t(w) };
        const hid_t ms = H5Screate_simple(3, count, nullptr);
        const bool ok = H5Sselect_hyperslab(fs, H5S_SELECT_SET, start, nullptr, count, nullptr) >= 0
            && H5Dwrite(d, H5T_NATIVE_DOUBLE, ms, fs, H5P_DEFAULT, counts.data()) >= 0;
        H5Sclose(ms);
        H5Sclose(fs);
        return ok;
    }

private:
    hid_t d = -1;
    int w, h;
};

} // namespace

bool PhantomScan::writeScanHdf5(const QString &file, bool gzip, QStringList *written) const
{
    const QString problem = check(s);
    if (!problem.isEmpty()) {
        qDebug() << "Refused scan settings :" << qPrintable(problem);
        return false;
    }
    QDir().mkpath(QFileInfo(file).absolutePath());
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    const hid_t f
        = H5Fcreate(QFile::encodeName(file).constData(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
    if (f < 0) {
        qDebug() << "Can not write the HDF5 scan :" << file;
        return false;
    }
    const hid_t g = H5Gcreate2(f, "exchange", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    const hid_t type = s.bytesPerPixel == 2 ? H5T_STD_U16LE : H5T_STD_U32LE;
    // The counts exactly as writeScan() writes them into the ITEX files.
    const std::vector<double> i0Exp = flatField();
    const std::vector<double> bgExp = background();
    const std::vector<double> i0 = detect(i0Exp, 0);
    const std::vector<double> bg = detect(bgExp, 1);
    const std::vector<double> &i0Base = s.noise ? i0Exp : i0;
    const std::vector<double> &bgBase = s.noise ? bgExp : bg;
    bool ok = g >= 0;
    {
        Frames white(g, "data_white", type, 1, s.width, s.height, gzip);
        Frames dark(g, "data_dark", type, 1, s.width, s.height, gzip);
        Frames data(g, "data", type, hsize_t(s.projections), s.width, s.height, gzip);
        ok = ok && white.write(0, i0) && dark.write(0, bg);
        for (int i = 0; ok && i < s.projections; ++i)
            ok = data.write(hsize_t(i), detect(projection(phantom_, i, i0Base, bgBase), 2 + i));
    }
    std::vector<double> theta;
    for (int i = 0; i < s.projections; ++i)
        theta.push_back(180.0 * i / s.projections);
    const hsize_t m = theta.size();
    const hid_t space = H5Screate_simple(1, &m, nullptr);
    const hid_t t
        = H5Dcreate2(g, "theta", H5T_IEEE_F64LE, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    ok = ok && t >= 0
        && H5Dwrite(t, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, theta.data()) >= 0;
    if (t >= 0)
        H5Dclose(t);
    H5Sclose(space);
    if (g >= 0)
        H5Gclose(g);
    ok = H5Fclose(f) >= 0 && ok;
    if (!ok) {
        qDebug() << "Can not write the HDF5 scan :" << file;
        QFile::remove(file);
        return false;
    }
    if (written)
        *written << file;
    return true;
}
