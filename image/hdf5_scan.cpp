#include "image/hdf5_scan.h"

#include "image/img_data.h"

#include <QByteArray>
#include <QDebug>
#include <QFile>
#include <algorithm>
#include <cmath>
#include <new>

namespace {

// Budgets of the kept row or column bands: one band at most, all of them.
constexpr std::size_t bandBudget = std::size_t(64) << 20;
constexpr std::size_t blocksBudget = std::size_t(200) << 20;
constexpr int maxBlocks = 3;
// Largest image side and pixel count taken from a file.
constexpr hsize_t maxSide = hsize_t(1) << 20;
constexpr hsize_t maxPixels = hsize_t(1) << 31;
constexpr hsize_t maxVector = hsize_t(1) << 26;

// The memory type and pixel format for a data set's type; false for types
// that are not plain integers or floats of the sizes read.
bool pixelType(hid_t type, hid_t &memType, PixelFormat &format)
{
    const H5T_class_t cls = H5Tget_class(type);
    const size_t size = H5Tget_size(type);
    if (cls == H5T_INTEGER) {
        const bool isSigned = H5Tget_sign(type) == H5T_SGN_2;
        switch (size) {
        case 1:
            memType = isSigned ? H5T_NATIVE_INT8 : H5T_NATIVE_UINT8;
            format = isSigned ? PixelFormat::I8 : PixelFormat::U8;
            return true;
        case 2:
            memType = isSigned ? H5T_NATIVE_INT16 : H5T_NATIVE_UINT16;
            format = isSigned ? PixelFormat::I16 : PixelFormat::U16;
            return true;
        case 4:
            memType = isSigned ? H5T_NATIVE_INT32 : H5T_NATIVE_UINT32;
            format = isSigned ? PixelFormat::I32 : PixelFormat::U32;
            return true;
        default:
            return false;
        }
    }
    if (cls == H5T_FLOAT) {
        if (size == 4) {
            memType = H5T_NATIVE_FLOAT;
            format = PixelFormat::F32;
            return true;
        }
        if (size == 8) {
            memType = H5T_NATIVE_DOUBLE;
            format = PixelFormat::F64;
            return true;
        }
    }
    return false;
}

// Reads a whole 1-D numeric data set as doubles.
bool readVector(hid_t file, const char *path, std::vector<double> &out, QString &why)
{
    Hdf5Id d(H5Dopen2(file, path, H5P_DEFAULT));
    if (!d.valid()) {
        why = QStringLiteral("can't open %1").arg(path);
        return false;
    }
    Hdf5Id s(H5Dget_space(d));
    const hssize_t n = s.valid() ? H5Sget_simple_extent_npoints(s) : -1;
    Hdf5Id t(H5Dget_type(d));
    const H5T_class_t cls = t.valid() ? H5Tget_class(t) : H5T_NO_CLASS;
    if (n < 0 || hsize_t(n) > maxVector || (cls != H5T_INTEGER && cls != H5T_FLOAT)
        || H5Sget_simple_extent_ndims(s) > 1) {
        why = QStringLiteral("%1 is not a list of numbers").arg(path);
        return false;
    }
    out.assign(std::size_t(n), 0.0);
    if (n > 0 && H5Dread(d, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, out.data()) < 0) {
        why = QStringLiteral("can't read %1").arg(path);
        return false;
    }
    return true;
}

QByteArray firstExisting(hid_t file, const QList<QByteArray> &paths)
{
    for (const QByteArray &p : paths)
        if (hdf5PathExists(file, p.constData()))
            return p;
    return QByteArray();
}

herr_t collectEntry(hid_t group, const char *name, const H5L_info_t *, void *data)
{
    auto *found = static_cast<QByteArray *>(data);
    if (H5Oexists_by_name(group, name, H5P_DEFAULT) <= 0)
        return 0;
    Hdf5Id obj(H5Oopen(group, name, H5P_DEFAULT));
    if (obj.valid() && H5Iget_type(obj) == H5I_GROUP
        && hdf5StringAttribute(obj, "NX_class") == QLatin1String("NXentry")) {
        *found = QByteArray("/") + name;
        return 1; // the first in name order
    }
    return 0;
}

// The NeXus entry of the file: "/entry", else the first top-level group
// whose NX_class is NXentry; empty when there is none.
QByteArray nxEntry(hid_t file)
{
    if (hdf5PathExists(file, "/entry"))
        return QByteArrayLiteral("/entry");
    QByteArray found;
    H5Literate(file, H5_INDEX_NAME, H5_ITER_INC, nullptr, collectEntry, &found);
    return found;
}

} // namespace

