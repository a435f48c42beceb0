#include "ct/hdf5_volume.h"

#include "image/hdf5_lib.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <unistd.h>
#include <vector>

struct Hdf5VolumeWriter::Handles {
    Hdf5Id file;
    Hdf5Id group;
    Hdf5Id recon;
};

QVector<int> hdf5VolumeSlices(int from, int to, int step)
{
    QVector<int> s;
    const int d = std::max(1, std::abs(step));
    if (from <= to)
        for (qint64 k = from; k <= to; k += d)
            s.push_back(int(k));
    else
        for (qint64 k = from; k >= to; k -= d)
            s.push_back(int(k));
    std::sort(s.begin(), s.end());
    return s;
}

Hdf5VolumeWriter::Hdf5VolumeWriter(const QString &finalPath, QVector<int> slices)
    : finalPath_(finalPath)
    , slices_(std::move(slices))
{
    std::sort(slices_.begin(), slices_.end());
    slices_.erase(std::unique(slices_.begin(), slices_.end()), slices_.end());
    written.fill(false, slices_.size());
}

Hdf5VolumeWriter::~Hdf5VolumeWriter() { abandon(); }

void Hdf5VolumeWriter::fail(const QString &why)
{
    if (!failed_)
        qDebug() << "Can't write file : " << finalPath_
                 << qPrintable(QStringLiteral("(%1)").arg(why));
    failed_ = true;
    abandon();
}

void Hdf5VolumeWriter::abandon()
{
    if (h) {
        Hdf5Lock lock;
        h.reset();
    }
    if (!partName.isEmpty()) {
        ::unlink(partName.constData());
        partName.clear();
    }
}

