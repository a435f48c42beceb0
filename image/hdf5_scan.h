#pragma once
// One CT scan stored in an HDF5 file: the projections, flat fields and dark
// fields as frames of 3-D data sets ([frame][y][x]), and the rotation angles.
//
// Two layouts are read:
//   DXchange  projections "/exchange/data", flats "/exchange/data_white",
//             darks "/exchange/data_dark", angles "/exchange/theta" (degrees);
//   NXtomo    frames "/entry/data/data" (or "/entry/instrument/detector/data";
//             another entry than "/entry" is the first group of class NXentry)
//             with "image_key" per frame (0 projection, 1 flat, 2 dark) and
//             "rotation_angle" (degrees unless its units say radians).
// Pixels may be 8, 16 or 32-bit integers of either sign or 32/64-bit floats,
// stored contiguous or chunked, with any filter the library can decode.
//
// Reads never bring in the whole file: a projection's row or column is read
// through a hyperslab. A sinogram build asks for the same row of every
// projection, so the first such read fetches that row of all projections in
// one call (an M x 1 x N block) and keeps it for the others; a few such
// blocks are kept, for calculators working on different slices. The data
// set's chunk cache is sized so that neighbouring slices that fall into the
// same chunks do not decompress them again, when that fits in memory.
//
// Threads: every member function may be called from any thread; they hold
// the program-wide HDF5 lock while they work.
#include "image/hdf5_lib.h"
#include "image/img_data.h"

#include <QString>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <vector>

class Hdf5Scan {
public:
    enum class Layout { DXchange, NXtomo };

    ~Hdf5Scan();
    Hdf5Scan(const Hdf5Scan &) = delete;
    Hdf5Scan &operator=(const Hdf5Scan &) = delete;

    // Opens the scan of an HDF5 file; nullptr and why (one short reason)
    // when the file or its layout is refused.
    static std::shared_ptr<Hdf5Scan> open(const QString &path, QString &why);

    const QString &path() const { return path_; }
    Layout layout() const { return layout_; }
    int width() const { return width_; }
    int height() const { return height_; }
    int projections() const { return int(projIdx.size()); }
    int flats() const { return int(flatIdx.size()); }
    int darks() const { return int(darkIdx.size()); }
    // Angles in degrees, one per projection; empty when the file has none.
    const std::vector<double> &angles() const { return angles_; }
    // Forgets the last projection (and its angle).
    void dropLastProjection();

    // Row i / column j of projection p as doubles; false (buffer zeroed) when
    // the library cannot read it (a file cut or damaged since it was opened).
    bool row(int p, int i, double *buffer);
    bool column(int p, int j, double *buffer);
    // Pixel (x, y) of projection p.
    bool pixel(int p, int x, int y, double &v);
    // The whole of projection p, [y][x].
    bool frame(int p, double *buffer);
    // The mean of the flat fields (flats true) or of the dark fields, [y][x];
    // false when there are none or one cannot be read.
    bool mean(bool flats, std::vector<double> &out);

private:
    Hdf5Scan() = default;

    struct Source {
        Hdf5Id dset;
        hid_t memType = -1; // native type of the pixels (a library constant)
        PixelFormat format = PixelFormat::None;
        std::size_t bytes = 0; // per pixel
        hsize_t chunk[3] = { 0, 0, 0 }; // 0 when not chunked
    };
    // A band of lines [first, first + lines) of every projection from
    // projIdx.front() to projIdx.back(), in the file's pixel type, held as
    // [p][line][n] with n = width (rows) or height (columns).
    struct Block {
        bool isRow = true;
        int first = 0;
        int lines = 0;
        std::vector<unsigned char> values;
    };

    // Opens a 3-D data set of frames; an empty one is refused unless mayBeEmpty.
    bool openSource(
        const char *name, Source &src, hsize_t dims[3], QString &why, bool mayBeEmpty = false);
    static bool readSlab(const Source &src, const hsize_t start[3], const hsize_t count[3],
        hid_t memType, void *dst);
    bool lineOf(bool isRow, int p, int line, double *buffer);

    QString path_;
    Layout layout_ = Layout::DXchange;
    Hdf5Id file;
    Source proj, white, dark;
    int width_ = 0;
    int height_ = 0;
    // Frame numbers in the data sets of the projections, flats and darks.
    std::vector<hsize_t> projIdx, flatIdx, darkIdx;
    std::vector<double> angles_;
    std::list<Block> blocks; // most recent first
    bool blocksAllowed = true;
};

// What to do with a scan's projection angles (degrees): the reconstruction
// takes M projections at i * 180 / M.
enum class ScanAngles {
    Match, // every angle within 0.01 degrees of i * 180 / M
    DropLast, // M + 1 angles i * 180 / M, ending at 180 inclusive
    Refused // anything else
};
ScanAngles checkScanAngles(const std::vector<double> &degrees);