Hdf5Scan::~Hdf5Scan()
{
    Hdf5Lock lock;
    blocks.clear();
    proj = Source();
    white = Source();
    dark = Source();
    file.reset();
}

bool Hdf5Scan::openSource(
    const char *name, Source &src, hsize_t dims[3], QString &why, bool mayBeEmpty)
{
    Hdf5Id probe(H5Dopen2(file, name, H5P_DEFAULT));
    if (!probe.valid()) {
        why = QStringLiteral("can't open the data set %1").arg(name);
        return false;
    }
    Hdf5Id space(H5Dget_space(probe));
    const int rank = space.valid() ? H5Sget_simple_extent_ndims(space) : -1;
    if (rank != 3) {
        why = QStringLiteral("the data set %1 is not 3-D").arg(name);
        return false;
    }
    H5Sget_simple_extent_dims(space, dims, nullptr);
    if (dims[0] == 0) {
        if (mayBeEmpty)
            return true; // no frames of this kind; src stays closed
        why = QStringLiteral("the data set %1 has no frames").arg(name);
        return false;
    }
    if (dims[1] == 0 || dims[2] == 0 || dims[1] > maxSide || dims[2] > maxSide
        || dims[1] * dims[2] > maxPixels) {
        why = QStringLiteral("impossible image size %1 x %2 in %3")
                  .arg(dims[2])
                  .arg(dims[1])
                  .arg(name);
        return false;
    }
    Hdf5Id type(H5Dget_type(probe));
    if (!type.valid() || !pixelType(type, src.memType, src.format)) {
        why = QStringLiteral("the pixels of %1 are not 8/16/32-bit integers or 32/64-bit floats")
                  .arg(name);
        return false;
    }
    src.bytes = std::size_t(ImgData::bytesOf(src.format));
    Hdf5Id dcpl(H5Dget_create_plist(probe));
    hsize_t chunk[3] = { 0, 0, 0 };
    if (dcpl.valid()) {
        const int nf = H5Pget_nfilters(dcpl);
        for (int k = 0; k < nf; ++k) {
            unsigned flags = 0;
            size_t nelmts = 0;
            unsigned filterConfig = 0;
            const H5Z_filter_t id = H5Pget_filter2(
                dcpl, unsigned(k), &flags, &nelmts, nullptr, 0, nullptr, &filterConfig);
            if (id < 0 || H5Zfilter_avail(id) <= 0) {
                why = QStringLiteral("unknown compression filter %1 in %2").arg(int(id)).arg(name);
                return false;
            }
        }
        if (H5Pget_layout(dcpl) == H5D_CHUNKED && H5Pget_chunk(dcpl, 3, chunk) != 3)
            chunk[0] = chunk[1] = chunk[2] = 0;
    }
    src.chunk[0] = chunk[0];
    src.chunk[1] = chunk[1];
    src.chunk[2] = chunk[2];
    // The chunk cache holds the chunks that one band of rows crosses, when
    // that is not much, so that the next band in the same chunks finds them.
    Hdf5Id dapl(H5Pcreate(H5P_DATASET_ACCESS));
    if (chunk[0] > 0 && dapl.valid()) {
        const double chunkBytes
            = double(chunk[0]) * double(chunk[1]) * double(chunk[2]) * double(src.bytes);
        const double crossed = std::ceil(double(dims[0]) / double(chunk[0]))
            * std::ceil(double(dims[2]) / double(chunk[2]));
        const double want
            = std::clamp(crossed * chunkBytes + chunkBytes, double(1 << 20), double(64 << 20));
        const size_t nSlots = size_t(std::clamp(crossed * 20.0, 521.0, 1000003.0)) | 1u;
        H5Pset_chunk_cache(dapl, nSlots, size_t(want), 0.75);
    }
    probe.reset();
    src.dset.reset(H5Dopen2(file, name, dapl.valid() ? dapl.get() : H5P_DEFAULT));
    if (!src.dset.valid()) {
        why = QStringLiteral("can't open the data set %1").arg(name);
        return false;
    }
    return true;
}

