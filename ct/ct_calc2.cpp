#include "ct/ct_calc2.h"

#include "ct/float_tiff.h"
#include "ct/ring_removal.h"
#include "image/img_datas.h"
#include "util/tsan_handoff.h"

#include <QDebug>
#include <QMetaMethod>
#include <QThread>
#include <cmath>

CtCalc2::CtCalc2(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<SavingData *>("SavingData*");
    qRegisterMetaType<SavingImg *>("SavingImg*");
    qRegisterMetaType<SavingTiff *>("SavingTiff*");
    qRegisterMetaType<CtRunParams>("CtRunParams");
    qRegisterMetaType<LevelMap>("LevelMap");
    qRegisterMetaType<CtCalc2 *>("CtCalc2*");
}

CtCalc2::~CtCalc2() = default;

template <class F> bool CtCalc2::postIfForeign(F &&f)
{
    if (QThread::currentThread() == thread())
        return false;
    postHandOffCall(this, std::forward<F>(f));
    return true;
}

bool CtCalc2::event(QEvent *e) { return runHandOffCall(e) || QObject::event(e); }

void CtCalc2::calcRegion(double &x0, double &z0, double &x1, double &z1) const
{
    x0 = crx0;
    z0 = crz0;
    x1 = crx1;
    z1 = crz1;
}

void CtCalc2::beginingCt()
{
    busy = true;
    emit sliceStarted(workSlice);
}

void CtCalc2::endingCt()
{
    busy = false;
    emit sliceEnded();
    emit calcFinished();
}

void CtCalc2::startCt(CtCalc2 *ctc2, bool rotAxIsV, double cor, int slice)
{
    startCt(ctc2, rotAxIsV, cor, slice, true);
}

void CtCalc2::startCt(CtCalc2 *ctc2, bool rotAxIsV, double cor, int slice, bool genAndDisp)
{
    // Every calculator hears the main window's request; only the one named acts.
    if (ctc2 != this)
        return;
    if (postIfForeign([=] { startCt(ctc2, rotAxIsV, cor, slice, genAndDisp); }))
        return;
    if (busy)
        return;
    genAndDispImage = genAndDisp;
    workSlice = slice;
    beginingCt();
    reportFailure(slice, reconstructSlice(rotAxIsV, cor, slice));
    endingCt();
}

void CtCalc2::startTryCt(CtCalc2 *ctc2, bool rotAxIsV, double cor, int slice)
{
    if (ctc2 != this)
        return;
    if (postIfForeign([=] { startTryCt(ctc2, rotAxIsV, cor, slice); }))
        return;
    if (busy)
        return;
    genAndDispImage = true;
    workSlice = slice;
    tryJob = true;
    beginingCt();
    reportFailure(slice, reconstructSlice(rotAxIsV, cor, slice));
    tryJob = false;
    endingCt();
}

void CtCalc2::reportFailure(int slice, const QString &why)
{
    if (why.isEmpty())
        return;
    qDebug().noquote()
        << QString("Slice %1 not reconstructed : %2").arg(savingSliceLabel(slice), why);
    emit sliceFailed(slice, why);
}

