#include "app/body.h"

#include "app/batch.h"
#include "app/command_table.h"
#include "app/config_store.h"
#include "ct/bp_kernel.h"
#include "ct/cor_finder.h"
#include "ct/cor_series.h"
#include "ct/ct_calc.h"
#include "ct/ct_calc2.h"
#include "ct/ct_calc2_ui.h"
#include "ct/data_saver.h"
#include "ct/h_sgm.h"
#include "ct/hdf5_volume.h"
#include "ct/range_dispatch.h"
#include "ct/run_record.h"
#include "ct/sinogram.h"
#include "display/closable_base.h"
#include "display/color_bar.h"
#include "display/disp_a.h"
#include "display/number_field.h"
#include "display/pop_dock_base.h"
#include "display/raw_disp.h"
#include "image/img_data.h"
#include "image/img_datas.h"
#include "select/ct_file_set.h"
#include "ui_body.h"
#include "util/data_root.h"
#include "util/rank_place.h"
#include "util/tsan_handoff.h"
#include "xafs/xafs_batch.h"
#include "xafs/zelkov_link.h"
#include "xafs/zelkov_stages.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDebug>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QThread>
#include <QTime>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <thread>
#include <utility>

namespace {

const char *const idleStyle = "background-color: rgb(240, 240, 240);";
const char *const runningStyle = "background-color: rgb(255, 255, 128);";
const char *const wholeTimeFormat = "yy/MM/dd hh:mm:ss.zzz";

QString num6(double v) { return QString::number(v, 'g', 6); }

// Text of a form field as a number; 0 when it is not one.
double fieldValue(const QLineEdit *e)
{
    bool ok = false;
    const double v = e->text().trimmed().toDouble(&ok);
    return ok && std::isfinite(v) ? v : 0.0;
}

int hardwareThreads()
{
    const unsigned n = std::thread::hardware_concurrency();
    return n > 0 ? int(n) : 1;
}

// Slices of a range run from..to in steps of |step| (0 counts as 1).
int rangeSliceCount(int from, int to, int step)
{
    const qint64 s = std::max<qint64>(1, std::llabs(qint64(step)));
    return int(std::llabs(qint64(to) - from) / s + 1);
}

} // namespace

Body::Body(QWidget *parent)
    : Body(hardwareThreads(), parent)
{
}

