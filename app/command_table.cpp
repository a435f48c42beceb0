#include "app/command_table.h"

#include <QFileInfo> // before the main window's header, which uses QFileInfoList

#include "app/batch.h"
#include "app/body.h"
#include "app/setup_file.h"
#include "ct/ct_calc.h"
#include "ct/ct_calc2_ui.h"
#include "ct/proc_ctrl.h"
#include "select/seek_ctrl.h"
#include "select/select_a_file.h"
#include "select/select_a_img_file.h"
#include "select/select_data_dir.h"
#include "select/select_data_files.h"
#include "ui_body.h"
#include "util/rank_place.h"
#include "xafs/i0_of_image.h"

#include <QDebug>
#include <QRadioButton>
#include <QTimer>

#include <algorithm>

namespace {

// Polling interval while a command waits for the end of loading, in ms.
constexpr int loadWatchMs = 20;

// Radio buttons of an exclusive pair cannot be unchecked by themselves:
// switching one off checks its partner instead.
void setRadio(QRadioButton *button, QRadioButton *partner, bool on)
{
    if (on)
        button->setChecked(true);
    else if (button->isChecked())
        partner->setChecked(true);
}

void setI0OfImage(I0ofImage *w, const QString &what, const BatchCmd &cmd)
{
    if (what == QLatin1String("VAL"))
        w->setI0Val(cmd.realArg(0));
    else if (what == QLatin1String("FROM_XAFS"))
        w->setCalcFromXafs(cmd.flag());
    else if (what == QLatin1String("XAFS"))
        w->selectXafsFile(cmd.text());
    else if (what == QLatin1String("XAFS_CLEAR"))
        w->clearXafsFile();
    else if (what == QLatin1String("ENG_PTN"))
        w->setEngPattern(cmd.text());
}

} // namespace

CommandTable::CommandTable(Body &b)
    : body(b)
    , loadWatch(std::make_unique<QTimer>())
{
    loadWatch->setInterval(loadWatchMs);
    QObject::connect(loadWatch.get(), &QTimer::timeout, [this] { checkLoadEnd(); });
}

CommandTable::~CommandTable() = default;

void CommandTable::exec(const BatchCmd &cmd) { run(cmd, true); }

void CommandTable::run(const BatchCmd &cmd, bool answer)
{
    if (!dispatch(cmd, answer))
        return; // "calc_exec": its end is the end of the calculation
    if (!answer)
        return;
    if (!waitingForLoad && loadingGoesOn()) {
        waitingForLoad = true;
        loadWatch->start();
        return;
    }
    if (waitingForLoad)
        return; // an earlier command still waits; this one is answered with it
    emit body.callBatchCheckEnd();
}

bool CommandTable::loadingGoesOn() const
{
    return body.isLoading() || body.filesDeferred || !body.pendingFiles.isEmpty();
}

void CommandTable::checkLoadEnd()
{
    if (loadingGoesOn())
        return;
    loadWatch->stop();
    waitingForLoad = false;
    emit body.callBatchCheckEnd();
}

