#include "image/img_data.h"

#include "image/img_data_hdf5.h"
#include "image/level_map.h"
#include "image/mapped_read.h"
#include "image/pixel_block.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <algorithm>
#include <cstring>
#include <limits>
#include <sys/stat.h>
#include <vector>

namespace {

std::atomic<bool> fileChecksOn { true };
std::atomic<quint64> nextSerial { 1 };

// Size and modification time (ns) of a file; false when it cannot be seen.
bool fileStamp(const QString &path, qint64 &size, qint64 &mtimeNs)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    size = qint64(st.st_size);
    mtimeNs = qint64(st.st_mtim.tv_sec) * 1000000000 + qint64(st.st_mtim.tv_nsec);
    return true;
}

// Runs f() with bus errors of a cut mapped file turned into a false return.
template <typename F> bool guarded(F &f)
{
    return runGuarded([](void *p) { (*static_cast<F *>(p))(); }, &f);
}

template <typename T> inline T load(const unsigned char *p)
{
    // Pixel blocks start at any byte of the file, so loads must not assume
    // alignment; memcpy compiles to a plain load.
    T v;
    std::memcpy(&v, p, sizeof(T));
    return v;
}

template <typename T>
void convertAs(const unsigned char *src, int n, std::size_t stride, double *dst)
{
    for (int k = 0; k < n; ++k, src += stride)
        dst[k] = double(load<T>(src));
}

// Grey levels of every value an 8- or 16-bit sample can take.
template <typename T> std::vector<unsigned char> levelTable(const LevelMap &map)
{
    constexpr int count = 1 << (8 * sizeof(T));
    std::vector<unsigned char> table(count);
    for (int k = 0; k < count; ++k) {
        // The index is the sample's bit pattern; reinterpret it as T.
        const T v = T(std::make_unsigned_t<T>(k));
        table[std::size_t(k)] = (unsigned char)map.level(double(v));
    }
    return table;
}

template <typename T>
void paintByTable(const unsigned char *pix, int width, int height,
    const std::vector<unsigned char> &table, QImage &image)
{
    const std::size_t rowBytes = std::size_t(width) * sizeof(T);
    for (int i = 0; i < height; ++i) {
        const unsigned char *src = pix + std::size_t(i) * rowBytes;
        uchar *dst = image.scanLine(i);
        for (int j = 0; j < width; ++j, src += sizeof(T))
            dst[j] = table[std::make_unsigned_t<T>(load<T>(src))];
    }
}

template <typename T>
void minMaxOf(const unsigned char *pix, std::size_t count, double &lo, double &hi)
{
    T mn = std::numeric_limits<T>::max();
    T mx = std::numeric_limits<T>::lowest();
    for (std::size_t k = 0; k < count; ++k, pix += sizeof(T)) {
        const T v = load<T>(pix);
        // NaN compares false both ways and is skipped.
        if (v < mn)
            mn = v;
        if (v > mx)
            mx = v;
    }
    lo = double(mn);
    hi = double(mx);
}

} // namespace

ImgData::ImgData()
    : minV_(std::numeric_limits<double>::max())
    , maxV_(-std::numeric_limits<double>::max())
    , serial_(nextSerial.fetch_add(1))
{
}

ImgData::~ImgData() = default;

void ImgData::init()
{
    ready_ = false;
    keepInMemory_ = true;
    width_ = 0;
    height_ = 0;
    fileName_.clear();
    minMaxValid_ = false;
    minV_ = std::numeric_limits<double>::max();
    maxV_ = -std::numeric_limits<double>::max();
    format_ = PixelFormat::None;
}

bool ImgData::load()
{
    ready_ = false;
    refused_ = false;
    // The file as it is before anything is read: any later change counts.
    loadSize_ = -1;
    loadMtimeNs_ = 0;
    if (mapFile_ && !fileStamp(fileName_, loadSize_, loadMtimeNs_))
        loadSize_ = -1;
    int w = 0;
    int h = 0;
    const bool ok = readProps(fileName_, w, h);
    width_ = w;
    height_ = h;
    if (!ok)
        return false;
    minMaxValid_ = false;
    if (!open()) {
        qDebug() << "Can not open ImgData" << fileName_;
        block_.reset();
        return false;
    }
    ready_ = true;
    return true;
}

