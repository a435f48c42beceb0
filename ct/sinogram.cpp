#include "ct/sinogram.h"

#include "ct/fftw_planner.h"
#include "ct/proc_ctrl.h"
#include "display/color_bar.h"
#include "display/img_disp_wpv.h"
#include "image/img_datas.h"
#include "image/level_map.h"
#include "ui_sinogram.h"

#include <QDebug>
#include <cfloat>
#include <cmath>

Sinogram::Sinogram(QWidget *parent)
    : QFrame(parent)
    , ui(std::make_unique<Ui::Sinogram>())
{
    ui->setupUi(this);
    connect(ui->DispSinogram, &ImgDispWPV::newPosInvY, this, &Sinogram::newPos);
    connect(ui->DispSinogram, &ImgDispWCBar::newBar, this, &Sinogram::genImage);
    connect(ui->DispFouS, &ImgDispWCBar::newBar, this, &Sinogram::genFouSImage);
    connect(ui->Cor, &QLineEdit::editingFinished, this, &Sinogram::corEditingFinished);
    connect(ui->GenImg, &QPushButton::clicked, this, [this] {
        genSinogram();
        genImage();
    });
    connect(ui->GenFouS, &QCheckBox::toggled, this, [this](bool on) {
        if (on)
            genFouSImage();
    });
}

Sinogram::~Sinogram() = default;

ImgDispWPV *Sinogram::sinogramDisplay() const { return ui->DispSinogram; }
ImgDispWPV *Sinogram::fourierDisplay() const { return ui->DispFouS; }
bool Sinogram::genFouS() const { return ui->GenFouS->isChecked(); }
void Sinogram::setGenFouS(bool f) { ui->GenFouS->setChecked(f); }

bool Sinogram::autoUpdate() const { return procCtrl && procCtrl->autoUpdate(); }

void Sinogram::rebuildIfAuto()
{
    if (!autoUpdate() || rebuildsHeld)
        return;
    genSinogram();
    genImage();
}

void Sinogram::corUpdated()
{
    if (procCtrl)
        ui->Cor->setText(QString::number(procCtrl->cor(), 'g', 6));
    rebuildIfAuto();
}

void Sinogram::sliceNoUpdated() { rebuildIfAuto(); }
void Sinogram::rotAxUpdated() { rebuildIfAuto(); }
void Sinogram::autoUpdateUpdated() { rebuildIfAuto(); }
void Sinogram::genSgmImage() { rebuildIfAuto(); }

void Sinogram::corEditingFinished()
{
    if (procCtrl)
        procCtrl->setCor(ProcCtrl::parseDouble(ui->Cor->text()));
}

bool Sinogram::genSinogram0(HSgm *hSgm, bool rotAxIsV, double cor, int slice)
{
    if (!hSgm)
        return false;
    if (!stack) {
        qDebug() << "No image stack to build a sinogram from";
        return false;
    }
    // The builder checks the centre against the detector and the slice against
    // the image lines, and leaves the holder alone when it refuses.
    return ::genSinogram0(hSgm, stack, rotAxIsV, cor, slice);
}

bool Sinogram::genSinogram()
{
    if (!procCtrl)
        return false;
    return genSinogram0(&sgm, procCtrl->rotAxIsV(), procCtrl->cor(), procCtrl->sliceNo());
}

QImage Sinogram::fullTurnImage(const HSgm &h, const LevelMap &map)
{
    if (!h.built())
        return QImage();
    const int w = h.width;
    const int rows = h.rows;
    QImage img(w, 2 * rows, QImage::Format_Grayscale8);
    if (img.isNull())
        return img;
    for (int k = 0; k < rows; ++k) {
        const double *r = h.rawRow(k);
        uchar *top = img.scanLine(k);
        uchar *bottom = img.scanLine(rows + k);
        for (int j = 0; j < w; ++j) {
            const auto l = uchar(map.level(r[j]));
            top[j] = l;
            bottom[w - 1 - j] = l;
        }
    }
    return img;
}

void Sinogram::showEvent(QShowEvent *e)
{
    QFrame::showEvent(e);
    if (pendingPicture)
        genImage();
}