QString CtCalc2::reconstructSlice(bool rotAxIsV, double cor, int slice)
{
    if (!imgDatas)
        return QStringLiteral("no image stack");
    // The holder is rebuilt only when the build succeeds, so the return value
    // (not the holder's state) tells whether this slice has a sinogram.
    if (!genSinogram0(&hSgm, imgDatas, rotAxIsV, cor, slice))
        return QStringLiteral("no sinogram for the centre %1").arg(cor);
    const int n = BpKernel::gridSizeFor(hSgm.width);
    const int m = hSgm.rows;
    if (n < 2 || m < 1)
        return QStringLiteral("the sinogram of the centre %1 is %2 pixel wide")
            .arg(cor)
            .arg(hSgm.width);
    if (!crSet) {
        // First slice without a region: the whole grid, and the panel learns it.
        crx0 = 0;
        crz0 = 0;
        crx1 = n;
        crz1 = n;
        crSet = true;
        emit calcRegionDefaulted(0, 0, n, n);
    }
    if (runParams.ringSize > 0)
        removeRings(hSgm.sgm.get(), hSgm.width, m, runParams.ringSize);
    if (runParams.method == ReconMethod::Fourier) {
        // One grid per calculator: the back-projection's buffers go.
        kernel.release();
        resultFourier = true;
        if (!fourier.reconstruct(hSgm.sgm.get(), hSgm.width, m, crx0, crz0, crx1, crz1,
                runParams.angleOffset, runParams.filter)) {
            resultPresent = false;
            return QStringLiteral("the Fourier method failed");
        }
    } else {
        fourier.release();
        resultFourier = false;
        kernel.setFilter(runParams.filter);
        kernel.setThreads(runParams.sliceThreads);
        // reconstruct() prepares the kernel again whenever this sinogram needs
        // another N or M than the one prepared, and clears the grid.
        if (!kernel.reconstruct(
                hSgm.sgm.get(), hSgm.width, m, crx0, crz0, crx1, crz1, runParams.angleOffset)) {
            resultPresent = false;
            return QStringLiteral("the back-projection failed");
        }
    }
    gridN = n;
    projM = m;
    lastSlice = slice;
    resultPresent = true;
    imageReady = false;
    if (genAndDispImage)
        genResImage();
    if (tryJob) {
        saveTryTiff(cor);
        return QString();
    }
    if (saveImageF)
        saveImage();
    if (saveDataF)
        saveData();
    if (saveTiffF)
        saveTiff();
    return QString();
}

void CtCalc2::genResImage()
{
    if (postIfForeign([this] { genResImage(); }))
        return;
    const double *grid = result();
    if (!grid || gridN <= 0)
        return;
    const bool found = resultFourier ? fourier.resultValid() && fourier.scanResult()
                                     : kernel.resultValid() && kernel.scanResult();
    if (found && !levelsFixed) {
        levels.minV = resultFourier ? fourier.resultMin() : kernel.resultMin();
        levels.maxV = resultFourier ? fourier.resultMax() : kernel.resultMax();
        emit resultRangeFound(levels.minV, levels.maxV);
    }
    QImage img(gridN, gridN, QImage::Format_Grayscale8);
    if (img.isNull()) {
        qDebug() << "Can't make the result image of slice" << lastSlice;
        return;
    }
    for (int z = 0; z < gridN; ++z) {
        uchar *line = img.scanLine(z);
        const double *row = grid + qsizetype(z) * gridN;
        for (int x = 0; x < gridN; ++x)
            line[x] = uchar(levels.level(row[x]));
    }
    resImage = img;
    imageReady = true;
    if (genAndDispImage)
        emit resultImageBuilt(resImage);
}

void CtCalc2::saveImage()
{
    if (postIfForeign([this] { saveImage(); }))
        return;
    if (!imageReady)
        genResImage();
    if (!imageReady)
        return;
    // The record belongs to the writer once emitted; with nobody to take it,
    // it is not made at all.
    if (!isSignalConnected(QMetaMethod::fromSignal(&CtCalc2::saveImgWDiscard)))
        return;
    auto *rec = new SavingImg { saveImagePath, saveImageName, saveImageTag,
        savingSliceLabel(lastSlice), resImage };
    handOffRelease(rec);
    emit saveImgWDiscard(rec);
}

void CtCalc2::saveData()
{
    if (postIfForeign([this] { saveData(); }))
        return;
    const double *grid = result();
    if (!grid)
        return;
    if (!isSignalConnected(QMetaMethod::fromSignal(&CtCalc2::saveDataWDiscard)))
        return;
    CtImgDataLimits limits;
    limits.lowerLimit = runParams.lowerLimit;
    limits.upperLimit = runParams.upperLimit;
    limits.offset = runParams.offset;
    auto *rec = new SavingData { saveDataPath, saveDataName, saveDataTag,
        savingSliceLabel(lastSlice), makeCtImgData(grid, gridN, crx0, crz0, crx1, crz1, limits) };
    handOffRelease(rec);
    emit saveDataWDiscard(rec);
}