void ImgData::scanMinMax()
{
    std::lock_guard<std::mutex> lock(scanMutex_);
    if (!ready_ || minMaxValid_)
        return;
    double lo = std::numeric_limits<double>::max();
    double hi = -std::numeric_limits<double>::max();
    if (hasPixels() && width_ > 0 && height_ > 0) {
        const std::size_t count = std::size_t(width_) * std::size_t(height_);
        const unsigned char *p = pixels();
        auto scan = [&] {
            switch (format_) {
            case PixelFormat::U8:
                minMaxOf<quint8>(p, count, lo, hi);
                break;
            case PixelFormat::I8:
                minMaxOf<qint8>(p, count, lo, hi);
                break;
            case PixelFormat::U16:
                minMaxOf<quint16>(p, count, lo, hi);
                break;
            case PixelFormat::I16:
                minMaxOf<qint16>(p, count, lo, hi);
                break;
            case PixelFormat::U32:
                minMaxOf<quint32>(p, count, lo, hi);
                break;
            case PixelFormat::I32:
                minMaxOf<qint32>(p, count, lo, hi);
                break;
            case PixelFormat::F32: {
                // All-NaN data leaves the float limits; keep the double ones then.
                double flo, fhi;
                minMaxOf<float>(p, count, flo, fhi);
                if (flo <= fhi) {
                    lo = flo;
                    hi = fhi;
                }
                break;
            }
            case PixelFormat::F64: {
                double flo, fhi;
                minMaxOf<double>(p, count, flo, fhi);
                if (flo <= fhi) {
                    lo = flo;
                    hi = fhi;
                }
                break;
            }
            case PixelFormat::None:
                break;
            }
        };
        if (!guardedRead(scan)) {
            lo = hi = 0.0;
        }
    } else if (width_ > 0 && height_ > 0) {
        std::vector<double> whole;
        if (wholeImage(whole)) {
            for (double v : whole) {
                if (v < lo)
                    lo = v;
                if (v > hi)
                    hi = v;
            }
        } else {
        std::vector<double> buf(static_cast<std::size_t>(width_));
        for (int i = 0; i < height_; ++i) {
            row(i, buf.data());
            for (double v : buf) {
                if (v < lo)
                    lo = v;
                if (v > hi)
                    hi = v;
            }
        }
        }
    }
    minV_ = lo;
    maxV_ = hi;
    minMaxValid_ = true;
}

double ImgData::value(int x, int y) const
{
    if (!ready_ || x < 0 || y < 0 || x >= width_ || y >= height_)
        return 0.0;
    if (hasPixels()) {
        double v = 0.0;
        const int b = bytesOf(format_);
        convertPixels(
            pixels() + (std::size_t(y) * std::size_t(width_) + std::size_t(x)) * std::size_t(b), 1,
            std::size_t(b), &v);
        return v;
    }
    double v = 0.0;
    if (readPixel(x, y, v))
        return v;
    std::vector<double> buf(static_cast<std::size_t>(width_));
    row(y, buf.data());
    return buf[std::size_t(x)];
}