Body::Body(int calculators, QWidget *parent)
    : QFrame(parent)
    , ui(new Ui::Body)
    , calculatorCount(std::max(1, calculators))
{
    // 1. Workers and panels, each worker thread started before its first
    // connection is made.
    batch_ = new Batch;
    xafsBatch_ = new XafsBatch;
    rawDisp_ = new RawDisp;
    sinogram_ = new Sinogram;
    ctCalc_ = new CtCalc;
    ctCalc_->setRunParams(&runParams);
    imgDatas_ = new ImgDatas;
    zelkovLink_ = new ZelkovLink(
        ConfigStore::global().restNoCase("2dZelkov", QStringLiteral("localhost 6078")), this);
    zelkovStages_ = new ZelkovStages(this);
    rangeDispatch = new RangeDispatch(this);
    // A range run builds each slice with its own centre: the line through the
    // two recorded centres when both are set, the fixed centre otherwise.
    rangeDispatch->setCorFunction(&ProcCtrl::corForSlice);
    runParams.calcCt1 = true;
    runParams.rotAxIsV = true;

    // 2. Commands cross threads by queued signals.
    BatchCmd::registerType();

    // 3. The form.
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("Vorlo2"));
    ui->CalcCT->setStyleSheet(idleStyle);
    for (QLineEdit *e : { ui->DataUpperLimit, ui->DataLowerLimit, ui->DataOffset, ui->ColorMin,
             ui->ColorMax, ui->CalcSpentT })
        fitNumberField(e);
    for (SelectAFile *s : { ui->SelectImageSaveDir, ui->SelectDataSaveDir, ui->SelectTiffSaveDir,
             ui->SelectHdf5SaveDir }) {
        s->setMode(SelectAFile::SaveMode);
        s->setNameAndTagVisible(true);
    }
    ui->SelI0Files->setSimpleMode(true);
    ui->SelI0Files->setSelectText(tr("Sel. I0 File Set"));
    ui->SelI0Files->setTitle(QString(32, QLatin1Char(' ')));
    ui->I0ofRawImage_->setTitle(tr("I0 of Raw Image"));
    ui->I0ofI0Image_->setTitle(tr("I0 of I0 Image"));
    ui->CalcProgress->setRange(0, 1);
    ui->CalcProgress->setValue(0);
    pen1 = QPen(QColor(255, 255, 0));
    pen2 = QPen(QColor(255, 232, 232));
    pen3 = QPen(QColor(255, 200, 200));
    pen4 = QPen(QColor(255, 232, 232));
    pen4.setDashPattern({ 10, 3, 4, 3 });
    pen5 = QPen(QColor(255, 0, 0));
    pen6 = QPen(QColor(232, 255, 0));

    // 4. The stack in its thread, sharing the I0 and BG images of the
    // selectors; the sinogram panel reads the processing control and the stack.
    imgThread = new QThread;
    imgDatas_->moveToThread(imgThread);
    imgThread->start(QThread::InheritPriority);
    releaseAtThreadEnd(imgThread);
    imgDatas_->setI0Ref(ui->I0ImgSel->imageSlot());
    imgDatas_->setBgRef(ui->BGImgSel->imageSlot());
    ui->BGImgSel->setHdf5Darks(true); // an HDF5 scan chosen as BG gives its darks' mean
    ProcCtrl *pc = ui->procCtrl;
    sinogram_->setProcCtrl(pc);
    sinogram_->setImgDatas(imgDatas_);
    // The panel's reactions are private slots: connected by name.
    connect(pc, SIGNAL(sliceNoUpdated()), sinogram_, SLOT(sliceNoUpdated()));
    connect(pc, SIGNAL(corUpdated()), sinogram_, SLOT(corUpdated()));
    connect(pc, SIGNAL(rotAxUpdated()), sinogram_, SLOT(rotAxUpdated()));
    connect(pc, SIGNAL(autoUpdateUpdated()), sinogram_, SLOT(autoUpdateUpdated()));
    if (pc->autoUpdate()) {
        sinogram_->genSinogram();
        sinogram_->genImage();
    }
    ctCalc_->setSinogram(sinogram_);
    calcRunning = false;
    batchCalcRunning = false;

    // 5. Loading queue, batch link, calculation start and end, sequential runner.
    connect(ui->CTFiles, &SelectDataFiles::filesSelected, this, &Body::dataFilesSelected);
    connect(this, &Body::askLoadNextDataFile, this, &Body::loadNextDataFile, Qt::QueuedConnection);
    connect(this, &Body::noticeFinishedLoadDataFiles, this, &Body::finishedLoadDataFiles,
        Qt::QueuedConnection);

    batchThread = new QThread;
    batch_->moveToThread(batchThread);
    batchThread->start(QThread::InheritPriority);
    releaseAtThreadEnd(batchThread);
    connect(this, &Body::callBatchLoad, batch_, &Batch::batchLoad);
    connect(this, &Body::callBatchExec, batch_, &Batch::batchExec);
    connect(this, &Body::callBatchCheckEnd, batch_, &Batch::batchCheckEnd);
    connect(batch_, &Batch::batchExCmd, this, &Body::batchExCmd);
    connect(this, &Body::batchCalcStart, this, &Body::startCalcCt);
    connect(this, &Body::batchCalcFinished, this, &Body::callBatchCheckEnd);

    connect(ui->CalcCT, &QPushButton::clicked, this, &Body::toggleCalcCt);
    connect(ctCalc_, &CtCalc::askToStartCalc, this, &Body::toggleCalcCt);
    connect(ctCalc_, &CtCalc::calcFinished, this, &Body::ctCalcFinished);
    connect(ctCalc_, &CtCalc::sliceFailed, this, &Body::sliceFailed);

    xafsThread = new QThread;
    xafsBatch_->moveToThread(xafsThread);
    xafsThread->start(QThread::InheritPriority);
    releaseAtThreadEnd(xafsThread);
    connect(ui->SeqCalc, &QPushButton::clicked, this, &Body::seqCalcPressed);
    connect(ui->SelDDir, &SelectDataDir::noMoreSets, xafsBatch_, &XafsBatch::noMoreSets);
    connect(xafsBatch_, &XafsBatch::starting, this, &Body::startingSeqCalc);
    connect(xafsBatch_, &XafsBatch::finished, this, &Body::finishedSeqCalc);
    connect(xafsBatch_, &XafsBatch::setFirstImageSet, this, &Body::setFirstImageSet);
    connect(xafsBatch_, &XafsBatch::setNextImageSet, this, &Body::setNextImageSet);
    connect(xafsBatch_, &XafsBatch::execCalculation, this, [this] {
        if (calcRunning) {
            qDebug() << "A calculation is already running";
            return;
        }
        calcByCommand = true;
        startCalcCt();
    });
    connect(xafsBatch_, &XafsBatch::stage, this, &Body::noticedStage);
    connect(this, &Body::finishedLoadingCTFiles, xafsBatch_, &XafsBatch::loadedDataSet);
    connect(this, &Body::calcFinished, xafsBatch_, &XafsBatch::calcFinished);
    connect(this, &Body::stage, this,
        [this](QString msg, qulonglong dEt) { noticedStage(msg, qlonglong(dEt)); });
    connect(this, &Body::setFirstSet, ui->SelDDir, &SelectDataDir::setFirstSet);
    connect(this, &Body::setNextSet, ui->SelDDir, &SelectDataDir::setNextSet);
    connect(ui->SelDDir, &SelectDataDir::newSets, this, &Body::newSets);
    connect(ui->SelDDir, &SelectDataDir::selected, this, &Body::selectedDir);
    connect(ui->SelDDir, &SelectDataDir::selectedFileInfoList, this, &Body::selectedFileInfoList);

    // 6. The displays in their pop/dock frames.
    placeInBase(ui->RawImgBase, rawDisp_, tr("Measured Raw Image"));
    placeInBase(ui->SinogramImgBase, sinogram_, tr("Check Sinogram"));
    placeInBase(ui->CtImgBase, ctCalc_, tr("CT Reconstruction"));
    placeInBase(ui->I0ImgBase, ui->I0ImgSel->imageWindow(), tr("I0 Image"));
    placeInBase(ui->BGImgBase, ui->BGImgSel->imageWindow(), tr("BG Image"));

    // 7. The data saver and the parallel calculators.
    buildParallelCalculators(calculatorCount);
    pc->setMaxThreads(calculatorCount);
    pc->setThreads(int(0.8 * calculatorCount));

    // 8. CT1/CT2 and the remaining connections.
    ctSel = new QButtonGroup(this);
    ctSel->setExclusive(true);
    ctSel->addButton(ui->SelectCt1);
    ctSel->addButton(ui->SelectCt2);
    ui->SelectCt1->setChecked(true);
    connect(ctSel, &QButtonGroup::buttonClicked, this, &Body::changedCtSel);
    connect(pc, &ProcCtrl::autoExecUpdated, this, &Body::changedAutoExec);

    connect(imgDatas_, &ImgDatas::imageUpdated, rawDisp_, qOverload<>(&QWidget::update));
    for (auto sig : { &ProcCtrl::rotAxUpdated, &ProcCtrl::sliceNoUpdated, &ProcCtrl::corUpdated })
        connect(pc, sig, rawDisp_->dispA(), qOverload<>(&QWidget::update));
    // The range lines follow the range fields too, which announce no change.
    for (const char *name : { "SliceFrom", "SliceTo" })
        if (auto *e = pc->findChild<QLineEdit *>(QLatin1String(name)))
            connect(e, &QLineEdit::textChanged, rawDisp_->dispA(), qOverload<>(&QWidget::update));
    connect(rawDisp_, &ImgDispWPV::newPosInvY, this, &Body::newPosOnRawImg);
    connect(rawDisp_, &ImgDispWCBar::newBar, this, &Body::updateRawImage);
    connect(rawDisp_, &DispAWLayout::drawImage2, this, &Body::draw);
    connect(rawDisp_, &ImgDisp::selectedAPoint, this, &Body::selectedAPointInRawImg);
    connect(ui->seekCtrl, &SeekCtrl::newIndex, this, &Body::updateRawImage);

    connect(ctCalc_, &CtCalc::dRUpdated, this, &Body::dRUpdated);
    connect(ctCalc_, &CtCalc::cRUpdated, this, &Body::cRUpdated);
    connect(ui->FixColorScale, &QCheckBox::toggled, this, &Body::fixColorScaleChanged);
    connect(ui->ColorMin, &QLineEdit::editingFinished, this, &Body::fixColorScaleChanged);
    connect(ui->ColorMax, &QLineEdit::editingFinished, this, &Body::fixColorScaleChanged);
    connect(ui->ShowAdditionalInfo, &QCheckBox::toggled, this, &Body::setShowAdditionalInfo);
    connect(ui->ShowAdditionalAdditionalInfo, &QCheckBox::toggled, this,
        &Body::setShowAdditionalAdditionalInfo);
    connect(ui->SelI0Files, &SelectDataFiles::filesSelected, this, &Body::i0FilesSelected);
    connect(ui->SaveSetup, &QPushButton::clicked, this, &Body::showSaveSetupD);
    connect(ui->LoadSetup, &QPushButton::clicked, this, &Body::showLoadSetupD);
    connect(rangeDispatch, &RangeDispatch::startCt, this,
        [this](int i, bool v, double cor, int slice, bool show) {
            if (i >= 0 && i < ctCalc2s_.size())
                emit startCt(ctCalc2s_[i], v, cor, slice, show);
        });
    connect(rangeDispatch, &RangeDispatch::startTryCt, this,
        [this](int i, bool v, double cor, int slice) {
            if (i >= 0 && i < ctCalc2s_.size())
                emit startTryCt(ctCalc2s_[i], v, cor, slice);
        });
    connect(pc, &ProcCtrl::tryCor, this, &Body::tryCor);
    connect(pc, &ProcCtrl::findCor, this, &Body::findCor);
    connect(rangeDispatch, &RangeDispatch::finished, this, [this] {
        if (calcRunning)
            stopCalcCt();
    });
    connectRunRecord();

    const bool more = ui->ShowAdditionalInfo->isChecked();
    ui->AdditionalInfo->setVisible(more);
    ui->ShowAdditionalAdditionalInfo->setVisible(more);
    ui->AdditionalAdditionalInfo->setVisible(ui->ShowAdditionalAdditionalInfo->isChecked());

    // 9. The setup dialog is made when it is first opened (setupFileDialog).

    // 10. The configuration lines, as commands.
    commandTable = std::make_unique<CommandTable>(*this);
    // Nobody waits for them: their ends answer no batch command.
    for (const QString &line : ConfigStore::global().lines())
        commandTable->execUnanswered(BatchCmd(line));

    // 11. The analyser link.
    setupZelkovLink();

    fitControlPane();
    fitScreen();
}

void Body::fitScreen()
{
    // The form's size, but never more than the screen offers: room is left
    // for the window frame and title bar.
    const QScreen *s = screen();
    if (!s)
        return;
    const QRect room = s->availableGeometry();
    const QSize fit(std::min(width(), room.width() - windowFrameRoom.width()),
        std::min(height(), room.height() - windowFrameRoom.height()));
    resize(fit.expandedTo(minimumSizeHint()));
}

void Body::fitControlPane()
{
    // The controls get the width they need, so that their pane scrolls only
    // up and down; on a screen too narrow for that beside the image tabs the
    // pane gives way (down to a floor) and scrolls sideways as well.
    QScrollArea *pane = ui->scrollArea;
    const int needed = ui->scrollAreaWidgetContents->minimumSizeHint().width()
        + pane->verticalScrollBar()->sizeHint().width() + 2 * pane->frameWidth();
    int width = needed;
    if (const QScreen *s = screen()) {
        const int room = s->availableGeometry().width() - ui->ImgsTab->minimumSizeHint().width()
            - layout()->spacing() - 16; // the window frame
        width = qMin(needed, qMax(minControlPaneWidth, room));
    }
    pane->setMinimumWidth(width);
}

Body::~Body()
{
    shutDownThreads();
    // The saver has written all it was given: records still waiting are
    // written now, with the failures reported so far.
    while (!pendingRecords.empty())
        writePendingRecord();
    commandTable.reset();
}

