#pragma once
// One detector image file behind a common interface.
//
// An ImgData is created empty for a file kind (createImgData), given its file
// name, loaded once and then read any number of times. Consumers never touch the
// file: they ask for one row or one column at a time as doubles.
//
// Coordinates: x (column j) to the right, y (row i) downwards, (0, 0) is the
// top-left pixel. Pixels are held in row-major order, [y][x].
//
// Threads: after load() the image is immutable apart from the cached extremes,
// so row(), column(), value() and toImage(QImage&, const LevelMap&) may be
// called from several threads at once. They use only the caller's buffer and
// either the pixels in memory (mapped or copied) or a private file handle per
// call; there is no shared scratch buffer and no shared file position.
// load() must not overlap any read.
//
// Open files: an image in memory mode holds no file descriptor after load();
// its pixel block stays mapped (or copied) until the object is destroyed.
//
// Files that change: by default the pixels are a private copy, which nothing
// done to the file later can touch (I0, BG). Members of an image stack are
// loaded with setMapFile(true): their pixels may stay in the file's own
// pages, shared with the page cache, so that a scan of thousands of images
// costs no private memory. Such an image watches its file: reads of its
// mapped pages are guarded against the file being cut (no crash), and
// checkFile() compares the file's size and modification time with those seen
// at load. Once either has changed, or a guarded read hit a cut, the image is
// refused: one log line names the file and every later read gives zeros.
#include <QString>
#include <QtGlobal>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

class QImage;
class ColorBar;
class PixelBlock;
struct LevelMap;

// Kinds of image files, told apart by the first two bytes of the file.
enum ImgFileType : int {
    ImgFileITEX = 0, // starts with 'I' 'M'
    ImgFileTIFF = 1, // starts with 'I' 'I' or 'M' 'M'
    ImgFileUnknown = 2, // anything else, or the file cannot be read
    ImgFileHDF5 = 3 // the HDF5 signature at 0, 512, 1024, 2048 ... bytes
};

// How the pixels of one image are stored (in memory or in the file).
enum class PixelFormat : int { None, U8, I8, U16, I16, U32, I32, F32, F64 };

class ImgData {
public:
    virtual ~ImgData();
    ImgData(const ImgData &) = delete;
    ImgData &operator=(const ImgData &) = delete;

    // Reads the header, then makes the pixels accessible (see keepInMemory).
    // Returns and stores ready(); a failure has been written to the debug log.
    bool load();

    // Computes minV()/maxV() once (the first call after a successful load;
    // later calls return at once). Safe to call from several threads.
    void scanMinMax();

    // Fills buffer[0 .. width()-1] with row i and returns buffer.
    // Fills buffer[0 .. height()-1] with column j and returns buffer.
    // Indices are not checked: keep 0 <= i < height(), 0 <= j < width().
    // On an image that is not ready the buffer is left unchanged.
    virtual double *row(int i, double *buffer) const = 0;
    virtual double *column(int j, double *buffer) const = 0;

    // One pixel, bounds-checked: 0 outside the image or when not ready.
    double value(int x, int y) const;

    // The whole image as an 8-bit grey picture (QImage::Format_Grayscale8,
    // width() x height()) with map.level(v) per pixel. GUI-free and fast.
    // The image is left unchanged when this image is not ready.
    void toImage(QImage &image, const LevelMap &map) const;

    // The display image through a colour bar: scans the extremes, hands them
    // to the bar unless it is fixed, then paints with the bar's mapping.
    // Defined with ColorBar in the display library.
    void toImage(QImage &image, ColorBar &bar);

    // Stack members: pixels may be mapped from the file, and the file is
    // watched (see above). Set before load(); off by default.
    void setMapFile(bool f) { mapFile_ = f; }
    bool mapFile() const { return mapFile_; }

    // For a watched image: false when its file's size or modification time
    // differs from load time (one stat), or the image was refused before;
    // the first refusal logs "Image file changed since loading : " with the
    // path. True for an image that does not watch its file. Thread-safe.
    bool checkFile() const;
    // True once the image has been refused (no file access).
    bool fileRefused() const { return refused_.load(std::memory_order_acquire); }

    // On by default. Off turns the file checks and the guard of mapped reads
    // off, as the reader was without them; only for measuring their cost.
    static void setFileChecks(bool on);
    static bool fileChecks();

    // A number no other image of this run has (from 1), to tell images apart
    // where an address may have been reused.
    quint64 serial() const { return serial_; }

    bool ready() const { return ready_; }
    bool keepInMemory() const { return keepInMemory_; }
    void setKeepInMemory(bool f) { keepInMemory_ = f; }
    const QString &fileName() const { return fileName_; }
    void setFileName(const QString &path) { fileName_ = path; }

    int width() const { return width_; } // pixels per row
    int height() const { return height_; } // number of rows

    // Extremes of the pixel values; valid once minMaxValid() is true.
    bool minMaxValid() const { return minMaxValid_; }
    double minV() const { return minV_; }
    double maxV() const { return maxV_; }

    // Storage of the pixels (None before load or for an image without pixels).
    PixelFormat pixelFormat() const { return format_; }
    // True when the pixels are the file's own pages mapped into memory (no
    // private copy); false when copied or decoded, or read from the file.
    bool pixelsMapped() const;

