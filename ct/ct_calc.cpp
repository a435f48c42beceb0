#include "ct/ct_calc.h"

#include "ct/ct_progress.h"
#include "ct/h_sgm.h"
#include "ct/proc_ctrl.h"
#include "ct/ring_removal.h"
#include "ct/sinogram.h"
#include "display/color_bar.h"
#include "display/disp_a.h"
#include "display/img_disp_wpv.h"
#include "image/level_map.h"
#include "ui_ct_calc.h"

#include <QCoreApplication>
#include <QDebug>
#include <QPainter>
#include <cmath>
#include <cstring>
#include <limits>

namespace {
QString num6(double v) { return QString::number(v, 'g', 6); }
const char *timeFormat = "hh:mm:ss.zzz";
} // namespace

CtCalc::CtCalc(QWidget *parent)
    : QFrame(parent)
    , ui(std::make_unique<Ui::CtCalc>())
    , progress(new CtProgress)
{
    ui->setupUi(this);
    for (double &v : dr)
        v = std::numeric_limits<double>::quiet_NaN();
    // Written without counting as a region that has been set.
    ui->Crx0->setText(num6(0));
    ui->Crz0->setText(num6(0));
    ui->Crx1->setText(num6(2047));
    ui->Crz1->setText(num6(2047));

    progress->moveToThread(&progThread);
    connect(this, &CtCalc::startCalcAll, progress, &CtProgress::startCalcAll);
    connect(progress, &CtProgress::calcAll, this, &CtCalc::calcAll);
    connect(this, &CtCalc::startCalcOneByOne, progress, &CtProgress::startCalcOneByOne);
    connect(progress, &CtProgress::calcOne, this, &CtCalc::calcOne);
    connect(this, &CtCalc::finishedCalcOne, progress, &CtProgress::calcNext);
    connect(progress, &CtProgress::finishedCalcOneByOne, this, &CtCalc::endCt);

    connect(ui->StartCalc, &QPushButton::clicked, this, &CtCalc::askToStartCalc);
    connect(ui->SetCRegion, &QPushButton::clicked, this, &CtCalc::setCRegion);
    connect(ui->DispCt, &ImgDispWCBar::newBar, this, &CtCalc::genResImage);
    connect(ui->DispCt, &ImgDisp::newS, this, &CtCalc::noticedNewS);
    connect(ui->DispCt, &ImgDispWPV::newPosInvY, this, &CtCalc::noticedNewPos);
    connect(ui->DispCt, &DispAWLayout::drawImage2, this, &CtCalc::drawRegion);
}

CtCalc::~CtCalc()
{
    stopProgressThread();
    delete progress;
}

ImgDispWPV *CtCalc::display() const { return ui->DispCt; }

QRectF CtCalc::calcRegion() const
{
    return QRectF(
        QPointF(ProcCtrl::parseDouble(ui->Crx0->text()), ProcCtrl::parseDouble(ui->Crz0->text())),
        QPointF(ProcCtrl::parseDouble(ui->Crx1->text()), ProcCtrl::parseDouble(ui->Crz1->text())));
}

double CtCalc::angleOffset() const { return runParams ? runParams->angleOffset : 0.0; }

void CtCalc::stopProgressThread()
{
    progThread.quit();
    progThread.wait();
    // Steps a stopped run had already posted must not reach the next run.
    QCoreApplication::removePostedEvents(progress);
}

void CtCalc::calcCt()
{
    if (running)
        endCt();
    else
        startCt();
}

void CtCalc::stopCt() { endCt(); }