void Body::placeInBase(PopDockBase *base, QWidget *content, const QString &title)
{
    if (!base || !content)
        return;
    base->setContent(content);
    base->dockLayout()->addWidget(content);
    base->popWindow()->setWindowTitle(title);
}

void Body::buildParallelCalculators(int n)
{
    saverThread = new QThread;
    dataSaver_ = new DataSaver;
    dataSaver_->moveToThread(saverThread);
    saverThread->start(QThread::InheritPriority);
    releaseAtThreadEnd(saverThread);
    connect(dataSaver_, &DataSaver::saveFailed, this, &Body::saveFailed);
    connect(this, &Body::saveLayoutChanged, dataSaver_, &DataSaver::setSubFolders);

    rangeDispatch->setCalculatorCount(n);
    for (int i = 0; i < n; ++i) {
        auto *tab = new QWidget;
        auto *grid = new QGridLayout(tab);
        grid->setContentsMargins(0, 0, 0, 0);
        auto *base = new PopDockBase(tab);
        grid->addWidget(base);
        ui->ImgsTab->addTab(tab, tr("CT2 %1").arg(i + 1));
        auto *panel = new CtCalc2Ui;
        placeInBase(base, panel, tr("CT Calc2 %1").arg(i + 1));

        auto *thread = new QThread;
        auto *calc = new CtCalc2;
        calc->moveToThread(thread);
        thread->start(QThread::InheritPriority);
        releaseAtThreadEnd(thread);
        panel->setCtCalc2(calc);
        calc->setImgDatas(imgDatas_);
        connect(this, qOverload<CtCalc2 *, bool, double, int, bool>(&Body::startCt), calc,
            qOverload<CtCalc2 *, bool, double, int, bool>(&CtCalc2::startCt));
        connect(this, qOverload<CtCalc2 *, bool, double, int>(&Body::startCt), calc,
            qOverload<CtCalc2 *, bool, double, int>(&CtCalc2::startCt));
        connect(this, &Body::startTryCt, calc, &CtCalc2::startTryCt);
        connect(calc, &CtCalc2::calcFinished, this, [this, i] { parallelCalcFinished(i); });
        connect(calc, &CtCalc2::sliceFailed, this, &Body::sliceFailed);
        connect(calc, &CtCalc2::saveDataWDiscard, dataSaver_, &DataSaver::saveDataWDiscard);
        connect(calc, &CtCalc2::saveImgWDiscard, dataSaver_, &DataSaver::saveImgWDiscard);
        connect(calc, &CtCalc2::saveTiffWDiscard, dataSaver_, &DataSaver::saveTiffWDiscard);
        connect(panel, &CtCalc2Ui::dRUpdated, this, &Body::dRUpdated);
        connect(panel, &CtCalc2Ui::cRUpdated, this, &Body::cRUpdated);
        ctCalc2s_ << calc;
        ctCalc2Uis_ << panel;
        ctc2Threads << thread;
    }
}

// Calculators first (a slice in progress completes and queues its records),
// then the saver, which writes every record queued before its quit request,
// then the other workers. Each object is destroyed after its thread ended.
void Body::shutDownThreads()
{
    if (threadsShutDown)
        return;
    threadsShutDown = true;
    rangeDispatch->stop();
    for (QThread *t : qAsConst(ctc2Threads)) {
        t->quit();
        waitForThreadEnd(t);
    }
    qDeleteAll(ctCalc2s_);
    ctCalc2s_.clear();
    qDeleteAll(ctc2Threads);
    ctc2Threads.clear();
    if (saverThread) {
        QThread *t = saverThread;
        postHandOffCallInThread(t, [] { QThread::currentThread()->quit(); });
        waitForThreadEnd(t);
        delete dataSaver_;
        dataSaver_ = nullptr;
        delete t;
        saverThread = nullptr;
    }
    const std::pair<QThread *, QObject *> others[]
        = { { batchThread, batch_ }, { xafsThread, xafsBatch_ }, { imgThread, imgDatas_ } };
    for (const auto &[t, obj] : others) {
        t->quit();
        waitForThreadEnd(t);
        delete obj;
        delete t;
    }
    batch_ = nullptr;
    xafsBatch_ = nullptr;
    imgDatas_ = nullptr;
    batchThread = xafsThread = imgThread = nullptr;
}

void Body::closeEvent(QCloseEvent *event)
{
    emit finishing();
    event->accept();
}

bool Body::calculatorsIdle() const
{
    if (calcRunning || ctCalc_->isRunning())
        return false;
    for (int i = 0; i < rangeDispatch->calculatorCount(); ++i)
        if (rangeDispatch->isBusy(i))
            return false;
    return true;
}

void Body::batchLoad(QString fname) { emit callBatchLoad(fname); }

void Body::batchExec() { emit callBatchExec(); }

void Body::setFixColorScale(bool f) { ui->FixColorScale->setChecked(f); }

void Body::setAutoSaveImage(bool f) { ui->AutoSaveImage->setChecked(f); }

void Body::setAutoSaveData(bool f) { ui->AutoSaveData->setChecked(f); }

void Body::setAutoSaveTiff(bool f) { ui->AutoSaveTiff->setChecked(f); }

void Body::setAutoSaveHdf5(bool f) { ui->AutoSaveHdf5->setChecked(f); }

void Body::setColorMin(double v) { ui->ColorMin->setText(num6(v)); }

void Body::setColorMax(double v) { ui->ColorMax->setText(num6(v)); }

double Body::colorMin() const { return fieldValue(ui->ColorMin); }

double Body::colorMax() const { return fieldValue(ui->ColorMax); }

void Body::batchExCmd(BatchCmd cmd)
{
    if (commandTable)
        commandTable->exec(cmd);
}

void Body::startBatchCalc()
{
    if (calcRunning) {
        // Not the batch's own calculation: its end must not answer this line.
        qDebug() << "A calculation is already running : calc_exec ends at once";
        if (batch_)
            batch_->setOk(false);
        emit batchCalcFinished();
        return;
    }
    calcByCommand = true;
    batchCalcRunning = true;
    emit batchCalcStart();
}

void Body::startCommandCalc()
{
    if (calcRunning) {
        qDebug() << "A calculation is already running";
        return;
    }
    calcByCommand = true;
    startCalcCt();
}

void Body::noteRefusedInput(const QString &what, bool clearOk)
{
    ++refusedInputCount;
    qDebug().noquote() << QString("Input file refused : %1").arg(what);
    if (clearOk && batch_)
        batch_->setOk(false);
}

bool Body::loadI0ByCommand(const QString &fname, bool clearOk)
{
    return loadImageByCommand(true, fname, clearOk);
}

bool Body::loadBgByCommand(const QString &fname, bool clearOk)
{
    return loadImageByCommand(false, fname, clearOk);
}

bool Body::loadImageByCommand(bool i0, const QString &fname, bool clearOk)
{
    if (!calculatorsIdle()) {
        // Judged when it is read, after the calculation.
        if (i0) {
            i0DeferredByCommand = true;
            selectI0Image(fname);
        } else {
            bgDeferredByCommand = true;
            selectBgImage(fname);
        }
        return true;
    }
    SelectAImgFile *sel = i0 ? ui->I0ImgSel : ui->BGImgSel;
    // A read image replaces the one held; a refused file keeps it.
    const ImgData *before = sel->image();
    sel->fileSelected0(fname);
    if (sel->image() && sel->image() != before)
        return true;
    noteRefusedInput(QString("%1 image \"%2\"").arg(i0 ? "I0" : "BG", fname), clearOk);
    return false;
}

void Body::sliceFailed(int slice, QString why)
{
    ++failedResultCount;
    ++runFailures;
    noteFailedSlice(slice);
    if (runRecord)
        runRecord->failed.push_back({ slice, why });
}

void Body::saveFailed(QString path, QString slice)
{
    ++failedResultCount;
    // Files of an ended run are all written (or failed) before its record.
    RunRecordFacts *r = pendingRecords.empty() ? runRecord.get() : pendingRecords.front().get();
    if (!r)
        return;
    bool ok = false;
    const int n = slice.toInt(&ok);
    if (ok)
        noteFailedSlice(n);
    r->failed.push_back({ ok ? n : -1, QString("not saved : %1").arg(path) });
}