void CtCalc2::saveTiff()
{
    if (postIfForeign([this] { saveTiff(); }))
        return;
    emitTiffRecord(QString());
}

void CtCalc2::saveTryTiff(double cor)
{
    emitTiffRecord(QStringLiteral("-cor") + QString::number(cor, 'f', 2));
}

void CtCalc2::emitTiffRecord(const QString &nameSuffix)
{
    const double *grid = result();
    if (!grid || gridN <= 0)
        return;
    if (!isSignalConnected(QMetaMethod::fromSignal(&CtCalc2::saveTiffWDiscard)))
        return;
    auto *rec = new SavingTiff { saveTiffPath, saveTiffName, saveTiffTag,
        savingSliceLabel(lastSlice), floatGrid(grid, gridN, gridN), gridN, gridN, nameSuffix };
    handOffRelease(rec);
    emit saveTiffWDiscard(rec);
}

void CtCalc2::setSaveImage(bool f, QString path, QString name, QString tag)
{
    if (postIfForeign([=] { setSaveImage(f, path, name, tag); }))
        return;
    saveImageF = f;
    saveImagePath = path;
    saveImageName = name;
    saveImageTag = tag;
}

void CtCalc2::setSaveData(bool f, QString path, QString name, QString tag)
{
    if (postIfForeign([=] { setSaveData(f, path, name, tag); }))
        return;
    saveDataF = f;
    saveDataPath = path;
    saveDataName = name;
    saveDataTag = tag;
}

void CtCalc2::setSaveTiff(bool f, QString path, QString name, QString tag)
{
    if (postIfForeign([=] { setSaveTiff(f, path, name, tag); }))
        return;
    saveTiffF = f;
    saveTiffPath = path;
    saveTiffName = name;
    saveTiffTag = tag;
}

void CtCalc2::setImgDatas(const ImgDatas *stack)
{
    if (postIfForeign([=] { setImgDatas(stack); }))
        return;
    imgDatas = stack;
}

void CtCalc2::setRunParams(CtRunParams params)
{
    if (postIfForeign([=] { setRunParams(params); }))
        return;
    runParams = params;
}

void CtCalc2::setCalcRegion(double x0, double z0, double x1, double z1, bool set)
{
    if (postIfForeign([=] { setCalcRegion(x0, z0, x1, z1, set); }))
        return;
    crx0 = x0;
    crz0 = z0;
    crx1 = x1;
    crz1 = z1;
    crSet = set;
}

void CtCalc2::setLevels(LevelMap map, bool fixed)
{
    if (postIfForeign([=] { setLevels(map, fixed); }))
        return;
    levels = map;
    levelsFixed = fixed;
    genResImage();
}

void CtCalc2::prepare(int n, int m)
{
    if (postIfForeign([=] { prepare(n, m); }))
        return;
    if (busy)
        return;
    if (runParams.method == ReconMethod::Fourier) {
        if (fourier.preparedFor(n, runParams.filter))
            return;
        // Only one method's buffers at a time; the last result goes with them.
        kernel.release();
        fourier.prepare(n, runParams.filter);
    } else {
        if (kernel.preparedFor(n, m))
            return;
        fourier.release();
        kernel.prepare(n, m);
    }
    resultPresent = false;
    imageReady = false;
}

void CtCalc2::lookUpValue(double x, double z)
{
    if (postIfForeign([=] { lookUpValue(x, z); }))
        return;
    const double *grid = result();
    const double ix = std::trunc(x), iz = std::trunc(z);
    if (!grid || !(ix >= 0 && iz >= 0 && ix < gridN && iz < gridN))
        return;
    emit valueFound(grid[qsizetype(iz) * gridN + qsizetype(ix)]);
}
