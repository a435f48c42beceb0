#pragma once

#include "select/select_a_file.h"

#include <QPointer>
#include <memory>

class ImgData;
class ImgDispWPV;
class QFrame;
namespace Ui {
class SelectAImgFileBase;
}

// A file selector in open mode that also reads the chosen image (the I0 or
// BG image), shows it in its own image window with a position/value read-out
// and holds the image's exposure time. A failed load keeps the earlier image
// and turns the path pink.
class SelectAImgFile : public SelectAFile
{
    Q_OBJECT

public:
    explicit SelectAImgFile(QWidget *parent = nullptr);
    ~SelectAImgFile() override;

    // The loaded image, or nullptr.
    ImgData *image() const { return img.get(); }
    // The place where the current image is kept; the image stack refers to it
    // so that it always sees the image loaded at the moment.
    const std::unique_ptr<ImgData> *imageSlot() const { return &img; }
    // The image window. The owner may place it into one of its frames; Qt
    // ownership then passes to that frame.
    ImgDispWPV *imageWindow() const;
    double expTime() const;
    // What an HDF5 scan file chosen here gives: the mean of its flat fields
    // (the default, for I0) or of its dark fields (for BG).
    void setHdf5Darks(bool darks) { hdf5Darks = darks; }
    double initialExpTime() const { return initialExpTime_; }

signals:
    // "Show Img" was pressed; an owner that holds the window in a tab can bring it forward.
    void showImageRequested();

public slots:
    void noticedNewPos(double x, double y);
    void clear();
    void setExpTime(double time);
    void showImage();

private slots:
    void loadImage(const QString &fname);
    void redraw();

private:
    std::unique_ptr<Ui::SelectAImgFileBase> baseUi;
    QFrame *base = nullptr; // "SelectAImgFileBase", child of this frame
    std::unique_ptr<ImgData> img;
    QPointer<ImgDispWPV> imgDisp;
    double initialExpTime_ = 0;
    bool hdf5Darks = false;
};