void Body::seqCalcPressed()
{
    if (!walkShown && (calcRunning || isLoading() || calcStartPending)) {
        // Its first set would take the end of this work for its own.
        qDebug() << "Seq. Calc. refused : a calculation is running or images are loading";
        return;
    }
    QMetaObject::invokeMethod(xafsBatch_, &XafsBatch::start, Qt::QueuedConnection);
}

void Body::startBatchTryCor(double from, double to, double step)
{
    ui->procCtrl->setTryCor(from, to, step);
    if (calcRunning) {
        // Not the batch's own calculation: its end must not answer this line.
        qDebug() << "Try CoR refused : a calculation is already running";
    } else {
        batchCalcRunning = true;
        calcByCommand = true;
        if (startTryCor(from, to, step))
            return;
        batchCalcRunning = false;
        calcByCommand = false;
    }
    if (batch_)
        batch_->setOk(false);
    emit batchCalcFinished();
}

void Body::tryCor(double from, double to, double step) { startTryCor(from, to, step); }

bool Body::findCor()
{
    if (isLoading() || calcStartPending || calcRunning) {
        qDebug() << "Find CoR refused : images are loading or a calculation is running";
        return false;
    }
    ProcCtrl *pc = ui->procCtrl;
    double cor = 0.0;
    if (!findCorOfSlice(imgDatas_, pc->rotAxIsV(), pc->sliceNo(), cor))
        return false;
    qDebug().noquote() << QString("Find CoR : centre %1 at slice %2")
                              .arg(QString::number(cor, 'g', 8))
                              .arg(pc->sliceNo());
    pc->setCor(cor);
    return true;
}

bool Body::startTryCor(double from, double to, double step)
{
    QVector<double> cors;
    if (!corSeries(from, to, step, cors))
        return false;
    if (isLoading() || calcStartPending) {
        qDebug() << "Try CoR refused : images are loading";
        return false;
    }
    if (calcRunning) {
        qDebug() << "Try CoR refused : a calculation is already running";
        return false;
    }
    if (imgDatas_->isEmpty() || ctCalc2s_.isEmpty()) {
        qDebug() << "Try CoR refused : no images loaded";
        return false;
    }
    ProcCtrl *pc = ui->procCtrl;
    const bool v = pc->rotAxIsV();
    const QSize size = imgDatas_->size();
    const int nDet = v ? size.width() : size.height();
    const int slices = v ? size.height() : size.width();
    const int slice = pc->sliceNo();
    if (slice < 0 || slice >= slices) {
        qDebug() << "Try CoR refused : slice outside the images :" << slice;
        return false;
    }
    for (double c : qAsConst(cors)) {
        CorGeometry g;
        if (!CorGeometry::compute(v, c, nDet, g)) {
            qDebug() << "Try CoR refused : centre outside the detector :" << c;
            return false;
        }
    }
    const SelectAFile *ts = ui->SelectTiffSaveDir;
    if (ts->path().trimmed().isEmpty()) {
        qDebug() << "Try CoR refused : no TIFF save folder";
        return false;
    }
    if (!QDir().mkpath(ts->path())) {
        qDebug().noquote()
            << QString("Try CoR refused : can't make the TIFF save folder \"%1\"").arg(ts->path());
        return false;
    }
    markCalcStarted();
    pc->fillRunParams(runParams, ui->SelectCt1->isChecked(), ui->SelectCt2->isChecked());
    runParams.upperLimit = fieldValue(ui->DataUpperLimit);
    runParams.lowerLimit = fieldValue(ui->DataLowerLimit);
    runParams.offset = fieldValue(ui->DataOffset);
    runParams.cor = cors.first();
    runParams.currentSlice = slice;
    const int shared = splitsWork()
        ? RankPlace::share(int(cors.size()), rankPlace().rank, rankPlace().size)
        : int(cors.size());
    runParams.sliceThreads = sliceThreadsFor(runParams.threads, calculatorCount, shared);
    runParams.calculatorsUsed = calculatorsFor(runParams.threads, calculatorCount, shared);
    setupFFT();
    setupSaveConds();
    rangeDone = 0;
    rangeTotal = int(cors.size());
    if (splitsWork()) {
        rangeDispatch->setShare(rankPlace().rank, rankPlace().size);
        rangeTotal = RankPlace::share(rangeTotal, rankPlace().rank, rankPlace().size);
    } else {
        rangeDispatch->setShare(0, 1);
    }
    rangeOfCentres = true;
    ui->CalcProgress->setRange(0, rangeTotal);
    ui->CalcProgress->setValue(0);
    ui->CalcLeftT->clear();
    qDebug() << "Try CoR :" << cors.size() << "centres from" << cors.first() << "to" << cors.last()
             << "at slice" << slice;
    rangeDispatch->startCors(runParams, slice, cors);
    return true;
}

bool Body::saveSetup(const QString &fname)
{
    if (!rankPlace().leads()) {
        qDebug().noquote() << QString("Setup file left to rank 0 : \"%1\"").arg(fname);
        return true;
    }
    return commandTable && commandTable->saveSetup(fname);
}

bool Body::loadSetup(const QString &fname)
{
    return commandTable && commandTable->loadSetup(fname);
}

void Body::dataFilesSelected(QStringList files, bool clear)
{
    const int request = imagesRequest;
    const QString what = imagesWhat;
    imagesRequest = 0;
    if (!calculatorsIdle()) {
        if (request != 0 || clear || !filesDeferred) {
            deferredRequest = request;
            deferredWhat = what;
        }
        // The calculators may still read the stack: the choice waits.
        if (clear || !filesDeferred) {
            deferredFiles = files;
            deferredClear = clear;
        } else {
            deferredFiles += files;
        }
        filesDeferred = true;
        qDebug() << "Loading waits for the end of the calculation :" << files.size() << "files";
        return;
    }
    if (clear) {
        imgDatas_->clearImgs();
        ui->seekCtrl->reset();
        rawDisp_->image() = QImage();
        rawDisp_->dispA()->update();
    }
    pendingFiles = files;
    chainRequest = request;
    chainWhat = what;
    chainAccepted = 0;
    refusedFiles.clear();
    ++loadChains;
    emit askLoadNextDataFile();
}

void Body::loadNextDataFile()
{
    if (pendingFiles.isEmpty()) {
        emit noticeFinishedLoadDataFiles();
        return;
    }
    const QString name = pendingFiles.takeFirst();
    if (imgDatas_->add(name)) {
        ui->CTFiles->addFileName(name);
        ++chainAccepted;
    } else {
        refusedFiles << name;
    }
    emit askLoadNextDataFile();
}

void Body::finishedLoadDataFiles()
{
    loadChains = std::max(0, loadChains - 1);
    if (chainRequest != 0 && chainAccepted == 0)
        noteRefusedInput(
            QString("no image read for images_load %1").arg(chainWhat), chainRequest == 2);
    chainRequest = 0;
    const bool keep = ui->CTFiles->keepConditions();
    const QSize size = imgDatas_->size();
    const int w = size.width();
    const int h = size.height();
    ProcCtrl *pc = ui->procCtrl;
    const bool v = pc->rotAxIsV();
    // Defaults come from the image size: without any image there is none.
    // The sinogram is rebuilt once, below, not after each of them.
    sinogram_->setRebuildsHeld(true);
    if (w > 0 && h > 0) {
        if (resetSliceToOnLoad || !keep) {
            pc->setSliceTo((v ? h : w) - 1);
            resetSliceToOnLoad = false;
        }
        if (resetSliceNoOnLoad || !keep) {
            pc->setSliceNo((v ? h : w) / 2);
            resetSliceNoOnLoad = false;
        }
        if (resetCorOnLoad || !keep) {
            pc->setCor(v ? w * 0.5 : double(h / 2));
            resetCorOnLoad = false;
        }
    }
    sinogram_->setRebuildsHeld(false);
    const int n = imgDatas_->count();
    // The file box tells whether the last choice was loaded whole.
    ui->CTFiles->setStat(
        refusedFiles.isEmpty(), refusedFiles.isEmpty() ? QString() : refusalText());
    ui->seekCtrl->setMaximum(std::max(0, n - 1));
    updateRawImage();
    if (pc->autoUpdate()) {
        sinogram_->genSinogram();
        sinogram_->genImage();
    }
    if (w > 0 && h > 0 && (resetRegionsOnLoad || !keep)) {
        const double e = (v ? w : h) - 1;
        ctCalc_->setDR(0, 0, e, e);
        ctCalc_->setCR(0, 0, e, e);
        for (CtCalc2Ui *u : qAsConst(ctCalc2Uis_)) {
            u->setDR(0, 0, e, e);
            u->setCR(0, 0, e, e);
        }
        resetRegionsOnLoad = false;
    }
    emit finishedLoadingCTFiles();
    if (loadChains == 0 && calcStartPending) {
        calcStartPending = false;
        batchCalcRunning = batchCalcRunning || batchStartPending;
        batchStartPending = false;
        qDebug() << "Loading ended : the waiting calculation starts";
        startCalcCt();
    }
}

