#pragma once
// The main window: owns every panel and worker of the program, wires them
// together, keeps the queue of measured images still to be loaded, starts and
// stops CT calculations, and receives every command (configuration file,
// setup files, batch files) through the command table.
//
// Threads: the batch interpreter, the sequential runner, the image stack, the
// data saver and every parallel calculator live in threads of their own and
// are reached by queued signals; everything else runs in the GUI thread.
// Loading and calculating never overlap: a calculation asked for while images
// load starts when loading has ended, and a new file, I0 or BG choice made
// while a calculator may still read the stack waits until all are idle.
#include "app/batch_cmd.h"
#include "ct/ct_run_params.h"
#include "display/mouse_c.h"

#include <QDateTime>
#include <QFileInfoList>
#include <QFrame>
#include <QPen>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>
#include <memory>
#include <vector>

class Batch;
class CommandTable;
class CtCalc;
class CtCalc2;
class CtCalc2Ui;
class DataSaver;
class ImgDatas;
class PopDockBase;
class QAbstractButton;
class QButtonGroup;
class QCloseEvent;
class QFileDialog;
class QPainter;
class QThread;
class RangeDispatch;
struct RunRecordFacts;
struct RunRecordTarget;
class RawDisp;
class Sinogram;
class XafsBatch;
class ZelkovLink;
class ZelkovStages;
namespace Ui {
class Body;
}

class Body : public QFrame {
    Q_OBJECT
    friend class CommandTable;

public:
    explicit Body(QWidget *parent = nullptr);
    // With a given number of parallel calculators instead of one per hardware
    // thread (at least 1).
    Body(int calculators, QWidget *parent);
    ~Body() override;

    // Read access for the command table, setup files and tests.
    RawDisp *rawDisp() const { return rawDisp_; }
    Sinogram *sinogram() const { return sinogram_; }
    CtCalc *ctCalc() const { return ctCalc_; }
    ImgDatas *imgDatas() const { return imgDatas_; }
    ZelkovLink *zelkovLink() const { return zelkovLink_; }
    ZelkovStages *zelkovStages() const { return zelkovStages_; }
    XafsBatch *xafsBatch() const { return xafsBatch_; }
    Batch *batch() const { return batch_; }
    DataSaver *dataSaver() const { return dataSaver_; }
    const QVector<CtCalc2 *> &ctCalc2s() const { return ctCalc2s_; }
    const QVector<CtCalc2Ui *> &ctCalc2Uis() const { return ctCalc2Uis_; }
    const CtRunParams &runParamsNow() const { return runParams; }
    const QList<double> &i0EnergyList() const { return i0Energies; }
    QStringList pendingFileList() const { return pendingFiles; }

    bool isCalcRunning() const { return calcRunning; }
    bool isBatchCalcRunning() const { return batchCalcRunning; }
    // Images are still being added to the stack (a load chain is active).
    bool isLoading() const { return loadChains > 0; }
    // No calculator may read the stack or the I0 and BG images any more.
    bool calculatorsIdle() const;
    // A calculation asked for while loading, waiting for the end of loading.
    bool isCalcStartPending() const { return calcStartPending; }
    QDateTime calcStartTime() const { return startTime; }
    QDateTime calcEndTime() const { return endTime; }

    // The energy in eV of an I0 file, from the token between the last two
    // '-' of its name (e.g. "...-7_112keV-0001.img" gives 7112).
    static double energyOfI0FileName(const QString &name);
    // Index of the entry nearest to target (the first on a tie; 0 when empty).
    static int nearestEnergyIndex(const QList<double> &energies, double target);

    // I0 and BG choices that must not change an image while a calculator
    // reads it: applied at once when idle, else when the calculation ends.
    void selectI0Image(const QString &fname);
    void selectBgImage(const QString &fname);

