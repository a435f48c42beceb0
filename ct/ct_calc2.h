#pragma once
// A parallel calculator ("CT2"): reconstructs one slice at a time in a thread
// of its own, with its own sinogram holder, back-projection kernel (divided by
// N only, so a result is M times the single-slice calculator's) and result
// grid. Several of them work on different slices of a range run at once.
//
// Threads: the calculator is created without parent and moved to a QThread its
// owner holds. Everything it computes with belongs to that thread alone; what
// it needs from the GUI thread arrives by queued calls and is kept as a copy:
// the run parameters, the calculation region and the colour-bar mapping of its
// panel, and the save settings. The setters below may be called from any
// thread: called from another thread they re-post themselves to the
// calculator's thread. The panel is told about times, regions and images by
// queued signals and touched only in the GUI thread.
#include "ct/bp_kernel.h"
#include "ct/ct_run_params.h"
#include "ct/fourier_recon.h"
#include "ct/h_sgm.h"
#include "ct/saving_data.h"
#include "image/level_map.h"

#include <QImage>
#include <QObject>
#include <QString>
#include <atomic>

class CtCalc2Ui;
class ImgDatas;

class CtCalc2 : public QObject {
    Q_OBJECT
public:
    explicit CtCalc2(QObject *parent = nullptr);
    ~CtCalc2() override;

    // Its display panel (not owned). Linking is done by CtCalc2Ui::setCtCalc2.
    CtCalc2Ui *ui() const { return panel; }
    void setUi(CtCalc2Ui *p) { panel = p; }

    // A slice is being processed; safe to ask from any thread.
    bool isBusy() const { return busy.load(); }

    // Values of the last slice reconstructed. Read them only in the
    // calculator's thread, or while it is idle and no call is queued to it.
    int gridSize() const { return gridN; }
    int projections() const { return projM; }
    int resultSlice() const { return lastSlice; }
    bool hasResult() const { return resultPresent; }
    bool isImageReady() const { return imageReady; }
    const double *result() const
    {
        return !hasResult() ? nullptr : resultFourier ? fourier.result() : kernel.result();
    }
    // The method of the result in the grid.
    ReconMethod resultMethod() const
    {
        return resultFourier ? ReconMethod::Fourier : ReconMethod::Fbp;
    }
    const QImage &resultImage() const { return resImage; }
    const BpKernel &bpKernel() const { return kernel; }
    void calcRegion(double &x0, double &z0, double &x1, double &z1) const;
    bool calcRegionSet() const { return crSet; }

signals:
    void calcFinished();
    // The slice could not be reconstructed (logged with the reason); emitted
    // before the calcFinished() of that slice, which follows all the same.
    void sliceFailed(int slice, QString why);
    void saveDataWDiscard(SavingData *data);
    void saveImgWDiscard(SavingImg *img);
    void saveTiffWDiscard(SavingTiff *tiff);

    // To the panel (queued into the GUI thread).
    void sliceStarted(int slice);
    void sliceEnded();
    // No calculation region had been set: the first slice used (0, 0, N, N).
    void calcRegionDefaulted(double x0, double z0, double x1, double z1);
    void resultRangeFound(double minV, double maxV);
    void resultImageBuilt(QImage img);
    void valueFound(double v);

private slots:
    void beginingCt();
    void endingCt();

public slots:
    void genResImage();
    void startCt(CtCalc2 *ctc2, bool rotAxIsV, double cor, int slice, bool genAndDispImage);
    void startCt(CtCalc2 *ctc2, bool rotAxIsV, double cor, int slice);
    // One reconstruction of a centre search: the slice with this centre,
    // shown on the panel and saved only as a float TIFF with the save TIFF
    // path, name and tag (whether TIFF saving is on or not), named with
    // "-cor" and the centre with two decimals after the slice label. No
    // image or data file is written.
    void startTryCt(CtCalc2 *ctc2, bool rotAxIsV, double cor, int slice);
    void saveImage();
    void saveData();
    // The whole result grid as float values for a TIFF file.
    void saveTiff();
    void setSaveImage(bool f, QString path, QString name, QString tag);
    void setSaveData(bool f, QString path, QString name, QString tag);
    void setSaveTiff(bool f, QString path, QString name, QString tag);

    // Copies kept for the computation.
    void setImgDatas(const ImgDatas *stack);
    void setRunParams(CtRunParams params);
    void setCalcRegion(double x0, double z0, double x1, double z1, bool set);
    // The panel's colour-bar mapping; then rebuilds the image of the result.
    void setLevels(LevelMap map, bool fixed);
    // Sizes the kernel for N x N and M projections ahead of a run; a slice
    // that needs other sizes prepares the kernel again.
    void prepare(int n, int m);
    // Answers valueFound(result[trunc(z)][trunc(x)]) when inside the grid.
    void lookUpValue(double x, double z);

protected:
    // Runs the calls that postIfForeign() posted.
    bool event(QEvent *e) override;

private:
    // Re-posts a call to the calculator's thread; true when it did.
    template <class F> bool postIfForeign(F &&f);
    // Reconstructs and saves one slice; the reason when nothing could be
    // reconstructed, empty on success.
    QString reconstructSlice(bool rotAxIsV, double cor, int slice);
    // Logs and announces a slice that could not be reconstructed.
    void reportFailure(int slice, const QString &why);
    void saveTryTiff(double cor);
    // The whole grid as a TIFF record for the saver, nameSuffix after the slice.
    void emitTiffRecord(const QString &nameSuffix);

    CtCalc2Ui *panel = nullptr;
    const ImgDatas *imgDatas = nullptr;
    CtRunParams runParams;
    HSgm hSgm;
    BpKernel kernel { BpNormalisation::Parallel };
    // The Fourier method's grid; only the method in use holds its buffers.
    FourierRecon fourier { BpNormalisation::Parallel };
    bool resultFourier = false; // the result came from the Fourier method
    std::atomic<bool> busy { false };
    int gridN = 0;
    int projM = 0;
    int workSlice = 0; // slice being processed
    int lastSlice = 0; // slice of the result in the grid
    bool resultPresent = false;
    bool genAndDispImage = true;
    bool imageReady = false;
    QImage resImage;
    LevelMap levels;
    bool levelsFixed = false;
    // Calculation region (grid pixels) and whether one has been set.
    double crx0 = 0, crz0 = 0, crx1 = 2047, crz1 = 2047;
    bool crSet = false;
    bool saveImageF = false;
    QString saveImagePath, saveImageName, saveImageTag;
    bool saveDataF = false;
    QString saveDataPath, saveDataName, saveDataTag;
    bool saveTiffF = false;
    QString saveTiffPath, saveTiffName, saveTiffTag;
    bool tryJob = false; // the slice in progress belongs to a centre search
};