std::shared_ptr<Hdf5Scan> Hdf5Scan::open(const QString &path, QString &why)
{
    Hdf5Lock lock;
    std::shared_ptr<Hdf5Scan> s(new Hdf5Scan);
    s->path_ = path;
    const QByteArray name = QFile::encodeName(path);
    if (!QFile::exists(path)) {
        why = QStringLiteral("no such file");
        return nullptr;
    }
    if (H5Fis_hdf5(name.constData()) <= 0) {
        why = QStringLiteral("not a readable HDF5 file (truncated or damaged)");
        return nullptr;
    }
    s->file.reset(H5Fopen(name.constData(), H5F_ACC_RDONLY, H5P_DEFAULT));
    if (!s->file.valid()) {
        why = QStringLiteral("the HDF5 library can't open it (truncated or damaged)");
        return nullptr;
    }
    hsize_t dims[3] = { 0, 0, 0 };
    if (hdf5PathExists(s->file, "/exchange/data")) {
        s->layout_ = Layout::DXchange;
        if (!s->openSource("/exchange/data", s->proj, dims, why))
            return nullptr;
        s->width_ = int(dims[2]);
        s->height_ = int(dims[1]);
        for (hsize_t k = 0; k < dims[0]; ++k)
            s->projIdx.push_back(k);
        const std::pair<const char *, Source *> extra[]
            = { { "/exchange/data_white", &s->white }, { "/exchange/data_dark", &s->dark } };
        for (const auto &e : extra) {
            if (!hdf5PathExists(s->file, e.first))
                continue;
            hsize_t d[3] = { 0, 0, 0 };
            if (!s->openSource(e.first, *e.second, d, why, true))
                return nullptr;
            if (d[0] == 0)
                continue;
            if (d[1] != dims[1] || d[2] != dims[2]) {
                why = QStringLiteral("sizes disagree: %1 x %2 frames in %3, %4 x %5 projections")
                          .arg(d[2])
                          .arg(d[1])
                          .arg(e.first)
                          .arg(dims[2])
                          .arg(dims[1]);
                return nullptr;
            }
            auto &idx = e.second == &s->white ? s->flatIdx : s->darkIdx;
            for (hsize_t k = 0; k < d[0]; ++k)
                idx.push_back(k);
        }
        if (hdf5PathExists(s->file, "/exchange/theta")) {
            if (!readVector(s->file, "/exchange/theta", s->angles_, why))
                return nullptr;
            if (s->angles_.size() != dims[0]) {
                why = QStringLiteral("sizes disagree: %1 angles for %2 projections")
                          .arg(s->angles_.size())
                          .arg(dims[0]);
                return nullptr;
            }
        }
    } else {
        const QByteArray entry = nxEntry(s->file);
        const QByteArray dataPath = entry.isEmpty()
            ? QByteArray()
            : firstExisting(s->file, { entry + "/data/data", entry + "/instrument/detector/data" });
        if (dataPath.isEmpty()) {
            why = QStringLiteral("no data set /exchange/data or /entry/data/data");
            return nullptr;
        }
        const char *data = dataPath.constData();
        s->layout_ = Layout::NXtomo;
        if (!s->openSource(data, s->proj, dims, why))
            return nullptr;
        s->width_ = int(dims[2]);
        s->height_ = int(dims[1]);
        std::vector<double> keys;
        const QByteArray keyPath = firstExisting(
            s->file, { entry + "/data/image_key", entry + "/instrument/detector/image_key" });
        if (!keyPath.isEmpty()) {
            if (!readVector(s->file, keyPath.constData(), keys, why))
                return nullptr;
            if (keys.size() != dims[0]) {
                why = QStringLiteral("sizes disagree: %1 image keys for %2 frames")
                          .arg(keys.size())
                          .arg(dims[0]);
                return nullptr;
            }
        } else {
            keys.assign(std::size_t(dims[0]), 0.0);
        }
        std::vector<double> angles;
        const QByteArray anglePath = firstExisting(
            s->file, { entry + "/data/rotation_angle", entry + "/sample/rotation_angle" });
        const char *a = anglePath.isEmpty() ? nullptr : anglePath.constData();
        if (a) {
            if (!readVector(s->file, a, angles, why))
                return nullptr;
            if (angles.size() != dims[0]) {
                why = QStringLiteral("sizes disagree: %1 angles for %2 frames")
                          .arg(angles.size())
                          .arg(dims[0]);
                return nullptr;
            }
            Hdf5Id ad(H5Dopen2(s->file, a, H5P_DEFAULT));
            const QString units = hdf5StringAttribute(ad, "units").trimmed().toLower();
            if (units.startsWith(QLatin1String("rad")))
                for (double &v : angles)
                    v *= 180.0 / M_PI;
        }
        for (hsize_t k = 0; k < dims[0]; ++k) {
            const double key = keys[std::size_t(k)];
            if (key == 0.0) {
                s->projIdx.push_back(k);
                if (a)
                    s->angles_.push_back(angles[std::size_t(k)]);
            } else if (key == 1.0) {
                s->flatIdx.push_back(k);
            } else if (key == 2.0) {
                s->darkIdx.push_back(k);
            }
        }
        if (s->projIdx.empty()) {
            why = QStringLiteral("no projection (image_key 0) in %1").arg(data);
            return nullptr;
        }
    }
    // A file cut or damaged in its pixels shows here, not in the middle of a run.
    std::vector<double> probe(std::size_t(s->width_));
    for (int p : { 0, s->projections() - 1 }) {
        const hsize_t start[3] = { s->projIdx[std::size_t(p)], 0, 0 };
        const hsize_t count[3] = { 1, 1, hsize_t(s->width_) };
        if (!s->readSlab(s->proj, start, count, H5T_NATIVE_DOUBLE, probe.data())) {
            why = QStringLiteral("projection %1 can't be read (truncated or damaged)").arg(p);
            return nullptr;
        }
    }
    return s;
}