void ImgData::toImage(QImage &image, const LevelMap &map) const
{
    if (!ready_ || width_ <= 0 || height_ <= 0)
        return;
    QImage out(width_, height_, QImage::Format_Grayscale8);
    if (out.isNull()) {
        qDebug() << "Can not make the display image of" << fileName_;
        return;
    }
    const bool byTable = hasPixels()
        && (format_ == PixelFormat::U16 || format_ == PixelFormat::I16 || format_ == PixelFormat::U8
            || format_ == PixelFormat::I8);
    if (byTable) {
        // The tables are made before the guarded part, which allocates nothing.
        std::vector<unsigned char> table;
        if (format_ == PixelFormat::U16)
            table = levelTable<quint16>(map);
        else if (format_ == PixelFormat::I16)
            table = levelTable<qint16>(map);
        else if (format_ == PixelFormat::U8)
            table = levelTable<quint8>(map);
        else
            table = levelTable<qint8>(map);
        auto paint = [&] {
            if (format_ == PixelFormat::U16)
                paintByTable<quint16>(pixels(), width_, height_, table, out);
            else if (format_ == PixelFormat::I16)
                paintByTable<qint16>(pixels(), width_, height_, table, out);
            else if (format_ == PixelFormat::U8)
                paintByTable<quint8>(pixels(), width_, height_, table, out);
            else
                paintByTable<qint8>(pixels(), width_, height_, table, out);
        };
        if (!guardedRead(paint))
            out.fill(0);
    } else if (std::vector<double> whole; wholeImage(whole)) {
        for (int i = 0; i < height_; ++i) {
            const double *src = whole.data() + std::size_t(i) * std::size_t(width_);
            uchar *dst = out.scanLine(i);
            for (int j = 0; j < width_; ++j)
                dst[j] = uchar(map.level(src[j]));
        }
    } else {
        std::vector<double> buf(static_cast<std::size_t>(width_));
        for (int i = 0; i < height_; ++i) {
            row(i, buf.data());
            uchar *dst = out.scanLine(i);
            for (int j = 0; j < width_; ++j)
                dst[j] = uchar(map.level(buf[std::size_t(j)]));
        }
    }
    image = std::move(out);
}

bool ImgData::wholeImage(std::vector<double> &whole) const
{
    try {
        whole.resize(std::size_t(width_) * std::size_t(height_));
    } catch (const std::bad_alloc &) {
        whole.clear();
        return false;
    }
    if (readWhole(whole.data()))
        return true;
    whole.clear();
    return false;
}

void ImgData::setPixels(std::unique_ptr<PixelBlock> block, PixelFormat format)
{
    block_ = std::move(block);
    format_ = format;
}

const unsigned char *ImgData::pixels() const { return block_ ? block_->data() : nullptr; }

bool ImgData::hasPixels() const { return block_ != nullptr; }

bool ImgData::pixelsMapped() const { return block_ && block_->isMapped(); }

double *ImgData::rowFromPixels(int i, double *buffer) const
{
    const std::size_t b = std::size_t(bytesOf(format_));
    const unsigned char *src = pixels() + std::size_t(i) * std::size_t(width_) * b;
    convertPixels(src, width_, b, buffer);
    return buffer;
}

double *ImgData::columnFromPixels(int j, double *buffer) const
{
    const std::size_t b = std::size_t(bytesOf(format_));
    convertPixels(pixels() + std::size_t(j) * b, height_, std::size_t(width_) * b, buffer);
    return buffer;
}

bool ImgData::convertPixels(const unsigned char *src, int n, std::size_t stride, double *dst) const
{
    if (fileRefused()) {
        std::fill(dst, dst + n, 0.0);
        return false;
    }
    if (!block_->isMapped() || !fileChecksOn.load(std::memory_order_relaxed)) {
        convert(src, format_, n, stride, dst);
        return true;
    }
    const PixelFormat format = format_;
    auto read = [=] { convert(src, format, n, stride, dst); };
    if (guarded(read))
        return true;
    refuse();
    std::fill(dst, dst + n, 0.0);
    return false;
}

template <typename F> bool ImgData::guardedRead(F &f) const
{
    if (fileRefused())
        return false;
    if (!block_ || !block_->isMapped() || !fileChecksOn.load(std::memory_order_relaxed)) {
        f();
        return true;
    }
    if (guarded(f))
        return true;
    refuse();
    return false;
}

void ImgData::refuse() const
{
    if (!refused_.exchange(true, std::memory_order_acq_rel))
        qDebug() << "Image file changed since loading : " << fileName_;
}

bool ImgData::checkFile() const
{
    if (fileRefused())
        return false;
    if (!mapFile_ || !ready_ || !fileChecksOn.load(std::memory_order_relaxed))
        return true;
    qint64 size = -1;
    qint64 mtime = 0;
    if (loadSize_ >= 0 && fileStamp(fileName_, size, mtime) && size == loadSize_
        && mtime == loadMtimeNs_)
        return true;
    refuse();
    return false;
}