bool CommandTable::dispatch(const BatchCmd &cmd, bool answer)
{
    Ui::Body *ui = body.ui.get();
    ProcCtrl *pc = ui->procCtrl;
    const QString key = cmd.cmd.toUpper();
    if (key.isEmpty())
        return true;

    // In dispatch order; at most one key matches.
    if (key == "IMAGES_LOAD") {
        // Judged when the loading it starts has ended: no image read is a
        // refused input.
        body.imagesRequest = answer ? 2 : 1;
        body.imagesWhat = cmd.argsLine();
        ui->CTFiles->setDialogDirAndSelect(cmd.text(), cmd.args.mid(1));
        if (body.imagesRequest != 0) { // no file list reached the window
            body.imagesRequest = 0;
            body.noteRefusedInput(
                QString("no image read for images_load %1").arg(cmd.argsLine()), answer);
        }
    } else if (key == "IMAGES_NEW_ON_LOAD") {
        ui->CTFiles->setNewOnLoad(cmd.flag());
    } else if (key == "IMAGES_ADD_ON_LOAD") {
        ui->CTFiles->setNewOnLoad(!cmd.flag());
    } else if (key == "IMAGES_CLEAR") {
        ui->CTFiles->clearFiles();
    } else if (key == "IMAGES_EXP_TIME") {
        ui->CTFiles->setExpTime(cmd.realArg(0));
    } else if (key == "IMAGES_MULTI") {
        ui->CTFiles->setMultiTimes(cmd.intArg(0) == 1, cmd.intArg(1));
    } else if (key == "IMAGES_SEEK") {
        ui->seekCtrl->setValue(std::clamp(cmd.intArg(0), 0, std::max(0, ui->seekCtrl->maximum())));
    } else if (key == "IMAGES_KEEP_SETUP") {
        ui->CTFiles->setKeepConditions(cmd.flag());
    } else if (key == "I0_LOAD") {
        // A setup saved without an I0 image has an empty line: nothing to load.
        if (!cmd.text().isEmpty())
            body.loadI0ByCommand(cmd.text(), answer);
    } else if (key == "I0_CLEAR") {
        ui->I0ImgSel->clear0();
    } else if (key == "I0_EXP_TIME") {
        ui->I0ImgSel->setExpTime(cmd.realArg(0));
    } else if (key == "BG_LOAD") {
        if (!cmd.text().isEmpty())
            body.loadBgByCommand(cmd.text(), answer);
    } else if (key == "BG_CLEAR") {
        ui->BGImgSel->clear0();
    } else if (key == "BG_EXP_TIME") {
        ui->BGImgSel->setExpTime(cmd.realArg(0));
    } else if (key == "CT_PROC_SLICE") {
        pc->setSliceNo(cmd.intArg(0));
        body.resetSliceNoOnLoad = false;
    } else if (key == "CT_AUTO_EXEC") {
        pc->setAutoExec(cmd.flag());
    } else if (key == "CT_SLICE_FROM") {
        pc->setSliceFrom(cmd.intArg(0));
    } else if (key == "CT_SLICE_TO") {
        pc->setSliceTo(cmd.intArg(0));
        body.resetSliceToOnLoad = false;
    } else if (key == "CT_SLICE_STEP") {
        pc->setSliceStep(cmd.intArg(0));
    } else if (key == "CT_THREADS") {
        pc->setThreads(cmd.intArg(0));
    } else if (key == "CT_COR") {
        pc->setCor(cmd.realArg(0));
        body.resetCorOnLoad = false;
    } else if (key == "CT_RECORDED_COR_1") {
        pc->setRecordedCor1(cmd.intArg(0), cmd.realArg(1));
    } else if (key == "CT_RECORDED_COR_2") {
        pc->setRecordedCor2(cmd.intArg(0), cmd.realArg(1));
    } else if (key == "CT_ROT_AX_IS_H") {
        pc->setRotAxIsV(!cmd.flag());
    } else if (key == "CT_ROT_AX_IS_V") {
        pc->setRotAxIsV(cmd.flag());
    } else if (key == "CT_AUTO_GEN_SINOGRAM") {
        pc->setAutoUpdate(cmd.flag());
    } else if (key == "CT_ANGLE_OFFSET") {
        pc->setAngleOffset(cmd.realArg(0));
    } else if (key == "CT_TRY_COR") {
        // Done when the centre search has ended (or at once when refused).
        if (!answer) {
            pc->setTryCor(cmd.realArg(0), cmd.realArg(1), cmd.realArg(2));
            body.tryCor(cmd.realArg(0), cmd.realArg(1), cmd.realArg(2));
            return true;
        }
        body.startBatchTryCor(cmd.realArg(0), cmd.realArg(1), cmd.realArg(2));
        return false;
    } else if (key == "CT_FILTER") {
        ReconFilterKind kind;
        if (reconFilterFromName(cmd.text(), kind)) {
            pc->setFilter(kind);
        } else {
            qDebug().noquote() << QString("Unknown filter : \"%1\"").arg(cmd.text());
            if (body.batch_)
                body.batch_->setOk(false);
        }
    } else if (key == "CT_RING_REMOVAL") {
        if (!pc->setRingRemoval(cmd.intArg(0))) {
            qDebug().noquote() << QString("Ring removal size refused (0 = off, or %1 ... %2) : %3")
                                      .arg(ProcCtrl::ringSizeMin)
                                      .arg(ProcCtrl::ringSizeMax)
                                      .arg(cmd.text());
            if (body.batch_)
                body.batch_->setOk(false);
        }
    } else if (key == "CT_FIND_COR") {
        if (!body.findCor() && body.batch_)
            body.batch_->setOk(false);
    } else if (key == "CT_METHOD") {
        ReconMethod method;
        if (reconMethodFromName(cmd.text(), method)) {
            pc->setMethod(method);
        } else {
            qDebug().noquote() << QString("Unknown method : \"%1\"").arg(cmd.text());
            if (body.batch_)
                body.batch_->setOk(false);
        }
    } else if (key == "CT_SET_DISP_REGION") {
        body.dRUpdated(cmd.realArg(0), cmd.realArg(1), cmd.realArg(2), cmd.realArg(3));
    } else if (key == "CT_SET_CALC_REGION") {
        body.cRUpdated(cmd.realArg(0), cmd.realArg(1), cmd.realArg(2), cmd.realArg(3));
    } else if (key == "CALC_CT1") {
        setRadio(ui->SelectCt1, ui->SelectCt2, cmd.flag());
    } else if (key == "CALC_CT2") {
        setRadio(ui->SelectCt2, ui->SelectCt1, cmd.flag());
    } else if (key == "CALC_SHOW_RES") {
        ui->ShowCalcRes->setChecked(cmd.flag());
    } else if (key == "FIX_COLOR_SCALE") {
        body.setFixColorScale(cmd.flag());
    } else if (key == "FIX_COLOR_MIN") {
        body.setColorMin(cmd.realArg(0));
    } else if (key == "FIX_COLOR_MAX") {
        body.setColorMax(cmd.realArg(0));
    } else if (key == "AUTO_SAVE_IMAGE") {
        body.setAutoSaveImage(cmd.flag());
    } else if (key == "AUTO_SAVE_IMAGE_PATH") {
        ui->SelectImageSaveDir->setPath(cmd.text());
    } else if (key == "AUTO_SAVE_IMAGE_NAME") {
        ui->SelectImageSaveDir->setName(cmd.text());
    } else if (key == "AUTO_SAVE_IMAGE_TAG") {
        ui->SelectImageSaveDir->setAddTag(cmd.text());
    } else if (key == "AUTO_SAVE_IMAGE_CLEAR") {
        ui->SelectImageSaveDir->clear0();
    } else if (key == "AUTO_SAVE_DATA") {
        body.setAutoSaveData(cmd.flag());
    } else if (key == "AUTO_SAVE_DATA_PATH") {
        ui->SelectDataSaveDir->setPath(cmd.text());
    } else if (key == "AUTO_SAVE_DATA_NAME") {
        ui->SelectDataSaveDir->setName(cmd.text());
    } else if (key == "AUTO_SAVE_DATA_TAG") {
        ui->SelectDataSaveDir->setAddTag(cmd.text());
    } else if (key == "AUTO_SAVE_DATA_CLEAR") {
        ui->SelectDataSaveDir->clear0();
    } else if (key == "AUTO_SAVE_TIFF") {
        body.setAutoSaveTiff(cmd.flag());
    } else if (key == "AUTO_SAVE_TIFF_PATH") {
        ui->SelectTiffSaveDir->setPath(cmd.text());
    } else if (key == "AUTO_SAVE_TIFF_NAME") {
        ui->SelectTiffSaveDir->setName(cmd.text());
    } else if (key == "AUTO_SAVE_TIFF_TAG") {
        ui->SelectTiffSaveDir->setAddTag(cmd.text());
    } else if (key == "AUTO_SAVE_TIFF_CLEAR") {
        ui->SelectTiffSaveDir->clear0();
    } else if (key == "AUTO_SAVE_IN_SUB_FOLDERS") {
        ui->SaveInSubFolders->setChecked(cmd.flag());
    } else if (key == "AUTO_SAVE_IN_SUB_FOLDERS_OF_SLICE") {
        setRadio(ui->SubOfSlice, ui->SubOfEnergy, cmd.flag());
    } else if (key == "AUTO_SAVE_IN_SUB_FOLDERS_OF_ENERGY") {
        setRadio(ui->SubOfEnergy, ui->SubOfSlice, cmd.flag());
    } else if (key == "AUTO_SAVE_DATA_UPPER_LIMIT") {
        ui->DataUpperLimit->setText(cmd.text());
    } else if (key == "AUTO_SAVE_DATA_LOWER_LIMIT") {
        ui->DataLowerLimit->setText(cmd.text());
    } else if (key == "AUTO_SAVE_DATA_OFFSET") {
        ui->DataOffset->setText(cmd.text());
    } else if (key == "ADD_INF_SHOW") {
        // The frames only; the check box keeps its state.
        ui->AdditionalInfo->setVisible(cmd.flag());
        ui->ShowAdditionalAdditionalInfo->setVisible(cmd.flag());
    } else if (key == "ADD_INF_ASR_STANDARD") {
        ui->SelDDir->setIsASRStandard(cmd.flag());
    } else if (key.startsWith("ADD_INF_RAW_I0_")) {
        setI0OfImage(ui->I0ofRawImage_, key.mid(15), cmd);
    } else if (key.startsWith("ADD_INF_I0_I0_")) {
        setI0OfImage(ui->I0ofI0Image_, key.mid(14), cmd);
    } else if (key == "SHOW_TAB") {
        ui->ImgsTab->setCurrentIndex(cmd.intArg(0));
    } else if (key == "SHOW_ORIG") {
        ui->ImgsTab->setCurrentIndex(0);
    } else if (key == "SHOW_SINOGRAM") {
        ui->ImgsTab->setCurrentIndex(1);
    } else if (key == "SHOW_CT1") {
        ui->ImgsTab->setCurrentIndex(2);
    } else if (key == "SHOW_I0") {
        ui->ImgsTab->setCurrentIndex(3);
    } else if (key == "SHOW_BG") {
        ui->ImgsTab->setCurrentIndex(4);
    } else if (key == "SHOW_CT2") {
        // Tab of parallel calculator int(0), counted from 0; an index past
        // the tabs leaves the current tab.
        const qint64 tab = 5 + qint64(cmd.intArg(0));
        if (tab >= 5 && tab < ui->ImgsTab->count())
            ui->ImgsTab->setCurrentIndex(int(tab));
    } else if (key == "ZELKOVLINK_SET_SEND_MSG") {
        ui->SendMsg2Zelkov->setChecked(cmd.flag());
    } else if (key == "CALC_EXEC") {
        if (body.walkSetMissing) {
            // A split walk: this rank has no set left to reconstruct.
            qDebug() << "No data set of this rank : calc_exec skipped";
            return true;
        }
        if (!answer) {
            body.startCommandCalc();
            return true;
        }
        body.startBatchCalc();
        return false;
    } else if (key == "SEQ_EXEC_SHOW") {
        ui->ShowAdditionalInfo->setChecked(cmd.flag());
    } else if (key == "SEQ_EXEC_DIR") {
        // A setup saved without a data directory has an empty line: nothing
        // to choose.
        if (!cmd.text().isEmpty())
            ui->SelDDir->setDataDir(cmd.text());
        body.batchWalk = body.walkSetMissing = false;
    } else if (key == "SEQ_EXEC_FILE_PATTERN") {
        ui->SelDDir->setPattern(cmd.text());
    } else if (key == "SEQ_EXEC_NEXT") {
        // Read by the interpreter only after the end of this command. A
        // split walk steps over the other ranks' sets.
        bool more = true;
        for (int i = 0; i < rankPlace().size && more; ++i)
            more = ui->SelDDir->advance();
        body.batch_->setOk(more);
        if (!more && rankPlace().split())
            body.batchWalk = body.walkSetMissing = false;
    } else if (key == "SEQ_EXEC_SET") {
        const RankPlace &place = rankPlace();
        if (place.split()) {
            // Set i of the list belongs to rank i mod N; the others are
            // stepped over, and a rank with none left reconstructs nothing.
            body.batchWalk = true;
            while (!place.owns(ui->SelDDir->currentIndex()) && ui->SelDDir->advance()) { }
            body.walkSetMissing = !place.owns(ui->SelDDir->currentIndex())
                || ui->SelDDir->currentIndex() >= ui->SelDDir->count();
            if (body.walkSetMissing) {
                qDebug() << "No data set of this rank : seq_exec_set skipped";
                return true;
            }
        }
        ui->SelDDir->set();
    } else if (key == "SEQ_EXEC_SELECT_I0") {
        ui->SelI0Files->selectFilesInDir(cmd.text(), cmd.args.mid(1));
    } else if (key == "SEQ_EXEC_KEEP_RANGE_ON_NEW_SET") {
        ui->keepOnNewSet->setChecked(cmd.flag());
    } else if (key == "AUTO_SAVE_HDF5") {
        body.setAutoSaveHdf5(cmd.flag());
    } else if (key == "AUTO_SAVE_HDF5_PATH") {
        ui->SelectHdf5SaveDir->setPath(cmd.text());
    } else if (key == "AUTO_SAVE_HDF5_NAME") {
        ui->SelectHdf5SaveDir->setName(cmd.text());
    } else if (key == "AUTO_SAVE_HDF5_TAG") {
        ui->SelectHdf5SaveDir->setAddTag(cmd.text());
    } else if (key == "AUTO_SAVE_HDF5_CLEAR") {
        ui->SelectHdf5SaveDir->clear0();
    }
    return true;
}

