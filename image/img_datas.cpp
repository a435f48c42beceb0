#include "image/img_datas.h"

#include <QDebug>

ImgDatas::ImgDatas(QObject *parent)
    : QObject(parent)
{
}

ImgDatas::~ImgDatas() { clear(); }

ImgData *ImgDatas::at(int index) const
{
    return validIndex(index) ? imgs[std::size_t(index)].get() : nullptr;
}

ImgData *ImgDatas::readySlot(const Slot &slot)
{
    if (!slot)
        return nullptr;
    ImgData *img = slot();
    return img && img->ready() ? img : nullptr;
}

ImgData *ImgDatas::i0() const { return readySlot(i0Ref); }

ImgData *ImgDatas::bg() const { return readySlot(bgRef); }

void ImgDatas::setI0Ref(ImgData *const *slot)
{
    i0Ref = slot ? Slot([slot] { return *slot; }) : Slot();
}

void ImgDatas::setI0Ref(const std::unique_ptr<ImgData> *slot)
{
    i0Ref = slot ? Slot([slot] { return slot->get(); }) : Slot();
}

void ImgDatas::setBgRef(ImgData *const *slot)
{
    bgRef = slot ? Slot([slot] { return *slot; }) : Slot();
}

void ImgDatas::setBgRef(const std::unique_ptr<ImgData> *slot)
{
    bgRef = slot ? Slot([slot] { return slot->get(); }) : Slot();
}

bool ImgDatas::add(const QString &filePath)
{
    std::unique_ptr<ImgData> img(createImgData(fileType(filePath)));
    if (!img)
        return false; // the type test has logged "Unknown file type : "
    img->setKeepInMemory(true);
    // Members share the file's pages and watch the file for changes.
    img->setMapFile(true);
    img->setFileName(filePath);
    if (!img->load()) {
        qDebug() << "File is not ready to access" << filePath;
        return false;
    }
    const bool unsized = width == 0;
    // An image without pixels never sizes the stack: it would let images of
    // any size in beside it.
    const bool fits = img->width() > 0 && img->height() > 0
        && (unsized ? true : img->width() == width && img->height() == height);
    if (!fits) {
        qDebug() << "Mismatch image size"
                 << qPrintable(QStringLiteral(": (%1, %2) != (%3, %4) : ")
                                   .arg(width)
                                   .arg(height)
                                   .arg(img->width())
                                   .arg(img->height()))
                 << filePath;
        return false;
    }
    if (unsized) {
        width = img->width();
        height = img->height();
    }
    imgs.push_back(std::move(img));
    return true;
}

void ImgDatas::clearImgs() { imgs.clear(); }

void ImgDatas::clear()
{
    clearImgs();
    width = 0;
    height = 0;
}