    // Converts n pixels of the given format, spaced stride bytes apart, to doubles.
    static void convert(
        const unsigned char *src, PixelFormat format, int n, std::size_t stride, double *dst);
    static int bytesOf(PixelFormat format);

protected:
    ImgData();

    // Resets the kind's own state; called once from the kind's constructor.
    virtual void init();
    // Reads the header of path and reports the size; false refuses the file.
    virtual bool readProps(const QString &path, int &width, int &height) = 0;
    // Makes the pixels of fileName() accessible; false refuses the file.
    virtual bool open() = 0;
    // The whole image, [y][x], for kinds that hold no pixel block but can
    // read it in one go faster than row by row; false to read row by row.
    virtual bool readWhole(double *) const { return false; }
    // One pixel, for kinds that hold no pixel block and read a pixel faster
    // than its row (value() uses it); false to read the row.
    virtual bool readPixel(int, int, double &) const { return false; }

    // Pixels in memory: the kinds hand their block here in open(). The block
    // holds height() rows of width() pixels of the given format, row-major.
    void setPixels(std::unique_ptr<PixelBlock> block, PixelFormat format);
    void setPixelFormat(PixelFormat format) { format_ = format; }
    const unsigned char *pixels() const;
    bool hasPixels() const;

    // Reads row i / column j from the pixels in memory. Both need hasPixels().
    double *rowFromPixels(int i, double *buffer) const;
    double *columnFromPixels(int j, double *buffer) const;

    // The whole image through readWhole() into whole; false (whole empty)
    // when the kind reads row by row.
    bool wholeImage(std::vector<double> &whole) const;
    // Refuses the image (once: one log line naming the file).
    void refuse() const;
    // Converts from the pixel block, guarded when it is mapped; false (the
    // image is then refused) when the file was cut under the mapping.
    bool convertPixels(const unsigned char *src, int n, std::size_t stride, double *dst) const;
    // Runs f() over the pixel block, guarded when it is mapped; false (the
    // image is then refused) when the file was cut or had been refused.
    template <typename F> bool guardedRead(F &f) const;

private:
    bool ready_ = false;
    bool keepInMemory_ = true;
    int width_ = 0;
    int height_ = 0;
    QString fileName_;
    std::atomic<bool> minMaxValid_ { false }; // set once by scanMinMax(), after minV_/maxV_
    double minV_;
    double maxV_;
    PixelFormat format_ = PixelFormat::None;
    std::unique_ptr<PixelBlock> block_;
    std::mutex scanMutex_;
    bool mapFile_ = false;
    qint64 loadSize_ = -1; // the file as seen at load (watched images)
    qint64 loadMtimeNs_ = 0;
    mutable std::atomic<bool> refused_ { false };
    quint64 serial_;
};

// ITEX image (pixels mapped for stack members on little-endian hosts, else
// copied): a 64-byte header, a comment of L bytes from byte 64, then the
// pixel block of 16- or 32-bit unsigned little-endian pixels, [y][x].
class ImgDataITEX : public ImgData {
public:
    ImgDataITEX();
    ~ImgDataITEX() override;

    double *row(int i, double *buffer) const override;
    double *column(int j, double *buffer) const override;

    int dataOffset() const { return dataOffset_; } // byte position of the first pixel
    int bytesPerPixel() const { return bytesPerPixel_; } // 2 or 4 after a successful load

protected:
    void init() override;
    bool readProps(const QString &path, int &width, int &height) override;
    bool open() override;

private:
    // Reads len bytes at byte position pos of the file into dst, through a
    // handle of its own (file-reading mode).
    bool readBlock(qint64 pos, qint64 len, unsigned char *dst) const;

    int dataOffset_ = 0;
    int bytesPerPixel_ = 0;
};

// TIFF image: the first image of the file, single-sample greyscale with 8, 16
// or 32-bit integer or 32-bit float samples, in strips or tiles. Kinds that
// cannot be decoded (colour, palette, unknown codecs) are refused at load.
// The pixels are always held in memory, whatever keepInMemory says: mapped
// from the file (stack members, setMapFile) when it holds them as plain
// strips in host byte order, copied or decoded otherwise.
class ImgDataTiff : public ImgData {
public:
    ImgDataTiff();
    ~ImgDataTiff() override;

    double *row(int i, double *buffer) const override;
    double *column(int j, double *buffer) const override;

protected:
    void init() override;
    bool readProps(const QString &path, int &width, int &height) override;
    bool open() override;

private:
    int tiffFlags_ = 0; // reset by init() and readProps(); kept for the file kind's own use
};

// True when the file holds the HDF5 signature (at byte 0, or after a user
// block at 512, 1024, 2048 ... bytes).
bool isHdf5File(const QString &path);
// True when the file opens and starts with 'I' 'M'.
bool isItexFile(const QString &path);
// True when the file opens and starts with 'I' 'I' or 'M' 'M'.
bool isTiffFile(const QString &path);
// ITEX, else TIFF, else HDF5, else unknown (logged), from the content, never
// the name.
ImgFileType fileType(const QString &path);
// A new empty image of the kind (caller owns), or nullptr for unknown.
ImgData *createImgData(ImgFileType type);