void CtCalc::startCt()
{
    startT = QDateTime::currentDateTime();
    ui->StartT->setText(startT.toString(timeFormat));
    const int slice = runParams ? runParams->currentSlice : 0;
    if (!sinogram) {
        failStart(slice, QStringLiteral("no sinogram panel"));
        return;
    }
    // A refused build leaves the panel's earlier sinogram in place: that one
    // must not be reconstructed as this slice.
    const bool built = sinogram->genSinogram();
    const HSgm *h = sinogram->hSgm();
    if (!built || !h->built()) {
        failStart(slice, QStringLiteral("no sinogram"));
        return;
    }
    const int n = BpKernel::gridSizeFor(h->width);
    const int m = h->rows;
    if (n < 2) {
        failStart(h->slice, QStringLiteral("the sinogram is %1 pixel wide").arg(h->width));
        return;
    }
    runFilter = runParams ? runParams->filter : ReconFilterKind::Ramp;
    useFourier = runParams && runParams->method == ReconMethod::Fourier;
    if (useFourier) {
        bp.release();
        if (!fourier.preparedFor(n, runFilter) && !fourier.prepare(n, runFilter)) {
            failStart(h->slice, QStringLiteral("no memory for a %1 x %1 grid").arg(n));
            return;
        }
    } else {
        fourier.release();
        bp.setFilter(runFilter);
        if (!bp.ensurePrepared(n, m)) {
            failStart(h->slice, QStringLiteral("no memory for a %1 x %1 grid").arg(n));
            return;
        }
    }
    // Own copy of the attenuation rows: the panel may rebuild its sinogram
    // (another slice or centre) while a one-by-one run is going on.
    const std::size_t count = std::size_t(h->width) * std::size_t(m);
    sgm.assign(h->sgm.get(), h->sgm.get() + count);
    sgmWidth = h->width;
    sgmRows = m;
    sgmSlice = h->slice;
    if (runParams && runParams->ringSize > 0)
        removeRings(sgm.data(), sgmWidth, sgmRows, runParams->ringSize);
    ui->ShowSliceNo->setText(QString::number(sgmSlice));

    if (!cRegionSet)
        setCR(0, 0, n, n);

    if (useFourier)
        fourier.clearResult();
    else
        bp.clearResult();
    QImage fresh(n, n, QImage::Format_Grayscale8);
    fresh.fill(0);
    ui->DispCt->image() = fresh;
    ui->DispCt->newImage();
    ui->DispCt->update();

    if (ui->CalcAtOnce->isChecked() || useFourier) {
        progThread.start();
        emit startCalcAll();
        running = false;
    } else {
        // The progress thread is stopped here, so its counters can be set directly.
        progress->total = m;
        progress->index = 0;
        nextIndex = 0;
        progThread.start();
        running = true;
        emit startCalcOneByOne();
    }
}

void CtCalc::failStart(int slice, const QString &why)
{
    qDebug().noquote()
        << QString("Slice %1 not reconstructed : %2").arg(QString::asprintf("%05d", slice), why);
    emit sliceFailed(slice, why);
    endCt();
}

void CtCalc::backProjectRow(int i)
{
    const QRectF r = calcRegion();
    bp.backProject(i, r.left(), r.top(), r.right(), r.bottom(), angleOffset());
}

void CtCalc::calcAll()
{
    if (useFourier) {
        const QRectF r = calcRegion();
        if (!fourier.reconstruct(sgm.data(), sgmWidth, sgmRows, r.left(), r.top(), r.right(),
                r.bottom(), angleOffset(), runFilter)) {
            failStart(sgmSlice, QStringLiteral("the Fourier method failed"));
            return;
        }
        genResImage();
        endCt();
        return;
    }
    if (!bp.preparedFor(BpKernel::gridSizeFor(sgmWidth), sgmRows)) {
        failStart(sgmSlice, QStringLiteral("the kernel was prepared for other sizes"));
        return;
    }
    for (int i = 0; i < sgmRows; ++i)
        bp.transformRow(i, sgm.data() + std::size_t(i) * sgmWidth);
    for (int i = 0; i < sgmRows; ++i)
        bp.filterRow(i);
    // Nothing can change the region during this one pass, so it is read once
    // and all projections go through the kernel's cache-friendly pass.
    const QRectF r = calcRegion();
    bp.setThreads(runParams ? runParams->sliceThreads : 1);
    bp.backProjectAll(r.left(), r.top(), r.right(), r.bottom(), angleOffset());
    genResImage();
    endCt();
}

void CtCalc::calcOne(int iz)
{
    // Only the step this run expects: after a stop, or from a run that was
    // stopped before, queued steps are dropped.
    if (!running || useFourier || iz != nextIndex || iz < 0 || iz >= sgmRows)
        return;
    ++nextIndex;
    bp.transformRow(iz, sgm.data() + std::size_t(iz) * sgmWidth);
    bp.filterRow(iz);
    backProjectRow(iz);
    genResImage();
    endT = QDateTime::currentDateTime();
    ui->EndT->setText(endT.toString(timeFormat));
    emit finishedCalcOne();
}

void CtCalc::endCt()
{
    running = false;
    stopProgressThread();
    endT = QDateTime::currentDateTime();
    ui->EndT->setText(endT.toString(timeFormat));
    ui->SpentT->setText(num6(startT.msecsTo(endT) / 1000.0));
    emit calcFinished();
}

bool CtCalc::scanGrid()
{
    if (useFourier)
        return fourier.resultValid() && fourier.scanResult();
    return bp.resultValid() && bp.scanResult();
}

