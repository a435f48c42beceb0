#pragma once
// The single-slice calculator ("CT Calc"): reconstructs the slice the Sinogram
// panel shows by filtered back-projection, either in one pass ("At Once") or
// one projection at a time with the cross-section redrawn after each, paced
// by a CtProgress object in a thread of its own. All computing happens in the
// GUI thread.
//
// Regions are in result-grid pixels: x to the right, z downwards; the display
// region follows the visible part of the display, the calculation region
// limits the back-projection and is read afresh for every projection.
#include "ct/bp_kernel.h"
#include "ct/ct_run_params.h"
#include "ct/fourier_recon.h"

#include <QDateTime>
#include <QFrame>
#include <QRectF>
#include <QString>
#include <QThread>
#include <memory>
#include <vector>

class CtProgress;
class ImgDispWPV;
class QPainter;
class Sinogram;
namespace Ui {
class CtCalc;
}

class CtCalc : public QFrame {
    Q_OBJECT
public:
    explicit CtCalc(QWidget *parent = nullptr);
    ~CtCalc() override;

    // Both are owned by the main window; the calculator only reads them.
    void setRunParams(const CtRunParams *p) { runParams = p; }
    void setSinogram(Sinogram *s) { sinogram = s; }

    bool isRunning() const { return running; }
    bool isCRegionSet() const { return cRegionSet; }
    const BpKernel &kernel() const { return bp; }
    const FourierRecon &fourierRecon() const { return fourier; }
    // The method of the run going on or last run.
    ReconMethod method() const { return useFourier ? ReconMethod::Fourier : ReconMethod::Fbp; }
    ImgDispWPV *display() const;

    // Calculation region as shown in its fields (x0, z0, x1, z1).
    QRectF calcRegion() const;
    // Display region as shown (x0, z0, x1, z1 in the rectangle's corners).
    QRectF dispRegion() const { return QRectF(QPointF(dr[0], dr[1]), QPointF(dr[2], dr[3])); }

    // Save settings, handed on with the results; the calculator itself saves nothing.
    struct SaveSettings {
        bool on = false;
        QString path, name, tag;
    };
    const SaveSettings &saveImageSettings() const { return saveImg; }
    const SaveSettings &saveDataSettings() const { return saveDat; }

signals:
    void askToStartCalc();
    void startCalcAll();
    // Ends every start, also one that could not reconstruct anything.
    void calcFinished();
    // The slice could not be reconstructed (logged with the reason); the
    // calcFinished() of that start follows.
    void sliceFailed(int slice, QString why);
    void startCalcOneByOne();
    void finishedCalcOne();
    void dRUpdated(double rx0, double rz0, double rx1, double rz1);
    void cRUpdated(double rx0, double rz0, double rx1, double rz1);

private slots:
    void startCt();
    void stopCt();
    void endCt();
    void calcAll();
    void calcOne(int iz);
    void noticedNewPos(double x, double z);
    void noticedNewS(QRectF s);
    void setCRegion();

public slots:
    void calcCt();
    void genResImage();
    void setDR(double rx0, double rz0, double rx1, double rz1);
    void setCR(double rx0, double rz0, double rx1, double rz1);
    void setFixColorScale(bool f);
    void setCBarMinMaxForced(double min, double max);
    void setSaveImage(bool f, QString path, QString name, QString tag);
    void setSaveData(bool f, QString path, QString name, QString tag);

private:
    double angleOffset() const;
    void backProjectRow(int i);
    void drawRegion(QPainter *p);
    void stopProgressThread();
    // Logs the reason, announces it and ends the start at once.
    void failStart(int slice, const QString &why);

    std::unique_ptr<Ui::CtCalc> ui;
    const CtRunParams *runParams = nullptr;
    Sinogram *sinogram = nullptr;
    BpKernel bp { BpNormalisation::SingleSlice };
    // The Fourier method; it computes the whole slice in one pass, so a run
    // with it is always done at once. Only the method in use holds buffers.
    FourierRecon fourier { BpNormalisation::SingleSlice };
    bool useFourier = false;
    ReconFilterKind runFilter = ReconFilterKind::Ramp;
    // The grid of the method in use: size, values, extremes.
    int gridN() const { return useFourier ? fourier.n() : bp.n(); }
    const double *grid() const { return useFourier ? fourier.result() : bp.result(); }
    bool scanGrid();
    double gridMin() const { return useFourier ? fourier.resultMin() : bp.resultMin(); }
    double gridMax() const { return useFourier ? fourier.resultMax() : bp.resultMax(); }
    // Attenuation rows taken from the panel at the start: [M][width]. The panel
    // may rebuild its sinogram while a one-by-one run goes on.
    std::vector<double> sgm;
    int sgmWidth = 0;
    int sgmRows = 0;
    int sgmSlice = 0;
    bool running = false;
    int nextIndex = 0; // the projection a one-by-one run expects next
    QDateTime startT;
    QDateTime endT;
    bool cRegionSet = false;
    double dr[4];
    bool drShown = false;
    SaveSettings saveImg;
    SaveSettings saveDat;
    CtProgress *progress = nullptr; // no parent: lives in progThread
    QThread progThread;
};
