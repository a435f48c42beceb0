#include "select/select_a_img_file.h"
#include "ui_select_a_img_file_base.h"

#include "display/color_bar.h"
#include "display/img_disp_wpv.h"
#include "display/number_field.h"
#include "image/img_data.h"
#include "image/img_data_hdf5.h"
#include "util/trace_log.h"

#include <QDebug>
#include <QGridLayout>
#include <QTime>
#include <cmath>

SelectAImgFile::SelectAImgFile(QWidget *parent)
    : SelectAFile(parent)
    , baseUi(std::make_unique<Ui::SelectAImgFileBase>())
{
    setMode(OpenMode);

    base = new QFrame(this);
    baseUi->setupUi(base);
    // The path takes the spare width; the exposure time keeps its own size.
    base->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Preferred);
    rowLayout()->addWidget(base, 0, 5);
    initialExpTime_ = baseUi->ExpTimeLE->text().toDouble();
    fitNumberField(baseUi->ExpTimeLE, QStringLiteral("0.888888"));

    // A window of its own until the owner places it somewhere.
    imgDisp = new ImgDispWPV;

    connect(this, &SelectAFile::fileSelected, this, &SelectAImgFile::loadImage);
    connect(this, &SelectAFile::clear, this, &SelectAImgFile::clear);
    connect(imgDisp.data(), &ImgDispWPV::newPosInvY, this, &SelectAImgFile::noticedNewPos);
    connect(imgDisp.data(), &ImgDispWCBar::newBar, this, &SelectAImgFile::redraw);
    connect(baseUi->ShowImg, &QPushButton::clicked, this, &SelectAImgFile::showImage);
}

SelectAImgFile::~SelectAImgFile()
{
    // The window may have been deleted by a frame it was placed in.
    delete imgDisp.data();
}

ImgDispWPV *SelectAImgFile::imageWindow() const { return imgDisp.data(); }

void SelectAImgFile::loadImage(const QString &fname)
{
    qCDebug(vorloTrace) << qPrintable(QTime::currentTime().toString("hh:mm:ss.zzz")) << "loading"
                        << fname;
    std::unique_ptr<ImgData> loaded(createImgData(fileType(fname)));
    if (!loaded) {
        qDebug() << "Image not loaded, unknown file type :" << fname;
        setStatWithReason(false, tr("Not an image file of a known type"));
        return;
    }
    if (auto *h = dynamic_cast<ImgDataHdf5 *>(loaded.get()))
        h->setPart(hdf5Darks ? ImgDataHdf5::Part::DarkMean : ImgDataHdf5::Part::FlatMean);
    loaded->setKeepInMemory(true);
    loaded->setFileName(fname);
    if (!loaded->load()) {
        qDebug() << "Image not loaded, the file can't be read :" << fname;
        setStatWithReason(false, tr("The file can't be read as an image"));
        return;
    }
    setStatWithReason(true, QString());
    img = std::move(loaded);
    redraw();
    if (imgDisp)
        imgDisp->show();
}

void SelectAImgFile::redraw()
{
    if (!img || !imgDisp)
        return;
    img->toImage(imgDisp->image(), imgDisp->colorBar());
    imgDisp->newImage();
    imgDisp->update();
}

void SelectAImgFile::showImage()
{
    emit showImageRequested();
    if (!imgDisp)
        return;
    imgDisp->show();
    if (imgDisp->isWindow()) {
        imgDisp->raise();
        imgDisp->activateWindow();
    }
}

void SelectAImgFile::noticedNewPos(double x, double y)
{
    if (!img || !imgDisp)
        return;
    // Columns and rows are the positions truncated towards zero; the range
    // check comes before the conversion so that huge positions read 0.
    const double cx = std::trunc(x);
    const double cy = std::trunc(y);
    double v = 0;
    if (cx >= 0 && cx < img->width() && cy >= 0 && cy < img->height())
        v = img->value(int(cx), int(cy));
    imgDisp->setVal(v);
}

void SelectAImgFile::clear()
{
    img.reset();
    // The window no longer shows an image that is not held any more.
    if (imgDisp) {
        imgDisp->image() = QImage();
        imgDisp->update();
    }
    baseUi->ExpTimeLE->setText(QString::number(initialExpTime_, 'g', 6));
}

void SelectAImgFile::setExpTime(double time)
{
    baseUi->ExpTimeLE->setText(QString::number(time, 'g', 6));
}

double SelectAImgFile::expTime() const { return baseUi->ExpTimeLE->text().toDouble(); }