bool Hdf5VolumeWriter::create(int n)
{
    Hdf5Lock lock;
    const QFileInfo fi(finalPath_);
    h = std::make_unique<Handles>();
    for (int attempt = 0; attempt < 16 && !h->file.valid(); ++attempt) {
        const QString tag
            = QString::number(QRandomGenerator::global()->generate64() & 0xffffffffffull, 36);
        partName = QFile::encodeName(
            QStringLiteral("%1/%2.%3.part").arg(fi.absolutePath(), fi.fileName(), tag));
        if (QFile::exists(QFile::decodeName(partName)))
            continue;
        h->file.reset(H5Fcreate(partName.constData(), H5F_ACC_EXCL, H5P_DEFAULT, H5P_DEFAULT));
        if (!h->file.valid())
            break;
    }
    if (!h->file.valid()) {
        partName.clear();
        fail(QStringLiteral("can't create it"));
        return false;
    }
    h->group.reset(H5Gcreate2(h->file, "exchange", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
    const hsize_t dims[3] = { hsize_t(slices_.size()), hsize_t(n), hsize_t(n) };
    const hsize_t chunk[3] = { 1, hsize_t(n), hsize_t(n) };
    // Unlimited along the slices, so that a run with slices missing can be cut.
    const hsize_t maxDims[3] = { H5S_UNLIMITED, hsize_t(n), hsize_t(n) };
    Hdf5Id space(H5Screate_simple(3, dims, maxDims));
    Hdf5Id dcpl(H5Pcreate(H5P_DATASET_CREATE));
    const float zero = 0.0f;
    // Space for a frame is taken when it is written, so a run that stops
    // early has written no more than it computed.
    if (!h->group.valid() || !space.valid() || !dcpl.valid() || H5Pset_chunk(dcpl, 3, chunk) < 0
        || H5Pset_fill_value(dcpl, H5T_NATIVE_FLOAT, &zero) < 0
        || H5Pset_alloc_time(dcpl, H5D_ALLOC_TIME_INCR) < 0) {
        fail(QStringLiteral("can't lay out the volume"));
        return false;
    }
    h->recon.reset(
        H5Dcreate2(h->group, "recon", H5T_IEEE_F32LE, space, H5P_DEFAULT, dcpl, H5P_DEFAULT));
    if (!h->recon.valid()) {
        fail(QStringLiteral("can't make /exchange/recon"));
        return false;
    }
    n_ = n;
    return true;
}

bool Hdf5VolumeWriter::addFrame(int slice, const float *values, int n)
{
    if (failed_)
        return false;
    const auto it = std::lower_bound(slices_.begin(), slices_.end(), slice);
    if (it == slices_.end() || *it != slice) {
        qDebug() << "HDF5 volume : slice" << slice
                 << "is not in the run, not saved :" << finalPath_;
        return false;
    }
    if (n <= 0 || !values) {
        qDebug() << "HDF5 volume : slice" << slice << "has no values, not saved :" << finalPath_;
        return false;
    }
    if (n_ == 0 && !create(n))
        return false;
    if (n != n_) {
        qDebug() << "HDF5 volume : slice" << slice
                 << qPrintable(QStringLiteral("has a %1 x %1 grid, the volume %2 x %2 (another "
                                              "centre) : refused for")
                                   .arg(n)
                                   .arg(n_))
                 << finalPath_;
        return false;
    }
    const int index = int(it - slices_.begin());
    Hdf5Lock lock;
    Hdf5Id fs(H5Dget_space(h->recon));
    const hsize_t start[3] = { hsize_t(index), 0, 0 };
    const hsize_t count[3] = { 1, hsize_t(n), hsize_t(n) };
    Hdf5Id ms(H5Screate_simple(3, count, nullptr));
    if (!fs.valid() || !ms.valid()
        || H5Sselect_hyperslab(fs, H5S_SELECT_SET, start, nullptr, count, nullptr) < 0
        || H5Dwrite(h->recon, H5T_NATIVE_FLOAT, ms, fs, H5P_DEFAULT, values) < 0) {
        fail(QStringLiteral("slice %1 can't be written").arg(slice));
        return false;
    }
    written[index] = true;
    return true;
}

bool Hdf5VolumeWriter::finish(const QByteArray &recordText, const QMap<int, double> &centres)
{
    if (failed_)
        return false;
    QVector<int> done;
    for (int k = 0; k < slices_.size(); ++k)
        if (written[k])
            done.push_back(slices_[k]);
    if (done.isEmpty()) {
        qDebug() << "HDF5 volume : no slice was saved, no file :" << finalPath_;
        abandon();
        return false;
    }
    Hdf5Lock lock;
    const std::size_t frame = std::size_t(n_) * std::size_t(n_);
    // Frames of slices never written (a stopped run, failed slices) are
    // dropped: later frames move down, then the data set is cut.
    if (done.size() != slices_.size()) {
        std::vector<float> buf(frame);
        const hsize_t count[3] = { 1, hsize_t(n_), hsize_t(n_) };
        int to = 0;
        for (int from = 0; from < slices_.size(); ++from) {
            if (!written[from])
                continue;
            if (from != to) {
                Hdf5Id fs(H5Dget_space(h->recon));
                Hdf5Id ms(H5Screate_simple(3, count, nullptr));
                const hsize_t a[3] = { hsize_t(from), 0, 0 };
                const hsize_t b[3] = { hsize_t(to), 0, 0 };
                if (H5Sselect_hyperslab(fs, H5S_SELECT_SET, a, nullptr, count, nullptr) < 0
                    || H5Dread(h->recon, H5T_NATIVE_FLOAT, ms, fs, H5P_DEFAULT, buf.data()) < 0
                    || H5Sselect_hyperslab(fs, H5S_SELECT_SET, b, nullptr, count, nullptr) < 0
                    || H5Dwrite(h->recon, H5T_NATIVE_FLOAT, ms, fs, H5P_DEFAULT, buf.data()) < 0) {
                    fail(QStringLiteral("can't move a frame"));
                    return false;
                }
            }
            ++to;
        }
        const hsize_t dims[3] = { hsize_t(done.size()), hsize_t(n_), hsize_t(n_) };
        if (H5Dset_extent(h->recon, dims) < 0) {
            fail(QStringLiteral("can't cut the volume to the slices done"));
            return false;
        }
    }
    h->recon.reset();
    // Slice numbers and centres, one per frame.
    std::vector<int> sliceNo(done.begin(), done.end());
    std::vector<double> cor;
    for (int s : done)
        cor.push_back(centres.value(s, std::numeric_limits<double>::quiet_NaN()));
    const hsize_t m = hsize_t(done.size());
    Hdf5Id vs(H5Screate_simple(1, &m, nullptr));
    Hdf5Id ds(
        H5Dcreate2(h->group, "slice", H5T_STD_I32LE, vs, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
    Hdf5Id dc(
        H5Dcreate2(h->group, "centre", H5T_IEEE_F64LE, vs, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
    bool ok = ds.valid() && dc.valid()
        && H5Dwrite(ds, H5T_NATIVE_INT, H5S_ALL, H5S_ALL, H5P_DEFAULT, sliceNo.data()) >= 0
        && H5Dwrite(dc, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, cor.data()) >= 0;
    ds.reset();
    dc.reset();
    if (ok) {
        Hdf5Id t(H5Tcopy(H5T_C_S1));
        H5Tset_size(t, std::max<size_t>(1, size_t(recordText.size())));
        H5Tset_cset(t, H5T_CSET_UTF8);
        Hdf5Id as(H5Screate(H5S_SCALAR));
        // Large texts go into dense attribute storage; a run record is small.
        Hdf5Id a(H5Acreate2(h->group, "run_record", t, as, H5P_DEFAULT, H5P_DEFAULT));
        const QByteArray text = recordText.isEmpty() ? QByteArray(1, '\0') : recordText;
        ok = a.valid() && H5Awrite(a, t, text.constData()) >= 0;
    }
    if (!ok) {
        fail(QStringLiteral("can't write the slice numbers, centres or run record"));
        return false;
    }
    h->group.reset();
    const bool closed = H5Fclose(h->file.release()) >= 0;
    h.reset();
    if (!closed) {
        fail(QStringLiteral("can't close it"));
        return false;
    }
    // On the disk before it takes the final name.
    const int fd = ::open(partName.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) {
        const QString why = QString::fromLocal8Bit(std::strerror(errno));
        if (fd >= 0)
            ::close(fd);
        fail(why);
        return false;
    }
    ::close(fd);
    if (std::rename(partName.constData(), QFile::encodeName(finalPath_).constData()) != 0) {
        fail(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    partName.clear();
    return true;
}
