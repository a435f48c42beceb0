#pragma once
// The ordered stack of measured projection images of one data set, all of one
// size, with references to the I0 (flat-field) and BG (background) images that
// their selectors hold.
//
// Threads: files are added and the stack is cleared from one thread (the GUI
// thread); while no load or clear is going on, any number of threads may read
// members (count(), at(), i0(), bg() and the members' row()/column()) at once.
// Reading keeps no state in the stack.
#include "image/img_data.h"

#include <QHash>
#include <QObject>
#include <QSize>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class QImage;
class ColorBar;

class ImgDatas : public QObject {
    Q_OBJECT
public:
    explicit ImgDatas(QObject *parent = nullptr);
    ~ImgDatas() override;

    int count() const { return int(imgs.size()); }
    bool isEmpty() const { return imgs.empty(); }
    // Size of every member; (0, 0) while no size is set.
    QSize size() const { return QSize(width, height); }
    // Member by index, or nullptr outside [0, count()).
    ImgData *at(int index) const;
    bool validIndex(int index) const { return index >= 0 && index < count(); }

    // The current I0 and BG image: the image in the selector's slot when the
    // reference is set, the slot holds an image and it is ready; else nullptr.
    // A scan file that brought flat (dark) fields makes their mean the I0
    // (BG) image, until the selector is given another image or cleared.
    ImgData *i0() const;
    ImgData *bg() const;
    // Why an HDF5 scan file was refused by add() (the text of its log line
    // without the path), or empty; kept until clearImgs().
    QString refusalReason(const QString &filePath) const { return refusals.value(filePath); }
    // The means taken from the last scan file that had flats / darks, or nullptr.
    ImgData *scanI0() const { return scanI0_.get(); }
    ImgData *scanBg() const { return scanBg_.get(); }
    // Store the references to the selectors' image slots (the place where each
    // selector keeps its current image). Set once, before any sinogram is built.
    void setI0Ref(ImgData *const *slot);
    void setI0Ref(const std::unique_ptr<ImgData> *slot);
    void setBgRef(ImgData *const *slot);
    void setBgRef(const std::unique_ptr<ImgData> *slot);

    // The display image of member index through the bar, then imageUpdated().
    // False (nothing emitted, image unchanged) when index is outside
    // [0, count()). Defined with ColorBar in the display library.
    bool makeImage(int index, QImage &image, ColorBar &bar);

public slots:
    // Loads one file and appends it when it has the stack's size (the first
    // accepted image sets the size). False, with a log line, otherwise.
    // An HDF5 scan file appends one image per projection, in file order, and
    // sets I0 and BG from its flat and dark fields when it has them.
    bool add(const QString &filePath);
    // Drops every member; the size stays, so new members must match it.
    void clearImgs();
    // clearImgs(), then the stack is unsized.
    void clear();

signals:
    void imageUpdated();

private:
    using Slot = std::function<ImgData *()>;
    static ImgData *readySlot(const Slot &slot);
    bool addHdf5(const QString &filePath);
    bool fits(const ImgData *img, const QString &filePath) const;
    // The scan's mean while the selector holds what it held when the mean was
    // taken; once it has been seen holding anything else, the selector's image.
    ImgData *pick(const Slot &slot, const std::unique_ptr<ImgData> &scanImg, quint64 serialAtScan,
        std::atomic<bool> &overridden) const;

    int width = 0;
    int height = 0;
    std::vector<std::unique_ptr<ImgData>> imgs;
    Slot i0Ref;
    Slot bgRef;
    QHash<QString, QString> refusals;
    std::unique_ptr<ImgData> scanI0_;
    std::unique_ptr<ImgData> scanBg_;
    quint64 i0SerialAtScan = 0; // ImgData::serial() of the selector's image, 0 for none
    quint64 bgSerialAtScan = 0;
    mutable std::atomic<bool> i0Overridden { false };
    mutable std::atomic<bool> bgOverridden { false };
};