QString Body::refusalText() const
{
    // Why the first refused file was refused, read again here: the stack
    // only says that it refused it.
    const QString &name = refusedFiles.first();
    QString why = imgDatas_->refusalReason(name); // an HDF5 scan is not read twice
    std::unique_ptr<ImgData> img(why.isEmpty() ? createImgData(fileType(name)) : nullptr);
    if (!why.isEmpty()) {
        // the stack's own reason
    } else if (!img) {
        why = tr("not an image file of a known type");
    } else {
        img->setFileName(name);
        const QSize s = imgDatas_->size();
        if (!img->load())
            why = tr("the file can't be read as an image");
        else if (s.width() > 0 && (img->width() != s.width() || img->height() != s.height()))
            why = tr("its images are %1 x %2 pixels, the loaded images %3 x %4")
                      .arg(QString::number(img->width()), QString::number(img->height()),
                          QString::number(s.width()), QString::number(s.height()));
        else
            why = tr("an image without pixels");
    }
    return tr("%1 files refused, the first: %2 (%3)")
        .arg(QString::number(refusedFiles.size()), name, why);
}

void Body::newPosOnRawImg(double x, double y)
{
    double v = 0;
    const ImgData *img = imgDatas_->at(ui->seekCtrl->value());
    if (img && x >= 0 && y >= 0 && x < img->width() && y < img->height())
        v = img->value(int(x), int(y));
    rawDisp_->setVal(v);
}

void Body::updateRawImage()
{
    if (imgDatas_->makeImage(ui->seekCtrl->value(), rawDisp_->image(), rawDisp_->colorBar()))
        rawDisp_->newImage();
    rawDisp_->dispA()->update();
}

void Body::draw(QPainter *p)
{
    if (imgDatas_->isEmpty())
        return;
    const QSize size = imgDatas_->size();
    const double w = size.width();
    const double h = size.height();
    const DispA *a = rawDisp_->dispA();
    const ChCoord &c = a->coord();
    auto px = [&c](double x) { return c.dataToPixelX(x); };
    auto py = [&c](double y) { return c.dataToPixelY(y); };
    auto hLine = [&](double y) { p->drawLine(QPointF(px(0), py(y)), QPointF(px(w), py(y))); };
    auto vLine = [&](double x) { p->drawLine(QPointF(px(x), py(0)), QPointF(px(x), py(h))); };
    const ProcCtrl *pc = ui->procCtrl;
    const bool v = pc->rotAxIsV();

    p->save();
    p->setPen(pen1);
    const QPoint m = a->mouse().pos;
    p->drawLine(QPointF(m.x(), py(0)), QPointF(m.x(), py(h)));
    p->drawLine(QPointF(px(0), m.y()), QPointF(px(w), m.y()));

    auto sliceLine = [&](double s) { v ? hLine(s) : vLine(s); };
    p->setPen(pen2);
    sliceLine(pc->sliceNo());
    p->setPen(pen3);
    sliceLine(pc->sliceFrom());
    sliceLine(pc->sliceTo());
    p->setPen(pen4);
    v ? vLine(pc->cor()) : hLine(pc->cor());
    p->restore();
}

void Body::selectedAPointInRawImg(double x, double y, MouseC::MStat s)
{
    ProcCtrl *pc = ui->procCtrl;
    const bool v = pc->rotAxIsV();
    if (s == MouseC::Left) {
        const int slice = int(v ? y : x);
        pc->setSliceNo(slice);
        if (ui->SendMsg2Zelkov->isChecked())
            execForSlice(slice);
    } else if (s == MouseC::Right) {
        pc->setCor(v ? x : y);
    }
}

void Body::showDispRaw() { rawDisp_->setVisible(!rawDisp_->isVisible()); }

void Body::showSinogram() { sinogram_->setVisible(!sinogram_->isVisible()); }

void Body::toggleCalcCt()
{
    if (isLoading()) {
        // Pressing again while the stack loads withdraws the request.
        calcStartPending = !calcStartPending;
        calcByCommand = false;
        qDebug() << (calcStartPending ? "Calculation starts when loading has ended"
                                      : "Waiting calculation withdrawn");
        // A batch waiting for the withdrawn calculation goes on.
        if (!calcStartPending && batchStartPending) {
            batchStartPending = false;
            emit batchCalcFinished();
        }
        return;
    }
    if (imgDatas_->isEmpty())
        return;
    if (calcRunning) {
        stopCalcCt();
    } else {
        calcByCommand = false; // by hand
        startCalcCt();
    }
}

void Body::startCalcCt()
{
    if (isLoading()) {
        calcStartPending = true;
        batchStartPending = batchStartPending || batchCalcRunning;
        batchCalcRunning = false;
        qDebug() << "Calculation starts when loading has ended";
        return;
    }
    if (calcRunning) {
        qDebug() << "A calculation is already running";
        return;
    }
    markCalcStarted();
    if (ui->AutoSaveImage->isChecked())
        QDir().mkpath(savePath(ui->SelectImageSaveDir->path()));
    if (ui->AutoSaveData->isChecked())
        QDir().mkpath(savePath(ui->SelectDataSaveDir->path()));
    if (ui->AutoSaveTiff->isChecked())
        QDir().mkpath(savePath(ui->SelectTiffSaveDir->path()));
    ui->procCtrl->fillRunParams(runParams, ui->SelectCt1->isChecked(), ui->SelectCt2->isChecked());
    runParams.upperLimit = fieldValue(ui->DataUpperLimit);
    runParams.lowerLimit = fieldValue(ui->DataLowerLimit);
    runParams.offset = fieldValue(ui->DataOffset);
    // A range run shares the threads its calculators leave idle among its
    // slices (this process's share of them); a single slice gets them all.
    qint64 slices = 1;
    if (runParams.autoExec && runParams.calcCt2) {
        slices = rangeSliceCount(runParams.sliceFrom, runParams.sliceTo, runParams.sliceStep);
        if (splitsWork())
            slices = RankPlace::share(int(slices), rankPlace().rank, rankPlace().size);
    }
    runParams.sliceThreads = sliceThreadsFor(runParams.threads, calculatorCount, slices);
    runParams.calculatorsUsed
        = calculatorsFor(runParams.autoExec ? runParams.threads : 1, calculatorCount, slices);
    setupFFT();
    setupSaveConds();
    rangeDone = 0;
    rangeTotal = 0;
    rangeOfCentres = false;
    ui->CalcProgress->setRange(0, 1);
    ui->CalcProgress->setValue(0);
    ui->CalcLeftT->clear();
    if (runParams.autoExec) {
        runParams.currentSlice = runParams.sliceFrom;
        execMultiCtCalc();
    } else {
        execSingleCtCalc();
    }
}

void Body::markCalcStarted()
{
    ++calcSerial;
    calcRunning = true;
    runFailures = 0;
    startTime = QDateTime::currentDateTime();
    ui->CalcStartT->setText(startTime.toString(wholeTimeFormat));
    ui->CalcEndT->clear();
    ui->CalcCT->setStyleSheet(runningStyle);
    ui->I0ImgSel->setEnabled(false);
    ui->BGImgSel->setEnabled(false);
}