bool Hdf5Scan::readSlab(
    const Source &src, const hsize_t start[3], const hsize_t count[3], hid_t memType, void *dst)
{
    Hdf5Id fs(H5Dget_space(src.dset));
    if (!fs.valid() || H5Sselect_hyperslab(fs, H5S_SELECT_SET, start, nullptr, count, nullptr) < 0)
        return false;
    Hdf5Id ms(H5Screate_simple(3, count, nullptr));
    return ms.valid() && H5Dread(src.dset, memType, ms, fs, H5P_DEFAULT, dst) >= 0;
}

void Hdf5Scan::dropLastProjection()
{
    Hdf5Lock lock;
    if (!projIdx.empty())
        projIdx.pop_back();
    if (!angles_.empty())
        angles_.pop_back();
    blocks.clear();
}

bool Hdf5Scan::lineOf(bool isRow, int p, int line, double *buffer)
{
    const int n = isRow ? width_ : height_;
    if (p < 0 || p >= projections() || line < 0 || line >= (isRow ? height_ : width_)) {
        std::fill(buffer, buffer + n, 0.0);
        return false;
    }
    Hdf5Lock lock;
    const hsize_t p0 = projIdx.front();
    const hsize_t np = projIdx.back() - p0 + 1;
    const hsize_t pk = projIdx[std::size_t(p)] - p0;
    const std::size_t bytes = proj.bytes;
    for (auto it = blocks.begin(); it != blocks.end(); ++it) {
        if (it->isRow != isRow || line < it->first || line >= it->first + it->lines)
            continue;
        const std::size_t off
            = (std::size_t(pk) * std::size_t(it->lines) + std::size_t(line - it->first))
            * std::size_t(n);
        ImgData::convert(it->values.data() + off * bytes, proj.format, n, bytes, buffer);
        if (it != blocks.begin())
            blocks.splice(blocks.begin(), blocks, it);
        return true;
    }
    // A band of lines of every projection in one read: as many lines as one
    // chunk holds along the slice axis (one when the data are contiguous), as
    // far as the budget allows.
    const std::size_t perLine = std::size_t(np) * std::size_t(n) * bytes;
    const hsize_t chunkLines = isRow ? proj.chunk[1] : proj.chunk[2];
    int lines = 1;
    if (chunkLines > 1)
        lines = int(
            std::max<std::size_t>(1, std::min<std::size_t>(chunkLines, bandBudget / perLine)));
    const int first = (line / lines) * lines;
    lines = std::min(lines, (isRow ? height_ : width_) - first);
    if (perLine <= bandBudget) {
        Block b;
        b.isRow = isRow;
        b.first = first;
        b.lines = lines;
        bool ok = true;
        try {
            b.values.resize(perLine * std::size_t(lines));
        } catch (const std::bad_alloc &) {
            ok = false;
        }
        if (ok) {
            const hsize_t start[3] = { p0, hsize_t(isRow ? first : 0), hsize_t(isRow ? 0 : first) };
            const hsize_t count[3]
                = { np, hsize_t(isRow ? lines : height_), hsize_t(isRow ? width_ : lines) };
            // A column band comes as [p][y][k]; it is kept as [p][k][y].
            std::vector<unsigned char> slab;
            if (!isRow && lines > 1) {
                try {
                    slab.resize(b.values.size());
                } catch (const std::bad_alloc &) {
                    ok = false;
                }
            }
            if (ok) {
                unsigned char *dst = slab.empty() ? b.values.data() : slab.data();
                if (!readSlab(proj, start, count, proj.memType, dst)) {
                    std::fill(buffer, buffer + n, 0.0);
                    return false;
                }
                if (!slab.empty()) {
                    for (hsize_t q = 0; q < np; ++q)
                        for (int y = 0; y < height_; ++y)
                            for (int k = 0; k < lines; ++k)
                                std::memcpy(b.values.data()
                                        + ((q * lines + hsize_t(k)) * hsize_t(height_) + hsize_t(y))
                                            * bytes,
                                    slab.data()
                                        + ((q * hsize_t(height_) + hsize_t(y)) * hsize_t(lines)
                                              + hsize_t(k))
                                            * bytes,
                                    bytes);
                }
                std::size_t total = b.values.size();
                for (const Block &o : blocks)
                    total += o.values.size();
                blocks.push_front(std::move(b));
                while (
                    blocks.size() > 1 && (int(blocks.size()) > maxBlocks || total > blocksBudget)) {
                    total -= blocks.back().values.size();
                    blocks.pop_back();
                }
                const Block &f = blocks.front();
                const std::size_t off
                    = (std::size_t(pk) * std::size_t(f.lines) + std::size_t(line - f.first))
                    * std::size_t(n);
                ImgData::convert(f.values.data() + off * bytes, proj.format, n, bytes, buffer);
                return true;
            }
        }
    }
    // Too wide for a band: this projection's line alone.
    const hsize_t start[3]
        = { projIdx[std::size_t(p)], hsize_t(isRow ? line : 0), hsize_t(isRow ? 0 : line) };
    const hsize_t count[3] = { 1, hsize_t(isRow ? 1 : height_), hsize_t(isRow ? width_ : 1) };
    if (!readSlab(proj, start, count, H5T_NATIVE_DOUBLE, buffer)) {
        std::fill(buffer, buffer + n, 0.0);
        return false;
    }
    return true;
}