    // The command with "calc_exec" semantics: the batch waits for its end. A
    // calculation that is already running, or one that starts nothing, is
    // answered at once with a log line and the batch's ok flag cleared.
    void startBatchCalc();
    // "calc_exec" from the configuration or a setup file: nobody waits for
    // its end, and its end answers no batch command.
    void startCommandCalc();
    // "i0_load" and "bg_load": the image is read at once when no calculator
    // reads the images, else when the calculation has ended. A file that is
    // refused counts as a refused input (see noteRefusedInput); false when
    // the file was read and refused at once.
    bool loadI0ByCommand(const QString &fname, bool clearOk);
    bool loadBgByCommand(const QString &fname, bool clearOk);
    // A file a command asked for was refused: counted for the end of a run
    // without a window, and the batch's ok flag cleared when asked.
    void noteRefusedInput(const QString &what, bool clearOk);

    // Failures since start-up, for the exit code of a run without a window:
    // slices that could not be reconstructed plus result files that could not
    // be written whole; input files a command asked for that were refused.
    int failedResults() const { return failedResultCount; }
    int refusedInputs() const { return refusedInputCount; }
    // Run records waiting for the data saver to finish their run's files.
    bool runRecordsPending() const { return !pendingRecords.empty(); }
    // "ct_try_cor FROM TO STEP": writes the three fields and starts a centre
    // search with these values; the batch waits for its end like for
    // "calc_exec". A refused search is answered at once, with the batch's
    // ok flag cleared.
    void startBatchTryCor(double from, double to, double step);
    // "Find CoR" and "ct_find_cor": the centre of rotation of the current
    // slice found from its sinogram (ct/cor_finder.h), set as the Center
    // (with its change signal) and logged. False, with a log line, when
    // there is nothing to find it from or while images load or a calculation
    // runs.
    bool findCor();