void Body::stopCalcCt()
{
    // Reached from several ends (button, single calculator, range end): the
    // end is reported once per calculation.
    if (!calcRunning)
        return;
    calcRunning = false;
    rangeDispatch->stop();
    if (ctCalc_->isRunning())
        ctCalc_->calcCt(); // ends its run; its calcFinished finds us stopped
    endTime = QDateTime::currentDateTime();
    endRunRecord();
    ui->CalcEndT->setText(endTime.toString(wholeTimeFormat));
    ui->CalcSpentT->setText(num6(startTime.msecsTo(endTime) / 1000.0));
    ui->CalcCT->setStyleSheet(idleStyle);
    if (rangeTotal == 0) // a single slice: done or stopped, nothing is left
        ui->CalcProgress->setValue(ui->CalcProgress->maximum());
    if (!rangeOfCentres)
        slicesDoneTotal += rangeDone;
    calcByCommand = false;
    if (batchCalcRunning) {
        batchCalcRunning = false;
        // A slice that could not be reconstructed lets ":ifng" react.
        if (runFailures > 0 && batch_)
            batch_->setOk(false);
        emit batchCalcFinished();
    }
    emit calcFinished();
    applyDeferredChoices();
}

void Body::setupFFT()
{
    const QSize size = imgDatas_->size();
    const bool v = runParams.rotAxIsV;
    const int nDet = v ? size.width() : size.height();
    CorGeometry g;
    const double cor = ProcCtrl::corForSlice(runParams, runParams.currentSlice);
    if (!CorGeometry::compute(v, cor, nDet, g) || g.width < 2)
        return;
    const int n = 2 * (g.width / 2);
    const int m = imgDatas_->count();
    // Only the calculators the run hands slices to make their buffers now;
    // the others keep theirs until a run of theirs needs them.
    for (int i = 0; i < ctCalc2s_.size(); ++i) {
        ctCalc2s_[i]->setRunParams(runParams);
        if (i < runParams.calculatorsUsed)
            ctCalc2s_[i]->prepare(n, m);
    }
}

void Body::setupSaveConds()
{
    const bool img = ui->AutoSaveImage->isChecked();
    const bool dat = ui->AutoSaveData->isChecked();
    const SelectAFile *is = ui->SelectImageSaveDir;
    const SelectAFile *ds = ui->SelectDataSaveDir;
    const bool tif = ui->AutoSaveTiff->isChecked();
    const SelectAFile *ts = ui->SelectTiffSaveDir;
    const QString ip = savePath(is->path());
    const QString dp = savePath(ds->path());
    const QString tp = savePath(ts->path());
    ctCalc_->setSaveImage(img, ip, is->name(), is->addTag());
    ctCalc_->setSaveData(dat, dp, ds->name(), ds->addTag());
    for (CtCalc2 *c : qAsConst(ctCalc2s_)) {
        c->setRunParams(runParams);
        c->setSaveImage(img, ip, is->name(), is->addTag());
        c->setSaveData(dat, dp, ds->name(), ds->addTag());
        // A range run's HDF5 volume is made from the calculators' TIFF
        // records; the saver writes TIFF files only when they are asked for.
        c->setSaveTiff(tif || (ui->AutoSaveHdf5->isChecked() && runParams.autoExec), tp, ts->name(),
            ts->addTag());
    }
}

QString Body::savePath(const QString &field)
{
    // An empty save path means the working folder.
    return field.trimmed().isEmpty() ? QDir::currentPath() : field;
}

void Body::execSingleCtCalc()
{
    if (splitsWork() && !rankPlace().leads()) {
        // Rank 0 computes and saves the single slice for all ranks.
        stopCalcCt();
        return;
    }
    if (runParams.calcCt1) {
        // Every start ends in its calcFinished(), at once when it cannot
        // reconstruct anything.
        ctCalc_->calcCt();
    }
    if (runParams.calcCt2 && calcRunning) {
        rangeTotal = 1;
        ui->CalcProgress->setRange(0, 1);
        ui->CalcProgress->setValue(0);
        rangeDispatch->startSingle(runParams, ui->ShowCalcRes->isChecked());
    }
    if (!runParams.calcCt1 && !runParams.calcCt2)
        stopCalcCt();
}

void Body::execMultiCtCalc()
{
    if (!calcRunning)
        return;
    if (!runParams.autoExec) {
        stopCalcCt();
        return;
    }
    // Auto Exec with CT1 computes nothing: started by hand the calculation
    // stays running until stopped by hand; a command or a walk would wait for
    // ever, so theirs ends at once.
    if (!runParams.calcCt2) {
        if (calcByCommand) {
            qDebug() << "Auto Exec with CT1 computes nothing : the calculation ends at once";
            if (batchCalcRunning && batch_)
                batch_->setOk(false);
            stopCalcCt();
        }
        return;
    }
    rangeTotal = rangeSliceCount(runParams.sliceFrom, runParams.sliceTo, runParams.sliceStep);
    const RankPlace &place = rankPlace();
    if (splitsWork()) {
        rangeDispatch->setShare(place.rank, place.size);
        rangeTotal = RankPlace::share(rangeTotal, place.rank, place.size);
    } else {
        rangeDispatch->setShare(0, 1);
    }
    ui->CalcProgress->setRange(0, rangeTotal);
    ui->CalcProgress->setValue(0);
    beginRunRecord();
    beginHdf5Volume();
    rangeDispatch->startRange(runParams, ui->ShowCalcRes->isChecked());
}

void Body::parallelCalcFinished(int calculator)
{
    const bool counted = calcRunning && rangeDispatch->isBusy(calculator);
    if (counted) {
        ++rangeDone;
        updateRangeProgress();
    }
    rangeDispatch->calcFinished(calculator);
    applyDeferredChoices();
}

void Body::updateRangeProgress()
{
    if (rangeTotal <= 0)
        return;
    ui->CalcProgress->setValue(std::min(rangeDone, rangeTotal));
    if (rangeDone <= 0 || !startTime.isValid())
        return;
    const qint64 spent = startTime.msecsTo(QDateTime::currentDateTime());
    const qint64 left = spent * std::max(0, rangeTotal - rangeDone) / rangeDone;
    ui->CalcLeftT->setText(QTime(0, 0)
                               .addMSecs(int(std::min<qint64>(left, 86399999)))
                               .toString(QStringLiteral("hh:mm:ss")));
}

void Body::ctCalcFinished() { stopCalcCt(); }

void Body::applyDeferredChoices()
{
    if (!calculatorsIdle())
        return;
    ui->I0ImgSel->setEnabled(true);
    ui->BGImgSel->setEnabled(true);
    if (i0Deferred) {
        i0Deferred = false;
        if (std::exchange(i0DeferredByCommand, false))
            loadI0ByCommand(deferredI0, false);
        else
            selectI0Image(deferredI0);
    }
    if (bgDeferred) {
        bgDeferred = false;
        if (std::exchange(bgDeferredByCommand, false))
            loadBgByCommand(deferredBg, false);
        else
            selectBgImage(deferredBg);
    }
    if (filesDeferred) {
        filesDeferred = false;
        const QStringList files = deferredFiles;
        deferredFiles.clear();
        imagesRequest = deferredRequest;
        imagesWhat = deferredWhat;
        deferredRequest = 0;
        dataFilesSelected(files, deferredClear);
    }
}

void Body::selectI0Image(const QString &fname)
{
    if (!calculatorsIdle()) {
        i0Deferred = true;
        deferredI0 = fname;
        qDebug().noquote()
            << QString("I0 image waits for the end of the calculation : \"%1\"").arg(fname);
        return;
    }
    ui->I0ImgSel->fileSelected0(fname);
}

void Body::selectBgImage(const QString &fname)
{
    if (!calculatorsIdle()) {
        bgDeferred = true;
        deferredBg = fname;
        qDebug().noquote()
            << QString("BG image waits for the end of the calculation : \"%1\"").arg(fname);
        return;
    }
    ui->BGImgSel->fileSelected0(fname);
}

void Body::setShowAdditionalInfo(bool f)
{
    ui->AdditionalInfo->setVisible(f);
    ui->ShowAdditionalAdditionalInfo->setVisible(f);
}

void Body::setShowAdditionalAdditionalInfo(bool f) { ui->AdditionalAdditionalInfo->setVisible(f); }

void Body::changedCtSel(QAbstractButton *)
{
    if (ui->SelectCt1->isChecked())
        ui->procCtrl->setAutoExec(false);
}

void Body::changedAutoExec()
{
    if (ui->procCtrl->autoExec())
        ui->SelectCt2->setChecked(true);
}