bool Hdf5Scan::row(int p, int i, double *buffer) { return lineOf(true, p, i, buffer); }

bool Hdf5Scan::column(int p, int j, double *buffer) { return lineOf(false, p, j, buffer); }

bool Hdf5Scan::frame(int p, double *buffer)
{
    Hdf5Lock lock;
    if (p < 0 || p >= projections())
        return false;
    const hsize_t start[3] = { projIdx[std::size_t(p)], 0, 0 };
    const hsize_t count[3] = { 1, hsize_t(height_), hsize_t(width_) };
    return readSlab(proj, start, count, H5T_NATIVE_DOUBLE, buffer);
}

bool Hdf5Scan::pixel(int p, int x, int y, double &v)
{
    Hdf5Lock lock;
    if (p < 0 || p >= projections() || x < 0 || y < 0 || x >= width_ || y >= height_)
        return false;
    const hsize_t start[3] = { projIdx[std::size_t(p)], hsize_t(y), hsize_t(x) };
    const hsize_t count[3] = { 1, 1, 1 };
    return readSlab(proj, start, count, H5T_NATIVE_DOUBLE, &v);
}

bool Hdf5Scan::mean(bool flats, std::vector<double> &out)
{
    Hdf5Lock lock;
    const std::vector<hsize_t> &idx = flats ? flatIdx : darkIdx;
    const Source &src = layout_ == Layout::NXtomo ? proj : (flats ? white : dark);
    if (idx.empty() || !src.dset.valid())
        return false;
    const std::size_t n = std::size_t(width_) * std::size_t(height_);
    std::vector<double> frameBuf;
    try {
        out.assign(n, 0.0);
        frameBuf.resize(n);
    } catch (const std::bad_alloc &) {
        out.clear();
        return false;
    }
    for (hsize_t k : idx) {
        const hsize_t start[3] = { k, 0, 0 };
        const hsize_t count[3] = { 1, hsize_t(height_), hsize_t(width_) };
        if (!readSlab(src, start, count, H5T_NATIVE_DOUBLE, frameBuf.data())) {
            out.clear();
            return false;
        }
        for (std::size_t i = 0; i < n; ++i)
            out[i] += frameBuf[i];
    }
    const double m = double(idx.size());
    for (double &v : out)
        v /= m;
    return true;
}

ScanAngles checkScanAngles(const std::vector<double> &deg)
{
    constexpr double tol = 0.01;
    auto matches = [&](std::size_t count, int m) {
        for (std::size_t i = 0; i < count; ++i)
            if (!(std::fabs(deg[i] - double(i) * 180.0 / double(m)) <= tol))
                return false;
        return true;
    };
    const int m = int(deg.size());
    if (m > 0 && matches(deg.size(), m))
        return ScanAngles::Match;
    if (m > 1 && matches(deg.size(), m - 1))
        return ScanAngles::DropLast;
    return ScanAngles::Refused;
}