    // A run split across several processes (util/rank_place.h): outside a
    // walk over data sets, range runs and centre searches are shared with
    // the other ranks, and single-slice results are written by rank 0 only.
    bool splitsWork() const;
    // Records of shared range runs that rank 0 writes for all ranks at the
    // end of the program, oldest first; taken once.
    std::vector<std::unique_ptr<RunRecordFacts>> takeSplitRecords();
    // Slices of the parallel calculators saved whole since start-up.
    int slicesSaved() const;

signals:
    void batchCalcStart();
    void batchCalcFinished();
    void askLoadNextDataFile();
    void noticeFinishedLoadDataFiles();
    void setFirstSet(int firstIdx);
    void setNextSet(int lastIdx);
    void startCt(CtCalc2 *ctc2, bool rotAxIsV, double cor, int slice, bool genImg);
    void startCt(CtCalc2 *ctc2, bool rotAxIsV, double cor, int slice);
    void startTryCt(CtCalc2 *ctc2, bool rotAxIsV, double cor, int slice);
    void finishing();
    void finishedLoadingCTFiles();
    void calcFinished();
    void stage(QString msg, qulonglong dEt);
    void callBatchLoad(QString fname);
    void callBatchExec();
    void callBatchCheckEnd();
    void zklLoadFilesOfPattern(QString path);
    void zklLoadFiles(QStringList fileList);
    void zklStatChanged();
    void exec2dA(QString sliceNoS);
    // The save layout for the data saver, applied in its thread after the
    // records queued before it.
    void saveLayoutChanged(bool inSubFolders, bool ofEnergy, bool ofSlice);

public slots:
    void batchLoad(QString fname);
    void batchExec();
    void setFixColorScale(bool f);
    void setAutoSaveImage(bool f);
    void setAutoSaveData(bool f);
    void setAutoSaveTiff(bool f);
    void setAutoSaveHdf5(bool f);
    void setColorMin(double v);
    void setColorMax(double v);
    // Centre search ("Try CoR"): the current slice reconstructed once per
    // centre from, from + step, ... up to to on the parallel calculators,
    // each result saved only as a float TIFF named with its centre into the
    // TIFF save folder and shown in its calculator's tab. It runs as a
    // calculation: the Calc button shows it and stops it, calcFinished() ends
    // it. Refused with a log line (nothing starts) for centres that corSeries
    // refuses or that lie outside the detector, a slice outside the images,
    // an empty TIFF folder, while images load or a calculation runs.
    void tryCor(double from, double to, double step);
    // A slice of the current calculation could not be reconstructed.
    void sliceFailed(int slice, QString why);
    // The data saver could not write a result file whole.
    void saveFailed(QString path, QString slice);

private slots:
    void dataFilesSelected(QStringList files, bool clear);
    void loadNextDataFile();
    void finishedLoadDataFiles();
    void newPosOnRawImg(double x, double y);
    void updateRawImage();
    void draw(QPainter *p);
    void selectedAPointInRawImg(double x, double y, MouseC::MStat s);
    void showDispRaw();
    void showSinogram();
    void toggleCalcCt();
    void startCalcCt();
    void stopCalcCt();
    void setupFFT();
    void setupSaveConds();
    void execSingleCtCalc();
    void execMultiCtCalc();
    void ctCalcFinished();
    void setShowAdditionalInfo(bool f);
    void setShowAdditionalAdditionalInfo(bool f);
    void changedCtSel(QAbstractButton *button);
    void changedAutoExec();
    void dRUpdated(double rx0, double rz0, double rx1, double rz1);
    void cRUpdated(double rx0, double rz0, double rx1, double rz1);
    void batchExCmd(BatchCmd cmd);
    void fixColorScaleChanged();
    void selectedDir(QString dir, QStringList patterns);
    void selectedFileInfoList(QFileInfoList list);
    void newSets(int count);
    void setFirstImageSet();
    void setNextImageSet();
    void startingSeqCalc();
    void finishedSeqCalc();
    void i0FilesSelected(QStringList files, bool clear);
    void noticedStage(QString msg, qlonglong dEt);
    void setI0FileFromList();
    void showSaveSetupD();
    void showLoadSetupD();
    void saveLoadFileSelected(QString fname);
    void exec2dA0();
    void setupZelkovLink();
    void zklChangedIsBusy(bool f);
    void zklStageCtrl();
    void zklStartCont2dA();
    // "Seq. Calc." pressed: starts or stops a walk; a start is refused while
    // images load or a calculation runs.
    void seqCalcPressed();

public:
    double colorMin() const;
    double colorMax() const;
    bool saveSetup(const QString &fname);
    bool loadSetup(const QString &fname);
    void execForSlice(int n);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // Why the measured files of the last choice were refused, for the file box.
    QString refusalText() const;
    void buildParallelCalculators(int n);
    void placeInBase(PopDockBase *base, QWidget *content, const QString &title);
    void parallelCalcFinished(int calculator);
    void applyDeferredChoices();
    void updateRangeProgress();
    void stageMessage(const QString &msg);
    void shutDownThreads();
    bool startTryCor(double from, double to, double step);
    void fitControlPane();
    // The calculation is running from now: times, the Calc button's colour,
    // the I0/BG selectors held until it ends.
    void markCalcStarted();
    static constexpr int minControlPaneWidth = 320;
    // What a window manager adds around the window: frame and title bar.
    static constexpr QSize windowFrameRoom { 16, 48 };
    void fitScreen();
    // The run record of a range run: facts gathered from its start to its end,
    // then one record per distinct save place of the auto-save kinds that are on.
    QVector<RunRecordTarget> runRecordTargets() const;
    void connectRunRecord();
    void beginRunRecord();
    void endRunRecord();
    void writePendingRecord();
    // The HDF5 volume of a range run: opened in the saver at the start,
    // closed there with the record's text and the centres at the end.
    void beginHdf5Volume();
    void endHdf5Volume(const RunRecordFacts &r);
    // Base folder of a save kind: the working folder when the field is empty.
    static QString savePath(const QString &field);
    bool loadImageByCommand(bool i0, const QString &fname, bool clearOk);

    std::unique_ptr<Ui::Body> ui;

    // The setup file dialog, made when Save Setup or Load Setup first opens it.
    QFileDialog *setupFileDialog();
    std::unique_ptr<QFileDialog> setupDialog;
    QPen pen1, pen2, pen3, pen4, pen5, pen6;

