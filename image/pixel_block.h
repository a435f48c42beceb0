#pragma once
// The pixel bytes of one image, either mapped from its file or held on the heap.
//
// A mapped block holds no file descriptor: the QFile that made the mapping is
// closed right after map() and kept only as the owner of the mapping (Qt keeps
// a mapping across close() and unmaps it when the QFile is destroyed). A scan
// of thousands of images therefore stays far below the open-file limit, and the
// pages are shared with the page cache instead of copied into private memory.
//
// The block is immutable once made available to readers; any number of threads
// may read it at once.
#include <QtGlobal>
#include <cstddef>
#include <memory>

class QFile;
class QString;

class PixelBlock {
public:
    ~PixelBlock();
    PixelBlock(const PixelBlock &) = delete;
    PixelBlock &operator=(const PixelBlock &) = delete;

    // Maps length bytes from byte offset of the file; nullptr when the file
    // cannot be opened or mapped, or is shorter than offset + length.
    static std::unique_ptr<PixelBlock> mapFile(const QString &path, qint64 offset, qint64 length);
    // Reads length bytes from byte offset of the file into heap memory;
    // nullptr when the file cannot be read completely or memory runs out.
    static std::unique_ptr<PixelBlock> readFile(const QString &path, qint64 offset, qint64 length);
    // Uninitialised heap memory of length bytes; nullptr when memory runs out.
    static std::unique_ptr<PixelBlock> allocate(std::size_t length);

    const unsigned char *data() const { return ptr; }
    // Writable only for heap blocks (mapped pages are read-only); nullptr otherwise.
    unsigned char *writableData() { return heap ? heap.get() : nullptr; }
    std::size_t size() const { return len; }
    bool isMapped() const { return bool(mapOwner); }

private:
    PixelBlock() = default;

    std::unique_ptr<QFile> mapOwner; // closed file that owns the mapping
    std::unique_ptr<unsigned char[]> heap; // or the bytes on the heap
    const unsigned char *ptr = nullptr;
    std::size_t len = 0;
};
