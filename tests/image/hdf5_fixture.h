#pragma once
// Scan files in HDF5, written through the library's C API for the tests:
// DXchange or NXtomo layout, any pixel type, contiguous, chunked or gzip.
#include <hdf5.h>

#include <QByteArray>
#include <QFile>
#include <QString>
#include <cstring>
#include <functional>
#include <vector>

namespace h5fix {

enum class Layout { DXchange, NXtomo };
enum class Storage { Contiguous, Chunked, Gzip };

struct Scan {
    Layout layout = Layout::DXchange;
    hid_t type = H5T_STD_U16LE; // pixel type in the file
    Storage storage = Storage::Contiguous;
    int width = 0;
    int height = 0;
    std::vector<std::vector<double>> projections, flats, darks; // [frame][y * width + x]
    std::vector<double> angles; // degrees (or radians, see anglesInRadians); none when empty
    bool anglesInRadians = false; // NXtomo: units "rad"
    hsize_t userBlock = 0;
    // A chunk of [frames][rows][columns]; 0 means one whole frame per chunk.
    hsize_t chunkFrames = 1, chunkRows = 0;
};

// Pixel (x, y) of frame k of a test pattern: distinct, positive, and exact
// in every pixel type (below 128).
inline double pattern(int k, int x, int y, int w)
{
    return double((k * 7 + y * w + x * 3) % 120 + 1);
}

inline std::vector<double> frameOf(int w, int h, const std::function<double(int, int)> &f)
{
    std::vector<double> v(std::size_t(w) * std::size_t(h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            v[std::size_t(y) * std::size_t(w) + std::size_t(x)] = f(x, y);
    return v;
}

inline hid_t makeFrames(
    hid_t loc, const char *name, const Scan &s, const std::vector<std::vector<double>> &frames)
{
    const hsize_t dims[3] = { hsize_t(frames.size()), hsize_t(s.height), hsize_t(s.width) };
    hid_t space = H5Screate_simple(3, dims, nullptr);
    hid_t dcpl = H5Pcreate(H5P_DATASET_CREATE);
    if (s.storage != Storage::Contiguous && !frames.empty()) {
        const hsize_t chunk[3] = { std::min<hsize_t>(s.chunkFrames, dims[0]),
            s.chunkRows ? s.chunkRows : dims[1], dims[2] };
        H5Pset_chunk(dcpl, 3, chunk);
        if (s.storage == Storage::Gzip)
            H5Pset_deflate(dcpl, 6);
    }
    hid_t d = H5Dcreate2(loc, name, s.type, space, H5P_DEFAULT, dcpl, H5P_DEFAULT);
    std::vector<double> all;
    for (const auto &f : frames)
        all.insert(all.end(), f.begin(), f.end());
    if (!all.empty())
        H5Dwrite(d, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, all.data());
    H5Pclose(dcpl);
    H5Sclose(space);
    return d;
}

inline void writeVector(
    hid_t loc, const char *name, const std::vector<double> &v, hid_t type = H5T_IEEE_F64LE)
{
    const hsize_t n = v.size();
    hid_t space = H5Screate_simple(1, &n, nullptr);
    hid_t d = H5Dcreate2(loc, name, type, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    if (n)
        H5Dwrite(d, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, v.data());
    H5Dclose(d);
    H5Sclose(space);
}

inline void stringAttr(hid_t obj, const char *name, const char *value)
{
    hid_t t = H5Tcopy(H5T_C_S1);
    H5Tset_size(t, std::strlen(value));
    H5Tset_cset(t, H5T_CSET_UTF8); // as h5py writes them
    hid_t sp = H5Screate(H5S_SCALAR);
    hid_t a = H5Acreate2(obj, name, t, sp, H5P_DEFAULT, H5P_DEFAULT);
    H5Awrite(a, t, value);
    H5Aclose(a);
    H5Sclose(sp);
    H5Tclose(t);
}

// Writes the scan; false when the library refused anything.
inline bool write(const QString &path, const Scan &s)
{
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    hid_t fcpl = H5Pcreate(H5P_FILE_CREATE);
    if (s.userBlock)
        H5Pset_userblock(fcpl, s.userBlock);
    hid_t f = H5Fcreate(QFile::encodeName(path).constData(), H5F_ACC_TRUNC, fcpl, H5P_DEFAULT);
    H5Pclose(fcpl);
    if (f < 0)
        return false;
    if (s.layout == Layout::DXchange) {
        hid_t g = H5Gcreate2(f, "/exchange", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
        H5Dclose(makeFrames(g, "data", s, s.projections));
        if (!s.flats.empty())
            H5Dclose(makeFrames(g, "data_white", s, s.flats));
        if (!s.darks.empty())
            H5Dclose(makeFrames(g, "data_dark", s, s.darks));
        if (!s.angles.empty())
            writeVector(g, "theta", s.angles);
        H5Gclose(g);
    } else {
        // Darks first, then flats, then the projections, as many beamlines do.
        std::vector<std::vector<double>> frames;
        std::vector<double> keys, angles;
        for (const auto &d : s.darks) {
            frames.push_back(d);
            keys.push_back(2);
            angles.push_back(0);
        }
        for (const auto &w : s.flats) {
            frames.push_back(w);
            keys.push_back(1);
            angles.push_back(0);
        }
        for (std::size_t k = 0; k < s.projections.size(); ++k) {
            frames.push_back(s.projections[k]);
            keys.push_back(0);
            angles.push_back(k < s.angles.size() ? s.angles[k] : 0.0);
        }
        hid_t e = H5Gcreate2(f, "/entry", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
        stringAttr(e, "NX_class", "NXentry");
        hid_t g = H5Gcreate2(e, "data", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
        stringAttr(g, "NX_class", "NXdata");
        H5Dclose(makeFrames(g, "data", s, frames));
        writeVector(g, "image_key", keys, H5T_STD_I32LE);
        if (!s.angles.empty()) {
            writeVector(g, "rotation_angle", angles);
            hid_t a = H5Dopen2(g, "rotation_angle", H5P_DEFAULT);
            stringAttr(a, "units", s.anglesInRadians ? "rad" : "degree");
            H5Dclose(a);
        }
        H5Gclose(g);
        H5Gclose(e);
    }
    return H5Fclose(f) >= 0;
}

// A scan of m projections (angles i * 180 / m), nf flats and nd darks of the
// test pattern; flats are 200 + pattern, darks pattern / 8.
inline Scan patternScan(
    Layout layout, hid_t type, Storage storage, int w, int h, int m, int nf, int nd)
{
    Scan s;
    s.layout = layout;
    s.type = type;
    s.storage = storage;
    s.width = w;
    s.height = h;
    for (int k = 0; k < m; ++k) {
        s.projections.push_back(frameOf(w, h, [&](int x, int y) { return pattern(k, x, y, w); }));
        s.angles.push_back(k * 180.0 / m);
    }
    for (int k = 0; k < nf; ++k)
        s.flats.push_back(
            frameOf(w, h, [&](int x, int y) { return 2.0 + pattern(k + 50, x, y, w); }));
    for (int k = 0; k < nd; ++k)
        s.darks.push_back(
            frameOf(w, h, [&](int x, int y) { return double(int(pattern(k + 90, x, y, w)) % 5); }));
    return s;
}

} // namespace h5fix
