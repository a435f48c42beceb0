#include "image/pixel_block.h"

#include <QFile>
#include <new>

// Destroying mapOwner unmaps the pages.
PixelBlock::~PixelBlock() = default;

std::unique_ptr<PixelBlock> PixelBlock::mapFile(const QString &path, qint64 offset, qint64 length)
{
    if (offset < 0 || length <= 0)
        return nullptr;
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly))
        return nullptr;
    if (file->size() - offset < length)
        return nullptr;
    uchar *p = file->map(offset, length);
    // The mapping outlives close(); only the descriptor is given back here.
    file->close();
    if (!p)
        return nullptr;
    std::unique_ptr<PixelBlock> block(new PixelBlock);
    block->mapOwner = std::move(file);
    block->ptr = p;
    block->len = std::size_t(length);
    return block;
}

std::unique_ptr<PixelBlock> PixelBlock::readFile(const QString &path, qint64 offset, qint64 length)
{
    if (offset < 0 || length <= 0)
        return nullptr;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() - offset < length || !file.seek(offset))
        return nullptr;
    auto block = allocate(std::size_t(length));
    if (!block)
        return nullptr;
    unsigned char *dst = block->heap.get();
    qint64 done = 0;
    while (done < length) {
        const qint64 n = file.read(reinterpret_cast<char *>(dst + done), length - done);
        if (n <= 0)
            return nullptr;
        done += n;
    }
    return block;
}

std::unique_ptr<PixelBlock> PixelBlock::allocate(std::size_t length)
{
    if (length == 0)
        return nullptr;
    std::unique_ptr<unsigned char[]> mem(new (std::nothrow) unsigned char[length]);
    if (!mem)
        return nullptr;
    std::unique_ptr<PixelBlock> block(new PixelBlock);
    block->ptr = mem.get();
    block->heap = std::move(mem);
    block->len = length;
    return block;
}