void Body::dRUpdated(double rx0, double rz0, double rx1, double rz1)
{
    // The receivers announce the region again: pass it on only once.
    if (sharingRegion)
        return;
    sharingRegion = true;
    QObject *from = sender();
    if (from != ctCalc_)
        ctCalc_->setDR(rx0, rz0, rx1, rz1);
    for (CtCalc2Ui *u : qAsConst(ctCalc2Uis_))
        if (u != from)
            u->setDR(rx0, rz0, rx1, rz1);
    sharingRegion = false;
}

void Body::cRUpdated(double rx0, double rz0, double rx1, double rz1)
{
    if (sharingRegion)
        return;
    sharingRegion = true;
    QObject *from = sender();
    if (from != ctCalc_)
        ctCalc_->setCR(rx0, rz0, rx1, rz1);
    for (CtCalc2Ui *u : qAsConst(ctCalc2Uis_))
        if (u != from)
            u->setCR(rx0, rz0, rx1, rz1);
    sharingRegion = false;
}

void Body::fixColorScaleChanged()
{
    const bool f = ui->FixColorScale->isChecked();
    ctCalc_->setFixColorScale(f);
    for (CtCalc2Ui *u : qAsConst(ctCalc2Uis_))
        u->setFixColorScale(f);
    if (!f)
        return;
    const double lo = colorMin();
    const double hi = colorMax();
    ctCalc_->setCBarMinMaxForced(lo, hi);
    for (CtCalc2Ui *u : qAsConst(ctCalc2Uis_))
        u->setCBarMinMaxForced(lo, hi);
}

double Body::energyOfI0FileName(const QString &name)
{
    const int last = name.lastIndexOf(QLatin1Char('-'));
    QString token = name;
    if (last >= 0) {
        const int prev = last > 0 ? name.lastIndexOf(QLatin1Char('-'), last - 1) : -1;
        token = prev >= 0 ? name.mid(prev + 1, last - prev - 1) : name.left(last);
    }
    QString unit;
    const double number = energyOfName(token, &unit);
    return number * unitFactorOf(unit);
}

int Body::nearestEnergyIndex(const QList<double> &energies, double target)
{
    int best = 0;
    for (int i = 1; i < energies.size(); ++i)
        if (std::abs(energies[i] - target) < std::abs(energies[best] - target))
            best = i;
    return best;
}

void Body::i0FilesSelected(QStringList files, bool clear)
{
    // The energies stay aligned with the listed names, also when a choice
    // is added to the list instead of replacing it.
    if (clear)
        i0Files.clear();
    for (const QString &f : qAsConst(files)) {
        i0Files << f;
        ui->SelI0Files->addFileName(f);
    }
    i0Energies.clear();
    for (const QString &f : qAsConst(i0Files))
        i0Energies << energyOfI0FileName(f);
}

void Body::setI0FileFromList()
{
    if (i0Files.isEmpty()) {
        qDebug() << "No I0 file set : the I0 image stays as it is";
        return;
    }
    const double target = ui->SelDDir->currentEnergy();
    const int i = nearestEnergyIndex(i0Energies, target);
    selectI0Image(i0Files.value(i));
}

void Body::selectedDir(QString dir, QStringList patterns)
{
    setI0FileFromList();
    const QString tag = ui->SelDDir->currentTag();
    ui->SelectImageSaveDir->setAddTag(tag);
    ui->SelectDataSaveDir->setAddTag(tag);
    ui->SelectTiffSaveDir->setAddTag(tag);
    ui->SelectHdf5SaveDir->setAddTag(tag);
    ui->CTFiles->setDialogDirAndSelect(dir, patterns);
}

void Body::selectedFileInfoList(QFileInfoList list)
{
    setI0FileFromList();
    const QString tag = ui->SelDDir->currentTag();
    ui->SelectImageSaveDir->setAddTag(tag);
    ui->SelectDataSaveDir->setAddTag(tag);
    ui->SelectTiffSaveDir->setAddTag(tag);
    ui->SelectHdf5SaveDir->setAddTag(tag);
    ui->CTFiles->selectFileInfos(list);
}

void Body::newSets(int count)
{
    if (ui->keepOnNewSet->isChecked())
        return;
    ui->SeqCalcFrom->setValue(1);
    ui->SeqCalcTo->setValue(count);
}

void Body::stageMessage(const QString &msg)
{
    const qlonglong dEt = xafsBatch_ ? xafsBatch_->stageDelta() : 0;
    emit stage(msg, qulonglong(std::max<qlonglong>(0, dEt)));
}

void Body::setFirstImageSet()
{
    stageMessage(tr("Loading first Data Set"));
    // Queued to the saver's thread: records queued before keep their layout.
    emit saveLayoutChanged(ui->SaveInSubFolders->isChecked(), ui->SubOfEnergy->isChecked(),
        ui->SubOfSlice->isChecked());
    int first = ui->SeqCalcFrom->value() - 1;
    const RankPlace &place = rankPlace();
    if (place.split()) // the first set of this rank's own: set i goes to rank i mod N
        first += ((place.rank - first) % place.size + place.size) % place.size;
    emit setFirstSet(first);
}

void Body::setNextImageSet()
{
    qDebug() << "loading next data set";
    stageMessage(tr("Loading next Data Set"));
    // A split walk steps over the other ranks' sets; the last step is the
    // list's own, which ends the walk at the end of the list or the range.
    for (int i = 1; i < rankPlace().size; ++i)
        if (!ui->SelDDir->advance())
            break;
    emit setNextSet(ui->SeqCalcTo->value() - 1);
}

void Body::startingSeqCalc()
{
    walkShown = true;
    ui->SeqCalc->setStyleSheet(runningStyle);
}

void Body::finishedSeqCalc()
{
    walkShown = false;
    ui->SeqCalc->setStyleSheet(idleStyle);
}

void Body::noticedStage(QString msg, qlonglong dEt)
{
    qDebug().noquote() << "Stage : " << msg << dEt;
    ui->ProgressMsg->setText(msg);
    ui->DeltaET->setText(num6(XafsBatch::deltaSeconds(dEt)));
    ui->TotalET->setText(QString::number(xafsBatch_ ? xafsBatch_->totalSeconds() : 0));
}

QFileDialog *Body::setupFileDialog()
{
    if (!setupDialog) {
        setupDialog = std::make_unique<QFileDialog>();
        setupDialog->setNameFilters({ QStringLiteral("*.cfg"), QStringLiteral("*.*") });
        setupDialog->setDirectory(dataRoot());
        connect(setupDialog.get(), &QFileDialog::fileSelected, this, &Body::saveLoadFileSelected);
    }
    return setupDialog.get();
}

void Body::showSaveSetupD()
{
    saveSetupMode = true;
    QFileDialog *d = setupFileDialog();
    d->setAcceptMode(QFileDialog::AcceptSave);
    d->setFileMode(QFileDialog::AnyFile);
    d->show();
}

void Body::showLoadSetupD()
{
    saveSetupMode = false;
    QFileDialog *d = setupFileDialog();
    d->setAcceptMode(QFileDialog::AcceptOpen);
    d->setFileMode(QFileDialog::ExistingFile);
    d->show();
}

void Body::saveLoadFileSelected(QString fname)
{
    if (saveSetupMode)
        saveSetup(fname);
    else
        loadSetup(fname);
}