bool CommandTable::saveSetup(const QString &fname)
{
    using Item = SetupFile::Item;
    const Ui::Body *ui = body.ui.get();
    const ProcCtrl *pc = ui->procCtrl;
    const QStringList titles = SetupFile::sectionTitles();
    QVector<SetupFile::Section> s(titles.size());
    for (int i = 0; i < titles.size(); ++i)
        s[i].title = titles.at(i);

    QVector<Item> &images = s[0].items;
    const QStringList ctFiles = ui->CTFiles->fileNames();
    if (!ctFiles.isEmpty()) // a comment: loading the setup does not load images
        images << Item::dirAndSuffix("#images_load", ctFiles.first());
    images << Item::flag("images_new_on_load", ui->CTFiles->isNewOnLoad())
           << Item::flag("images_keep_setup", ui->CTFiles->keepConditions())
           << Item { "images_multi",
                  { ui->CTFiles->isMultiTimes() ? "1" : "0",
                      QString::number(ui->CTFiles->multiTimesCount()) } }
           << Item::integer("images_seek", ui->seekCtrl->value())
           << Item::text("i0_load", ui->I0ImgSel->path())
           << Item::text("bg_load", ui->BGImgSel->path());

    s[1].items
        << Item::integer("ct_proc_slice", pc->sliceNo())
        << Item::real("ct_angle_offset", pc->angleOffset())
        << Item::flag("ct_auto_exec", pc->autoExec())
        << Item::integer("ct_slice_from", pc->sliceFrom())
        << Item::integer("ct_slice_to", pc->sliceTo())
        << Item::integer("ct_slice_step", pc->sliceStep())
        << Item::integer("ct_threads", pc->threads()) << Item::real("ct_cor", pc->cor())
        << Item::flag("ct_rot_ax_is_h", !pc->rotAxIsV())
        << Item { "ct_recorded_cor_1",
               { QString::number(pc->recordedSlice1()), SetupFile::number(pc->recordedCor1()) } }
        << Item { "ct_recorded_cor_2",
               { QString::number(pc->recordedSlice2()), SetupFile::number(pc->recordedCor2()) } }
        << Item::flag("ct_auto_gen_sinogram", pc->autoUpdate());
    // Always written, so that loading a setup saved with the plain ramp and no
    // ring removal also resets a filter or window chosen since.
    s[1].items << Item::text("ct_filter", reconFilterName(pc->filter()))
               << Item::integer("ct_ring_removal", pc->ringSize());
    // Always written too, so that a setup saved with the back-projection resets it.
    s[1].items << Item::text("ct_method", reconMethodName(pc->method()));

    s[2].items << Item::flag("calc_ct1", ui->SelectCt1->isChecked())
               << Item::flag("calc_show_res", ui->ShowCalcRes->isChecked())
               << Item::flag("fix_color_scale", ui->FixColorScale->isChecked())
               << Item::real("fix_color_min", body.colorMin())
               << Item::real("fix_color_max", body.colorMax())
               << Item::flag("auto_save_image", ui->AutoSaveImage->isChecked())
               << Item::text("auto_save_image_path", ui->SelectImageSaveDir->path())
               << Item::text("auto_save_image_name", ui->SelectImageSaveDir->name())
               << Item::text("auto_save_image_tag", ui->SelectImageSaveDir->addTag())
               << Item::flag("auto_save_data", ui->AutoSaveData->isChecked())
               << Item::text("auto_save_data_path", ui->SelectDataSaveDir->path())
               << Item::text("auto_save_data_name", ui->SelectDataSaveDir->name())
               << Item::text("auto_save_data_tag", ui->SelectDataSaveDir->addTag())
               << Item::real("auto_save_data_upper_limit",
                      ProcCtrl::parseDouble(ui->DataUpperLimit->text()))
               << Item::real("auto_save_data_lower_limit",
                      ProcCtrl::parseDouble(ui->DataLowerLimit->text()))
               << Item::real("auto_save_data_offset", ProcCtrl::parseDouble(ui->DataOffset->text()))
               << Item::flag("auto_save_tiff", ui->AutoSaveTiff->isChecked())
               << Item::text("auto_save_tiff_path", ui->SelectTiffSaveDir->path())
               << Item::text("auto_save_tiff_name", ui->SelectTiffSaveDir->name())
               << Item::text("auto_save_tiff_tag", ui->SelectTiffSaveDir->addTag())
               << Item::flag("auto_save_in_sub_folders", ui->SaveInSubFolders->isChecked())
               << Item::flag("auto_save_in_sub_folders_of_energy", ui->SubOfEnergy->isChecked())
               << Item::flag("auto_save_hdf5", ui->AutoSaveHdf5->isChecked())
               << Item::text("auto_save_hdf5_path", ui->SelectHdf5SaveDir->path())
               << Item::text("auto_save_hdf5_name", ui->SelectHdf5SaveDir->name())
               << Item::text("auto_save_hdf5_tag", ui->SelectHdf5SaveDir->addTag());

    QVector<Item> &xafs = s[3].items;
    xafs << Item::flag("add_inf_show", ui->ShowAdditionalInfo->isChecked())
         << Item::flag("add_inf_ASR_standard", ui->SelDDir->isASRStandard())
         << Item::text("seq_exec_dir", ui->SelDDir->dirName())
         << Item::text("seq_exec_file_pattern", ui->SelDDir->pattern());
    const QStringList i0Files = ui->SelI0Files->fileNames();
    if (!i0Files.isEmpty())
        xafs << Item::dirAndSuffix("seq_exec_select_i0", i0Files.first());
    xafs << Item::integer("seq_exec_keep_range_on_new_set", ui->keepOnNewSet->isChecked() ? 1 : 0);

    return SetupFile::write(fname, s);
}

bool CommandTable::loadSetup(const QString &fname)
{
    QVector<BatchCmd> cmds;
    if (!SetupFile::read(fname, cmds))
        return false;
    for (const BatchCmd &cmd : qAsConst(cmds))
        run(cmd, false);
    return true;
}

int CommandTable::rangeDone() const { return body.calcRunning ? body.rangeDone : 0; }

int CommandTable::rangeTotal() const { return body.calcRunning ? body.rangeTotal : 0; }

bool CommandTable::rangeOfCentres() const { return body.rangeOfCentres; }