void Sinogram::genImage()
{
    if (!isVisible()) {
        pendingPicture = true;
        return;
    }
    pendingPicture = false;
    ImgDispWPV *disp = ui->DispSinogram;
    if (!sgm.built()) {
        disp->image() = QImage();
        disp->update();
        genFouSImage();
        return;
    }
    double mn = DBL_MAX;
    double mx = -DBL_MAX;
    const std::int64_t n = std::int64_t(sgm.width) * sgm.rows;
    for (std::int64_t i = 0; i < n; ++i) {
        const double v = sgm.raw[i];
        if (v < mn)
            mn = v;
        if (v > mx)
            mx = v;
    }
    rawMin_ = mn;
    rawMax_ = mx;
    ColorBar &bar = disp->colorBar();
    if (!bar.isFixed()) {
        bar.setMinV(mn);
        bar.setMaxV(mx);
    }
    disp->image() = fullTurnImage(sgm, bar.levelMap());
    disp->newImage();
    disp->update();
    genFouSImage();
}

std::vector<double> Sinogram::fourierMagnitudes(const HSgm &h)
{
    std::vector<double> mag;
    if (!h.built())
        return mag;
    const int w = h.width;
    const int rows = h.rows;
    const std::size_t total = std::size_t(w) * 2 * std::size_t(rows);
    fftw_complex *in = FftwPlanner::allocComplex(total);
    fftw_complex *out = FftwPlanner::allocComplex(total);
    fftw_plan plan = nullptr;
    if (in && out)
        plan = FftwPlanner::planDft2d(2 * rows, w, in, out, FFTW_FORWARD);
    if (!plan) {
        qDebug() << "Can't make the Fourier transform of the sinogram" << w << 2 * rows;
        FftwPlanner::free(in);
        FftwPlanner::free(out);
        return mag;
    }
    const double s = 1.0 / (2.0 * w * rows);
    for (int k = 0; k < rows; ++k) {
        const double *r = h.rawRow(k);
        fftw_complex *top = in + std::size_t(k) * w;
        fftw_complex *bottom = in + std::size_t(rows + k) * w;
        for (int j = 0; j < w; ++j) {
            top[j][0] = r[j] * s;
            top[j][1] = 0.0;
            bottom[w - 1 - j][0] = r[j] * s;
            bottom[w - 1 - j][1] = 0.0;
        }
    }
    fftw_execute(plan);
    mag.resize(total);
    for (std::size_t i = 0; i < total; ++i)
        mag[i] = std::sqrt(out[i][0] * out[i][0] + out[i][1] * out[i][1]);
    FftwPlanner::destroy(plan);
    FftwPlanner::free(in);
    FftwPlanner::free(out);
    return mag;
}

void Sinogram::genFouSImage()
{
    if (!ui->GenFouS->isChecked())
        return;
    if (!isVisible()) {
        pendingPicture = true; // genImage makes both
        return;
    }
    ImgDispWPV *disp = ui->DispFouS;
    const std::vector<double> mag = fourierMagnitudes(sgm);
    if (mag.empty()) {
        disp->image() = QImage();
        disp->update();
        return;
    }
    ColorBar &bar = disp->colorBar();
    if (!bar.isFixed()) {
        bar.setMinV(-10.0);
        bar.setMaxV(10.0);
    }
    const LevelMap map = bar.levelMap();
    const int w = sgm.width;
    const int h2 = 2 * sgm.rows;
    QImage img(w, h2, QImage::Format_Grayscale8);
    if (!img.isNull()) {
        for (int r = 0; r < h2; ++r) {
            uchar *line = img.scanLine(r);
            const double *m = mag.data() + std::size_t(r) * w;
            for (int j = 0; j < w; ++j)
                line[j] = uchar(map.level(m[j]));
        }
    }
    disp->image() = img;
    disp->newImage();
    disp->update();
}

void Sinogram::newPos(double x, double y)
{
    if (!sgm.built() || !std::isfinite(x) || !std::isfinite(y))
        return;
    // trunc towards zero, as the display reports positions
    if (x <= -1.0 || y <= -1.0 || x >= sgm.width || y >= 2.0 * sgm.rows)
        return;
    const int ix = int(x);
    const int iy = int(y);
    const double v
        = iy < sgm.rows ? sgm.rawRow(iy)[ix] : sgm.rawRow(iy - sgm.rows)[sgm.width - 1 - ix];
    ui->DispSinogram->setVal(v);
}