void ImgData::setFileChecks(bool on) { fileChecksOn.store(on); }

bool ImgData::fileChecks() { return fileChecksOn.load(); }

void ImgData::convert(
    const unsigned char *src, PixelFormat format, int n, std::size_t stride, double *dst)
{
    switch (format) {
    case PixelFormat::U8:
        convertAs<quint8>(src, n, stride, dst);
        break;
    case PixelFormat::I8:
        convertAs<qint8>(src, n, stride, dst);
        break;
    case PixelFormat::U16:
        convertAs<quint16>(src, n, stride, dst);
        break;
    case PixelFormat::I16:
        convertAs<qint16>(src, n, stride, dst);
        break;
    case PixelFormat::U32:
        convertAs<quint32>(src, n, stride, dst);
        break;
    case PixelFormat::I32:
        convertAs<qint32>(src, n, stride, dst);
        break;
    case PixelFormat::F32:
        convertAs<float>(src, n, stride, dst);
        break;
    case PixelFormat::F64:
        convertAs<double>(src, n, stride, dst);
        break;
    case PixelFormat::None:
        break;
    }
}

int ImgData::bytesOf(PixelFormat format)
{
    switch (format) {
    case PixelFormat::U8:
    case PixelFormat::I8:
        return 1;
    case PixelFormat::U16:
    case PixelFormat::I16:
        return 2;
    case PixelFormat::U32:
    case PixelFormat::I32:
    case PixelFormat::F32:
        return 4;
    case PixelFormat::F64:
        return 8;
    case PixelFormat::None:
        break;
    }
    return 0;
}

namespace {

// Only regular files (or links to them) are opened for the type test: a named
// pipe among the data files would block the open until some program writes
// to it, and a device never ends.
bool openRegular(QFile &f)
{
    return QFileInfo(f.fileName()).isFile() && f.open(QIODevice::ReadOnly);
}

} // namespace

bool isItexFile(const QString &path)
{
    QFile f(path);
    if (!openRegular(f)) {
        qDebug() << "Check File Type (ITEX):: Can not open" << path;
        return false;
    }
    const QByteArray head = f.read(2);
    return head.size() == 2 && head[0] == 'I' && head[1] == 'M';
}

bool isTiffFile(const QString &path)
{
    QFile f(path);
    if (!openRegular(f)) {
        qDebug() << "Check File Type (TIFF):: Can not open" << path;
        return false;
    }
    const QByteArray head = f.read(2);
    return head.size() == 2 && head[0] == head[1] && (head[0] == 'I' || head[0] == 'M');
}

bool isHdf5File(const QString &path)
{
    static const char signature[8] = { '\x89', 'H', 'D', 'F', '\r', '\n', '\x1a', '\n' };
    QFile f(path);
    if (!openRegular(f))
        return false;
    const qint64 size = f.size();
    // The superblock sits at 0 or, after a user block, at 512 times a power of two.
    for (qint64 pos = 0; pos + 8 <= size; pos = pos == 0 ? 512 : pos * 2) {
        if (!f.seek(pos))
            return false;
        const QByteArray head = f.read(8);
        if (head.size() == 8 && std::memcmp(head.constData(), signature, 8) == 0)
            return true;
    }
    return false;
}

ImgFileType fileType(const QString &path)
{
    if (isItexFile(path))
        return ImgFileITEX;
    if (isTiffFile(path))
        return ImgFileTIFF;
    if (isHdf5File(path))
        return ImgFileHDF5;
    qDebug() << "Unknown file type : " << path;
    return ImgFileUnknown;
}

ImgData *createImgData(ImgFileType type)
{
    switch (type) {
    case ImgFileITEX:
        return new ImgDataITEX;
    case ImgFileTIFF:
        return new ImgDataTiff;
    case ImgFileHDF5:
        return new ImgDataHdf5;
    case ImgFileUnknown:
        break;
    }
    return nullptr;
}