    Batch *batch_ = nullptr; // no parent: lives in batchThread
    QThread *batchThread = nullptr;
    XafsBatch *xafsBatch_ = nullptr; // no parent: lives in xafsThread
    QThread *xafsThread = nullptr;
    RawDisp *rawDisp_ = nullptr; // child of RawImgBase
    Sinogram *sinogram_ = nullptr; // child of SinogramImgBase
    CtCalc *ctCalc_ = nullptr; // child of CtImgBase
    ImgDatas *imgDatas_ = nullptr; // no parent: given imgThread
    QThread *imgThread = nullptr;
    ZelkovLink *zelkovLink_ = nullptr; // child of this window
    ZelkovStages *zelkovStages_ = nullptr; // child of this window
    QVector<CtCalc2 *> ctCalc2s_; // no parent: each in its own thread
    QVector<CtCalc2Ui *> ctCalc2Uis_; // children of their tabs
    QVector<QThread *> ctc2Threads;
    DataSaver *dataSaver_ = nullptr; // no parent: lives in saverThread
    QThread *saverThread = nullptr;
    RangeDispatch *rangeDispatch = nullptr; // child of this window
    QButtonGroup *ctSel = nullptr;

    std::unique_ptr<CommandTable> commandTable;

    QStringList pendingFiles;
    CtRunParams runParams;
    bool calcRunning = false;
    bool batchCalcRunning = false;
    QDateTime startTime;
    QDateTime endTime;
    bool saveSetupMode = true;
    bool resetRegionsOnLoad = true;
    bool resetSliceToOnLoad = true;
    bool resetSliceNoOnLoad = true;
    bool resetCorOnLoad = true;
    QList<double> i0Energies;

    // Overlap rules between loading and calculating.
    int loadChains = 0; // load chains started and not yet ended
    bool calcStartPending = false; // start when loading has ended
    bool batchStartPending = false; // ... and it was asked for by "calc_exec"
    bool filesDeferred = false; // a file choice waits for the calculators
    QStringList deferredFiles;
    bool deferredClear = false;
    bool i0Deferred = false;
    QString deferredI0;
    bool bgDeferred = false;
    QString deferredBg;

    // Progress of a range run.
    int rangeTotal = 0;
    int rangeDone = 0;
    bool rangeOfCentres = false; // the run is a centre search, not a slice range
    QStringList refusedFiles; // measured files of the last choice the stack refused
    bool threadsShutDown = false;
    bool sharingRegion = false; // a region is being passed on to the others
    QStringList i0Files; // the I0 file set as listed, aligned with i0Energies
    int calculatorCount = 0;
    std::unique_ptr<RunRecordFacts> runRecord; // set while a range run with auto save goes on
    // Records of ended runs, oldest first, written once the saver has written
    // (or failed to write) every file their run handed to it.
    std::vector<std::unique_ptr<RunRecordFacts>> pendingRecords;

    // Failure counts and the commands that started work.
    int failedResultCount = 0;
    int refusedInputCount = 0;
    int runFailures = 0; // slices of the current calculation that failed
    bool calcByCommand = false; // started (or waiting to start) by a command or a walk
    // Who asked for the images being loaded: 0 the user, 1 a command nobody
    // waits for, 2 a batch command.
    int imagesRequest = 0; // set by the command table around "images_load"
    QString imagesWhat;
    int chainRequest = 0;
    int chainAccepted = 0;
    QString chainWhat;
    int deferredRequest = 0;
    QString deferredWhat;
    bool walkShown = false; // a walk runs (between starting and finished)
    bool i0DeferredByCommand = false;
    bool bgDeferredByCommand = false;

    // A run split across processes.
    bool batchWalk = false; // a batch walks the data sets (seq_exec_set on)
    bool walkSetMissing = false; // ... and this rank has no further set of its own
    std::vector<std::unique_ptr<RunRecordFacts>> splitRecords;
    int slicesDoneTotal = 0;
    QSet<qint64> failedSliceKeys; // (calculation, slice) with a failure
    qint64 calcSerial = 0;
    void noteFailedSlice(int slice);
};