void Body::setupZelkovLink()
{
    zelkovLink_->setLinkButton(ui->Link2dZelkov);
    // Of a run split across processes only rank 0 talks to the analyser.
    if (rankPlace().leads())
        zelkovLink_->doConnect();
    zelkovStages_->setInputs([this] {
        ZelkovStageInputs in;
        in.dataDir = ui->SelectDataSaveDir->path();
        in.inSubFolders = ui->SaveInSubFolders->isChecked();
        in.subOfSlice = ui->SubOfSlice->isChecked();
        in.with2DA = ui->With2DA->isChecked();
        in.sliceFrom = ui->procCtrl->sliceFrom();
        in.sliceTo = ui->procCtrl->sliceTo();
        in.sliceStep = ui->procCtrl->sliceStep();
        in.currentSlice = ui->procCtrl->sliceNo();
        return in;
    });
    connect(zelkovStages_, &ZelkovStages::busyShownChanged, this, [this](bool busy) {
        ui->ZKLIsBusy->setStyleSheet(busy ? ZelkovStages::busyStyle() : ZelkovStages::idleStyle());
    });
    connect(zelkovStages_, &ZelkovStages::contModeChanged, this, [this](bool on) {
        ui->Cont2DA->setStyleSheet(on ? ZelkovStages::contOnStyle() : ZelkovStages::contOffStyle());
    });
    connect(zelkovStages_, &ZelkovStages::sliceNoRequested, ui->procCtrl, &ProcCtrl::setSliceNo);
    zelkovStages_->attach(zelkovLink_);
    connect(this, &Body::zklLoadFilesOfPattern, zelkovLink_, &ZelkovLink::loadFilesOfPattern);
    connect(this, &Body::zklLoadFiles, zelkovLink_, &ZelkovLink::loadFiles);
    connect(this, &Body::exec2dA, zelkovLink_, &ZelkovLink::exec2dA);
    connect(this, &Body::zklStatChanged, zelkovStages_, &ZelkovStages::zklStageCtrl);
    connect(ui->Exec2DA, &QPushButton::clicked, this, &Body::exec2dA0);
    connect(ui->Cont2DA, &QPushButton::clicked, this, &Body::zklStartCont2dA);
}

void Body::execForSlice(int n) { zelkovStages_->execForSlice(n); }

void Body::exec2dA0() { zelkovStages_->exec2dA0(); }

void Body::zklChangedIsBusy(bool f) { zelkovStages_->zklChangedIsBusy(f); }

void Body::zklStageCtrl() { zelkovStages_->zklStageCtrl(); }

void Body::zklStartCont2dA() { zelkovStages_->zklStartCont2dA(); }

QVector<RunRecordTarget> Body::runRecordTargets() const
{
    QVector<RunRecordTarget> targets;
    const auto add = [&targets](bool on, const char *kind, const SelectAFile *s) {
        if (on)
            targets.push_back(
                { QString::fromLatin1(kind), savePath(s->path()), s->name(), s->addTag() });
    };
    add(ui->AutoSaveImage->isChecked(), "image", ui->SelectImageSaveDir);
    add(ui->AutoSaveData->isChecked(), "data", ui->SelectDataSaveDir);
    add(ui->AutoSaveTiff->isChecked(), "tiff", ui->SelectTiffSaveDir);
    add(ui->AutoSaveHdf5->isChecked(), "hdf5", ui->SelectHdf5SaveDir);
    return targets;
}

void Body::connectRunRecord()
{
    // Connected after the calculators' hand-over, so a slice is listed once it
    // has been handed out, with the centre it was given.
    connect(rangeDispatch, &RangeDispatch::startCt, this, [this](int, bool, double cor, int slice) {
        if (runRecord)
            runRecord->slices.push_back({ slice, cor });
    });
}

void Body::beginRunRecord()
{
    runRecord.reset();
    const QVector<RunRecordTarget> targets = runRecordTargets();
    if (targets.isEmpty())
        return;
    auto r = std::make_unique<RunRecordFacts>();
    r->targets = targets;
    r->started = startTime;
    r->version = runRecordVersion();
    r->kernel = QString::fromLatin1(bpRoutineName(bpDefaultRoutine()));
    r->inputFiles = ui->CTFiles->fileNames();
    r->projections = imgDatas_->count();
    r->i0Path = ui->I0ImgSel->image() ? ui->I0ImgSel->path() : QString();
    r->bgPath = ui->BGImgSel->image() ? ui->BGImgSel->path() : QString();
    r->params = runParams;
    if (splitsWork())
        r->ranks = rankPlace().size;
    const int used = std::min<int>(std::max(runParams.threads, 1), int(ctCalc2Uis_.size()));
    for (int i = 0; i < used; ++i) {
        const CtCalc2Ui *u = ctCalc2Uis_[i];
        r->regions.push_back({ u->cRegionSet(), u->crx0(), u->crz0(), u->crx1(), u->crz1() });
    }
    runRecord = std::move(r);
}

void Body::endRunRecord()
{
    if (!runRecord)
        return;
    std::unique_ptr<RunRecordFacts> r = std::move(runRecord);
    r->ended = endTime;
    r->slicesDone = rangeDone; // less the failed ones, when written
    r->threadsUsed = rangeDispatch->threadsUsed();
    // Stopped before its share of the range was done.
    r->stopped = rangeDone
        < RankPlace::share(runRecordPlannedSlices(r->params), rankPlace().rank, r->ranks);
    for (const RunRecordTarget &t : qAsConst(r->targets))
        if (t.kind == QLatin1String("hdf5") && dataSaver_)
            if (DataSaver *saver = dataSaver_; saver && saverThread)
                postHandOffCallInThread(saverThread, [saver] { saver->endHdf5Intake(); });
    pendingRecords.push_back(std::move(r));
    if (!saverThread) { // shut down: nothing more will be written
        writePendingRecord();
        return;
    }
    // Every record of the run was handed to the saver before this call runs
    // in its thread, and its failures come back before the answer.
    QPointer<Body> self(this);
    QThread *home = thread();
    postHandOffCallInThread(saverThread, [self, home] {
        postHandOffCallInThread(home, [self] {
            if (self)
                self->writePendingRecord();
        });
    });
}

void Body::writePendingRecord()
{
    if (pendingRecords.empty())
        return;
    std::unique_ptr<RunRecordFacts> r = std::move(pendingRecords.front());
    pendingRecords.erase(pendingRecords.begin());
    // Slices saved whole: those computed, less every slice with a failure.
    QSet<int> failed;
    for (const RunRecordFailure &f : qAsConst(r->failed))
        failed.insert(f.slice);
    r->slicesDone = std::max(0, r->slicesDone - int(failed.size()));
    if (r->ranks > 1) {
        // Rank 0 writes it with the other ranks' slices at the end; the
        // run's refused volume is closed now, so later runs find their own.
        endHdf5Volume(*r);
        splitRecords.push_back(std::move(r));
        return;
    }
    for (const RunRecordPlace &place : runRecordPlaces(r->targets))
        if (!writeRunRecord(*r, place))
            ++failedResultCount;
    endHdf5Volume(*r);
}

void Body::beginHdf5Volume()
{
    if (!ui->AutoSaveHdf5->isChecked() || !dataSaver_ || !saverThread)
        return;
    const SelectAFile *hs = ui->SelectHdf5SaveDir;
    QString path = savePath(hs->path());
    if (splitsWork()) {
        // Every rank holds only its share of the slices, and one file per
        // rank under the one name would overwrite each other: the volume is
        // refused (an empty place), which the saver logs and counts.
        qDebug() << "Auto Save HDF5 refused : a range run shared by" << rankPlace().size
                 << "ranks makes no volume";
        path.clear();
    }
    const QString name = hs->name();
    const QString tag = hs->addTag();
    const QVector<int> slices
        = hdf5VolumeSlices(runParams.sliceFrom, runParams.sliceTo, runParams.sliceStep);
    const bool tif = ui->AutoSaveTiff->isChecked();
    DataSaver *saver = dataSaver_;
    postHandOffCallInThread(
        saverThread, [=] { saver->beginHdf5Volume(path, name, tag, slices, tif); });
}

void Body::endHdf5Volume(const RunRecordFacts &r)
{
    // The record names the volume's place exactly when the run began one.
    QByteArray text;
    bool began = false;
    for (const RunRecordPlace &place : runRecordPlaces(r.targets))
        if (place.kinds.contains(QStringLiteral("hdf5"))) {
            text = runRecordText(r, place);
            began = true;
        }
    if (!began || !dataSaver_ || !saverThread)
        return;
    QMap<int, double> centres;
    for (const RunRecordSlice &s : r.slices)
        centres.insert(s.slice, s.cor);
    DataSaver *saver = dataSaver_;
    postHandOffCallInThread(saverThread, [=] { saver->endHdf5Volume(text, centres); });
}

bool Body::splitsWork() const { return rankPlace().split() && !walkShown && !batchWalk; }

std::vector<std::unique_ptr<RunRecordFacts>> Body::takeSplitRecords()
{
    return std::exchange(splitRecords, {});
}

void Body::noteFailedSlice(int slice)
{
    failedSliceKeys.insert((calcSerial << 32) ^ quint32(slice));
}

int Body::slicesSaved() const { return std::max(0, slicesDoneTotal - int(failedSliceKeys.size())); }
