#include "image/img_datas.h"

#include "image/hdf5_scan.h"
#include "image/img_data_hdf5.h"

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

ImgData *ImgDatas::pick(const Slot &slot, const std::unique_ptr<ImgData> &scanImg,
    quint64 serialAtScan, std::atomic<bool> &overridden) const
{
    ImgData *sel = slot ? slot() : nullptr;
    if (scanImg && !overridden.load()) {
        if ((sel ? sel->serial() : 0) == serialAtScan)
            return scanImg.get();
        overridden.store(true);
    }
    return sel && sel->ready() ? sel : nullptr;
}

ImgData *ImgDatas::i0() const { return pick(i0Ref, scanI0_, i0SerialAtScan, i0Overridden); }

ImgData *ImgDatas::bg() const { return pick(bgRef, scanBg_, bgSerialAtScan, bgOverridden); }

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

bool ImgDatas::fits(const ImgData *img, const QString &filePath) const
{
    // An image without pixels never sizes the stack: it would let images of
    // any size in beside it.
    const bool ok = img->width() > 0 && img->height() > 0
        && (width == 0 ? true : img->width() == width && img->height() == height);
    if (!ok)
        qDebug() << "Mismatch image size"
                 << qPrintable(QStringLiteral(": (%1, %2) != (%3, %4) : ")
                                   .arg(width)
                                   .arg(height)
                                   .arg(img->width())
                                   .arg(img->height()))
                 << filePath;
    return ok;
}

bool ImgDatas::addHdf5(const QString &filePath)
{
    QString why;
    std::shared_ptr<Hdf5Scan> scan = Hdf5Scan::open(filePath, why);
    if (!scan) {
        qDebug() << "HDF5 file refused :" << qPrintable(why) << ":" << filePath;
        refusals.insert(filePath, why);
        return false;
    }
    int m = scan->projections();
    if (!scan->angles().empty()) {
        switch (checkScanAngles(scan->angles())) {
        case ScanAngles::Match:
            break;
        case ScanAngles::DropLast:
            scan->dropLastProjection();
            m = scan->projections();
            qDebug() << "HDF5 scan ends at 180 degrees : its last projection is left out :"
                     << m << "projections :" << filePath;
            break;
        case ScanAngles::Refused:
            qDebug() << "HDF5 file refused : its angles are not i x 180 / M degrees :" << filePath;
            refusals.insert(filePath, QStringLiteral("its angles are not i x 180 / M degrees"));
            return false;
        }
    }
    // The means first: a file whose flats cannot be read is refused whole.
    std::unique_ptr<ImgData> flat;
    std::unique_ptr<ImgData> dark;
    const std::pair<ImgDataHdf5::Part, std::unique_ptr<ImgData> *> means[]
        = { { ImgDataHdf5::Part::FlatMean, &flat }, { ImgDataHdf5::Part::DarkMean, &dark } };
    for (const auto &mean : means) {
        if ((mean.first == ImgDataHdf5::Part::FlatMean ? scan->flats() : scan->darks()) == 0)
            continue;
        auto img = std::make_unique<ImgDataHdf5>(scan, mean.first);
        img->setFileName(filePath);
        if (!img->load()) { // logged by the image
            refusals.insert(filePath, QStringLiteral("its flat or dark fields can't be read"));
            return false;
        }
        *mean.second = std::move(img);
    }
    std::vector<std::unique_ptr<ImgData>> frames;
    frames.reserve(std::size_t(m));
    for (int p = 0; p < m; ++p) {
        auto img = std::make_unique<ImgDataHdf5>(scan, ImgDataHdf5::Part::Projection, p);
        img->setMapFile(true); // watched: a file changed under the program is refused
        img->setFileName(filePath);
        if (!img->load()) {
            qDebug() << "HDF5 file refused : projection" << p << "can't be read :" << filePath;
            refusals.insert(filePath, QStringLiteral("a projection can't be read"));
            return false;
        }
        frames.push_back(std::move(img));
    }
    if (!fits(frames.front().get(), filePath))
        return false;
    if (width == 0) {
        width = frames.front()->width();
        height = frames.front()->height();
    }
    for (auto &f : frames)
        imgs.push_back(std::move(f));
    if (flat) {
        ImgData *sel = i0Ref ? i0Ref() : nullptr;
        i0SerialAtScan = sel ? sel->serial() : 0;
        i0Overridden = false;
        scanI0_ = std::move(flat);
        qDebug() << "I0 is the mean of" << scan->flats() << "flat fields of" << filePath;
    }
    if (dark) {
        ImgData *sel = bgRef ? bgRef() : nullptr;
        bgSerialAtScan = sel ? sel->serial() : 0;
        bgOverridden = false;
        scanBg_ = std::move(dark);
        qDebug() << "BG is the mean of" << scan->darks() << "dark fields of" << filePath;
    }
    return true;
}

bool ImgDatas::add(const QString &filePath)
{
    const ImgFileType type = fileType(filePath);
    if (type == ImgFileHDF5)
        return addHdf5(filePath);
    std::unique_ptr<ImgData> img(createImgData(type));
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
    if (!fits(img.get(), filePath))
        return false;
    if (unsized) {
        width = img->width();
        height = img->height();
    }
    imgs.push_back(std::move(img));
    return true;
}

void ImgDatas::clearImgs()
{
    imgs.clear();
    refusals.clear();
    scanI0_.reset();
    scanBg_.reset();
}

void ImgDatas::clear()
{
    clearImgs();
    width = 0;
    height = 0;
}