void CtCalc::genResImage()
{
    const int n = gridN();
    if (n <= 0 || !grid())
        return;
    ColorBar &bar = ui->DispCt->colorBar();
    if (scanGrid() && !bar.isFixed()) {
        bar.setMinV(gridMin());
        bar.setMaxV(gridMax());
    }
    const LevelMap map = bar.levelMap();
    QImage img(n, n, QImage::Format_Grayscale8);
    if (img.isNull())
        return;
    const double *res = grid();
    for (int z = 0; z < n; ++z) {
        uchar *line = img.scanLine(z);
        const double *row = res + std::size_t(z) * n;
        for (int x = 0; x < n; ++x)
            line[x] = uchar(map.level(row[x]));
    }
    ui->DispCt->image() = img;
    ui->DispCt->newImage();
    ui->DispCt->update();
}

void CtCalc::setDR(double rx0, double rz0, double rx1, double rz1)
{
    ui->Drx0->setText(num6(rx0));
    ui->Drz0->setText(num6(rz0));
    ui->Drx1->setText(num6(rx1));
    ui->Drz1->setText(num6(rz1));
    if (dr[0] == rx0 && dr[1] == rz0 && dr[2] == rx1 && dr[3] == rz1)
        return;
    dr[0] = rx0;
    dr[1] = rz0;
    dr[2] = rx1;
    dr[3] = rz1;
    drShown = true;
    ui->DispCt->update();
    emit dRUpdated(rx0, rz0, rx1, rz1);
}

void CtCalc::setCR(double rx0, double rz0, double rx1, double rz1)
{
    const QRectF old = calcRegion();
    ui->Crx0->setText(num6(rx0));
    ui->Crz0->setText(num6(rz0));
    ui->Crx1->setText(num6(rx1));
    ui->Crz1->setText(num6(rz1));
    if (old.left() == rx0 && old.top() == rz0 && old.right() == rx1 && old.bottom() == rz1)
        return;
    cRegionSet = true;
    emit cRUpdated(rx0, rz0, rx1, rz1);
}

void CtCalc::noticedNewS(QRectF s)
{
    setDR(s.left(), s.top(), s.left() + s.width(), s.top() + s.height());
}

void CtCalc::setCRegion()
{
    setCR(std::floor(ProcCtrl::parseDouble(ui->Drx0->text())),
        std::floor(ProcCtrl::parseDouble(ui->Drz0->text())),
        std::ceil(ProcCtrl::parseDouble(ui->Drx1->text())),
        std::ceil(ProcCtrl::parseDouble(ui->Drz1->text())));
}

void CtCalc::noticedNewPos(double x, double z)
{
    const int n = gridN();
    const double *g = grid();
    if (!g || !std::isfinite(x) || !std::isfinite(z))
        return;
    if (x <= -1.0 || z <= -1.0 || x >= n || z >= n)
        return;
    ui->DispCt->setVal(g[std::size_t(int(z)) * std::size_t(n) + std::size_t(int(x))]);
}

void CtCalc::drawRegion(QPainter *p)
{
    // The display region as a rectangle over the image, in the display's
    // current view (image pixels stretched onto the whole area).
    if (!drShown || ui->DispCt->image().isNull())
        return;
    const QRectF v = ui->DispCt->view();
    const DispA *a = ui->DispCt->dispA();
    if (v.width() <= 0 || v.height() <= 0 || !a)
        return;
    const double sx = a->width() / v.width();
    const double sy = a->height() / v.height();
    const QRectF r(QPointF((dr[0] - v.x()) * sx, (dr[1] - v.y()) * sy),
        QPointF((dr[2] - v.x()) * sx, (dr[3] - v.y()) * sy));
    p->save();
    p->setPen(QPen(QColor(255, 64, 64), 1, Qt::DashLine));
    p->setBrush(Qt::NoBrush);
    p->drawRect(r.normalized());
    p->restore();
}

void CtCalc::setFixColorScale(bool f) { ui->DispCt->colorBar().setFixColorScale(f); }

void CtCalc::setCBarMinMaxForced(double min, double max)
{
    ColorBar &bar = ui->DispCt->colorBar();
    bar.setMinV(min);
    bar.setMaxV(max);
    genResImage();
}

void CtCalc::setSaveImage(bool f, QString path, QString name, QString tag)
{
    saveImg = SaveSettings { f, path, name, tag };
}

void CtCalc::setSaveData(bool f, QString path, QString name, QString tag)
{
    saveDat = SaveSettings { f, path, name, tag };
}
